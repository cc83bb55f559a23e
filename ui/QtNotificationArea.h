// The notification area through QSystemTrayIcon (StatusNotifier and XEmbed
// trays alike). Changes from the animation thread are posted to the
// user-interface thread; nothing waits for it.
#pragma once

#include "ui/NotificationArea.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <atomic>
#include <map>
#include <mutex>

class TQtNotificationArea final : public QObject, public INotificationArea {
    Q_OBJECT
public:
    explicit TQtNotificationArea(QObject* parent = nullptr);

    void Add(const TTrayIconData& icon) override;
    void Modify(const TTrayIconData& icon) override;
    void Delete() override;
    int ImageCount(const TImageListHandle& images) override;
    TIconHandle IconFromImageList(const TImageListHandle& images, int index) override;
    void ReleaseIcon(TIconHandle icon) override;

    bool Available() const override;
    QPoint CursorPos() const override;
    void Popup(QMenu& menu, const QPoint& at) override;

private:
    void Show(const TTrayIconData& icon, bool visible);
    void Activated(QSystemTrayIcon::ActivationReason reason);

    // User-interface thread only: the tray icon, and whether it was added
    // and not deleted since.
    QSystemTrayIcon FTray;
    bool FWanted = false;
    // FIconLock guards FIcons, the icons handed out and not yet released.
    std::mutex FIconLock;
    std::map<TIconHandle, QIcon> FIcons;
    std::atomic<TIconHandle> FNextIcon{1};
};
