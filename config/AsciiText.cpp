#include "config/AsciiText.h"

std::string UpperASCII(std::string_view text)
{
    std::string result(text);
    UpperASCIIInPlace(result);
    return result;
}

void UpperASCIIInPlace(std::string& text)
{
    for (char& c : text)
        c = UpperASCIIChar(c);
}

bool SameTextASCII(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperASCIIChar(a[i]) != UpperASCIIChar(b[i]))
            return false;
    return true;
}

bool ContainsTextASCII(std::string_view text, std::string_view part)
{
    if (part.empty())
        return true;
    if (part.size() > text.size())
        return false;
    const char first = UpperASCIIChar(part.front());
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (UpperASCIIChar(text[i]) == first && SameTextASCII(text.substr(i, part.size()), part))
            return true;
    return false;
}
