#include "ui/NotifyIconThread.h"

#include <chrono>

TNotifyIconThread::TNotifyIconThread(INotificationArea& area) : FArea(area), FThread([this] { Execute(); }) {}

TNotifyIconThread::~TNotifyIconThread()
{
    {
        std::lock_guard lock(FLock);
        FTerminated = true;
    }
    FWake.notify_all();
    FThread.join();
}

void TNotifyIconThread::SetAnimation(bool animated, int delayMs)
{
    std::lock_guard lock(FLock);
    FAnimated = animated;
    FInterval = animated ? delayMs : 50;
}

void TNotifyIconThread::SetIcon(const std::string& hint, int index, TImageListHandle images)
{
    std::lock_guard lock(FLock);
    FHint = hint;
    FIconIndex = index;
    FImages = std::move(images);
    FChanged = true;
}

void TNotifyIconThread::SetPriority(TThreadPriority priority)
{
    std::lock_guard lock(FLock);
    FPriority = priority;
}

void TNotifyIconThread::Execute()
{
    TTrayIconData icon;
    FArea.Add(icon);
    TIconHandle shown = 0;
    int frame = 0;
    std::unique_lock lock(FLock);
    while (!FTerminated) {
        if (FChanged) {
            icon.Tip = FHint.substr(0, kMaxTip);
            if (!FAnimated) {
                if (shown) FArea.ReleaseIcon(shown);
                shown = FArea.IconFromImageList(FImages, FIconIndex);
                icon.Icon = shown;
                FArea.Modify(icon);
            }
            FChanged = false;
        }
        if (FAnimated) {
            if (shown) FArea.ReleaseIcon(shown);
            shown = FArea.IconFromImageList(FImages, frame);
            icon.Icon = shown;
            FArea.Modify(icon);
            if (++frame >= FArea.ImageCount(FImages)) frame = 0;
        }
        // A negative delay would spin; the wait ends early only to terminate.
        const int interval = FInterval > 0 ? FInterval : 0;
        FWake.wait_for(lock, std::chrono::milliseconds(interval), [this] { return FTerminated; });
    }
    FArea.Delete();
    if (shown) FArea.ReleaseIcon(shown);
}
