// The tray icon: shown while the application is hidden in the notification
// area, turns the owner window's minimise into hiding there, turns clicks on
// the icon into events, its popup menu and the window's return, and can
// animate through an image list. A worker thread shows the icon.
#pragma once

#include "ui/ImageList.h"
#include "ui/NotificationArea.h"
#include "ui/NotifyIconThread.h"

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <memory>
#include <string>

class QWidget;

class TNotifyIcon : public QObject {
    Q_OBJECT
public:
    // owner is the window this icon stands for; area must outlive this object.
    TNotifyIcon(QWidget* owner, INotificationArea& area);
    ~TNotifyIcon() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    bool Animated() const { return FAnimated; }
    void SetAnimated(bool value);
    int AnimateDelay() const { return FAnimateDelay; }
    void SetAnimateDelay(int ms);
    TThreadPriority AnimatePriority() const { return FAnimatePriority; }
    void SetAnimatePriority(TThreadPriority value);
    // At most 63 characters are shown.
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& value);
    // Read once, by Loaded.
    bool StartMinimized() const { return FStartMinimized; }
    void SetStartMinimized(bool value) { FStartMinimized = value; }
    int IconIndex() const { return FIconIndex; }
    void SetIconIndex(int value);
    // Not owned; becomes none when the list is destroyed.
    TImageList* ImageList() const { return FImageList; }
    void SetImageList(TImageList* value);
    bool MinFormToTray() const { return FMinFormToTray; }
    void SetMinFormToTray(bool value);
    // Not owned; becomes none when the menu is destroyed.
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* value) { FPopupMenu = value; }

    // Hides the owner window (no task-bar entry remains) and shows the icon.
    // Without a notification area the window is minimised the usual way.
    void MinimizeToTray();
    // Shows the owner window again, removes the icon, then restored().
    void RestoreFromTray();
    // The component is set up: show what the properties say; with
    // StartMinimized the owner is kept hidden and the icon shown.
    void Loaded();

    // A mouse message from the notification area (user-interface thread).
    void Notify(TTrayMouse message);

signals:
    void mouseDown(Qt::MouseButton button, const QPoint& at);
    void mouseUp(Qt::MouseButton button, const QPoint& at);
    void dblClick();
    void restored();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateThread(bool iconChanged);
    void MouseDown(Qt::MouseButton button);
    void MouseUp(Qt::MouseButton button);

    QWidget* const FOwner;
    INotificationArea& FArea;
    bool FActive = false;
    bool FAnimated = false;
    int FAnimateDelay = 50;
    TThreadPriority FAnimatePriority = TThreadPriority::Normal;
    std::string FHint;
    bool FStartMinimized = false;
    int FIconIndex = 0;
    QPointer<TImageList> FImageList;
    bool FMinFormToTray = false;
    QPointer<QMenu> FPopupMenu;
    // Present while Active.
    std::unique_ptr<TNotifyIconThread> FThread;
};
