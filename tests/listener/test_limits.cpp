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

struct LoopCase {
    const char* Name;
    int Requested;
    int Cpus;      // the process is restricted to this many of its CPUs first (0: as it is)
    int Expected;  // -1: no more than the CPUs the process may use (a CPU quota may allow fewer)
};

class LoopCountTable : public ::testing::TestWithParam<LoopCase> {};

// Left to choose, one core is left to the kernel's network work and whatever else runs.
TEST_P(LoopCountTable, FollowsTheUsableCores) {
    const LoopCase& c = GetParam();
    TAffinityGuard guard;
    if (CPU_COUNT(&guard.Saved()) < c.Cpus) GTEST_SKIP() << "needs " << c.Cpus << " CPUs";
    if (c.Cpus > 0) {
        cpu_set_t some;
        CPU_ZERO(&some);
        for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < c.Cpus; ++cpu)
            if (CPU_ISSET(cpu, &guard.Saved())) {
                CPU_SET(cpu, &some);
                ++taken;
            }
        ASSERT_EQ(::sched_setaffinity(0, sizeof some, &some), 0);
    }
    const int loops = LoopThreadCount(c.Requested);
    if (c.Expected < 0) {
        EXPECT_GE(loops, 1);
        EXPECT_LE(loops, std::min(CPU_COUNT(&guard.Saved()), 16));
    } else if (c.Requested > 0 || UsableCores() == c.Cpus) {
        EXPECT_EQ(loops, c.Expected);
    } else {
        // A CPU quota may allow fewer.
        EXPECT_LE(loops, c.Expected);
        EXPECT_GE(loops, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LoopCountTable,
                         ::testing::Values(LoopCase{"OnePerUsableCore", 0, 0, -1},
                                           LoopCase{"RestrictedToOneCpu", 0, 1, 1},
                                           LoopCase{"TwoCpusOneLoop", 0, 2, 1},
                                           LoopCase{"ThreeCpusTwoLoops", 0, 3, 2},
                                           LoopCase{"EighteenCpusSixteenLoops", 0, 18, 16},
                                           LoopCase{"AskedForThreeOnOneCpu", 3, 1, 3},
                                           LoopCase{"AskedForTooMany", 1000, 0, 64}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
