// The value an edit field keeps behind its text: its text form, and a new text
// converted to the kind of the value it replaces.
#pragma once

#include "config/Value.h"

#include <string>

// The platform's text-to-float conversion ('.' as decimal separator); any
// failure, infinities and NaN give 0.
double SafeTextToFloat(const std::string& text);
// A date in the short date format (M/d/yyyy, a time may follow); 0 when it
// does not convert.
double SafeTextToDateTime(const std::string& text);

// The kind of a value by letter: U empty or Null, N number, D date-time,
// C string, L boolean.
char ValueKindLetter(const TValue& value);

// A new text taken as the kind of `current`: U gives Null, N the safe float
// conversion, D the safe date conversion, C the text itself, L true only for
// "TRUE" in any letter case.
TValue TextToValueOfKind(const TValue& current, const std::string& text);

// The value as text: integers in decimal, fractions in the general float form,
// empty and Null as the empty text.
std::string ValueToText(const TValue& value);

// Whether assigning `b` over `a` changes nothing: numbers compare by value
// (0 equals 0.0), everything else by type and content.
bool SameValue(const TValue& a, const TValue& b);
