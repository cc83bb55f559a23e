// Byte texts in the window: UTF-8 shown as such, other 8-bit text one letter per
// byte, and every text goes back unchanged while nobody edits it.
#include "ui/DisplayText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TTextCase {
    const char* Name;
    std::string Bytes;
    std::u16string Shown;
    // The UTF-8 of the shown text, as a text typed that way would be stored.
    std::string Typed;
};

const TTextCase kCases[] = {
    {"Ascii", "/srv/people.ldif", u"/srv/people.ldif", "/srv/people.ldif"},
    {"Empty", "", u"", ""},
    {"UmlautInUtf8", "/home/j\xc3\xbcrgen/M\xc3\xbcller.ldif", u"/home/j\u00fcrgen/M\u00fcller.ldif",
     "/home/j\xc3\xbcrgen/M\xc3\xbcller.ldif"},
    {"FourByteCharacter", "\xf0\x9f\x93\x87.pem", u"\U0001F4C7.pem", "\xf0\x9f\x93\x87.pem"},
    {"ByteOrderMarkKept", "\xef\xbb\xbf" "a", u"\ufeff" "a", "\xef\xbb\xbf" "a"},
    {"Latin1UmlautShownByByte", "M\xfcller", u"M\u00fcller", "M\xc3\xbcller"},
    {"CutSequenceShownByByte", "ab\xc3", u"ab\u00c3", "ab\xc3\x83"},
    {"OverlongSlashShownByByte", "\xc0\xaf", u"\u00c0\u00af", "\xc3\x80\xc2\xaf"},
    {"EncodedSurrogateShownByByte", "\xed\xa0\x80", u"\u00ed\u00a0\u0080", "\xc3\xad\xc2\xa0\xc2\x80"},
    {"NulKept", std::string("a\0b", 3), std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
};

class DisplayText : public testing::TestWithParam<TTextCase> {};

TEST_P(DisplayText, ShownTypedAndGivenBack)
{
    const TTextCase& c = GetParam();
    const QString shown = FromBytes(c.Bytes);
    EXPECT_EQ(shown.toStdU16String(), c.Shown);
    EXPECT_EQ(ToBytes(shown), c.Typed);
    // Untouched, the text goes back as it came, UTF-8 or not.
    EXPECT_EQ(BytesBehind(shown, c.Bytes), c.Bytes);
    // Edited, it goes back as UTF-8.
    EXPECT_EQ(BytesBehind(shown + QChar(0x00fc), c.Bytes), c.Typed + "\xc3\xbc");
}

INSTANTIATE_TEST_SUITE_P(Ui, DisplayText, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TTextCase>& info) { return info.param.Name; });

}  // namespace
