// How many event loops a server starts when left to choose.
#include "listener/Limits.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <string>

namespace {

// Restores the test process's CPU set whatever a case did to it.
class TAffinityGuard {
public:
    TAffinityGuard() { ::sched_getaffinity(0, sizeof FSaved, &FSaved); }
    ~TAffinityGuard() { ::sched_setaffinity(0, sizeof FSaved, &FSaved); }
    const cpu_set_t& Saved() const { return FSaved; }

private:
    cpu_set_t FSaved{};
};

int FirstCpu(const cpu_set_t& set) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) return cpu;
    return 0;
}

struct LoopCase {
    const char* Name;
    int Requested;
    bool OneCpuOnly;  // the process is restricted to one CPU first
    int Expected;     // -1: no more than the CPUs the process may use (a CPU quota may allow fewer)
};

class LoopCountTable : public ::testing::TestWithParam<LoopCase> {};

TEST_P(LoopCountTable, FollowsTheUsableCores) {
    const LoopCase& c = GetParam();
    TAffinityGuard guard;
    if (c.OneCpuOnly) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(FirstCpu(guard.Saved()), &one);
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    }
    const int loops = LoopThreadCount(c.Requested);
    if (c.Expected >= 0) {
        EXPECT_EQ(loops, c.Expected);
    } else {
        EXPECT_GE(loops, 1);
        EXPECT_LE(loops, std::min(CPU_COUNT(&guard.Saved()), 16));
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LoopCountTable,
                         ::testing::Values(LoopCase{"OnePerUsableCore", 0, false, -1},
                                           LoopCase{"RestrictedToOneCpu", 0, true, 1},
                                           LoopCase{"AskedForThreeOnOneCpu", 3, true, 3},
                                           LoopCase{"AskedForTooMany", 1000, false, 64}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct CoresCase {
    const char* Name;
    int Cpus;      // the process is restricted to this many of its CPUs first
    int Expected;
};

class LoopsOnCoresTable : public ::testing::TestWithParam<CoresCase> {};

// One core is left to the kernel's network work and whatever else runs.
TEST_P(LoopsOnCoresTable, OneCoreLeftToTheRest) {
    const CoresCase& c = GetParam();
    TAffinityGuard guard;
    if (CPU_COUNT(&guard.Saved()) < c.Cpus) GTEST_SKIP() << "needs " << c.Cpus << " CPUs";
    cpu_set_t some;
    CPU_ZERO(&some);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < c.Cpus; ++cpu)
        if (CPU_ISSET(cpu, &guard.Saved())) {
            CPU_SET(cpu, &some);
            ++taken;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof some, &some), 0);
    // A CPU quota may allow fewer still.
    EXPECT_LE(LoopThreadCount(0), c.Expected);
    EXPECT_GE(LoopThreadCount(0), 1);
    if (UsableCores() == c.Cpus) {
        EXPECT_EQ(LoopThreadCount(0), c.Expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LoopsOnCoresTable,
                         ::testing::Values(CoresCase{"TwoCpusOneLoop", 2, 1}, CoresCase{"ThreeCpusTwoLoops", 3, 2},
                                           CoresCase{"EighteenCpusSixteenLoops", 18, 16}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
