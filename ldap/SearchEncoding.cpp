#include "ldap/SearchEncoding.h"

#include "ldap/LdapTags.h"

#include <cstring>

namespace {

constexpr char kTagSequence = static_cast<char>(TUniversalTag::Sequence);
constexpr char kTagSet = static_cast<char>(TUniversalTag::Set);
constexpr char kTagInteger = static_cast<char>(TUniversalTag::Integer);
constexpr char kTagOctetString = static_cast<char>(TUniversalTag::OctetString);
constexpr char kTagEnumerated = static_cast<char>(TUniversalTag::Enumerated);
constexpr char kTagSearchResultEntry = static_cast<char>(TOperationTag::SearchResultEntry);
constexpr char kTagSearchResultDone = static_cast<char>(TOperationTag::SearchResultDone);

inline std::size_t LengthOctets(std::size_t contentSize)
{
    if (contentSize < 0x80)
        return 1;
    std::size_t octets = 3;
    while (octets < sizeof(std::size_t) && (contentSize >> (8 * octets)) != 0)
        ++octets;
    return 1 + octets;
}

// Identifier, length octets and content.
inline std::size_t ElementSize(std::size_t content)
{
    return 1 + LengthOctets(content) + content;
}

void AppendOctetString(std::string& out, std::string_view value)
{
    out.push_back(kTagOctetString);
    AppendLength(out, value.size());
    out.append(value);
}

// Copies n octets, Size <= n <= 2 * Size, as two fixed-size moves that may overlap.
template <std::size_t Size>
inline void CopyEnds(char* p, const char* s, std::size_t n)
{
    char head[Size];
    char tail[Size];
    std::memcpy(head, s, Size);
    std::memcpy(tail, s + n - Size, Size);
    std::memcpy(p, head, Size);
    std::memcpy(p + n - Size, tail, Size);
}

// Copies a short run with a few fixed-size moves instead of a call; reads and
// writes only [s, s + n) and [p, p + n).
inline char* CopyShort(char* p, const char* s, std::size_t n)
{
    if (n > 32)
        std::memcpy(p, s, n);
    else if (n >= 16)
        CopyEnds<16>(p, s, n);
    else if (n >= 8)
        CopyEnds<8>(p, s, n);
    else if (n >= 4)
        CopyEnds<4>(p, s, n);
    else
        for (std::size_t i = 0; i < n; ++i)
            p[i] = s[i];
    return p + n;
}

// The Put* functions write at p, which has room, and return the end.
char* PutLength(char* p, std::size_t contentSize)
{
    if (contentSize < 0x80) {
        *p++ = static_cast<char>(contentSize);
        return p;
    }
    std::size_t octets = 3;
    while (octets < sizeof(std::size_t) && (contentSize >> (8 * octets)) != 0)
        ++octets;
    *p++ = static_cast<char>(0x80 + octets);
    for (std::size_t i = octets; i-- > 0;)
        *p++ = static_cast<char>((contentSize >> (8 * i)) & 0xFF);
    return p;
}

char* PutOctetString(char* p, std::string_view value)
{
    *p++ = kTagOctetString;
    p = PutLength(p, value.size());
    return CopyShort(p, value.data(), value.size());
}

std::size_t AttributeContentSize(std::string_view type, std::string_view value)
{
    return ElementSize(type.size()) + ElementSize(ElementSize(value.size()));
}

// The content of an attribute whose every element is shorter than 0x80
// octets: then every length inside it is one octet.
constexpr std::size_t kShortAttribute = 0x80;
inline std::size_t ShortAttributeContent(const TLineView& line)
{
    // Type element, then the set around the value's element.
    return (2 + line.Type.size()) + (2 + 2 + line.Value.size());
}

} // namespace

std::size_t LengthSize(std::size_t contentSize)
{
    return LengthOctets(contentSize);
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
    return AttributeContentSize(type, value);
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

namespace {

// The sizes of one SearchResultEntry's parts.
struct TEntrySizes {
    std::size_t Attributes = 0; // content of the attribute list
    std::size_t Entry = 0;      // content of the SearchResultEntry element
    bool AllShort = true;
};

TEntrySizes MeasureEntry(std::string_view entryName, std::span<const TLineView> lines)
{
    // Nearly every attribute is short: its lengths are all one octet, and
    // the message is written without working them out twice.
    TEntrySizes sizes;
    for (const TLineView& line : lines) {
        const std::size_t content = ShortAttributeContent(line);
        sizes.AllShort = sizes.AllShort && content < kShortAttribute;
        sizes.Attributes += 2 + content;
    }
    if (!sizes.AllShort) {
        sizes.Attributes = 0;
        for (const TLineView& line : lines)
            sizes.Attributes += ElementSize(AttributeContentSize(line.Type, line.Value));
    }
    sizes.Entry = ElementSize(entryName.size()) + ElementSize(sizes.Attributes);
    return sizes;
}

// The SearchResultEntry element, at p with room for it; returns the end.
char* PutEntry(char* p, const TEntrySizes& sizes, std::string_view entryName, std::span<const TLineView> lines)
{
    *p++ = kTagSearchResultEntry;
    p = PutLength(p, sizes.Entry);
    p = PutOctetString(p, entryName);
    *p++ = kTagSequence;
    p = PutLength(p, sizes.Attributes);
    if (sizes.AllShort) {
        for (const TLineView& line : lines) {
            const std::size_t type = line.Type.size();
            const std::size_t value = line.Value.size();
            p[0] = kTagSequence;
            p[1] = static_cast<char>(ShortAttributeContent(line));
            p[2] = kTagOctetString;
            p[3] = static_cast<char>(type);
            p = CopyShort(p + 4, line.Type.data(), type);
            p[0] = kTagSet;
            p[1] = static_cast<char>(2 + value);
            p[2] = kTagOctetString;
            p[3] = static_cast<char>(value);
            p = CopyShort(p + 4, line.Value.data(), value);
        }
        return p;
    }
    for (const TLineView& line : lines) {
        *p++ = kTagSequence;
        p = PutLength(p, AttributeContentSize(line.Type, line.Value));
        p = PutOctetString(p, line.Type);
        *p++ = kTagSet;
        p = PutLength(p, ElementSize(line.Value.size()));
        p = PutOctetString(p, line.Value);
    }
    return p;
}

// The message's sequence and ID in front of an operation of this size; returns the end.
char* PutMessageStart(char* p, std::string_view messageID, std::size_t operationSize)
{
    *p++ = kTagSequence;
    p = PutLength(p, ElementSize(messageID.size()) + operationSize);
    *p++ = kTagInteger;
    p = PutLength(p, messageID.size());
    return CopyShort(p, messageID.data(), messageID.size());
}

} // namespace

std::size_t MessageSize(std::string_view messageID, std::size_t operationSize)
{
    return ElementSize(ElementSize(messageID.size()) + operationSize);
}

char* PutMessage(char* p, std::string_view messageID, std::string_view operation)
{
    p = PutMessageStart(p, messageID, operation.size());
    std::memcpy(p, operation.data(), operation.size());
    return p + operation.size();
}

void AppendEntryMessage(std::string& out, std::string_view messageID, std::string_view entryName,
                        std::span<const TLineView> lines)
{
    const TEntrySizes sizes = MeasureEntry(entryName, lines);
    const std::size_t operation = ElementSize(sizes.Entry);
    const std::size_t start = out.size();
    out.resize(start + MessageSize(messageID, operation));
    PutEntry(PutMessageStart(out.data() + start, messageID, operation), sizes, entryName, lines);
}

void AppendEntryOperation(std::string& out, std::string_view entryName, std::span<const TLineView> lines)
{
    const TEntrySizes sizes = MeasureEntry(entryName, lines);
    const std::size_t start = out.size();
    out.resize(start + ElementSize(sizes.Entry));
    PutEntry(out.data() + start, sizes, entryName, lines);
}

void AppendMessage(std::string& out, std::string_view messageID, std::string_view operation)
{
    const std::size_t start = out.size();
    out.resize(start + MessageSize(messageID, operation.size()));
    PutMessage(out.data() + start, messageID, operation);
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
