// The error of a text that does not convert to the wanted kind, shared by the
// tagged value and the date-time texts.
#pragma once

#include <stdexcept>

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
