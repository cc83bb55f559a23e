// Unsigned LEB128: 7 bits per octet, low bits first; the high bit says more follow.
#pragma once

#include <cstddef>
#include <cstdint>

inline std::size_t VarintSize(std::uint64_t value)
{
    std::size_t n = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++n;
    }
    return n;
}

// Writes value at out and returns the position after it.
inline char* PutVarint(char* out, std::uint64_t value)
{
    while (value >= 0x80) {
        *out++ = static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
}

// Reads a value written by PutVarint; the caller knows it is whole.
inline const char* GetVarint(const char* in, std::uint64_t& value)
{
    std::uint64_t result = 0;
    int shift = 0;
    for (;;) {
        const auto octet = static_cast<unsigned char>(*in++);
        result |= static_cast<std::uint64_t>(octet & 0x7F) << shift;
        if (octet < 0x80)
            break;
        shift += 7;
    }
    value = result;
    return in;
}
