#include "shell/ConsoleWriter.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

std::string DroppedLinesText(std::uint64_t count)
{
    return "(" + std::to_string(count) + (count == 1 ? " line" : " lines") + " dropped)";
}

TConsoleWriter::TConsoleWriter(int fd, std::size_t maxQueued, std::chrono::milliseconds exitGrace)
    : FFd(fd), FMaxQueued(maxQueued == 0 ? 1 : maxQueued), FExitGrace(exitGrace)
{
    FThread = std::thread([this] { Run(); });
}

TConsoleWriter::~TConsoleWriter()
{
    Drain(FExitGrace);
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FGiveUp = true;
    FChanged.notify_all();
    FThread.join();
}

void TConsoleWriter::Push(std::string_view line)
{
    bool wake = false;
    {
        std::lock_guard lock(FLock);
        if (FQueuedLines >= FMaxQueued) {
            ++FDroppedPending;
            ++FDroppedTotal;
            return;
        }
        if (FDroppedPending != 0) {
            FQueue += DroppedLinesText(FDroppedPending);
            FQueue += '\n';
            FDroppedPending = 0;
        }
        FQueue.append(line).append(1, '\n');
        ++FQueuedLines;
        // A thread in its long sleep is told at once; one collecting after a
        // write only once the queue is half full. At a line per request this
        // spares a wake-up, and the requesting thread a system call, per line.
        if (FSleep == TSleep::Long || (FSleep == TSleep::Short && FQueuedLines * 2 >= FMaxQueued)) {
            FSleep = TSleep::Awake;
            wake = true;
        }
    }
    if (wake) FChanged.notify_all();
}

bool TConsoleWriter::Drain(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, timeout, [this] { return FQueue.empty() && !FBusy && FDroppedPending == 0; });
}

bool TConsoleWriter::WriteAll(const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        if (FGiveUp) return false;
        pollfd p{FFd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if ((p.revents & (POLLERR | POLLNVAL)) != 0) return false;
        // A pipe that polls writable takes PIPE_BUF octets without blocking.
        const std::size_t chunk = std::min<std::size_t>(data.size() - done, PIPE_BUF);
        const ssize_t n = ::write(FFd, data.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;  // reader gone or stream broken: nobody to tell
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void TConsoleWriter::Run()
{
    std::unique_lock lock(FLock);
    const auto due = [this] { return FStop || !FQueue.empty() || FDroppedPending != 0; };
    std::string batch;
    bool wrote = false;
    for (;;) {
        // After a write, the lines that follow are collected for a short
        // while (one write for many); a quiet stream is written at once.
        if (wrote && !FStop) {
            FSleep = TSleep::Short;
            FChanged.wait_for(lock, kCollect, [this] { return FStop || FSleep != TSleep::Short; });
        }
        if (!due()) {
            FSleep = TSleep::Long;
            FChanged.wait(lock, due);
        }
        FSleep = TSleep::Awake;
        if (FQueue.empty() && FDroppedPending == 0) return;  // stopped, nothing left
        batch.clear();
        batch.swap(FQueue);
        FQueuedLines = 0;
        if (FDroppedPending != 0) {
            batch += DroppedLinesText(FDroppedPending);
            batch += '\n';
            FDroppedPending = 0;
        }
        FBusy = true;
        lock.unlock();
        FChanged.notify_all();  // room again for Push

        const bool stopping = !WriteAll(batch) && FGiveUp;
        wrote = true;

        lock.lock();
        FBusy = false;
        FChanged.notify_all();
        if (stopping) return;
    }
}
