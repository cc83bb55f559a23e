// What is saved loads back as it was: values the reader would otherwise
// change (blanks around them, enclosing quotes), and keys added after a last
// line that ends in a lone CR.
#include "config/ProfileFile.h"
#include "config/VESKAOptions.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TQuotingCase {
    const char* Name;
    std::string Value;
    std::string Line;  // the line written for ExtFile
};

class ProfileQuoting : public testing::TestWithParam<TQuotingCase> {};

TEST_P(ProfileQuoting, ValueReadsBackAsSet)
{
    const TQuotingCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    TVESKAOptions saved;
    saved.SetValue("ExtFile", TValue(c.Value));
    saved.SaveToFile(path);
    EXPECT_NE(ReadFile(path).find("\nExtFile=" + c.Line + "\n"), std::string::npos) << ReadFile(path);
    TVESKAOptions loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.GetValue("ExtFile").AsString(), c.Value);
}

INSTANTIATE_TEST_SUITE_P(
    ProfileFile, ProfileQuoting,
    testing::Values(TQuotingCase{"PlainValueUnquoted", "/srv/contacts.ldif", "/srv/contacts.ldif"},
                    TQuotingCase{"InnerBlanksUnquoted", "/srv/my contacts.ldif", "/srv/my contacts.ldif"},
                    TQuotingCase{"LeadingBlank", " x.ldif", "\" x.ldif\""},
                    TQuotingCase{"TrailingTab", "x.ldif\t", "\"x.ldif\t\""},
                    TQuotingCase{"EnclosedInDoubleQuotes", "\"x\"", "\"\"x\"\""},
                    TQuotingCase{"EnclosedInSingleQuotes", "'x'", "\"'x'\""},
                    TQuotingCase{"OneQuoteOnlyUnquoted", "x\"", "x\""},
                    TQuotingCase{"EmptyUnquoted", "", ""}),
    [](const testing::TestParamInfo<TQuotingCase>& info) { return info.param.Name; });

TEST(ProfileFile, KeyAddedAfterALastLineEndingInALoneCrLandsInThatSection)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    dir.Write("VESKA.INI", "[OPTIONS]\nStartOpt=0\r");
    TVESKAOptions saved;
    saved.LoadFromFile(path);
    EXPECT_EQ(saved.GetValue("StartOpt").AsInteger(), 0);
    saved.SetValue("MaxResults", TValue(7));
    saved.SaveToFile(path);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("[OPTIONS]\nStartOpt=0\r\n", 0), 0u) << text;
    TVESKAOptions loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.GetValue("StartOpt").AsInteger(), 0);
    EXPECT_EQ(loaded.GetValue("MaxResults").AsInteger(), 7);
}

}  // namespace
