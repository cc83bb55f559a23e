// The event-log pipeline of the service: each event becomes a window line
// (told to the views) and, when its switch is on, a line of the log file;
// the file's health and the rate of error events are looked after here.
#pragma once

#include "config/EventKind.h"
#include "config/LogFile.h"
#include "config/VESKAOptions.h"
#include "shell/ErrorLimit.h"
#include "shell/ObserverList.h"
#include "shell/WindowLog.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class TEventPipeline {
public:
    // Both must outlive the log; the settings give the file switches.
    TEventPipeline(const TVESKAOptions& settings, const TObserverList& observers);
    TEventPipeline(const TEventPipeline&) = delete;
    TEventPipeline& operator=(const TEventPipeline&) = delete;

    // From any thread: "<message> mm/dd hh:mm AM" to the window list (the
    // oldest of 100 dropped), then the file line. Never raises for the file:
    // a file that refuses lines is reported once per episode (an error event,
    // and ErrorRaised).
    void Add(TEventKind kind, const std::string& message);
    // An error event, one short line, at most the limit's count a window;
    // the ones held back are counted in the next that passes.
    void Error(const std::string& text);
    void SetErrorLimit(const TErrorRateLimit& limit);
    // Tells the count of errors held back so far, if any (before a stop, so
    // that they are not lost with it).
    void TellHeldErrors();

    // The process's log file at path, opened at service start and closed at
    // stop; a change of its health is reported like any other.
    void OpenFile(const std::string& path);
    void CloseFile();

    TWindowLogSnapshot WindowSnapshot() const;
    // Failure episodes of the log file so far.
    std::uint64_t FileFailures() const { return FFileFailures.load(std::memory_order_relaxed); }

private:
    // "mm/dd hh:mm AM" of now, local time; under FLock.
    const std::string& WindowTimeNowLocked();
    // The window line and the file line of one event, under FLock.
    TLogFileNotice AddLocked(TEventKind kind, const std::string& message);
    // Tells the log file's change of health as an event of its own; a new
    // failure also goes to the views.
    void ReportFile(TLogFileNotice notice);

    const TVESKAOptions& FSettings;
    const TObserverList& FObservers;
    // FLock guards FWindow and orders the file writes with it: one event is
    // its window line and its file line, never interleaved with another.
    mutable std::mutex FLock;
    TWindowLog FWindow;
    std::string FLine;  // the line being added, in room kept from event to event
    // The window time of the minute FTimeMinute: the text changes once a
    // minute, every event asks for it.
    std::chrono::system_clock::time_point FTimeMinute;
    std::string FTimeText;
    // FErrorLock guards FErrorLimit.
    std::mutex FErrorLock;
    TErrorRateLimit FErrorLimit;
    std::atomic<std::uint64_t> FFileFailures{0};
};
