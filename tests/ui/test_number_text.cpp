// Number-field rules without a window: typed texts, range reset, display
// pictures, the key filter and the kind conversions of a new text.
#include "ui/EditValue.h"
#include "ui/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::string Readable(std::string name)
{
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// A text left in a field: parsed, range-checked, shown again.
struct TTypedCase {
    const char* Name;
    std::string Text;
    std::string Picture;
    std::string Min;
    std::string Max;
    double Value;
    std::string Shown;
    std::string TextValue;
};

class TypedText : public ::testing::TestWithParam<TTypedCase> {};

TEST_P(TypedText, GivesValueShownTextAndTextValue)
{
    const TTypedCase& c = GetParam();
    const TValue value = CheckRange(ParseNumberText(c.Text), c.Min, c.Max);
    EXPECT_EQ(value.AsDouble(), c.Value);
    EXPECT_EQ(FormatNumberValue(value, c.Picture), c.Shown);
    EXPECT_EQ(ValueToText(value), c.TextValue);
}

// The options dialog's fields: "#####", 0 to 99999.
const TTypedCase kTyped[] = {
    {"ThousandsSuffix", "5M", "#####", "0", "99999", 5000, "5000", "5000"},
    {"HundredsSuffix", "2.5C", "#####", "0", "99999", 250, "250", "250"},
    {"MillionsSuffixAboveRange", "1.5MM", "#####", "0", "99999", 0, "", "0"},
    {"MillionsSuffixWithoutRange", "1.5mm", "#####", "", "", 1500000, "1500000", "1500000"},
    {"NegativeBelowMinimum", "-7", "#####", "0", "99999", 0, "", "0"},
    {"NegativeWithoutRange", "-7", "#####", "", "", -7, "-7", "-7"},
    {"AboveMaximumBecomesZero", "120000", "#####", "0", "99999", 0, "", "0"},
    {"Empty", "", "#####", "0", "99999", 0, "", "0"},
    {"OnlyBlanks", "   ", "#####", "0", "99999", 0, "", "0"},
    {"TwoPoints", "1.2.3", "#####", "0", "99999", 0, "", "0"},
    {"LettersWithoutSuffixDropped", "12xyz", "#####", "0", "99999", 12, "12", "12"},
    {"EndsInCButRestIsNoNumber", "12abc", "#####", "0", "99999", 0, "", "0"},
    {"SuffixFollowedByBlankIsNoSuffix", "5M ", "#####", "0", "99999", 5, "5", "5"},
    {"FractionShownRounded", "389.6", "#####", "0", "99999", 389.6, "390", "389.6"},
    {"BoundThatIsNoNumberCountsAsZero", "-1", "#####", "low", "", 0, "", "0"},
    {"ZeroStaysZeroOutsideRange", "3", "#####", "10", "20", 0, "", "0"},
    {"UpperBoundItselfAccepted", "99999", "#####", "0", "99999", 99999, "99999", "99999"},
    {"DefaultPicture", "1234.5", ",###.00", "", "", 1234.5, "1,234.50", "1234.5"},
    {"HugeSuffixWithoutRange", "1E308M", "#####", "", "", std::numeric_limits<double>::infinity(), "", "INF"},
};

INSTANTIATE_TEST_SUITE_P(NumberField, TypedText, ::testing::ValuesIn(kTyped),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TPictureCase {
    double Value;
    std::string Picture;
    std::string Text;
};

class Picture : public ::testing::TestWithParam<TPictureCase> {};

TEST_P(Picture, WritesTheValue) { EXPECT_EQ(FormatNumber(GetParam().Value, GetParam().Picture), GetParam().Text); }

const TPictureCase kPictures[] = {
    {389, "#####", "389"},
    {1.5, "#####", "2"},
    {2.5, "#####", "3"},
    {-2.5, "#####", "-3"},
    {0, "#####", ""},
    {-0.4, "#####", ""},
    {1234.5, ",###.00", "1,234.50"},
    {0, ",###.00", ".00"},
    {-0.004, ",###.00", ".00"},
    {999.996, ",###.00", "1,000.00"},
    {-1234567.891, ",###.00", "-1,234,567.89"},
    {2.675, "0.00", "2.68"},
    {0.125, "0.00", "0.13"},
    {0.0004, "0.00", "0.00"},
    {7, "000", "007"},
    {1.25, "0.0#", "1.25"},
    {1.2, "0.0#", "1.2"},
    {1e6, "#,##0", "1,000,000"},
    {12, "$#,##0 kB", "$12 kB"},
    {1234.5, "", "1234.5"},
    {std::nan(""), "#####", ""},
};

INSTANTIATE_TEST_SUITE_P(NumberField, Picture, ::testing::ValuesIn(kPictures), [](const auto& info) {
    return "Case" + std::to_string(info.index) + "_" + Readable(info.param.Picture.empty() ? "empty" : info.param.Picture);
});

TEST(NumberValue, NullIsWrittenAsZeroAndATextThatIsNoNumberAsNothing)
{
    EXPECT_EQ(FormatNumberValue(TValue::Null(), "0.0"), "0.0");
    EXPECT_EQ(FormatNumberValue(TValue(), "0"), "0");
    EXPECT_EQ(FormatNumberValue(TValue("12.5"), "0.00"), "12.50");
    EXPECT_EQ(FormatNumberValue(TValue("twelve"), "0.00"), "");
}

struct TKeyCase {
    const char* Name;
    char Key;
    std::size_t TextLength;
    std::string Picture;
    bool Accepted;
};

class KeyFilter : public ::testing::TestWithParam<TKeyCase> {};

TEST_P(KeyFilter, DecidesWhetherTheCharacterReachesTheText)
{
    const TKeyCase& c = GetParam();
    EXPECT_EQ(NumberKeyAccepted(c.Key, c.TextLength, c.Picture), c.Accepted);
}

const TKeyCase kKeys[] = {
    {"Digit", '7', 0, "#####", true},
    {"Minus", '-', 2, "#####", true},
    {"Point", '.', 2, "#####", true},
    {"Letter", 'a', 0, "#####", false},
    {"SuffixLetter", 'M', 1, "#####", false},
    {"Blank", ' ', 1, "#####", false},
    {"Comma", ',', 1, "#####", false},
    {"Backspace", '\b', 3, "#####", true},
    {"DigitOneBelowFull", '1', 4, "#####", true},
    {"DigitInFullField", '1', 5, "#####", false},
    {"MinusInFullField", '-', 5, "#####", false},
    {"BackspaceInFullField", '\b', 5, "#####", true},
    {"DigitWithoutPicture", '1', 40, "", true},
};

INSTANTIATE_TEST_SUITE_P(NumberField, KeyFilter, ::testing::ValuesIn(kKeys),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TextOfKind, NewTextTakesTheKindOfTheValueItReplaces)
{
    EXPECT_TRUE(TextToValueOfKind(TValue(), "12").IsNull());
    EXPECT_TRUE(TextToValueOfKind(TValue::Null(), "12").IsNull());
    EXPECT_EQ(TextToValueOfKind(TValue(int32_t{0}), "389.6"), TValue(389.6));
    // No suffixes and no filtering on this path.
    EXPECT_EQ(TextToValueOfKind(TValue(1.0), "5M"), TValue(0.0));
    EXPECT_EQ(TextToValueOfKind(TValue(1.0), "INF"), TValue(0.0));
    EXPECT_EQ(TextToValueOfKind(TValue("x"), " 5M "), TValue(" 5M "));
    EXPECT_EQ(TextToValueOfKind(TValue(false), "tRuE"), TValue(true));
    EXPECT_EQ(TextToValueOfKind(TValue(true), "Yes"), TValue(false));
    EXPECT_EQ(TextToValueOfKind(TValue::DateTime(1), "1/1/1900"), TValue::DateTime(2));
    EXPECT_EQ(TextToValueOfKind(TValue::DateTime(1), "someday"), TValue::DateTime(0));
}

TEST(SameValue, NumbersCompareByValueOthersByTypeAndContent)
{
    EXPECT_TRUE(SameValue(TValue(int32_t{0}), TValue(0.0)));
    EXPECT_FALSE(SameValue(TValue(389.6), TValue(int32_t{390})));
    EXPECT_FALSE(SameValue(TValue("0"), TValue(int32_t{0})));
    EXPECT_FALSE(SameValue(TValue(), TValue::Null()));
    EXPECT_TRUE(SameValue(TValue("a"), TValue("a")));
}

}  // namespace
