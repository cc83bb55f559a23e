// Keeps the directory fresh while the service runs: a rebuild every period,
// and one soon after the external LDIF file was rewritten (seen through
// inotify on its folder, so that a file replaced by a rename is seen too).
// A change is acted on once its writer has closed the file (or renamed the
// finished file into place) and the folder has been quiet for a moment, so
// a half-written file is never read.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

class TDirectoryRefresher {
public:
    // Why the refresh runs.
    enum class TCause { Timer, FileChanged };
    // Runs on the refresher's own thread, one call at a time.
    using TRefresh = std::function<void(TCause)>;
    // A problem with the watch itself (the folder cannot be watched).
    using TReport = std::function<void(const std::string&)>;

    static constexpr std::chrono::milliseconds kQuiet{250};
    static constexpr std::chrono::seconds kNoWriter{10};

    TDirectoryRefresher(TRefresh refresh, TReport report);
    ~TDirectoryRefresher();
    TDirectoryRefresher(const TDirectoryRefresher&) = delete;
    TDirectoryRefresher& operator=(const TDirectoryRefresher&) = delete;

    // (Re)starts: period zero means no timer, an empty file no watch; with
    // neither the refresher stays idle. Not from inside the refresh call.
    void Start(std::chrono::milliseconds period, const std::string& file);
    // Waits for a refresh in progress to end. Not from inside the refresh call.
    void Stop();

private:
    void Run(std::chrono::milliseconds period, int inotify, std::string name);

    TRefresh FRefresh;
    TReport FReport;
    int FStopFd = -1;  // an eventfd: readable once Stop asks the thread to end
    std::thread FThread;
};

// The folder inotify watches for a file, and the name it reports it by.
struct TWatchedPath {
    std::string Folder;
    std::string Name;
};
TWatchedPath WatchedPathOf(const std::string& file);
