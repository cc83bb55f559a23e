// Builds the directory afresh from the mail server's users and the external
// LDIF file, at every service start.
#pragma once

#include "config/EventKind.h"

#include "directory/UserList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
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
// Returns the published mail-server users read (each gives one entry per
// mailbox).
//
// Runs on the thread that starts the service, while no connection exists.
int32_t LoadUsers(ILoadUsersHost& host, const std::string& programDir, const std::string& extFile);

// The mail-server library could not be opened: "Cannot open API", with the
// reason as the detail.
class EOpenApiError : public std::runtime_error {
public:
    explicit EOpenApiError(std::string detail)
        : std::runtime_error("Cannot open API"), FDetail(std::move(detail)) {}
    const std::string& Detail() const { return FDetail; }

private:
    std::string FDetail;
};

// A directory built beside the published one.
struct TBuiltDirectory {
    std::unique_ptr<TUserList> List;
    int32_t Domains = 0;
    int32_t Users = 0;  // published mail-server users (one entry per mailbox)
};

// Builds the directory as LoadUsers does, from the same sources, without
// publishing it; the published one is not touched. onDomain (when set) gets
// each mail domain's name as its users are read. Raises
// EOpenApiError when the library cannot be opened, and the reading error of
// extFile; nothing is built then. Calls into the library must not overlap:
// the caller serialises builds.
TBuiltDirectory BuildDirectory(const std::string& programDir, const std::string& extFile,
                               const std::function<void(const std::string&)>& onDomain = {});

// Whether two directories hold the same entries (names and lines, in order).
bool SameEntries(const TUserList& a, const TUserList& b);
