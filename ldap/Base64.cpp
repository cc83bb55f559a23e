#include "ldap/Base64.h"

#include <cstdint>

namespace {

int SextetOf(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::optional<std::string> DecodeBase64(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int held = 0;
    bool padded = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        const int sextet = SextetOf(c);
        // Nothing but padding may follow padding.
        if (sextet < 0 || padded)
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(sextet);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<char>((bits >> held) & 0xFF));
        }
    }
    // A lone sextet cannot hold an octet.
    if (held >= 6)
        return std::nullopt;
    return out;
}
