// The metrics text: each counter under its Prometheus name, the histogram
// cumulative, and the per-thread counts summed.
#include "shell/MetricsText.h"
#include "shell/ServiceMetrics.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <thread>
#include <vector>

namespace {

struct TMetricLine {
    const char* Label;
    std::function<void(TMetricsSample&)> Set;
    std::string Line;  // exactly as it must appear
};

class MetricsTextLine : public ::testing::TestWithParam<TMetricLine> {};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

} // namespace

TEST_P(MetricsTextLine, Appears)
{
    TMetricsSample sample;
    GetParam().Set(sample);
    const std::vector<std::string> lines = Lines(MetricsText(sample));
    EXPECT_NE(std::find(lines.begin(), lines.end(), GetParam().Line), lines.end()) << MetricsText(sample);
}

INSTANTIATE_TEST_SUITE_P(
    Names, MetricsTextLine,
    ::testing::Values(
        TMetricLine{"Requests", [](TMetricsSample& s) { s.Totals.Requests = 12; }, "veska_requests_total 12"},
        TMetricLine{"Searches", [](TMetricsSample& s) { s.Totals.Searches = 7; }, "veska_searches_total 7"},
        TMetricLine{"EntriesSent", [](TMetricsSample& s) { s.Totals.EntriesSent = 99; }, "veska_entries_sent_total 99"},
        TMetricLine{"BucketsAreCumulative",
                    [](TMetricsSample& s) {
                        s.Totals.SearchBuckets[0] = 2;
                        s.Totals.SearchBuckets[1] = 3;
                    },
                    "veska_search_duration_seconds_bucket{le=\"0.0001\"} 5"},
        TMetricLine{"InfCountsEverySearch",
                    [](TMetricsSample& s) {
                        s.Totals.SearchBuckets[0] = 2;
                        s.Totals.SearchBuckets.back() = 1;
                    },
                    "veska_search_duration_seconds_bucket{le=\"+Inf\"} 3"},
        TMetricLine{"DurationSum", [](TMetricsSample& s) { s.Totals.SearchSeconds = 0.25; },
                    "veska_search_duration_seconds_sum 0.25"},
        TMetricLine{"ConnectionsOpen", [](TMetricsSample& s) { s.ConnectionsOpen = 8; }, "veska_connections_open 8"},
        TMetricLine{"Accepted", [](TMetricsSample& s) { s.Totals.Accepted = 30; }, "veska_connections_accepted_total 30"},
        TMetricLine{"RefusedOverCap", [](TMetricsSample& s) { s.RefusedOverCap = 4; },
                    "veska_connections_refused_total{reason=\"max_connections\"} 4"},
        TMetricLine{"RefusedNotAllowed", [](TMetricsSample& s) { s.RefusedNotAllowed = 3; },
                    "veska_connections_refused_total{reason=\"not_allowed\"} 3"},
        TMetricLine{"ErrorsByKind",
                    [](TMetricsSample& s) { s.Totals.Errors[static_cast<std::size_t>(TErrorKind::LogFile)] = 2; },
                    "veska_errors_total{kind=\"log_file\"} 2"},
        TMetricLine{"Entries", [](TMetricsSample& s) { s.Entries = 1000000; }, "veska_directory_entries 1000000"},
        TMetricLine{"Domains", [](TMetricsSample& s) { s.Domains = 3; }, "veska_directory_domains 3"},
        TMetricLine{"Users", [](TMetricsSample& s) { s.Users = 41; }, "veska_directory_users 41"},
        TMetricLine{"ReloadFailures", [](TMetricsSample& s) { s.Totals.ReloadFailures = 1; },
                    "veska_directory_reload_failures_total 1"},
        TMetricLine{"LastReload", [](TMetricsSample& s) { s.Totals.LastReloadUnixSeconds = 1765190000.5; },
                    "veska_directory_last_reload_timestamp_seconds 1765190000.5"},
        TMetricLine{"Resident", [](TMetricsSample& s) { s.ResidentBytes = 4096; },
                    "veska_process_resident_memory_bytes 4096"},
        TMetricLine{"Descriptors", [](TMetricsSample& s) { s.OpenFds = 17; }, "veska_process_open_fds 17"}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(ServiceMetrics, EachThreadCountsInItsOwnBlockAndTheTotalsSumThem)
{
    TServiceMetrics metrics;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&metrics] {
            for (int i = 0; i < 1000; ++i) {
                TThreadCounters& counters = metrics.ThisThread();
                counters.Bump(counters.Requests);
                counters.AddSearch(std::chrono::microseconds(200), 3);
            }
        });
    for (std::thread& t : threads) t.join();
    const TMetricTotals totals = metrics.Totals();
    EXPECT_EQ(totals.Requests, 4000u);
    EXPECT_EQ(totals.Searches, 4000u);
    EXPECT_EQ(totals.EntriesSent, 12000u);
    // 200 microseconds fall in the bucket up to 0.00025 seconds.
    EXPECT_EQ(totals.SearchBuckets[2], 4000u);
}

TEST(ServiceMetrics, ThreadsBeyondTheSlotsShareOneBlockWithoutLosingCounts)
{
    TServiceMetrics metrics;
    for (std::size_t round = 0; round < TServiceMetrics::kSlots + 8; round += 8) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&metrics] {
                for (int i = 0; i < 100; ++i) {
                    TThreadCounters& counters = metrics.ThisThread();
                    counters.Bump(counters.Accepted);
                }
            });
        for (std::thread& t : threads) t.join();
    }
    EXPECT_EQ(metrics.Totals().Accepted, (TServiceMetrics::kSlots + 8) * 100u);
}
