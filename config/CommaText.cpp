#include "config/CommaText.h"

namespace {

constexpr char kQuote = '"';
constexpr char kDelimiter = ',';

bool IsBlank(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= ' ';
}

}  // namespace

std::vector<std::string> SplitCommaText(std::string_view text) {
    // Everything from a NUL on is ignored, as the stored text would end there.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    std::vector<std::string> items;
    std::size_t pos = 0;
    const std::size_t size = text.size();
    while (pos < size && IsBlank(text[pos])) ++pos;
    while (pos < size) {
        std::string item;
        if (text[pos] == kQuote) {
            ++pos;
            while (pos < size) {
                if (text[pos] == kQuote) {
                    if (pos + 1 < size && text[pos + 1] == kQuote) {
                        item.push_back(kQuote);
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                item.push_back(text[pos++]);
            }
        } else {
            const std::size_t start = pos;
            while (pos < size && static_cast<unsigned char>(text[pos]) > ' ' && text[pos] != kDelimiter) ++pos;
            item.assign(text.substr(start, pos - start));
        }
        items.push_back(std::move(item));
        while (pos < size && IsBlank(text[pos])) ++pos;
        if (pos < size && text[pos] == kDelimiter) {
            if (pos + 1 == size) items.emplace_back();
            do {
                ++pos;
            } while (pos < size && IsBlank(text[pos]));
        }
    }
    return items;
}

std::string JoinCommaText(const std::vector<std::string>& items) {
    if (items.size() == 1 && items[0].empty()) return std::string(2, kQuote);
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out.push_back(kDelimiter);
        const std::string& item = items[i];
        bool quote = false;
        for (const char c : item) {
            if (static_cast<unsigned char>(c) <= ' ' || c == kQuote || c == kDelimiter) {
                quote = true;
                break;
            }
        }
        if (!quote) {
            out += item;
            continue;
        }
        out.push_back(kQuote);
        for (const char c : item) {
            if (c == kQuote) out.push_back(kQuote);
            out.push_back(c);
        }
        out.push_back(kQuote);
    }
    return out;
}
