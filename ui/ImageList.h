// An ordered list of images, the source of the tray icon's pictures.
#pragma once

#include <QIcon>
#include <QObject>

#include <memory>
#include <vector>

// An unchanging copy of a list's images, safe to read from any thread.
using TImageListHandle = std::shared_ptr<const std::vector<QIcon>>;

class TImageList : public QObject {
    Q_OBJECT
public:
    explicit TImageList(QObject* parent = nullptr) : QObject(parent) {}

    void Add(const QIcon& image);
    int Count() const { return static_cast<int>(FImages.size()); }
    // The images as they are now; later additions make a new handle.
    TImageListHandle Handle() const;

private:
    std::vector<QIcon> FImages;
    mutable TImageListHandle FHandle;  // made on demand, dropped by Add
};
