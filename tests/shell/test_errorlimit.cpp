// The rate limit of error events and the form of their text.
#include "shell/ErrorLimit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct TLimitCase {
    const char* Name;
    int PerWindow;
    std::vector<int> AtSeconds;          // when each error is met
    std::vector<int> Held;               // -1: held back; otherwise admitted, with this count before it
    std::uint64_t LeftAtEnd;             // TakeHeld afterwards
};

class ErrorLimitTable : public testing::TestWithParam<TLimitCase> {};

TEST_P(ErrorLimitTable, AdmitsPerWindowAndCountsTheRest)
{
    const TLimitCase& c = GetParam();
    TErrorRateLimit limit(c.PerWindow, 10s);
    const TErrorRateLimit::TClock::time_point start{};
    std::vector<int> got;
    for (const int at : c.AtSeconds) {
        std::uint64_t held = 99;
        const bool admitted = limit.Admit(start + std::chrono::seconds(at), held);
        got.push_back(admitted ? static_cast<int>(held) : -1);
    }
    EXPECT_EQ(got, c.Held);
    EXPECT_EQ(limit.TakeHeld(), c.LeftAtEnd);
    EXPECT_EQ(limit.TakeHeld(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorLimit, ErrorLimitTable,
    testing::Values(TLimitCase{"UnderTheLimit", 3, {0, 1, 2}, {0, 0, 0}, 0},
                    TLimitCase{"FloodHeldThenCountedInTheNextWindow",
                               3,
                               {0, 1, 2, 3, 4, 9, 10, 11},
                               {0, 0, 0, -1, -1, -1, 3, 0},
                               0},
                    TLimitCase{"WindowStartsAtTheFirstErrorAfterAQuietSpell", 2, {0, 25, 26, 27, 34, 35}, {0, 0, 0, -1, -1, 2}, 0},
                    TLimitCase{"HeldAtTheEndAreLeftForTheLastReport", 1, {0, 1, 2}, {0, -1, -1}, 2}),
    [](const testing::TestParamInfo<TLimitCase>& info) { return info.param.Name; });

struct TTextCase {
    const char* Name;
    std::string Text;
    std::string Expected;
};

class ErrorTextTable : public testing::TestWithParam<TTextCase> {};

TEST_P(ErrorTextTable, OneShortLine)
{
    EXPECT_EQ(ErrorEventText(GetParam().Text), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorLimit, ErrorTextTable,
    testing::Values(TTextCase{"Plain", "Error...10.0.0.7: malformed message", "Error...10.0.0.7: malformed message"},
                    TTextCase{"LineBreaksAndControlsBecomeBlanks", std::string("a\nb\r\tc\0d\x7f", 9), "a b  c d "},
                    TTextCase{"CutToTheMaximum", std::string(500, 'x'), std::string(kMaxErrorText, 'x')}),
    [](const testing::TestParamInfo<TTextCase>& info) { return info.param.Name; });

}  // namespace
