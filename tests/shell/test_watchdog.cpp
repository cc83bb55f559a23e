// The watchdog's look at the event loops: a ping only when every loop turned
// since the last look, the status line only when it changed.
#include "shell/Watchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TLook {
    const char* Label;
    std::vector<std::uint64_t> Before;  // the turns at the first look
    std::vector<std::uint64_t> After;   // the turns at the second look
    bool Ping;
    std::string StatusBefore;
    std::string StatusAfter;
    std::vector<std::string> Sent;  // at the second look
};

class WatchdogLook : public ::testing::TestWithParam<TLook> {};

} // namespace

TEST_P(WatchdogLook, SendsWhatTheLoopsEarned)
{
    const TLook& row = GetParam();
    std::vector<std::uint64_t> turns = row.Before;
    std::string status = row.StatusBefore;
    std::vector<std::string> sent;
    int wakes = 0;
    TWatchdog watchdog([&] { return turns; }, [&] { ++wakes; }, [&] { return status; },
                       [&](const std::string& state) { sent.push_back(state); });
    watchdog.Start(std::chrono::hours(1), row.Ping);  // the thread's first look
    watchdog.Stop();
    sent.clear();
    turns = row.After;
    status = row.StatusAfter;
    watchdog.Tick();
    EXPECT_EQ(sent, row.Sent);
    EXPECT_EQ(wakes, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Looks, WatchdogLook,
    ::testing::Values(TLook{"EveryLoopTurned", {4, 9}, {5, 12}, true, "s", "s", {"WATCHDOG=1"}},
                      TLook{"OneLoopStuck", {4, 9}, {5, 9}, true, "s", "s", {}},
                      TLook{"NoLoops", {}, {}, true, "s", "s", {}},
                      TLook{"LoopsReplaced", {4}, {5, 1}, true, "s", "s", {}},
                      TLook{"PingsOff", {4, 9}, {5, 12}, false, "s", "s", {}},
                      TLook{"StatusChanged", {4}, {5}, true, "1 entries, 0 connections open",
                            "2 entries, 1 connections open", {"WATCHDOG=1", "STATUS=2 entries, 1 connections open"}},
                      TLook{"StuckButStatusChanged", {4}, {4}, true, "a", "b", {"STATUS=b"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(WatchdogEnvironment, TimeoutOnlyForThisProcess)
{
    struct TCase {
        const char* Usec;
        std::string Pid;
        std::chrono::microseconds Expected;
    };
    const std::string self = std::to_string(::getpid());
    for (const TCase& c : {TCase{"", "", {}}, TCase{"300000", "", std::chrono::microseconds(300000)},
                           TCase{"300000", self, std::chrono::microseconds(300000)}, TCase{"300000", "1", {}},
                           TCase{"abc", "", {}}, TCase{"0", "", {}}}) {
        if (*c.Usec) ::setenv("WATCHDOG_USEC", c.Usec, 1); else ::unsetenv("WATCHDOG_USEC");
        if (!c.Pid.empty()) ::setenv("WATCHDOG_PID", c.Pid.c_str(), 1); else ::unsetenv("WATCHDOG_PID");
        EXPECT_EQ(WatchdogTimeoutFromEnvironment(), c.Expected) << "usec " << c.Usec << " pid " << c.Pid;
    }
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
}
