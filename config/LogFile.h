// The event log file: appended to, never truncated, and never the reason a
// connection or the service ends. A write that fails is reported once, lines
// are skipped while the file refuses them, and writing resumes by itself.
#pragma once

#include "config/InOutError.h"

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

// A change in the file's health that whoever runs the service reports: a
// failure episode begins, or ends. At most one Failed per episode.
struct TLogFileNotice {
    enum TKind { None, Failed, Resumed };
    TKind Kind = None;
    std::string Path;
    int ErrorCode = 0;        // Failed: the errno value
    std::string Reason;       // Failed: the system's text for it
    std::size_t LinesLost = 0;  // Resumed: lines not written during the episode

    explicit operator bool() const { return Kind != None; }
};

// The one-line event texts for a notice ("" for None).
std::string LogFileNoticeText(const TLogFileNotice& notice);

class TLogFile {
public:
    // write(2) by default; tests put a failing one in its place.
    using TWriter = std::function<ssize_t(int fd, const void* data, std::size_t size)>;

    TLogFile();
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Binds the file to path and opens it for appending (created when
    // missing). The file counts as open from here to Close even when the open
    // failed: the failure starts an episode (returned as Failed) and every
    // later write tries again.
    TLogFileNotice Open(const std::string& path);
    // Writes what is still owed of a cut line, then closes. A close error is
    // returned as Failed unless an episode is already on.
    TLogFileNotice Close();
    bool IsOpen() const;
    // Within a failure episode.
    bool Failing() const;

    // Appends line and CR LF whole. While failing, reopens the path first (a
    // replaced or re-created file is taken up; the same file keeps its place),
    // finishes a line that an earlier failure cut short, then writes. Returns
    // Failed for the first failure of an episode, Resumed for the first line
    // written after it, None otherwise (closed included).
    TLogFileNotice WriteLine(const std::string& line);

    void SetWriter(TWriter writer);

private:
    // FLock guards every member below; a line is written whole under it, so
    // lines of concurrent events never interleave. FOpen is only changed under
    // it but read without it: every event asks, and with logging off the
    // answer must cost no lock.
    mutable std::mutex FLock;
    std::string FPath;
    int FFd = -1;
    std::atomic<bool> FOpen{false};
    bool FFailing = false;
    std::size_t FLost = 0;
    // The unwritten end of a line that a failure cut short, owed to the file
    // behind FFd only.
    std::string FOwed;
    TWriter FWriter;

    // 0 or the errno value of the failed open.
    int ReopenLocked();
    // 0 or the errno value of the failed write; what is left unwritten of
    // data goes to FOwed.
    int WriteAllLocked(const std::string& data);
    // Starts an episode (the notice) or continues one; lineLost counts the
    // line at hand as not written.
    TLogFileNotice FailLocked(int error, bool lineLost);
};

// The process-wide log file that the service opens at start and closes at stop.
TLogFile& ProcessLogFile();

// Shorthands for ProcessLogFile().
TLogFileNotice OpenLogFile(const std::string& path);
TLogFileNotice CloseLogFile();
bool LogFileOpen();
TLogFileNotice WriteLogLine(const std::string& line);
