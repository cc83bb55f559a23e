// Time texts shown in the window, written to the log file and used as the text
// form of date-time settings. English separators and AM/PM throughout.
#pragma once

#include "config/ConvertError.h"

#include <ctime>
#include <string>

// A broken-down local (or any) time; Month 1-12, Day 1-31, Hour 0-23.
struct TLocalTime {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// The current local time of the process (TZ honoured).
TLocalTime LocalTimeNow();
TLocalTime LocalTimeOf(std::time_t t);

// "mm/dd hh:mm AM": the window log's time.
std::string WindowTimeText(const TLocalTime& t);
// "mm/dd/yy hh:mm:ss AM": the log file's time.
std::string FileTimeText(const TLocalTime& t);
// "mm/dd/yyyy hh:mm:ss AM": the service start time.
std::string StartTimeText(const TLocalTime& t);

// Date-time values are days since 1899-12-30 as a double; before that day the
// fraction counts forwards from the (negative) day number, i.e. -1.25 is
// 12/29/1899 6:00 AM.
inline constexpr int kMinDateTimeYear = 1;
inline constexpr int kMaxDateTimeYear = 9999;

// Raises EConvertError for an invalid date or time.
double EncodeDateTime(const TLocalTime& t);
// Raises EConvertError for NaN or a value outside years 1..9999.
TLocalTime DecodeDateTime(double value);

// "M/d/yyyy h:mm:ss AM"; the time left out when it is exactly midnight.
std::string DateTimeToText(double value);
// Accepts "M/d/yyyy" optionally followed by "h:mm[:ss]" with or without
// AM/PM; a year of one or two digits is taken as 1950-2049. Raises
// EConvertError "'%s' is not a valid date and time".
double TextToDateTime(const std::string& text);
bool TryTextToDateTime(const std::string& text, double& value);
