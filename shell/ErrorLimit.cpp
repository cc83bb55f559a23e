#include "shell/ErrorLimit.h"

TErrorRateLimit::TErrorRateLimit(int perWindow, TClock::duration window) : FPerWindow(perWindow), FWindow(window) {}

bool TErrorRateLimit::Admit(TClock::time_point now, std::uint64_t& held)
{
    held = 0;
    if (!FStarted || now - FWindowStart >= FWindow) {
        FStarted = true;
        FWindowStart = now;
        FAdmitted = 0;
    }
    if (FAdmitted >= FPerWindow) {
        ++FHeld;
        return false;
    }
    ++FAdmitted;
    held = FHeld;
    FHeld = 0;
    return true;
}

std::uint64_t TErrorRateLimit::TakeHeld()
{
    const std::uint64_t held = FHeld;
    FHeld = 0;
    return held;
}

std::string ErrorEventText(const std::string& text)
{
    std::string line = text.substr(0, kMaxErrorText);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return line;
}

std::string HeldErrorsText(std::uint64_t count) { return "Errors not logged: " + std::to_string(count); }
