// Letter case the way the whole system compares names and addresses: only a-z
// and A-Z are folded, every other octet compares exactly, never via the C locale.
#pragma once

#include <string>
#include <string_view>

inline char UpperASCIIChar(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperASCII(std::string_view text);
void UpperASCIIInPlace(std::string& text);
bool SameTextASCII(std::string_view a, std::string_view b);
// Whether `text` holds `part` at some position, letters a-z matching A-Z.
bool ContainsTextASCII(std::string_view text, std::string_view part);
