// The service's counters as Prometheus text exposition (version 0.0.4).
#pragma once

#include "shell/ServiceMetrics.h"

#include <cstdint>
#include <string>

// Everything one scrape shows, read at one moment.
struct TMetricsSample {
    TMetricTotals Totals;
    std::int64_t ConnectionsOpen = 0;
    std::uint64_t RefusedOverCap = 0;
    std::uint64_t RefusedNotAllowed = 0;  // AllowFrom
    std::int64_t Entries = 0;
    std::int64_t Domains = 0;
    std::int64_t Users = 0;
    std::int64_t ResidentBytes = 0;  // -1: unknown
    std::int64_t OpenFds = 0;        // -1: unknown
};

std::string MetricsText(const TMetricsSample& sample);

// The process's resident memory in bytes and its open descriptors, from
// /proc/self; -1 where it cannot be read.
std::int64_t ProcessResidentBytes();
std::int64_t ProcessOpenFds();
