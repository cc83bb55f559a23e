#include "config/Value.h"

#include "config/AsciiText.h"
#include "config/DateTimeText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsNoCase(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i)
        if (UpperASCIIChar(a[i]) != UpperASCIIChar(b[i])) return false;
    return i == a.size() && b[i] == '\0';
}

}  // namespace

TValue TValue::Null()
{
    TValue v;
    v.FData = TNull{};
    return v;
}

TValue TValue::DateTime(double days)
{
    TValue v;
    v.FData = TDateTime{days};
    return v;
}

TValueType TValue::Type() const { return static_cast<TValueType>(FData.index()); }

std::string TValue::AsString() const
{
    switch (Type()) {
    case TValueType::Empty:
    case TValueType::Null: return {};
    case TValueType::String: return std::get<std::string>(FData);
    case TValueType::Integer: return IntegerToText(std::get<int32_t>(FData));
    case TValueType::Double: return FloatToText(std::get<double>(FData));
    case TValueType::DateTime: return DateTimeToText(std::get<TDateTime>(FData).Days);
    case TValueType::Boolean: return std::get<bool>(FData) ? "True" : "False";
    }
    return {};
}

double TValue::AsDouble() const
{
    switch (Type()) {
    case TValueType::Empty:
    case TValueType::Null: return 0;
    case TValueType::String: return TextToFloat(std::get<std::string>(FData));
    case TValueType::Integer: return std::get<int32_t>(FData);
    case TValueType::Double: return std::get<double>(FData);
    case TValueType::DateTime: return std::get<TDateTime>(FData).Days;
    case TValueType::Boolean: return std::get<bool>(FData) ? 1 : 0;
    }
    return 0;
}

int32_t TValue::AsInteger() const
{
    switch (Type()) {
    case TValueType::Empty:
    case TValueType::Null: return 0;
    case TValueType::String: return TextToInteger(std::get<std::string>(FData));
    case TValueType::Integer: return std::get<int32_t>(FData);
    case TValueType::Double:
    case TValueType::DateTime: {
        const double d = AsDouble();
        // nearbyint in the default rounding mode rounds half to even.
        const double r = std::nearbyint(d);
        if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
            throw EConvertError("'" + FloatToText(d) + "' is not a valid integer value");
        return static_cast<int32_t>(r);
    }
    case TValueType::Boolean: return std::get<bool>(FData) ? 1 : 0;
    }
    return 0;
}

bool TValue::AsBoolean() const
{
    switch (Type()) {
    case TValueType::Empty:
    case TValueType::Null: return false;
    case TValueType::String: {
        const std::string& s = std::get<std::string>(FData);
        if (EqualsNoCase(s, "True")) return true;
        if (EqualsNoCase(s, "False")) return false;
        int32_t n = 0;
        if (TryTextToInteger(s, n)) return n != 0;
        throw EConvertError("'" + s + "' is not a valid boolean value");
    }
    case TValueType::Integer: return std::get<int32_t>(FData) != 0;
    case TValueType::Double:
    case TValueType::DateTime: return AsDouble() != 0;
    case TValueType::Boolean: return std::get<bool>(FData);
    }
    return false;
}

std::string IntegerToText(int32_t value) { return std::to_string(value); }

bool TryTextToInteger(const std::string& text, int32_t& value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    int64_t n = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        n = n * 10 + (text[i] - '0');
        // Stop before the accumulator itself could overflow.
        if (n > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
    }
    if (negative) n = -n;
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(n);
    return true;
}

int32_t TextToInteger(const std::string& text)
{
    int32_t value = 0;
    if (!TryTextToInteger(text, value)) throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

std::string FloatToText(double value)
{
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";

    // Fifteen significant digits, rounded once by the C library.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    std::string s(buf);
    std::string sign;
    if (s[0] == '-') {
        sign = "-";
        s.erase(0, 1);
    }
    const std::size_t e = s.find('e');
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
    const int exponent = std::stoi(s.substr(e + 1));
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out;
    if (exponent < -4 || exponent >= 15) {
        out = digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent < 0) {
        out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        const auto intDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out = digits + std::string(intDigits - digits.size(), '0');
        } else {
            out = digits.substr(0, intDigits) + "." + digits.substr(intDigits);
        }
    }
    return sign + out;
}

bool TryTextToFloat(const std::string& text, double& value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::string rest = text.substr(i);
    if (EqualsNoCase(rest, "INF")) {
        value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    if (EqualsNoCase(rest, "NAN")) {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    // Check the grammar ourselves: from_chars alone would take "1." prefixes of
    // longer texts and hex-like forms differently from what we write.
    std::size_t j = i;
    std::size_t mantissaDigits = 0;
    while (j < text.size() && IsDigit(text[j])) ++j, ++mantissaDigits;
    if (j < text.size() && text[j] == '.') {
        ++j;
        while (j < text.size() && IsDigit(text[j])) ++j, ++mantissaDigits;
    }
    if (mantissaDigits == 0) return false;
    if (j < text.size() && (text[j] == 'E' || text[j] == 'e')) {
        ++j;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        std::size_t expDigits = 0;
        while (j < text.size() && IsDigit(text[j])) ++j, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (j != text.size()) return false;

    // from_chars takes no '+' and is independent of the C locale.
    std::string body = text.substr(i);
    const char* first = body.data();
    const char* last = body.data() + body.size();
    double d = 0;
    std::from_chars_result r = std::from_chars(first, last, d);
    if (r.ec == std::errc::result_out_of_range) {
        // Subnormals, and the largest doubles that fifteen digits round just
        // above the range (the writer's own text for DBL_MAX), still read.
        long double wide = 0;
        r = std::from_chars(first, last, wide);
        if (r.ec != std::errc()) return false;
        constexpr long double max = std::numeric_limits<double>::max();
        if (wide > max) {
            if (wide > max * (1 + 1e-14L)) return false;
            wide = max;
        }
        d = static_cast<double>(wide);
    }
    if (r.ec != std::errc() || r.ptr != last) return false;
    value = negative ? -d : d;
    return true;
}

double TextToFloat(const std::string& text)
{
    double value = 0;
    if (!TryTextToFloat(text, value)) throw EConvertError("'" + text + "' is not a valid floating point value");
    return value;
}
