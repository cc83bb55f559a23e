#include "ldap/Framing.h"

#include <string>

std::optional<std::size_t> FrameSize(std::string_view data, std::size_t maxContent) {
    if (data.size() < 2) return std::nullopt;
    std::size_t header = 2;
    std::size_t length = static_cast<unsigned char>(data[1]);
    if (length >= 0x80) {
        const std::size_t n = length - 0x80;
        if (data.size() < header + n) return std::nullopt;
        // Read the full big-endian value (not modulo 2^32 as the decoder does) so
        // that a huge declaration can never pass the cap by wrapping round.
        length = 0;
        for (std::size_t i = 0; i < n; ++i) {
            length = (length << 8) | static_cast<unsigned char>(data[header + i]);
            if (length > maxContent) break;
        }
        header += n;
    }
    if (length > maxContent)
        throw EFramingError("Declared message length exceeds " + std::to_string(maxContent) + " octets");
    if (data.size() - header < length) return std::nullopt;
    return header + length;
}
