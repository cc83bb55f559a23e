// Letter-case folding is ASCII-only everywhere: these cases pin the octets that
// must not fold (8-bit letters, the neighbours of a-z).
#include "config/AsciiText.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

namespace {

struct TCase {
    const char* Text;
    const char* Part;
    bool Same;
    bool Contains;
};

class AsciiText : public ::testing::TestWithParam<TCase> {};

TEST_P(AsciiText, FoldsOnlyAToZ)
{
    const TCase& c = GetParam();
    EXPECT_EQ(SameTextASCII(c.Text, c.Part), c.Same);
    EXPECT_EQ(ContainsTextASCII(c.Text, c.Part), c.Contains);
    EXPECT_EQ(SameTextASCII(c.Text, c.Part), UpperASCII(c.Text) == UpperASCII(c.Part));
}

INSTANTIATE_TEST_SUITE_P(
    All, AsciiText,
    ::testing::Values(TCase{"Ann Lee", "ANN LEE", true, true}, TCase{"Ann Lee", "lee", false, true},
                      TCase{"Ann Lee", "", false, true}, TCase{"", "", true, true},
                      TCase{"ab", "abc", false, false}, TCase{"xxabAB", "Abab", false, true},
                      TCase{"aab", "AB", false, true}, TCase{"ab", "ba", false, false},
                      // '@' and '`' border A-Z and a-z; '[' and '{' too.
                      TCase{"@[", "`{", false, false},
                      // 8-bit letters compare exactly.
                      TCase{"\xC4", "\xE4", false, false}, TCase{"x\xE4y", "\xE4", false, true}),
    [](const auto& info) { return testnames::Join(info.param.Text, info.param.Part); });

} // namespace
