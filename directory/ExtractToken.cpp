#include "directory/ExtractToken.h"

std::string ExtractToken(std::string& text, std::string_view separator)
{
    const auto pos = separator.empty() ? std::string::npos : text.find(separator);
    if (pos == std::string::npos) {
        std::string all;
        all.swap(text);
        return all;
    }
    std::string token = text.substr(0, pos);
    text.erase(0, pos + separator.size());
    return token;
}
