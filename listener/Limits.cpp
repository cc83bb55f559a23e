#include "listener/Limits.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
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

int LoopThreadCount(int requested) {
    if (requested > 0) return std::min(requested, 64);
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp<unsigned>(cores, 1, 16));
}
