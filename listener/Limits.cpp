#include "listener/Limits.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

int ListenBacklog() {
    int backlog = SOMAXCONN;
    std::ifstream proc("/proc/sys/net/core/somaxconn");
    long value = 0;
    if (proc >> value && value > backlog) backlog = static_cast<int>(std::min<long>(value, 65535));
    return backlog;
}

long RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return DescriptorLimit();
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return DescriptorLimit();
}

long DescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    if (limit.rlim_cur == RLIM_INFINITY) return 1L << 20;
    return static_cast<long>(std::min<rlim_t>(limit.rlim_cur, rlim_t{1} << 30));
}

int DefaultMaxConnections(long descriptorLimit) {
    // Leave a quarter (and some) for log files, libraries and the loops.
    const long cap = (descriptorLimit - 64) / 4 * 3;
    return static_cast<int>(std::clamp<long>(cap, 16, 1000000));
}

int UsableCores() {
    // The cores this process may run on (a CPU set, taskset), not the machine's.
    long cores = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
    if (cores <= 0) cores = static_cast<long>(std::thread::hardware_concurrency());
    // A CPU quota ("200000 100000": two cores' worth) caps it further.
    std::ifstream quota("/sys/fs/cgroup/cpu.max");
    std::string limit;
    long period = 0;
    if (quota >> limit >> period && limit != "max" && period > 0) {
        try {
            const long share = (std::stol(limit) + period - 1) / period;
            if (share > 0) cores = std::min(cores, share);
        } catch (const std::exception&) {
        }
    }
    return static_cast<int>(std::max(cores, 1L));
}

int LoopThreadCount(int requested) {
    if (requested > 0) return std::min(requested, 64);
    // One core is left to the rest: the kernel's TCP work (more than half of
    // a search's time), a client on the same machine, reloads. A loop that
    // shares its core with them sleeps and wakes at every request; measured
    // on two cores, one loop answers a third more searches than two.
    return std::clamp(UsableCores() - 1, 1, 16);
}
