// Turns the service's observer calls, which come from any thread, into
// queued Qt signals on the thread this object lives on. The only place in ui/
// that deals with threads besides the tray's animation thread.
#pragma once

#include "shell/MainForm.h"
#include "ui/DisplayText.h"  // the service's byte texts as Qt shows them

#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <vector>

class TServiceAdapter : public QObject, public IServiceObserver {
    Q_OBJECT
public:
    // Follows service until destroyed; service must outlive this object.
    explicit TServiceAdapter(TMainForm& service, QObject* parent = nullptr);
    ~TServiceAdapter() override;

    TMainForm& Service() const { return FService; }

    // IServiceObserver: record, ask for one delivery if none is pending, return.
    void StateChanged(TStateChange change) override;
    void LogLineAdded(const std::string& line) override;
    void ErrorRaised(const TServiceError& error) override;
    void CaptionChanged(const std::string& text) override;
    void CloseRequested() override;

    // Emits what is pending now; on this object's thread. The event loop calls
    // it; start-up calls it directly to show errors before the program ends.
    void Deliver();

signals:
    // State or log lines changed since the last delivery: read Snapshot().
    // Many changes in a row give one signal.
    void changed();
    void errorRaised(const QString& text, const QString& detail);
    void captionChanged(const QString& text);
    void closeRequested();

private:
    void Post();

    TMainForm& FService;
    // True while a delivery is queued: bursts of events cost one delivery.
    std::atomic<bool> FQueued{false};
    std::atomic<bool> FChanged{false};
    // FLock guards the three fields below.
    std::mutex FLock;
    std::vector<TServiceError> FErrors;
    std::vector<std::string> FCaptions;
    bool FClose = false;
};

