#include "support/FilterText.h"

#include "support/Wire.h"

#include <stdexcept>

namespace {

class TReader {
public:
    explicit TReader(std::string_view text) : FText(text) {}

    std::string Filter()
    {
        Expect('(');
        std::string out;
        const char c = Peek();
        if (c == '&' || c == '|') {
            ++FAt;
            std::string items;
            while (Peek() == '(') items += Filter();
            out = wire::Tlv(c == '&' ? 0xA0 : 0xA1, items);
        } else if (c == '!') {
            ++FAt;
            out = wire::Tlv(0xA2, Filter());
        } else {
            out = Item();
        }
        Expect(')');
        return out;
    }

    void End() const
    {
        if (FAt != FText.size()) throw std::invalid_argument("text after the filter");
    }

private:
    char Peek() const
    {
        if (FAt >= FText.size()) throw std::invalid_argument("filter ends early");
        return FText[FAt];
    }
    void Expect(char c)
    {
        if (Peek() != c) throw std::invalid_argument(std::string("expected ") + c);
        ++FAt;
    }
    // Up to an unescaped ')' (values) or one of stops (types).
    std::string_view Raw(std::string_view stops)
    {
        const std::size_t start = FAt;
        while (stops.find(Peek()) == std::string_view::npos) ++FAt;
        return FText.substr(start, FAt - start);
    }
    static std::string Unescape(std::string_view raw)
    {
        std::string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 2 < raw.size()) {
                out.push_back(static_cast<char>(std::stoi(std::string(raw.substr(i + 1, 2)), nullptr, 16)));
                i += 2;
            } else {
                out.push_back(raw[i]);
            }
        }
        return out;
    }
    std::string Item()
    {
        const std::string type(Raw("=~<>:"));
        const char op = Peek();
        if (op == ':') {
            // type:rule:=value (type or rule may be empty).
            ++FAt;
            const std::string rule(Raw(":"));
            Expect(':');
            Expect('=');
            std::string content;
            if (!rule.empty()) content += wire::Tlv(0x81, rule);
            if (!type.empty()) content += wire::Tlv(0x82, type);
            content += wire::Tlv(0x83, Unescape(Raw(")")));
            return wire::Tlv(0xA9, content);
        }
        int tag = 0xA3;
        if (op != '=') {
            ++FAt;
            tag = op == '~' ? 0xA8 : op == '>' ? 0xA5 : 0xA6;
        }
        Expect('=');
        const std::string_view value = Raw(")");
        const std::string ava = wire::Tlv(0x04, type);
        if (tag != 0xA3) return wire::Tlv(tag, ava + wire::Tlv(0x04, Unescape(value)));
        if (value == "*") return wire::Tlv(0x87, type);
        if (value.find('*') == std::string_view::npos) return wire::Tlv(tag, ava + wire::Tlv(0x04, Unescape(value)));
        // Substrings: pieces between the stars.
        std::string parts;
        std::size_t start = 0;
        bool first = true;
        while (true) {
            const std::size_t star = value.find('*', start);
            const std::string_view piece = value.substr(start, star - start);
            if (star == std::string_view::npos) {
                if (!piece.empty()) parts += wire::Tlv(0x82, Unescape(piece));
                break;
            }
            if (!piece.empty()) parts += wire::Tlv(first ? 0x80 : 0x81, Unescape(piece));
            first = false;
            start = star + 1;
        }
        return wire::Tlv(0xA4, ava + wire::Tlv(0x30, parts));
    }

    std::string_view FText;
    std::size_t FAt = 0;
};

std::string IntegerContent(int value)
{
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    if ((static_cast<unsigned char>(out[0]) & 0x80) != 0) out.insert(out.begin(), '\0');
    return out;
}

}  // namespace

std::string FilterBER(std::string_view text)
{
    TReader reader(text);
    std::string out = reader.Filter();
    reader.End();
    return out;
}

std::string SearchRequestBER(std::string_view messageID, std::string_view base, int scope, int sizeLimit,
                             bool typesOnly, std::string_view filter,
                             const std::initializer_list<std::string_view>& attributes)
{
    std::string names;
    for (const std::string_view name : attributes) names += wire::Tlv(0x04, name);
    const std::string search = wire::Tlv(0x04, base) + wire::Tlv(0x0A, IntegerContent(scope)) +
                               wire::Tlv(0x0A, std::string(1, '\0')) + wire::Tlv(0x02, IntegerContent(sizeLimit)) +
                               wire::Tlv(0x02, std::string(1, '\0')) +
                               wire::Tlv(0x01, std::string(1, typesOnly ? '\xFF' : '\0')) + FilterBER(filter) +
                               wire::Tlv(0x30, names);
    return wire::Tlv(0x30, wire::Tlv(0x02, messageID) + wire::Tlv(0x63, search));
}
