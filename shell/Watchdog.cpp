#include "shell/Watchdog.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

TWatchdog::TWatchdog(TTurns turns, TWake wake, TStatus status, TSend send)
    : FTurns(std::move(turns)), FWake(std::move(wake)), FStatus(std::move(status)), FSend(std::move(send))
{
}

TWatchdog::~TWatchdog() { Stop(); }

void TWatchdog::Tick()
{
    std::vector<std::uint64_t> turns = FTurns();
    bool allTurned = !turns.empty() && turns.size() == FPrevious.size();
    for (std::size_t i = 0; allTurned && i < turns.size(); ++i) allTurned = turns[i] != FPrevious[i];
    if (FPing && allTurned) FSend("WATCHDOG=1");
    std::string status = FStatus();
    if (status != FLastStatus) {
        FSend("STATUS=" + status);
        FLastStatus = std::move(status);
    }
    FPrevious = std::move(turns);
    FWake();
}

void TWatchdog::Start(std::chrono::milliseconds interval, bool ping)
{
    Stop();
    FPing = ping;
    FPrevious.clear();
    FStopping = false;
    // The first look comes at once, whatever follows.
    FThread = std::thread([this, interval] {
        for (;;) {
            Tick();
            std::unique_lock lock(FLock);
            if (FChanged.wait_for(lock, interval, [this] { return FStopping; })) break;
        }
    });
}

void TWatchdog::Stop()
{
    if (!FThread.joinable()) return;
    {
        std::lock_guard lock(FLock);
        FStopping = true;
    }
    FChanged.notify_all();
    FThread.join();
}

std::chrono::microseconds WatchdogTimeoutFromEnvironment()
{
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (usec == nullptr || *usec == '\0') return {};
    if (const char* pid = std::getenv("WATCHDOG_PID"); pid != nullptr && *pid != '\0') {
        char* end = nullptr;
        const long long value = std::strtoll(pid, &end, 10);
        if (*end != '\0' || value != static_cast<long long>(::getpid())) return {};
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(usec, &end, 10);
    if (*end != '\0' || value == 0) return {};
    return std::chrono::microseconds(value);
}
