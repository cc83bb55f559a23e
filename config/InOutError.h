// The one error for a file that cannot be opened, read or written.
#pragma once

#include <stdexcept>
#include <string>

class EInOutError : public std::runtime_error {
public:
    EInOutError(int errorCode, const std::string& message)
        : std::runtime_error(message), FErrorCode(errorCode)
    {
    }
    // The errno value behind it.
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};
