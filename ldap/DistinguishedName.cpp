#include "ldap/DistinguishedName.h"

#include "config/AsciiText.h"

namespace {

bool Special(char c)
{
    switch (c) {
    case ',':
    case '+':
    case '"':
    case '\\':
    case '<':
    case '>':
    case ';':
    case '=':
        return true;
    default:
        return false;
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const char kHex[] = "0123456789ABCDEF";

} // namespace

std::string EscapeDNValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size() + 4);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        const bool edgeBlank = c == ' ' && (i == 0 || i + 1 == value.size());
        if ((Special(c) && c != '=') || edgeBlank || (c == '#' && i == 0))
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string NormalizedDN(std::string_view dn)
{
    std::string out;
    out.reserve(dn.size());
    // The current type or value, with whether its last octets were blanks
    // that came unescaped (those go when the part ends).
    std::string part;
    std::size_t keep = 0; // part's length up to its last octet that stays
    bool inValue = false;
    const auto endPart = [&](char separator) {
        part.resize(keep);
        out += part;
        if (separator != '\0')
            out.push_back(separator);
        part.clear();
        keep = 0;
    };
    for (std::size_t i = 0; i < dn.size(); ++i) {
        char c = dn[i];
        bool escaped = false;
        if (c == '\\' && i + 1 < dn.size()) {
            const int high = HexValue(dn[i + 1]);
            const int low = i + 2 < dn.size() ? HexValue(dn[i + 2]) : -1;
            if (high >= 0 && low >= 0) {
                c = static_cast<char>(high * 16 + low);
                i += 2;
            } else {
                c = dn[++i];
            }
            escaped = true;
        } else if (!inValue && c == '=') {
            endPart('=');
            inValue = true;
            continue;
        } else if (c == ',' || c == ';' || c == '+') {
            endPart(c == ';' ? ',' : c);
            inValue = false;
            continue;
        }
        if (c == ' ' && !escaped) {
            // Leading blanks never count; inner ones stay if more follows.
            if (!part.empty())
                part.push_back(' ');
            continue;
        }
        if (Special(c) || c == '\0') {
            part.push_back('\\');
            part.push_back(kHex[(static_cast<unsigned char>(c) >> 4) & 0xF]);
            part.push_back(kHex[static_cast<unsigned char>(c) & 0xF]);
        } else {
            part.push_back(UpperASCIIChar(c));
        }
        keep = part.size();
    }
    endPart('\0');
    return out;
}
