#include "ui/NotifyIcon.h"

#include <QEvent>
#include <QMetaObject>
#include <QWidget>

TNotifyIcon::TNotifyIcon(QWidget* owner, INotificationArea& area) : QObject(owner), FOwner(owner), FArea(area)
{
    FArea.SetMouseHandler([this](TTrayMouse message) { Notify(message); });
}

TNotifyIcon::~TNotifyIcon()
{
    SetActive(false);
    SetMinFormToTray(false);
    FArea.SetMouseHandler(nullptr);
}

void TNotifyIcon::SetActive(bool value)
{
    if (value == FActive) return;
    FActive = value;
    UpdateThread(true);
}

void TNotifyIcon::SetAnimated(bool value)
{
    if (value == FAnimated) return;
    FAnimated = value;
    UpdateThread(false);
}

void TNotifyIcon::SetAnimateDelay(int ms)
{
    if (ms == FAnimateDelay) return;
    FAnimateDelay = ms;
    UpdateThread(false);
}

void TNotifyIcon::SetAnimatePriority(TThreadPriority value)
{
    if (value == FAnimatePriority) return;
    FAnimatePriority = value;
    UpdateThread(false);
}

void TNotifyIcon::SetHint(const std::string& value)
{
    if (value == FHint) return;
    FHint = value;
    UpdateThread(true);
}

void TNotifyIcon::SetIconIndex(int value)
{
    if (value == FIconIndex) return;
    FIconIndex = value;
    UpdateThread(true);
}

void TNotifyIcon::SetImageList(TImageList* value)
{
    if (value == FImageList) return;
    if (FImageList) disconnect(FImageList, &QObject::destroyed, this, nullptr);
    FImageList = value;
    if (value) {
        connect(value, &QObject::destroyed, this, [this] {
            FImageList = nullptr;
            UpdateThread(true);
        });
    }
    UpdateThread(true);
}

void TNotifyIcon::SetMinFormToTray(bool value)
{
    if (value == FMinFormToTray || !FOwner) return;
    FMinFormToTray = value;
    if (value)
        FOwner->installEventFilter(this);
    else
        FOwner->removeEventFilter(this);
}

void TNotifyIcon::UpdateThread(bool iconChanged)
{
    if (!FActive) {
        FThread.reset();
        return;
    }
    if (!FThread) FThread = std::make_unique<TNotifyIconThread>(FArea);
    FThread->SetAnimation(FAnimated, FAnimateDelay);
    if (iconChanged) FThread->SetIcon(FHint, FIconIndex, FImageList ? FImageList->Handle() : TImageListHandle());
    FThread->SetPriority(FAnimatePriority);
}

void TNotifyIcon::MinimizeToTray()
{
    if (!FOwner) return;
    if (!FArea.Available()) {
        // Nowhere to go: an ordinary minimise, and nothing fails.
        FOwner->showMinimized();
        return;
    }
    FOwner->hide();
    SetActive(true);
}

void TNotifyIcon::RestoreFromTray()
{
    if (FOwner) {
        FOwner->setWindowState(FOwner->windowState() & ~Qt::WindowMinimized);
        FOwner->show();
        FOwner->raise();
        FOwner->activateWindow();
        FOwner->repaint();
    }
    SetActive(false);
    emit restored();
}

void TNotifyIcon::Loaded()
{
    UpdateThread(true);
    if (FStartMinimized && FOwner && FArea.Available()) {
        FOwner->hide();
        SetActive(true);
    }
}

bool TNotifyIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FOwner && event->type() == QEvent::WindowStateChange && FMinFormToTray &&
        FOwner->isVisible() && (FOwner->windowState() & Qt::WindowMinimized) && FArea.Available()) {
        // Hidden once the state change is through, not in the middle of it.
        QMetaObject::invokeMethod(this, &TNotifyIcon::MinimizeToTray, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void TNotifyIcon::Notify(TTrayMouse message)
{
    switch (message) {
    case TTrayMouse::LeftDown: MouseDown(Qt::LeftButton); break;
    case TTrayMouse::LeftUp: MouseUp(Qt::LeftButton); break;
    case TTrayMouse::LeftDouble: emit dblClick(); break;
    case TTrayMouse::RightDown: MouseDown(Qt::RightButton); break;
    case TTrayMouse::RightUp: MouseUp(Qt::RightButton); break;
    case TTrayMouse::MiddleDown: MouseDown(Qt::MiddleButton); break;
    case TTrayMouse::MiddleUp: MouseUp(Qt::MiddleButton); break;
    default: break;  // moves and the other double clicks
    }
}

void TNotifyIcon::MouseDown(Qt::MouseButton button) { emit mouseDown(button, FArea.CursorPos()); }

void TNotifyIcon::MouseUp(Qt::MouseButton button)
{
    const QPoint at = FArea.CursorPos();
    emit mouseUp(button, at);
    if (button == Qt::RightButton && FPopupMenu)
        FArea.Popup(*FPopupMenu, at);
    else if (button == Qt::LeftButton && FMinFormToTray)
        RestoreFromTray();
}
