// Octets kept per entry: found as kept, kept once, bounded by the cap, filled
// from several threads at once.
#include "directory/EntryMemo.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct TKeep {
    std::uint32_t Entry;
    std::string Octets;
};

struct TMemoCase {
    const char* Name;
    std::uint32_t Entries;
    std::size_t Cap;
    std::vector<TKeep> Keeps;
    std::vector<TKeep> Found; // what Find gives afterwards ("" for nothing)
};

const std::vector<TMemoCase> kMemoCases = {
    {"KeptIsFound", 3, 1024, {{1, "abc"}}, {{0, ""}, {1, "abc"}, {2, ""}}},
    {"FirstKeptStays", 2, 1024, {{0, "first"}, {0, "second"}}, {{0, "first"}}},
    {"EmptyIsNotKept", 2, 1024, {{0, ""}}, {{0, ""}}},
    {"OutOfRangeIgnored", 2, 1024, {{2, "x"}, {7, "y"}}, {{2, ""}, {7, ""}, {1, ""}}},
    // Each keeps its octets and a 4-octet length: 4 + 6 fits in 12, the next 10 doesn't.
    {"CapRefusesTheRest", 3, 12, {{0, "sixsix"}, {1, "sixsix"}, {2, "a"}}, {{0, "sixsix"}, {1, ""}, {2, ""}}},
    {"RunLargerThanABlock", 1, 4u << 20, {{0, std::string(3u << 20, 'z')}}, {{0, std::string(3u << 20, 'z')}}},
    {"OctetsWithZeros", 1, 64, {{0, std::string("a\0b", 3)}}, {{0, std::string("a\0b", 3)}}},
};

class EntryMemoTable : public ::testing::TestWithParam<TMemoCase> {};

TEST_P(EntryMemoTable, FindsWhatWasKept)
{
    const TMemoCase& c = GetParam();
    TEntryMemo memo(c.Entries, c.Cap);
    for (const TKeep& keep : c.Keeps) memo.Keep(keep.Entry, keep.Octets);
    for (const TKeep& found : c.Found)
        EXPECT_EQ(memo.Find(found.Entry) == found.Octets, true) << "entry " << found.Entry;
    EXPECT_LE(memo.KeptBytes(), c.Cap);
}

INSTANTIATE_TEST_SUITE_P(Memo, EntryMemoTable, ::testing::ValuesIn(kMemoCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(EntryMemo, ThreadsKeepingTheSameEntriesAgree)
{
    constexpr std::uint32_t kEntries = 2000;
    TEntryMemo memo(kEntries, 1u << 20);
    auto octetsOf = [](std::uint32_t entry) { return "entry " + std::to_string(entry); };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (std::uint32_t i = 0; i < kEntries; ++i)
                if (memo.Find(i).empty()) memo.Keep(i, octetsOf(i));
        });
    for (std::thread& thread : threads) thread.join();
    std::size_t bytes = 0;
    for (std::uint32_t i = 0; i < kEntries; ++i) {
        ASSERT_EQ(memo.Find(i), octetsOf(i));
        bytes += 4 + octetsOf(i).size();
    }
    EXPECT_EQ(memo.KeptBytes(), bytes) << "each entry kept once";
}

} // namespace
