// Builds the directory afresh from the mail server's users and the external
// LDIF file, at every service start.
#pragma once

#include "config/EventKind.h"

#include <cstdint>
#include <string>

// What the directory build reports to whoever runs the service.
class ILoadUsersHost {
public:
    virtual ~ILoadUsersHost() = default;
    virtual void LogEvent(TEventKind kind, const std::string& message) = 0;
    // A fixed text and its cause (empty when unknown).
    virtual void MessageBox(const std::string& text, const std::string& detail) = 0;
    virtual void SetDomainCount(int32_t count) = 0;
    virtual void SetUserCount(int32_t count) = 0;
    virtual void UpdateStatistics() = 0;
};

// Discards the directory and builds a new one: one entry per mailbox of every
// published user of the library in programDir (which ends with "/"), then the
// records of extFile (when not empty; relative to the current directory).
// When the library cannot be opened the directory stays empty, "Cannot open
// API" is shown with the reason (path and loader error, missing function or
// Init's result) and nothing else happens. An error while reading extFile is
// raised after the entries built before it were published; the user count and
// the statistics are then left alone.
//
// Runs on the thread that starts the service, while no connection exists.
void LoadUsers(ILoadUsersHost& host, const std::string& programDir, const std::string& extFile);
