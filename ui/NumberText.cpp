#include "ui/NumberText.h"

#include "config/AsciiText.h"
#include "ui/EditValue.h"

#include <cmath>
#include <cstdio>

namespace {

bool IsPlaceholder(char c) { return c == '0' || c == '#'; }
bool IsPictureElement(char c) { return IsPlaceholder(c) || c == '.' || c == ','; }

bool EndsWith(const std::string& text, const char* suffix)
{
    const std::string s(suffix);
    return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

TValue Scaled(const std::string& text, std::size_t suffixLength, double factor)
{
    return TValue(SafeTextToFloat(text.substr(0, text.size() - suffixLength)) * factor);
}

// What a picture asks for.
struct TPicture {
    std::string Prefix;
    std::string Suffix;
    int MinIntegerDigits = 0;  // placeholders from the first '0' before the point on
    int Decimals = 0;          // placeholders after the point
    int ForcedDecimals = 0;    // up to the last '0' after the point
    bool Thousands = false;
};

TPicture ReadPicture(const std::string& picture)
{
    TPicture p;
    std::size_t first = 0;
    while (first < picture.size() && !IsPictureElement(picture[first])) ++first;
    std::size_t last = picture.size();
    while (last > first && !IsPictureElement(picture[last - 1])) --last;
    p.Prefix = picture.substr(0, first);
    p.Suffix = picture.substr(last);

    bool afterPoint = false;
    bool zeroSeen = false;
    for (std::size_t i = first; i < last; ++i) {
        const char c = picture[i];
        if (c == ',') {
            p.Thousands = true;
        } else if (c == '.') {
            afterPoint = true;
        } else if (IsPlaceholder(c)) {
            if (afterPoint) {
                ++p.Decimals;
                if (c == '0') p.ForcedDecimals = p.Decimals;
            } else {
                zeroSeen = zeroSeen || c == '0';
                if (zeroSeen) ++p.MinIntegerDigits;
            }
        }
    }
    return p;
}

// |value| as decimal digits with the point after `point` of them, rounded
// halves away from zero to `decimals` places. The value is first taken to 15
// significant digits, so that 2.675 (stored as 2.67499999...) rounds as typed.
void RoundedDigits(double value, int decimals, std::string& digits, int& point)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    const std::string s(buf);
    const std::size_t e = s.find('e');
    digits = s.substr(0, 1) + s.substr(2, e - 2);
    point = std::stoi(s.substr(e + 1)) + 1;
    if (value == 0) point = 1;

    if (point < 0) {
        digits.insert(0, static_cast<std::size_t>(-point), '0');
        point = 0;
    }
    const int keep = point + decimals;
    if (static_cast<std::size_t>(keep) < digits.size()) {
        const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
        digits.resize(static_cast<std::size_t>(keep));
        if (up) {
            int i = keep - 1;
            for (; i >= 0; --i) {
                if (digits[static_cast<std::size_t>(i)] != '9') {
                    ++digits[static_cast<std::size_t>(i)];
                    break;
                }
                digits[static_cast<std::size_t>(i)] = '0';
            }
            if (i < 0) {
                digits.insert(digits.begin(), '1');
                ++point;
            }
        }
    }
    if (digits.size() < static_cast<std::size_t>(point + decimals))
        digits.append(static_cast<std::size_t>(point + decimals) - digits.size(), '0');
}

std::string Grouped(const std::string& digits)
{
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

TValue ParseNumberText(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    if (end == 0) return TValue(int32_t{0});

    const std::string upper = UpperASCII(text);
    if (EndsWith(upper, "MM")) return Scaled(upper, 2, 1e6);
    if (EndsWith(upper, "M")) return Scaled(upper, 1, 1e3);
    if (EndsWith(upper, "C")) return Scaled(upper, 1, 1e2);

    std::string kept;
    for (char c : upper)
        if ((c >= '0' && c <= '9') || c == '.') kept += c;
    const double number = SafeTextToFloat(kept);
    return TValue(text[0] == '-' ? -number : number);
}

TValue CheckRange(const TValue& value, const std::string& minValue, const std::string& maxValue)
{
    TValue result = value;
    if (!minValue.empty() && result.AsDouble() < SafeTextToFloat(minValue)) result = TValue(int32_t{0});
    if (!maxValue.empty() && result.AsDouble() > SafeTextToFloat(maxValue)) result = TValue(int32_t{0});
    return result;
}

std::string FormatNumber(double value, const std::string& picture)
{
    if (!std::isfinite(value)) return {};
    if (picture.empty()) return FloatToText(value);

    const TPicture p = ReadPicture(picture);
    std::string digits;
    int point = 0;
    RoundedDigits(value, p.Decimals, digits, point);

    std::string integer = digits.substr(0, static_cast<std::size_t>(point));
    std::string fraction = digits.substr(static_cast<std::size_t>(point), static_cast<std::size_t>(p.Decimals));
    const std::size_t significant = integer.find_first_not_of('0');
    integer = significant == std::string::npos ? std::string() : integer.substr(significant);
    const bool zero = integer.empty() && fraction.find_first_not_of('0') == std::string::npos;
    if (integer.size() < static_cast<std::size_t>(p.MinIntegerDigits))
        integer.insert(0, static_cast<std::size_t>(p.MinIntegerDigits) - integer.size(), '0');
    while (fraction.size() > static_cast<std::size_t>(p.ForcedDecimals) && fraction.back() == '0')
        fraction.pop_back();

    std::string out = (value < 0 && !zero) ? "-" : "";
    out += p.Prefix;
    out += p.Thousands ? Grouped(integer) : integer;
    if (!fraction.empty()) out += "." + fraction;
    out += p.Suffix;
    return out;
}

std::string FormatNumberValue(const TValue& value, const std::string& picture)
{
    double number = 0;
    try {
        number = value.AsDouble();
    } catch (const EConvertError&) {
        return {};
    }
    return FormatNumber(number, picture);
}

bool NumberKeyAccepted(char key, std::size_t textLength, const std::string& displayFormat)
{
    if (key == '\b') return true;
    if (!((key >= '0' && key <= '9') || key == '-' || key == '.')) return false;
    return displayFormat.empty() || textLength < displayFormat.size();
}
