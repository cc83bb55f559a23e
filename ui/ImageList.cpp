#include "ui/ImageList.h"

void TImageList::Add(const QIcon& image)
{
    FImages.push_back(image);
    FHandle.reset();
}

TImageListHandle TImageList::Handle() const
{
    if (!FHandle) FHandle = std::make_shared<const std::vector<QIcon>>(FImages);
    return FHandle;
}
