#include "shell/ConsoleWriter.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

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

void TConsoleWriter::Push(std::string line)
{
    bool wake = false;
    {
        std::lock_guard lock(FLock);
        if (FQueue.size() >= FMaxQueued) {
            ++FDroppedPending;
            ++FDroppedTotal;
            return;
        }
        // Only a thread in its long sleep needs telling: a busy one looks at
        // the queue again when its write is done, and one in its short sleep
        // wakes by itself. At a line per request this spares a wake-up, and
        // the requesting thread a system call, per line.
        wake = FQueue.empty() && FDroppedPending == 0 && FSleep == TSleep::Long;
        FQueue.push_back(TEntry{std::move(line), FDroppedPending});
        FDroppedPending = 0;
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
    for (;;) {
        // After a write, lines that follow soon are collected for a short
        // while without being announced; only then does the thread wait to be
        // told.
        if (!due()) {
            FSleep = TSleep::Short;
            FChanged.wait_for(lock, kCollect, due);
            FSleep = TSleep::Long;
            FChanged.wait(lock, due);
        }
        FSleep = TSleep::Awake;
        if (FQueue.empty() && FDroppedPending == 0) return;  // stopped, nothing left
        std::deque<TEntry> batch;
        batch.swap(FQueue);
        const std::uint64_t droppedAtEnd = FDroppedPending;
        FDroppedPending = 0;
        FBusy = true;
        lock.unlock();
        FChanged.notify_all();  // room again for Push

        std::string data;
        for (const TEntry& entry : batch) {
            if (entry.DroppedBefore != 0) data += DroppedLinesText(entry.DroppedBefore) + "\n";
            data += entry.Line;
            data += '\n';
        }
        if (droppedAtEnd != 0) data += DroppedLinesText(droppedAtEnd) + "\n";
        const bool stopping = !WriteAll(data) && FGiveUp;

        lock.lock();
        FBusy = false;
        FChanged.notify_all();
        if (stopping) return;
    }
}
