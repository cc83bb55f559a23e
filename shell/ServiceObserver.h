// How the service tells its views (the Qt window, the tray, veskad's console,
// a test's recorder) what changed.
#pragma once

#include <string>

// Something the user is to be told: a fixed text ("Cannot open API") and,
// when the service knows it, the cause (system error, address and port, path,
// key); Detail is empty otherwise.
struct TServiceError {
    std::string Text;
    std::string Detail;
};

// Which part of the snapshot changed.
enum class TStateChange {
    Statistics,  // counters, binding, port or start time
    Status,      // the status text, and with it the running state
};

// Contract: every call may come from any thread (connection threads
// included) and must return without waiting for another thread, in
// particular for a user-interface thread: a GUI view posts the change to its
// event loop and returns. No call may throw, and none may call back into the
// service before returning (LogLineAdded runs while the service holds its log
// lock, so that lines arrive in their order). A view reads the current state
// afterwards through TMainForm::Snapshot().
class IServiceObserver {
public:
    virtual ~IServiceObserver() = default;
    virtual void StateChanged(TStateChange) {}
    // A line was appended to the window log (and is now its selected item).
    virtual void LogLineAdded(const std::string&) {}
    virtual void ErrorRaised(const TServiceError&) {}
    // The caption views show, once at start-up.
    virtual void CaptionChanged(const std::string&) {}
    // The program is to end (the automatic start failed).
    virtual void CloseRequested() {}
};
