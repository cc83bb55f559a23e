#include "shell/ServiceMetrics.h"

#include <algorithm>

namespace {

// Serial numbers tell a thread's cached block of one metrics object from
// that of a later one made at the same address.
std::atomic<std::uint64_t> GNextSerial{1};

struct TThreadSlot {
    std::uint64_t Serial = 0;
    TThreadCounters* Block = nullptr;
};
thread_local TThreadSlot GThreadSlot;

std::size_t BucketOf(std::chrono::nanoseconds took)
{
    const double seconds = std::chrono::duration<double>(took).count();
    const auto it = std::lower_bound(kSearchSecondsBuckets.begin(), kSearchSecondsBuckets.end(), seconds);
    return static_cast<std::size_t>(it - kSearchSecondsBuckets.begin());
}

} // namespace

const char* ErrorKindLabel(TErrorKind kind)
{
    switch (kind) {
    case TErrorKind::Connection: return "connection";
    case TErrorKind::Listener: return "listener";
    case TErrorKind::LogFile: return "log_file";
    case TErrorKind::Reload: return "reload";
    case TErrorKind::Count_: break;
    }
    return "other";
}

void TThreadCounters::AddSearch(std::chrono::nanoseconds took, std::size_t entries)
{
    Bump(Searches);
    Bump(EntriesSent, entries);
    Bump(SearchNanoseconds, static_cast<std::uint64_t>(std::max<std::int64_t>(took.count(), 0)));
    Bump(SearchBuckets[BucketOf(took)]);
}

TServiceMetrics::TServiceMetrics() : FSerial(GNextSerial.fetch_add(1)) { FShared.Shared = true; }

TThreadCounters& TServiceMetrics::ThisThread()
{
    TThreadSlot& slot = GThreadSlot;
    if (slot.Serial == FSerial) return *slot.Block;
    const std::size_t index = FClaimed.fetch_add(1);
    slot.Serial = FSerial;
    slot.Block = index < kSlots ? &FSlots[index] : &FShared;
    return *slot.Block;
}

void TServiceMetrics::CountError(TErrorKind kind)
{
    FErrors[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
}

void TServiceMetrics::CountReload(std::chrono::system_clock::time_point at, std::chrono::nanoseconds took)
{
    FLastReloadMs.store(std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count(),
                        std::memory_order_relaxed);
    FLastReloadNs.store(took.count(), std::memory_order_relaxed);
    FReloads.fetch_add(1, std::memory_order_relaxed);
}

void TServiceMetrics::CountReloadFailure() { FReloadFailures.fetch_add(1, std::memory_order_relaxed); }

TMetricTotals TServiceMetrics::Totals() const
{
    TMetricTotals totals;
    std::uint64_t nanoseconds = 0;
    auto add = [&](const TThreadCounters& block) {
        totals.Requests += block.Requests.load(std::memory_order_relaxed);
        totals.Searches += block.Searches.load(std::memory_order_relaxed);
        totals.EntriesSent += block.EntriesSent.load(std::memory_order_relaxed);
        totals.Accepted += block.Accepted.load(std::memory_order_relaxed);
        nanoseconds += block.SearchNanoseconds.load(std::memory_order_relaxed);
        for (std::size_t b = 0; b < block.SearchBuckets.size(); ++b)
            totals.SearchBuckets[b] += block.SearchBuckets[b].load(std::memory_order_relaxed);
    };
    const std::size_t claimed = std::min(FClaimed.load(), kSlots);
    for (std::size_t i = 0; i < claimed; ++i) add(FSlots[i]);
    add(FShared);
    totals.SearchSeconds = static_cast<double>(nanoseconds) / 1e9;
    for (std::size_t k = 0; k < FErrors.size(); ++k) totals.Errors[k] = FErrors[k].load(std::memory_order_relaxed);
    totals.Reloads = FReloads.load(std::memory_order_relaxed);
    totals.ReloadFailures = FReloadFailures.load(std::memory_order_relaxed);
    totals.LastReloadUnixSeconds = static_cast<double>(FLastReloadMs.load(std::memory_order_relaxed)) / 1e3;
    totals.LastReloadDurationSeconds = static_cast<double>(FLastReloadNs.load(std::memory_order_relaxed)) / 1e9;
    return totals;
}
