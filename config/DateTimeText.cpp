#include "config/DateTimeText.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

// Day 0 of the date-time value (1899-12-30) counted from 1970-01-01.
constexpr int64_t kEpochOffsetDays = 25569;
constexpr int64_t kMsPerDay = 86400000;

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

bool ValidDate(int y, int m, int d)
{
    return y >= kMinDateTimeYear && y <= kMaxDateTimeYear && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

int Hour12(int hour) { return hour % 12 == 0 ? 12 : hour % 12; }
const char* AmPm(int hour) { return hour < 12 ? "AM" : "PM"; }

std::string Format(const char* fmt, auto... args)
{
    char buf[96];
    const int n = std::snprintf(buf, sizeof buf, fmt, args...);
    return std::string(buf, n < 0 ? 0 : static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

// A small cursor over the text for the date-time reader.
struct TScanner {
    const std::string& S;
    std::size_t Pos = 0;

    bool AtEnd() const { return Pos >= S.size(); }
    void SkipBlanks()
    {
        while (Pos < S.size() && (S[Pos] == ' ' || S[Pos] == '\t')) ++Pos;
    }
    bool Char(char c)
    {
        if (Pos < S.size() && S[Pos] == c) {
            ++Pos;
            return true;
        }
        return false;
    }
    // 1..maxDigits decimal digits.
    bool Number(int maxDigits, int& value, int& digits)
    {
        value = 0;
        digits = 0;
        while (Pos < S.size() && S[Pos] >= '0' && S[Pos] <= '9') {
            if (++digits > maxDigits) return false;
            value = value * 10 + (S[Pos] - '0');
            ++Pos;
        }
        return digits > 0;
    }
};

}  // namespace

TLocalTime LocalTimeOf(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    TLocalTime r;
    r.Year = tm.tm_year + 1900;
    r.Month = tm.tm_mon + 1;
    r.Day = tm.tm_mday;
    r.Hour = tm.tm_hour;
    r.Minute = tm.tm_min;
    r.Second = tm.tm_sec;
    return r;
}

TLocalTime LocalTimeNow()
{
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    TLocalTime r = LocalTimeOf(std::chrono::system_clock::to_time_t(now));
    r.Millisecond = static_cast<int>(((ms % 1000) + 1000) % 1000);
    return r;
}

std::string WindowTimeText(const TLocalTime& t)
{
    return Format("%02d/%02d %02d:%02d %s", t.Month, t.Day, Hour12(t.Hour), t.Minute, AmPm(t.Hour));
}

std::string FileTimeText(const TLocalTime& t)
{
    return Format("%02d/%02d/%02d %02d:%02d:%02d %s", t.Month, t.Day, ((t.Year % 100) + 100) % 100, Hour12(t.Hour),
                  t.Minute, t.Second, AmPm(t.Hour));
}

std::string StartTimeText(const TLocalTime& t)
{
    return Format("%02d/%02d/%04d %02d:%02d:%02d %s", t.Month, t.Day, t.Year, Hour12(t.Hour), t.Minute, t.Second,
                  AmPm(t.Hour));
}

double EncodeDateTime(const TLocalTime& t)
{
    if (!ValidDate(t.Year, t.Month, t.Day) || t.Hour < 0 || t.Hour > 23 || t.Minute < 0 || t.Minute > 59 ||
        t.Second < 0 || t.Second > 59 || t.Millisecond < 0 || t.Millisecond > 999)
        throw EConvertError("Invalid argument to date encode");
    const int64_t days = DaysFromCivil(t.Year, t.Month, t.Day) + kEpochOffsetDays;
    const double time =
        static_cast<double>(((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Millisecond) / kMsPerDay;
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

TLocalTime DecodeDateTime(double value)
{
    const double minValue = static_cast<double>(DaysFromCivil(kMinDateTimeYear, 1, 1) + kEpochOffsetDays);
    const double maxValue = static_cast<double>(DaysFromCivil(kMaxDateTimeYear + 1, 1, 1) + kEpochOffsetDays);
    if (!(value > minValue - 1 && value < maxValue)) throw EConvertError("Invalid argument to date decode");
    int64_t days = static_cast<int64_t>(std::trunc(value));
    int64_t ms = std::llround(std::fabs(value - static_cast<double>(days)) * kMsPerDay);
    if (ms >= kMsPerDay) {
        // Rounding reached the next midnight (in the direction of the sign).
        ms -= kMsPerDay;
        days += value >= 0 ? 1 : -1;
    }
    TLocalTime r;
    CivilFromDays(days - kEpochOffsetDays, r.Year, r.Month, r.Day);
    if (r.Year < kMinDateTimeYear || r.Year > kMaxDateTimeYear) throw EConvertError("Invalid argument to date decode");
    r.Millisecond = static_cast<int>(ms % 1000);
    r.Second = static_cast<int>(ms / 1000 % 60);
    r.Minute = static_cast<int>(ms / 60000 % 60);
    r.Hour = static_cast<int>(ms / 3600000);
    return r;
}

std::string DateTimeToText(double value)
{
    const TLocalTime t = DecodeDateTime(value);
    std::string s = Format("%d/%d/%04d", t.Month, t.Day, t.Year);
    if (t.Hour != 0 || t.Minute != 0 || t.Second != 0 || t.Millisecond != 0)
        s += Format(" %d:%02d:%02d %s", Hour12(t.Hour), t.Minute, t.Second, AmPm(t.Hour));
    return s;
}

bool TryTextToDateTime(const std::string& text, double& value)
{
    TScanner sc{text};
    TLocalTime t;
    int digits = 0;
    sc.SkipBlanks();
    if (!sc.Number(2, t.Month, digits) || !sc.Char('/')) return false;
    if (!sc.Number(2, t.Day, digits) || !sc.Char('/')) return false;
    if (!sc.Number(4, t.Year, digits)) return false;
    if (digits <= 2) t.Year += t.Year < 50 ? 2000 : 1900;
    t.Hour = t.Minute = t.Second = 0;
    sc.SkipBlanks();
    if (!sc.AtEnd()) {
        if (!sc.Number(2, t.Hour, digits) || !sc.Char(':')) return false;
        if (!sc.Number(2, t.Minute, digits)) return false;
        if (sc.Char(':') && !sc.Number(2, t.Second, digits)) return false;
        sc.SkipBlanks();
        if (!sc.AtEnd()) {
            if (sc.Pos + 2 > text.size()) return false;
            const char a = static_cast<char>(text[sc.Pos] & ~0x20);
            const char m = static_cast<char>(text[sc.Pos + 1] & ~0x20);
            if ((a != 'A' && a != 'P') || m != 'M') return false;
            sc.Pos += 2;
            if (t.Hour < 1 || t.Hour > 12) return false;
            t.Hour = t.Hour % 12 + (a == 'P' ? 12 : 0);
        }
        sc.SkipBlanks();
        if (!sc.AtEnd()) return false;
    }
    if (!ValidDate(t.Year, t.Month, t.Day) || t.Hour > 23 || t.Minute > 59 || t.Second > 59) return false;
    value = EncodeDateTime(t);
    return true;
}

double TextToDateTime(const std::string& text)
{
    double value = 0;
    if (!TryTextToDateTime(text, value)) throw EConvertError("'" + text + "' is not a valid date and time");
    return value;
}
