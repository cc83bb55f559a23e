#include "config/LogFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// GLogLock guards GLogFd and GLogOpen; every line is written whole under it.
std::mutex GLogLock;
int GLogFd = -1;
bool GLogOpen = false;

[[noreturn]] void RaiseInOut(int code) { throw EInOutError(code, std::strerror(code)); }

}  // namespace

void OpenLogFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) RaiseInOut(errno);
    std::lock_guard lock(GLogLock);
    // Reopening replaces the file so that no descriptor is leaked.
    if (GLogFd >= 0) ::close(GLogFd);
    GLogFd = fd;
    GLogOpen = true;
}

void CloseLogFile()
{
    int fd = -1;
    {
        std::lock_guard lock(GLogLock);
        GLogOpen = false;
        fd = GLogFd;
        GLogFd = -1;
    }
    if (fd >= 0 && ::close(fd) != 0) RaiseInOut(errno);
}

bool LogFileOpen()
{
    std::lock_guard lock(GLogLock);
    return GLogOpen;
}

void WriteLogLine(const std::string& line)
{
    const std::string data = line + "\r\n";
    std::lock_guard lock(GLogLock);
    if (!GLogOpen) return;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(GLogFd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseInOut(errno);
        }
        done += static_cast<std::size_t>(n);
    }
}
