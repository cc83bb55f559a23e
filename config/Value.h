// The tagged value of the settings store, with the text forms of its kinds.
#pragma once

#include "config/ConvertError.h"

#include <cstdint>
#include <string>
#include <variant>

enum class TValueType { Empty, Null, String, Integer, Double, DateTime, Boolean };

class TValue {
public:
    // Empty: never set.
    TValue() = default;
    TValue(const std::string& value) : FData(value) {}
    TValue(std::string&& value) : FData(std::move(value)) {}
    TValue(const char* value) : FData(std::string(value)) {}
    TValue(int32_t value) : FData(value) {}
    TValue(double value) : FData(value) {}
    TValue(bool value) : FData(value) {}

    // Null: no such key.
    static TValue Null();
    // Days since 1899-12-30.
    static TValue DateTime(double days);

    TValueType Type() const;
    bool IsEmpty() const { return Type() == TValueType::Empty; }
    bool IsNull() const { return Type() == TValueType::Null; }

    // Empty and Null give "", 0, 0.0 and false. Texts convert by the strict
    // rules below and raise EConvertError when they do not.
    std::string AsString() const;   // booleans as "True"/"False"
    int32_t AsInteger() const;      // doubles rounded half to even; out of range raises
    double AsDouble() const;        // also the day count of a date-time
    bool AsBoolean() const;         // numbers: non-zero; texts: "True"/"False" or an integer

    // Same type and same content; an integer never equals a double.
    bool operator==(const TValue& other) const = default;

private:
    struct TNull {
        bool operator==(const TNull&) const = default;
    };
    struct TDateTime {
        double Days = 0;
        bool operator==(const TDateTime&) const = default;
    };
    // Alternatives in TValueType order.
    std::variant<std::monostate, TNull, std::string, int32_t, double, TDateTime, bool> FData;
};

// "-" and decimal digits.
std::string IntegerToText(int32_t value);
// An optional sign and at least one decimal digit, nothing else, within 32 bits.
// Raises EConvertError "'%s' is not a valid integer value".
int32_t TextToInteger(const std::string& text);
bool TryTextToInteger(const std::string& text, int32_t& value);

// General form, up to 15 significant digits, '.' as decimal separator;
// scientific ("1.5E-7", "1E20") below 0.0001 or from 16 integer digits on.
// Infinities and NaN as "INF", "-INF", "NAN".
std::string FloatToText(double value);
// An optional sign, digits with an optional '.', an optional exponent (E/e,
// optional sign, digits); or INF/NAN in any case. Raises EConvertError
// "'%s' is not a valid floating point value".
double TextToFloat(const std::string& text);
bool TryTextToFloat(const std::string& text, double& value);
