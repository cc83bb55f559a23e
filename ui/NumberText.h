// The rules of a number field, apart from any window: reading a typed text
// (with the shorthand suffixes C, M and MM), the range reset, display pictures
// and the key filter.
#pragma once

#include "config/Value.h"

#include <string>

// The number a field's text stands for:
// - blank text: integer 0;
// - upper-cased text ending in "MM", "M" or "C": the safe float conversion of
//   the rest times 1,000,000, 1,000 or 100 (a suffix followed by a blank is no
//   suffix);
// - otherwise the characters 0-9 and '.' of the text, in order, by the safe
//   float conversion, negated when the text begins with '-'.
TValue ParseNumberText(const std::string& text);

// A value below `minValue` or above `maxValue` becomes integer 0 (not the
// bound it crossed); an empty bound is no bound, a bound that is no number
// counts as 0.
TValue CheckRange(const TValue& value, const std::string& minValue, const std::string& maxValue);

// The value written through a display picture:
//   '0' a digit always written, '#' a digit written only when significant,
//   '.' the decimal point (rounded, halves away from zero, to as many
//   decimals as there are placeholders after it; '#' decimals drop trailing
//   zeros), ',' anywhere: thousands grouped with ','.
// Other characters before the first or after the last placeholder are written
// as they stand. An empty picture gives the general float form. Infinities
// and NaN give the empty text.
std::string FormatNumber(double value, const std::string& picture);

// FormatNumber of a held value: Null and empty count as 0, a value that is no
// number gives the empty text.
std::string FormatNumberValue(const TValue& value, const std::string& picture);

// Whether a typed character reaches a number field: backspace always; '-',
// '.' and the digits while the text is shorter than a non-empty picture;
// nothing else.
bool NumberKeyAccepted(char key, std::size_t textLength, const std::string& displayFormat);
