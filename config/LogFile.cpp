#include "config/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int OpenForAppend(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

bool SameFile(int a, int b)
{
    struct stat sa{};
    struct stat sb{};
    if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string LogFileNoticeText(const TLogFileNotice& notice)
{
    switch (notice.Kind) {
    case TLogFileNotice::Failed:
        return "Cannot write log file " + notice.Path + ": " + notice.Reason;
    case TLogFileNotice::Resumed:
        return "Log file written again " + notice.Path + ", " + std::to_string(notice.LinesLost) +
               (notice.LinesLost == 1 ? " line" : " lines") + " not written";
    case TLogFileNotice::None:
        break;
    }
    return {};
}

TLogFile::TLogFile() : FWriter(::write) {}

TLogFile::~TLogFile()
{
    if (FFd >= 0) ::close(FFd);
}

void TLogFile::SetWriter(TWriter writer)
{
    std::lock_guard lock(FLock);
    FWriter = writer ? std::move(writer) : TWriter(::write);
}

TLogFileNotice TLogFile::FailLocked(int error, bool lineLost)
{
    if (lineLost) ++FLost;
    if (FFailing) return {};
    FFailing = true;
    TLogFileNotice notice;
    notice.Kind = TLogFileNotice::Failed;
    notice.Path = FPath;
    notice.ErrorCode = error;
    notice.Reason = std::strerror(error);
    return notice;
}

int TLogFile::ReopenLocked()
{
    const int fd = OpenForAppend(FPath);
    if (fd < 0) return errno;
    // What a cut line still owes belongs to the file it was cut in; in
    // another file its end alone would be a line of its own.
    if (!FOwed.empty() && (FFd < 0 || !SameFile(fd, FFd))) {
        FOwed.clear();
        ++FLost;
    }
    if (FFd >= 0) ::close(FFd);
    FFd = fd;
    return 0;
}

int TLogFile::WriteAllLocked(const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = FWriter(FFd, data.data() + done, data.size() - done);
        if (n < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            // Only the part not yet in the file is owed: nothing is written twice.
            FOwed = data.substr(done);
            return error;
        }
        if (n == 0) {
            FOwed = data.substr(done);
            return EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

TLogFileNotice TLogFile::Open(const std::string& path)
{
    std::lock_guard lock(FLock);
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FOwed.clear();
    FPath = path;
    FOpen = true;
    FFailing = false;
    FLost = 0;
    const int fd = OpenForAppend(path);
    if (fd < 0) return FailLocked(errno, false);
    FFd = fd;
    return {};
}

TLogFileNotice TLogFile::Close()
{
    std::lock_guard lock(FLock);
    if (!FOpen) return {};
    TLogFileNotice notice;
    if (FFd >= 0 && !FOwed.empty()) {
        const std::string owed = std::move(FOwed);
        FOwed.clear();
        // Last chance to end the cut line; failing again changes nothing.
        (void)WriteAllLocked(owed);
    }
    if (FFd >= 0 && ::close(FFd) != 0) notice = FailLocked(errno, false);
    FFd = -1;
    FOpen = false;
    FFailing = false;
    FLost = 0;
    FOwed.clear();
    return notice;
}

bool TLogFile::IsOpen() const { return FOpen.load(std::memory_order_relaxed); }

bool TLogFile::Failing() const
{
    std::lock_guard lock(FLock);
    return FFailing;
}

TLogFileNotice TLogFile::WriteLine(const std::string& line)
{
    std::lock_guard lock(FLock);
    if (!FOpen) return {};
    if (FFailing || FFd < 0) {
        const int error = ReopenLocked();
        if (error != 0) return FailLocked(error, true);
    }
    if (!FOwed.empty()) {
        const std::string owed = std::move(FOwed);
        FOwed.clear();
        const int error = WriteAllLocked(owed);
        if (error != 0) return FailLocked(error, true);
    }
    // The line that meets the failure is owed, not lost: it is finished
    // first when the same file takes writes again.
    const int error = WriteAllLocked(line + "\r\n");
    if (error != 0) return FailLocked(error, false);
    if (!FFailing) return {};
    TLogFileNotice notice;
    notice.Kind = TLogFileNotice::Resumed;
    notice.Path = FPath;
    notice.LinesLost = FLost;
    FFailing = false;
    FLost = 0;
    return notice;
}

TLogFile& ProcessLogFile()
{
    static TLogFile file;
    return file;
}

TLogFileNotice OpenLogFile(const std::string& path) { return ProcessLogFile().Open(path); }

TLogFileNotice CloseLogFile() { return ProcessLogFile().Close(); }

bool LogFileOpen() { return ProcessLogFile().IsOpen(); }

TLogFileNotice WriteLogLine(const std::string& line) { return ProcessLogFile().WriteLine(line); }
