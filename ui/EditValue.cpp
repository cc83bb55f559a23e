#include "ui/EditValue.h"

#include "config/AsciiText.h"
#include "config/DateTimeText.h"

#include <cmath>

double SafeTextToFloat(const std::string& text)
{
    double value = 0;
    if (!TryTextToFloat(text, value) || !std::isfinite(value)) return 0;
    return value;
}

double SafeTextToDateTime(const std::string& text)
{
    double value = 0;
    if (!TryTextToDateTime(text, value)) return 0;
    return value;
}

char ValueKindLetter(const TValue& value)
{
    switch (value.Type()) {
    case TValueType::Empty:
    case TValueType::Null: return 'U';
    case TValueType::Integer:
    case TValueType::Double: return 'N';
    case TValueType::DateTime: return 'D';
    case TValueType::Boolean: return 'L';
    case TValueType::String: return 'C';
    }
    return 'C';
}

TValue TextToValueOfKind(const TValue& current, const std::string& text)
{
    switch (ValueKindLetter(current)) {
    case 'U': return TValue::Null();
    case 'N': return TValue(SafeTextToFloat(text));
    case 'D': return TValue::DateTime(SafeTextToDateTime(text));
    case 'L': return TValue(UpperASCII(text) == "TRUE");
    default: return TValue(text);
    }
}

std::string ValueToText(const TValue& value) { return value.AsString(); }

bool SameValue(const TValue& a, const TValue& b)
{
    if (ValueKindLetter(a) == 'N' && ValueKindLetter(b) == 'N') return a.AsDouble() == b.AsDouble();
    return a == b;
}
