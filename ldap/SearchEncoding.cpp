#include "ldap/SearchEncoding.h"

namespace {

constexpr char kTagSequence = 0x30;
constexpr char kTagSet = 0x31;
constexpr char kTagInteger = 0x02;
constexpr char kTagOctetString = 0x04;
constexpr char kTagEnumerated = 0x0A;
constexpr char kTagSearchResultEntry = 0x64;
constexpr char kTagSearchResultDone = 0x65;

// Identifier, length octets and content.
std::size_t ElementSize(std::size_t content)
{
    return 1 + LengthSize(content) + content;
}

void AppendOctetString(std::string& out, std::string_view value)
{
    out.push_back(kTagOctetString);
    AppendLength(out, value.size());
    out.append(value);
}

} // namespace

std::size_t LengthSize(std::size_t contentSize)
{
    if (contentSize < 0x80)
        return 1;
    std::size_t octets = 3;
    while (octets < sizeof(std::size_t) && (contentSize >> (8 * octets)) != 0)
        ++octets;
    return 1 + octets;
}

void AppendLength(std::string& out, std::size_t contentSize)
{
    if (contentSize < 0x80) {
        out.push_back(static_cast<char>(contentSize));
        return;
    }
    const std::size_t octets = LengthSize(contentSize) - 1;
    out.push_back(static_cast<char>(0x80 + octets));
    for (std::size_t i = octets; i-- > 0;)
        out.push_back(static_cast<char>((contentSize >> (8 * i)) & 0xFF));
}

std::size_t TEntryMessageWriter::AttributeContent(std::string_view type, std::string_view value)
{
    return ElementSize(type.size()) + ElementSize(ElementSize(value.size()));
}

void TEntryMessageWriter::Measure(std::string_view type, std::string_view value)
{
    FAttributes += ElementSize(AttributeContent(type, value));
}

void TEntryMessageWriter::Begin(std::string& out) const
{
    const std::size_t entry = ElementSize(FName.size()) + ElementSize(FAttributes);
    const std::size_t message = ElementSize(FMessageID.size()) + ElementSize(entry);
    out.reserve(out.size() + ElementSize(message));
    out.push_back(kTagSequence);
    AppendLength(out, message);
    out.push_back(kTagInteger);
    AppendLength(out, FMessageID.size());
    out.append(FMessageID);
    out.push_back(kTagSearchResultEntry);
    AppendLength(out, entry);
    AppendOctetString(out, FName);
    out.push_back(kTagSequence);
    AppendLength(out, FAttributes);
}

void TEntryMessageWriter::Line(std::string& out, std::string_view type, std::string_view value) const
{
    out.push_back(kTagSequence);
    AppendLength(out, AttributeContent(type, value));
    AppendOctetString(out, type);
    out.push_back(kTagSet);
    AppendLength(out, ElementSize(value.size()));
    AppendOctetString(out, value);
}

void AppendSearchResultDone(std::string& out, std::string_view messageID)
{
    // resultCode success, then empty matchedDN and errorMessage.
    const std::size_t done = 3 + 2 + 2;
    const std::size_t message = ElementSize(messageID.size()) + ElementSize(done);
    out.push_back(kTagSequence);
    AppendLength(out, message);
    out.push_back(kTagInteger);
    AppendLength(out, messageID.size());
    out.append(messageID);
    out.push_back(kTagSearchResultDone);
    AppendLength(out, done);
    out.append({kTagEnumerated, 1, 0, kTagOctetString, 0, kTagOctetString, 0});
}
