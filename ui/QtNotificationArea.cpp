#include "ui/QtNotificationArea.h"

#include "ui/DisplayText.h"

#include <QCursor>
#include <QMenu>
#include <QMetaObject>

TQtNotificationArea::TQtNotificationArea(QObject* parent) : QObject(parent), FTray(this)
{
    connect(&FTray, &QSystemTrayIcon::activated, this, &TQtNotificationArea::Activated);
}

void TQtNotificationArea::Show(const TTrayIconData& icon, bool visible)
{
    // The image is copied now: the thread may release its handle before the
    // user-interface thread gets to it.
    QIcon image;
    {
        std::lock_guard lock(FIconLock);
        const auto it = FIcons.find(icon.Icon);
        if (it != FIcons.end()) image = it->second;
    }
    const QString tip = FromBytes(icon.Tip);
    QMetaObject::invokeMethod(
        this,
        [this, image, tip, visible] {
            if (visible) FWanted = true;
            FTray.setIcon(image);
            FTray.setToolTip(tip);
            // A tray shows nothing without an image: the icon appears with its first one.
            if (FWanted && !image.isNull()) FTray.show();
        },
        Qt::QueuedConnection);
}

void TQtNotificationArea::Add(const TTrayIconData& icon) { Show(icon, true); }

void TQtNotificationArea::Modify(const TTrayIconData& icon) { Show(icon, false); }

void TQtNotificationArea::Delete()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            FWanted = false;
            FTray.hide();
        },
        Qt::QueuedConnection);
}

int TQtNotificationArea::ImageCount(const TImageListHandle& images)
{
    return images ? static_cast<int>(images->size()) : 0;
}

TIconHandle TQtNotificationArea::IconFromImageList(const TImageListHandle& images, int index)
{
    if (!images || index < 0 || index >= static_cast<int>(images->size())) return 0;
    const TIconHandle handle = FNextIcon++;
    std::lock_guard lock(FIconLock);
    FIcons.emplace(handle, (*images)[static_cast<std::size_t>(index)]);
    return handle;
}

void TQtNotificationArea::ReleaseIcon(TIconHandle icon)
{
    std::lock_guard lock(FIconLock);
    FIcons.erase(icon);
}

bool TQtNotificationArea::Available() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

QPoint TQtNotificationArea::CursorPos() const { return QCursor::pos(); }

void TQtNotificationArea::Popup(QMenu& menu, const QPoint& at) { menu.popup(at); }

// The tray reports whole clicks; they become the messages of a click.
void TQtNotificationArea::Activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        SendMouse(TTrayMouse::LeftDown);
        SendMouse(TTrayMouse::LeftUp);
        break;
    case QSystemTrayIcon::DoubleClick:
        SendMouse(TTrayMouse::LeftDouble);
        SendMouse(TTrayMouse::LeftUp);
        break;
    case QSystemTrayIcon::Context:
        SendMouse(TTrayMouse::RightDown);
        SendMouse(TTrayMouse::RightUp);
        break;
    case QSystemTrayIcon::MiddleClick:
        SendMouse(TTrayMouse::MiddleDown);
        SendMouse(TTrayMouse::MiddleUp);
        break;
    case QSystemTrayIcon::Unknown: break;
    }
}
