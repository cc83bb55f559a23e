#include "ui/ServiceAdapter.h"

#include <QMetaObject>

#include <utility>

TServiceAdapter::TServiceAdapter(TMainForm& service, QObject* parent) : QObject(parent), FService(service)
{
    FService.AddObserver(this);
}

// Once RemoveObserver returns no call is running; deliveries still queued are
// dropped with this object.
TServiceAdapter::~TServiceAdapter() { FService.RemoveObserver(this); }

void TServiceAdapter::Post()
{
    if (!FQueued.exchange(true)) QMetaObject::invokeMethod(this, &TServiceAdapter::Deliver, Qt::QueuedConnection);
}

void TServiceAdapter::StateChanged(TStateChange)
{
    FChanged = true;
    Post();
}

void TServiceAdapter::LogLineAdded(const std::string&)
{
    // The view takes the lines from the snapshot: a burst of lines is one delivery.
    FChanged = true;
    Post();
}

void TServiceAdapter::ErrorRaised(const TServiceError& error)
{
    {
        std::lock_guard lock(FLock);
        FErrors.push_back(error);
    }
    Post();
}

void TServiceAdapter::CaptionChanged(const std::string& text)
{
    {
        std::lock_guard lock(FLock);
        FCaptions.push_back(text);
    }
    Post();
}

void TServiceAdapter::CloseRequested()
{
    {
        std::lock_guard lock(FLock);
        FClose = true;
    }
    Post();
}

void TServiceAdapter::Deliver()
{
    // Cleared first: an event arriving while we deliver queues a new delivery.
    FQueued = false;
    std::vector<TServiceError> errors;
    std::vector<std::string> captions;
    bool close = false;
    {
        std::lock_guard lock(FLock);
        errors.swap(FErrors);
        captions.swap(FCaptions);
        std::swap(close, FClose);
    }
    for (const std::string& caption : captions) emit captionChanged(FromBytes(caption));
    if (FChanged.exchange(false)) emit changed();
    for (const TServiceError& error : errors) emit errorRaised(FromBytes(error.Text), FromBytes(error.Detail));
    if (close) emit closeRequested();
}
