// How many error events reach the log: a flood of bad clients must not fill
// the window, the disk or a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class TErrorRateLimit {
public:
    using TClock = std::chrono::steady_clock;

    static constexpr int kPerWindow = 20;
    static constexpr std::chrono::seconds kWindow{60};

    explicit TErrorRateLimit(int perWindow = kPerWindow, TClock::duration window = kWindow);

    // Whether an error met at `now` is logged. At most perWindow are in each
    // window (a window starts with the first error after the last one ended);
    // the others are counted. When an error is admitted, `held` receives the
    // count of those held back since the last admitted one (usually 0).
    // Not synchronised: its owner serialises the calls.
    bool Admit(TClock::time_point now, std::uint64_t& held);
    // Takes the count held back so far (for a last report at stop).
    std::uint64_t TakeHeld();

private:
    int FPerWindow;
    TClock::duration FWindow;
    bool FStarted = false;
    TClock::time_point FWindowStart{};
    int FAdmitted = 0;
    std::uint64_t FHeld = 0;
};

// The text of an error event: one line (line breaks and other control
// octets become blanks), cut to kMaxErrorText octets.
inline constexpr std::size_t kMaxErrorText = 200;
std::string ErrorEventText(const std::string& text);
// "Errors not logged: <count>", for the events a limit held back.
std::string HeldErrorsText(std::uint64_t count);
