// The tray icon's worker: adds the icon when it starts, shows changes and the
// animation frames, removes the icon and releases its image when it ends.
#pragma once

#include "ui/NotificationArea.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

enum class TThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

class TNotifyIconThread {
public:
    // Starts at once; area must outlive this object.
    explicit TNotifyIconThread(INotificationArea& area);
    // Asks the thread to end and waits for it (at most about one interval).
    ~TNotifyIconThread();
    TNotifyIconThread(const TNotifyIconThread&) = delete;
    TNotifyIconThread& operator=(const TNotifyIconThread&) = delete;

    // The interval becomes delayMs when animated, else 50 ms.
    void SetAnimation(bool animated, int delayMs);
    // Taken whole, with the change flag, at the thread's next turn.
    void SetIcon(const std::string& hint, int index, TImageListHandle images);
    // Kept for the property; a normal-policy thread on Linux has no priority
    // an unprivileged program may raise, so it is not applied.
    void SetPriority(TThreadPriority priority);

    static constexpr std::size_t kMaxTip = 63;

private:
    void Execute();

    INotificationArea& FArea;
    // FLock guards every field below; the thread holds it while it acts on
    // them, so it never sees a flag with half-written values.
    std::mutex FLock;
    std::condition_variable FWake;
    bool FTerminated = false;
    bool FAnimated = false;
    int FInterval = 50;
    std::string FHint;
    int FIconIndex = 0;
    TImageListHandle FImages;
    bool FChanged = false;
    TThreadPriority FPriority = TThreadPriority::Normal;

    std::thread FThread;  // last: starts after every field is ready
};
