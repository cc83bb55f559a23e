#include "shell/DirectoryRefresher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

using TClock = std::chrono::steady_clock;

// No IN_MODIFY: a writer's state counts once it closes the file, and the
// folder may hold files written line by line (the event log) that must not
// wake us at every line.
constexpr std::uint32_t kWatchMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;

int MsUntil(TClock::time_point at, TClock::time_point now)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count();
    return static_cast<int>(std::clamp<long long>(ms + 1, 0, 60000));
}

} // namespace

TWatchedPath WatchedPathOf(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return {".", file};
    return {slash == 0 ? std::string("/") : file.substr(0, slash), file.substr(slash + 1)};
}

TDirectoryRefresher::TDirectoryRefresher(TRefresh refresh, TReport report)
    : FRefresh(std::move(refresh)), FReport(std::move(report))
{
}

TDirectoryRefresher::~TDirectoryRefresher() { Stop(); }

void TDirectoryRefresher::Start(std::chrono::milliseconds period, const std::string& file)
{
    Stop();
    int inotify = -1;
    std::string name;
    if (!file.empty()) {
        const TWatchedPath watched = WatchedPathOf(file);
        inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify < 0 || ::inotify_add_watch(inotify, watched.Folder.c_str(), kWatchMask) < 0) {
            const int error = errno;
            if (inotify >= 0) ::close(inotify);
            inotify = -1;
            if (FReport) FReport("Cannot watch " + file + ": " + std::strerror(error));
        } else {
            name = watched.Name;
        }
    }
    if (period.count() <= 0 && inotify < 0) return;
    FStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopFd < 0) {
        if (inotify >= 0) ::close(inotify);
        if (FReport) FReport(std::string("Cannot refresh the directory: ") + std::strerror(errno));
        return;
    }
    FThread = std::thread([this, period, inotify, name] { Run(period, inotify, name); });
}

void TDirectoryRefresher::Stop()
{
    if (!FThread.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FStopFd, &one, sizeof one);
    FThread.join();
    ::close(FStopFd);
    FStopFd = -1;
}

void TDirectoryRefresher::Run(std::chrono::milliseconds period, int inotify, std::string name)
{
    const bool timer = period.count() > 0;
    TClock::time_point nextTimer = TClock::now() + period;
    // A change of the file waits for its writer (closed or renamed into
    // place) and then for kQuiet without further events.
    bool changed = false;
    bool writerOpen = false;
    TClock::time_point lastEvent{};
    alignas(inotify_event) char buffer[8192];

    for (;;) {
        const TClock::time_point now = TClock::now();
        int timeout = timer ? MsUntil(nextTimer, now) : 60000;
        if (changed) timeout = std::min(timeout, MsUntil(lastEvent + (writerOpen ? kNoWriter : kQuiet), now));
        pollfd fds[2] = {{FStopFd, POLLIN, 0}, {inotify, POLLIN, 0}};
        const int ready = ::poll(fds, inotify >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[0].revents != 0) break;
        if (ready > 0 && inotify >= 0 && fds[1].revents != 0) {
            for (;;) {
                const ssize_t got = ::read(inotify, buffer, sizeof buffer);
                if (got <= 0) break;
                for (ssize_t at = 0; at < got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    const bool ours = event->len > 0 && name == event->name;
                    if (!ours && (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) == 0) continue;
                    changed = true;
                    lastEvent = TClock::now();
                    if ((event->mask & IN_CREATE) != 0) writerOpen = true;
                    if ((event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) != 0)
                        writerOpen = false;
                }
            }
        }
        const TClock::time_point after = TClock::now();
        // A name created and never written to (a link, say) has no writer to wait for.
        if (changed && writerOpen && after - lastEvent >= kNoWriter) writerOpen = false;
        if (changed && !writerOpen && after - lastEvent >= kQuiet) {
            changed = false;
            FRefresh(TCause::FileChanged);
            if (timer) nextTimer = TClock::now() + period;
        } else if (timer && after >= nextTimer) {
            FRefresh(TCause::Timer);
            nextTimer = TClock::now() + period;
        }
    }
    if (inotify >= 0) ::close(inotify);
}
