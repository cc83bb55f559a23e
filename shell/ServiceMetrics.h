// The service's counters for monitoring. The connection side counts in one
// block per thread (each block written by its own thread only, with relaxed
// stores, so a request costs no lock and no shared cache line); a scrape sums
// the blocks. Rare events (errors, reloads) count in plain atomics.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// Upper bounds of the search-duration buckets, in seconds.
inline constexpr std::array<double, 12> kSearchSecondsBuckets{0.00005, 0.0001, 0.00025, 0.0005, 0.001, 0.0025,
                                                              0.005,   0.01,   0.025,   0.05,   0.1,   1.0};

// What the service counts about errors: each kind is one label value.
enum class TErrorKind : std::uint8_t {
    Connection,  // a connection ended by a bad message or a failed send
    Listener,    // accepting paused, connections refused over the cap
    LogFile,     // the log file refused a line
    Reload,      // a directory reload failed
    Count_
};
const char* ErrorKindLabel(TErrorKind kind);

// The counts of one thread, on cache lines of their own so that two threads
// never write the same line.
struct alignas(64) TThreadCounters {
    std::atomic<std::uint64_t> Requests{0};
    std::atomic<std::uint64_t> Searches{0};
    std::atomic<std::uint64_t> EntriesSent{0};
    std::atomic<std::uint64_t> Accepted{0};
    std::atomic<std::uint64_t> SearchNanoseconds{0};
    // Per bucket (not cumulative); the last one is +Inf.
    std::array<std::atomic<std::uint64_t>, kSearchSecondsBuckets.size() + 1> SearchBuckets{};

    // A block of its own is written by its thread only: a load and a store,
    // no locked instruction. The shared block adds atomically.
    void Bump(std::atomic<std::uint64_t>& counter, std::uint64_t by = 1)
    {
        if (Shared)
            counter.fetch_add(by, std::memory_order_relaxed);
        else
            counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
    }
    void AddSearch(std::chrono::nanoseconds took, std::size_t entries);
    // A search that was not timed: counted, outside the duration histogram.
    void AddSearch(std::size_t entries)
    {
        Bump(Searches);
        Bump(EntriesSent, entries);
    }

    bool Shared = false;  // set before any thread uses the block
};

// The sums a scrape shows.
struct TMetricTotals {
    std::uint64_t Requests = 0;
    std::uint64_t Searches = 0;
    std::uint64_t EntriesSent = 0;
    std::uint64_t Accepted = 0;
    double SearchSeconds = 0;
    std::array<std::uint64_t, kSearchSecondsBuckets.size() + 1> SearchBuckets{};  // per bucket
    std::array<std::uint64_t, static_cast<std::size_t>(TErrorKind::Count_)> Errors{};
    std::uint64_t Reloads = 0;
    std::uint64_t ReloadFailures = 0;
    double LastReloadUnixSeconds = 0;  // 0 before the first
    double LastReloadDurationSeconds = 0;
};

class TServiceMetrics {
public:
    TServiceMetrics();
    TServiceMetrics(const TServiceMetrics&) = delete;
    TServiceMetrics& operator=(const TServiceMetrics&) = delete;

    // The calling thread's block (claimed at its first call; threads beyond
    // the slots share one block, counted with atomic additions instead).
    TThreadCounters& ThisThread();
    void CountError(TErrorKind kind);
    // A directory published by a reload or refresh, or a failed one.
    void CountReload(std::chrono::system_clock::time_point at, std::chrono::nanoseconds took);
    void CountReloadFailure();

    // Any thread, no lock: sums what every block holds now.
    TMetricTotals Totals() const;

    static constexpr std::size_t kSlots = 256;

private:
    // Claimed slots are [0, FClaimed); each is written by its thread only.
    std::array<TThreadCounters, kSlots> FSlots;
    std::atomic<std::size_t> FClaimed{0};
    // For threads beyond kSlots; written with fetch_add.
    TThreadCounters FShared;
    const std::uint64_t FSerial;

    std::array<std::atomic<std::uint64_t>, static_cast<std::size_t>(TErrorKind::Count_)> FErrors{};
    std::atomic<std::uint64_t> FReloads{0};
    std::atomic<std::uint64_t> FReloadFailures{0};
    std::atomic<std::int64_t> FLastReloadMs{0};
    std::atomic<std::int64_t> FLastReloadNs{0};
};
