// Text forms of the value kinds and the tagged value's conversions.
#include "config/DateTimeText.h"
#include "config/Value.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// "Y2024_03_15T140509", or "Y0001_..." for the first year.
std::string TimeName(const TLocalTime& t)
{
    char name[48];
    std::snprintf(name, sizeof name, "Y%04d_%02d_%02dT%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return name;
}

struct TIntCase {
    const char* Text;
    bool Valid;
    int32_t Value;
};

class IntegerText : public testing::TestWithParam<TIntCase> {};

TEST_P(IntegerText, StrictDecimalIn32Bits)
{
    const TIntCase& c = GetParam();
    if (c.Valid) {
        EXPECT_EQ(TextToInteger(c.Text), c.Value);
    } else {
        try {
            TextToInteger(c.Text);
            ADD_FAILURE() << "accepted '" << c.Text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(c.Text) + "' is not a valid integer value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, IntegerText,
                         testing::Values(TIntCase{"0", true, 0}, TIntCase{"389", true, 389},
                                         TIntCase{"+5", true, 5}, TIntCase{"-5", true, -5},
                                         TIntCase{"007", true, 7}, TIntCase{"2147483647", true, 2147483647},
                                         TIntCase{"-2147483648", true, std::numeric_limits<int32_t>::min()},
                                         TIntCase{"2147483648", false, 0}, TIntCase{"-2147483649", false, 0},
                                         TIntCase{"99999999999999999999999", false, 0}, TIntCase{"12a", false, 0},
                                         TIntCase{"", false, 0}, TIntCase{" 1", false, 0}, TIntCase{"1 ", false, 0},
                                         TIntCase{"+", false, 0}, TIntCase{"-", false, 0},
                                         TIntCase{"+-1", false, 0}, TIntCase{"0x10", false, 0},
                                         TIntCase{"$10", false, 0}, TIntCase{"1.0", false, 0},
                                         TIntCase{"1e3", false, 0}),
                         [](const auto& info) { return testnames::Readable(info.param.Text); });

struct TFloatCase {
    double Value;
    const char* Text;
};

class FloatText : public testing::TestWithParam<TFloatCase> {};

TEST_P(FloatText, GeneralFormWithFifteenDigitsRoundTrips)
{
    const TFloatCase& c = GetParam();
    EXPECT_EQ(FloatToText(c.Value), c.Text);
    const double back = TextToFloat(c.Text);
    if (std::isnan(c.Value)) {
        EXPECT_TRUE(std::isnan(back));
    } else if (std::isinf(c.Value)) {
        EXPECT_EQ(back, c.Value);
    } else {
        // Equal within the fifteen digits written.
        EXPECT_EQ(FloatToText(back), c.Text);
        EXPECT_NEAR(back, c.Value, std::fabs(c.Value) * 1e-14);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FloatText,
    testing::Values(TFloatCase{0, "0"}, TFloatCase{1.5, "1.5"}, TFloatCase{-2.25, "-2.25"}, TFloatCase{100, "100"},
                    TFloatCase{0.1 + 0.2, "0.3"}, TFloatCase{1.0 / 3, "0.333333333333333"},
                    TFloatCase{2.0 / 3, "0.666666666666667"}, TFloatCase{0.0001, "0.0001"},
                    TFloatCase{0.00001, "1E-5"}, TFloatCase{-1.5e-7, "-1.5E-7"}, TFloatCase{1e20, "1E20"},
                    TFloatCase{123456789012345, "123456789012345"},
                    TFloatCase{1234567890123456, "1.23456789012346E15"}, TFloatCase{1.7976931348623157e308, "1.79769313486232E308"},
                    TFloatCase{std::numeric_limits<double>::infinity(), "INF"},
                    TFloatCase{-std::numeric_limits<double>::infinity(), "-INF"},
                    TFloatCase{std::numeric_limits<double>::quiet_NaN(), "NAN"}),
    [](const auto& info) { return testnames::Readable(info.param.Text); });

TEST(FloatText, ReaderAcceptsOtherPlainForms)
{
    EXPECT_EQ(TextToFloat("+1.5"), 1.5);
    EXPECT_EQ(TextToFloat(".5"), 0.5);
    EXPECT_EQ(TextToFloat("5."), 5.0);
    EXPECT_EQ(TextToFloat("2e3"), 2000.0);
    EXPECT_EQ(TextToFloat("2E+3"), 2000.0);
    EXPECT_EQ(TextToFloat("-0.25e-1"), -0.025);
    // Below the normal range: kept as the nearest subnormal, not refused.
    EXPECT_GT(TextToFloat("1E-320"), 0.0);
    EXPECT_EQ(TextToFloat("-1E-320"), -1e-320);
}

TEST(FloatText, InvalidTextsRaiseTheConversionError)
{
    for (const char* text : {"", "1,5", "abc", "1e", ".", "1.5x", " 1", "1 ", "--1", "0x1p3", "1e999", "e5", "1..2"}) {
        try {
            TextToFloat(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
}

struct TDateCase {
    TLocalTime Time;
    double Serial;
    const char* Text;
};

class DateTimeForm : public testing::TestWithParam<TDateCase> {};

TEST_P(DateTimeForm, SerialTextAndBack)
{
    const TDateCase& c = GetParam();
    EXPECT_NEAR(EncodeDateTime(c.Time), c.Serial, 1e-9);
    EXPECT_EQ(DateTimeToText(c.Serial), c.Text);
    EXPECT_NEAR(TextToDateTime(c.Text), c.Serial, 1e-9);
    const TLocalTime d = DecodeDateTime(c.Serial);
    EXPECT_EQ(d.Year, c.Time.Year);
    EXPECT_EQ(d.Month, c.Time.Month);
    EXPECT_EQ(d.Day, c.Time.Day);
    EXPECT_EQ(d.Hour, c.Time.Hour);
    EXPECT_EQ(d.Minute, c.Time.Minute);
    EXPECT_EQ(d.Second, c.Time.Second);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DateTimeForm,
    testing::Values(TDateCase{{1899, 12, 30, 0, 0, 0, 0}, 0, "12/30/1899"},
                    TDateCase{{1900, 1, 1, 12, 0, 0, 0}, 2.5, "1/1/1900 12:00:00 PM"},
                    TDateCase{{1899, 12, 29, 6, 0, 0, 0}, -1.25, "12/29/1899 6:00:00 AM"},
                    TDateCase{{2024, 3, 15, 0, 0, 0, 0}, 45366, "3/15/2024"},
                    TDateCase{{2024, 3, 15, 14, 5, 9, 0}, 45366 + 50709.0 / 86400, "3/15/2024 2:05:09 PM"},
                    TDateCase{{2024, 3, 15, 0, 30, 0, 0}, 45366 + 1800.0 / 86400, "3/15/2024 12:30:00 AM"},
                    TDateCase{{2024, 2, 29, 23, 59, 59, 0}, 45351 + 86399.0 / 86400, "2/29/2024 11:59:59 PM"},
                    TDateCase{{9999, 12, 31, 0, 0, 0, 0}, 2958465, "12/31/9999"},
                    TDateCase{{1, 1, 1, 0, 0, 0, 0}, -693593, "1/1/0001"}),
    [](const auto& info) { return TimeName(info.param.Time); });

TEST(DateTimeForm, ReaderAcceptsShortForms)
{
    const double at1405 = 45366 + 50700.0 / 86400;
    EXPECT_NEAR(TextToDateTime("3/15/2024 2:05 PM"), at1405, 1e-9);
    EXPECT_NEAR(TextToDateTime("3/15/2024 14:05"), at1405, 1e-9);
    EXPECT_NEAR(TextToDateTime("03/15/2024 02:05:00 pm"), at1405, 1e-9);
    EXPECT_NEAR(TextToDateTime("3/15/24"), 45366, 1e-9);
    EXPECT_NEAR(TextToDateTime("3/15/0"), EncodeDateTime({2000, 3, 15, 0, 0, 0, 0}), 1e-9);
    EXPECT_NEAR(TextToDateTime("1/1/99"), EncodeDateTime({1999, 1, 1, 0, 0, 0, 0}), 1e-9);
    EXPECT_NEAR(TextToDateTime("3/15/2024 12:00:00 AM"), 45366, 1e-9);
}

TEST(DateTimeForm, InvalidTextsRaiseTheConversionError)
{
    for (const char* text : {"", "hello", "2/30/2024", "2/29/2023", "13/1/2024", "0/1/2024", "3/15/2024 13:00:00 PM",
                             "3/15/2024 0:00 AM", "3/15/2024 25:00", "3/15/2024 1:60", "3/15/2024 1:00:60",
                             "3/15/2024 2:05 XM", "3/15/2024 2:05 PM x", "3-15-2024", "3/15", "3/15/10000",
                             "3/15/00000"}) {
        try {
            TextToDateTime(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid date and time");
        }
    }
}

TEST(DateTimeForm, ValuesOutsideTheCalendarRaise)
{
    EXPECT_THROW(DateTimeToText(std::numeric_limits<double>::quiet_NaN()), EConvertError);
    EXPECT_THROW(DateTimeToText(1e300), EConvertError);
    EXPECT_THROW(DateTimeToText(-1e9), EConvertError);
    EXPECT_THROW(EncodeDateTime({2023, 2, 29, 0, 0, 0, 0}), EConvertError);
}

TEST(DateTimeForm, RoundingToTheNextMidnightCarriesTheDay)
{
    EXPECT_EQ(DateTimeToText(45366 + (86400000.0 - 0.2) / 86400000), "3/16/2024");
}

struct TTimeTextCase {
    TLocalTime Time;
    const char* Window;
    const char* File;
    const char* Start;
};

class TimeTexts : public testing::TestWithParam<TTimeTextCase> {};

TEST_P(TimeTexts, TwelveHourClockWithTwoDigits)
{
    const TTimeTextCase& c = GetParam();
    EXPECT_EQ(WindowTimeText(c.Time), c.Window);
    EXPECT_EQ(FileTimeText(c.Time), c.File);
    EXPECT_EQ(StartTimeText(c.Time), c.Start);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TimeTexts,
    testing::Values(
        TTimeTextCase{{2024, 3, 15, 14, 5, 9, 0}, "03/15 02:05 PM", "03/15/24 02:05:09 PM", "03/15/2024 02:05:09 PM"},
        TTimeTextCase{{2024, 3, 15, 0, 7, 1, 0}, "03/15 12:07 AM", "03/15/24 12:07:01 AM", "03/15/2024 12:07:01 AM"},
        TTimeTextCase{{2009, 12, 1, 12, 0, 0, 0}, "12/01 12:00 PM", "12/01/09 12:00:00 PM", "12/01/2009 12:00:00 PM"},
        TTimeTextCase{{2000, 1, 9, 11, 59, 59, 999}, "01/09 11:59 AM", "01/09/00 11:59:59 AM",
                      "01/09/2000 11:59:59 AM"},
        TTimeTextCase{{2031, 7, 4, 23, 0, 0, 0}, "07/04 11:00 PM", "07/04/31 11:00:00 PM", "07/04/2031 11:00:00 PM"}),
    [](const auto& info) { return TimeName(info.param.Time); });

TEST(TimeTexts, LocalTimeHonoursTZ)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    const TLocalTime utc = LocalTimeOf(1710511509);  // 2024-03-15 14:05:09 UTC
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    const TLocalTime est = LocalTimeOf(1710511509);
    if (old) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(StartTimeText(utc), "03/15/2024 02:05:09 PM");
    EXPECT_EQ(StartTimeText(est), "03/15/2024 09:05:09 AM");
}

TEST(TaggedValue, EmptyAndNullConvertToNothing)
{
    for (const TValue& v : {TValue(), TValue::Null()}) {
        EXPECT_EQ(v.AsString(), "");
        EXPECT_EQ(v.AsInteger(), 0);
        EXPECT_FALSE(v.AsBoolean());
        EXPECT_EQ(v.AsDouble(), 0.0);
    }
    EXPECT_TRUE(TValue().IsEmpty());
    EXPECT_TRUE(TValue::Null().IsNull());
    EXPECT_NE(TValue(), TValue::Null());
}

TEST(TaggedValue, ConversionsBetweenKinds)
{
    EXPECT_EQ(TValue("12").AsInteger(), 12);
    EXPECT_EQ(TValue(12).AsString(), "12");
    EXPECT_EQ(TValue(true).AsString(), "True");
    EXPECT_EQ(TValue(false).AsInteger(), 0);
    EXPECT_TRUE(TValue("true").AsBoolean());
    EXPECT_FALSE(TValue("FALSE").AsBoolean());
    EXPECT_TRUE(TValue("-3").AsBoolean());
    EXPECT_FALSE(TValue("0").AsBoolean());
    EXPECT_THROW(TValue("Yes").AsBoolean(), EConvertError);
    EXPECT_THROW(TValue("12a").AsInteger(), EConvertError);
    EXPECT_EQ(TValue(2.5).AsInteger(), 2);  // half to even
    EXPECT_EQ(TValue(3.5).AsInteger(), 4);
    EXPECT_EQ(TValue(-2.5).AsInteger(), -2);
    EXPECT_THROW(TValue(3e9).AsInteger(), EConvertError);
    EXPECT_THROW(TValue(std::numeric_limits<double>::quiet_NaN()).AsInteger(), EConvertError);
    EXPECT_EQ(TValue(1.5).AsString(), "1.5");
    EXPECT_EQ(TValue::DateTime(45366).AsString(), "3/15/2024");
    EXPECT_EQ(TValue::DateTime(45366.75).AsInteger(), 45367);
    EXPECT_EQ(TValue("0.25").AsDouble(), 0.25);
}

TEST(TaggedValue, EqualityNeedsTheSameType)
{
    EXPECT_EQ(TValue(2), TValue(2));
    EXPECT_NE(TValue(2), TValue(2.0));
    EXPECT_NE(TValue(2.0), TValue::DateTime(2.0));
    EXPECT_NE(TValue(1), TValue(true));
    EXPECT_NE(TValue("2"), TValue(2));
    EXPECT_EQ(TValue("a"), TValue(std::string("a")));
    EXPECT_EQ(TValue(2).Type(), TValueType::Integer);
    EXPECT_EQ(TValue::DateTime(1).Type(), TValueType::DateTime);
}

}  // namespace
