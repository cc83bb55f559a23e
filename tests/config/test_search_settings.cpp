// The settings a search reads, kept per thread: a change of the settings is
// seen by the next read, and two settings lists never share what is kept.
#include "config/SearchSettings.h"
#include "config/VESKAOptions.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct TSettingsCase {
    const char* Name;
    TValue Standard;
    TValue MaxResults;
    bool ExpectStandard;
    std::optional<std::int32_t> ExpectMaxResults;
};

class SearchSettings : public ::testing::TestWithParam<TSettingsCase> {};

TEST_P(SearchSettings, FollowEveryChange)
{
    const TSettingsCase& c = GetParam();
    TVESKAOptions options;
    // Read once with the defaults first, so that a stale copy would show.
    ASSERT_FALSE(SearchSettingsOf(options).Standard);
    ASSERT_EQ(SearchSettingsOf(options).MaxResults, std::optional<std::int32_t>(50));
    options.SetValue("StandardSearch", c.Standard);
    options.SetValue("MaxResults", c.MaxResults);
    EXPECT_EQ(SearchSettingsOf(options).Standard, c.ExpectStandard);
    EXPECT_EQ(SearchSettingsOf(options).MaxResults, c.ExpectMaxResults);
    if (c.ExpectMaxResults)
        EXPECT_EQ(MaxResultsOf(options), *c.ExpectMaxResults);
    else
        EXPECT_THROW(MaxResultsOf(options), EConvertError) << "raises as reading the value does";
}

INSTANTIATE_TEST_SUITE_P(
    Values, SearchSettings,
    ::testing::Values(TSettingsCase{"StandardYes_Limit7", TValue(true), TValue(7), true, 7},
                      TSettingsCase{"StandardUnreadable_LimitUnreadable", TValue(std::string("maybe")),
                                    TValue(std::string("many")), false, std::nullopt},
                      TSettingsCase{"StandardNull_LimitNull", TValue::Null(), TValue::Null(), false, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SearchSettingsKept, TwoListsOnOneThreadAndAListMadeWhereAnotherWas)
{
    auto first = std::make_unique<TVESKAOptions>();
    TVESKAOptions second;
    first->SetValue("MaxResults", TValue(1));
    second.SetValue("MaxResults", TValue(2));
    EXPECT_EQ(MaxResultsOf(*first), 1);
    EXPECT_EQ(MaxResultsOf(second), 2);
    EXPECT_EQ(MaxResultsOf(*first), 1);
    // A list made after another was freed (often at the same address) is read afresh.
    first.reset();
    auto third = std::make_unique<TVESKAOptions>();
    third->SetValue("MaxResults", TValue(3));
    EXPECT_EQ(MaxResultsOf(*third), 3);
    third->LoadFromFile("/nonexistent/VESKA.INI");
    EXPECT_EQ(MaxResultsOf(*third), 3) << "a missing file changes nothing";
}

} // namespace
