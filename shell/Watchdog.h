// The service manager's watchdog and status line: WATCHDOG=1 goes out only
// when every event loop has turned since the last look, so a loop stuck in a
// handler stops the pings and the manager steps in; STATUS= follows the
// service's entries and connections.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TWatchdog {
public:
    using TTurns = std::function<std::vector<std::uint64_t>()>;  // one count per loop
    using TWake = std::function<void()>;                         // makes every loop turn once
    using TStatus = std::function<std::string()>;
    using TSend = std::function<void(const std::string&)>;

    TWatchdog(TTurns turns, TWake wake, TStatus status, TSend send);
    ~TWatchdog();
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    // Looks every interval on a thread of its own; pings only when ping is set.
    void Start(std::chrono::milliseconds interval, bool ping);
    void Stop();

    // One look: WATCHDOG=1 (when pinging) if every loop turned since the last
    // look, STATUS= when the status text changed; then wakes the loops so
    // that an idle loop turns before the next look.
    void Tick();

private:
    TTurns FTurns;
    TWake FWake;
    TStatus FStatus;
    TSend FSend;
    bool FPing = false;
    std::vector<std::uint64_t> FPrevious;
    std::string FLastStatus;

    // FLock guards FStopping; FChanged wakes the thread at Stop.
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FStopping = false;
    std::thread FThread;
};

// The interval a service manager asked for (WATCHDOG_USEC, for this process
// when WATCHDOG_PID is set); zero when none.
std::chrono::microseconds WatchdogTimeoutFromEnvironment();
