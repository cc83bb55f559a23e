// Lines for one output stream, written by a thread of its own: a stream that
// cannot keep up (a full pipe, a stalled terminal, a reader gone) never holds
// up the service. Lines that find the queue full are dropped and counted, and
// the count is written in their place once the stream takes lines again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class TConsoleWriter {
public:
    static constexpr std::size_t kMaxQueued = 1000;
    // How long the destructor lets queued lines go out before it gives up on them.
    static constexpr std::chrono::milliseconds kExitGrace{500};

    // fd is not owned; it stays as it is (blocking or not).
    explicit TConsoleWriter(int fd, std::size_t maxQueued = kMaxQueued,
                            std::chrono::milliseconds exitGrace = kExitGrace);
    // Lets the queue drain for at most the exit grace, then ends the thread:
    // never waits longer for the stream.
    ~TConsoleWriter();
    TConsoleWriter(const TConsoleWriter&) = delete;
    TConsoleWriter& operator=(const TConsoleWriter&) = delete;

    // Queues the line (a line end is added). Never waits for the stream.
    void Push(std::string_view line);
    // Lines dropped since the start.
    std::uint64_t Dropped() const { return FDroppedTotal.load(); }
    // Waits until everything queued was handed to the stream, at most timeout; true when it was.
    bool Drain(std::chrono::milliseconds timeout);

private:
    void Run();
    // Hands data to the stream, waiting for it only in short polls so that
    // the end of the writer is noticed; false when the stream refuses it or
    // the writer was told to give up.
    bool WriteAll(const std::string& data);

    const int FFd;
    const std::size_t FMaxQueued;
    const std::chrono::milliseconds FExitGrace;

    // How long the thread collects lines after a write before it writes
    // again (unless the queue is half full by then).
    static constexpr std::chrono::milliseconds kCollect{10};
    enum class TSleep { Awake, Short, Long };

    // FLock guards FQueue, FQueuedLines, FDroppedPending, FBusy, FStop,
    // FSleep; FChanged signals the changes a waiter needs to know of.
    std::mutex FLock;
    std::condition_variable FChanged;
    // The queued lines as they will be written (line ends and the counts of
    // dropped lines in place): one buffer, taken whole by the thread, whose
    // room is kept from batch to batch.
    std::string FQueue;
    std::size_t FQueuedLines = 0;
    std::uint64_t FDroppedPending = 0;  // dropped since the last queued line
    bool FBusy = false;                 // the thread holds lines taken from the queue
    bool FStop = false;
    TSleep FSleep = TSleep::Awake;
    std::atomic<bool> FGiveUp{false};  // read by the thread between polls
    std::atomic<std::uint64_t> FDroppedTotal{0};
    std::thread FThread;
};

// "(<n> lines dropped)", the line that stands for lines a stream could not take.
std::string DroppedLinesText(std::uint64_t count);
