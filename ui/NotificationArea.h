// The little the tray icon needs from the desktop's notification area: add,
// change and remove its one icon, icons made from an image list and released
// again, the cursor position and a popup menu.
#pragma once

#include "ui/ImageList.h"

#include <QPoint>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

class QMenu;

// 0 is no icon.
using TIconHandle = uint64_t;

// The icon as the area shows it: an image and a tool tip of at most 63 characters.
struct TTrayIconData {
    TIconHandle Icon = 0;
    std::string Tip;
};

// The mouse messages an icon receives, numbered as the notification-area
// protocol numbers them.
enum class TTrayMouse : int {
    Move = 512,
    LeftDown = 513,
    LeftUp = 514,
    LeftDouble = 515,
    RightDown = 516,
    RightUp = 517,
    RightDouble = 518,
    MiddleDown = 519,
    MiddleUp = 520,
};

class INotificationArea {
public:
    virtual ~INotificationArea() = default;

    // From the icon's animation thread: each returns without waiting for the
    // user-interface thread.
    virtual void Add(const TTrayIconData& icon) = 0;
    virtual void Modify(const TTrayIconData& icon) = 0;
    virtual void Delete() = 0;
    virtual int ImageCount(const TImageListHandle& images) = 0;
    // A new icon from image index of images; 0 when there is no such image.
    virtual TIconHandle IconFromImageList(const TImageListHandle& images, int index) = 0;
    virtual void ReleaseIcon(TIconHandle icon) = 0;

    // On the user-interface thread.
    // Whether there is a notification area to show an icon in.
    virtual bool Available() const = 0;
    virtual QPoint CursorPos() const = 0;
    virtual void Popup(QMenu& menu, const QPoint& at) = 0;

    // Where the area sends the icon's mouse messages, on the user-interface thread.
    void SetMouseHandler(std::function<void(TTrayMouse)> handler) { FMouseHandler = std::move(handler); }

protected:
    void SendMouse(TTrayMouse message) const
    {
        if (FMouseHandler) FMouseHandler(message);
    }

private:
    std::function<void(TTrayMouse)> FMouseHandler;
};
