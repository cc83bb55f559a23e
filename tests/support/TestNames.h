// Readable names for table-driven cases, built from the case's own data.
// GoogleTest allows only letters, digits and '_' in a name, and a name must be
// unique within its suite (a duplicate fails the suite at start-up).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace testnames {

// Letters and digits stay; a blank becomes '_'; common signs are spelled out;
// any other byte becomes "x" and two hex digits. An empty text is "Empty".
inline std::string Readable(std::string_view text)
{
    if (text.empty()) return "Empty";
    std::string name;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            name += ch;
            continue;
        }
        switch (c) {
        case ' ': name += '_'; break;
        case '-': name += "Minus"; break;
        case '+': name += "Plus"; break;
        case '.': name += "Dot"; break;
        case ',': name += "Comma"; break;
        case ';': name += "Semi"; break;
        case '$': name += "Dollar"; break;
        case '/': name += "Slash"; break;
        case '*': name += "Star"; break;
        case '=': name += "Eq"; break;
        case '@': name += "At"; break;
        default: {
            char hex[4];
            std::snprintf(hex, sizeof hex, "x%02X", c);
            name += hex;
        }
        }
    }
    return name;
}

// Several fields joined with "__".
template <typename... Parts>
std::string Join(const Parts&... parts)
{
    std::string name;
    ((name += (name.empty() ? "" : "__") + Readable(parts)), ...);
    return name;
}

} // namespace testnames
