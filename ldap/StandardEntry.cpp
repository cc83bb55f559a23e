#include "ldap/StandardEntry.h"

#include "config/AsciiText.h"
#include "ldap/Base64.h"
#include "ldap/DistinguishedName.h"

#include <algorithm>
#include <charconv>
#include <limits>

TLineType LineTypeOf(std::string_view storedType)
{
    TLineType type;
    type.Name = storedType;
    if (!storedType.empty() && storedType.back() == ':') {
        type.Name.remove_suffix(1);
        type.Base64 = true;
    }
    return type;
}

std::string WireValue(std::string_view stored, bool base64)
{
    if (base64)
        if (std::optional<std::string> decoded = DecodeBase64(stored))
            return std::move(*decoded);
    return std::string(stored);
}

TStandardAttributes StandardAttributes(const TUserList& list, int index)
{
    TStandardAttributes attributes;
    bool objectClass = false;
    list.ForEachLine(index, [&](const TLineView& line) {
        if (!line.HasEquals)
            return;
        const TLineType type = LineTypeOf(line.Type);
        if (type.Name.empty() || SameTextASCII(type.Name, "dn"))
            return;
        objectClass = objectClass || SameTextASCII(type.Name, "objectClass");
        auto it = std::find_if(attributes.begin(), attributes.end(),
                               [&](const TStandardAttribute& a) { return SameTextASCII(a.Type, type.Name); });
        if (it == attributes.end())
            it = attributes.insert(attributes.end(), TStandardAttribute{std::string(type.Name), {}});
        // An attribute's values are a set: a line that a merged LDIF record repeats
        // (its mail, most often) is sent once.
        std::string value = WireValue(line.Value, type.Base64);
        if (std::none_of(it->Values.begin(), it->Values.end(),
                         [&](const std::string& v) { return SameTextASCII(v, value); }))
            it->Values.push_back(std::move(value));
    });
    if (!objectClass) {
        TStandardAttribute classes{"objectClass", {}};
        for (const std::string_view c : kDefaultObjectClasses)
            classes.Values.emplace_back(c);
        attributes.push_back(std::move(classes));
    }
    return attributes;
}

std::string StandardDN(const TUserList& list, int index)
{
    std::string dn;
    std::string mail;
    bool haveDN = false;
    bool haveMail = false;
    list.ForEachLine(index, [&](const TLineView& line) {
        if (!line.HasEquals || haveDN)
            return;
        const TLineType type = LineTypeOf(line.Type);
        if (SameTextASCII(type.Name, "dn")) {
            dn = WireValue(line.Value, type.Base64);
            haveDN = true;
        } else if (!haveMail && SameTextASCII(type.Name, "mail")) {
            mail = WireValue(line.Value, type.Base64);
            haveMail = true;
        }
    });
    if (haveDN)
        return dn;
    if (haveMail)
        return "mail=" + EscapeDNValue(mail);
    const std::string_view name = list.NameView(index);
    const std::string number = "entry=" + std::to_string(index);
    return name.empty() ? number : "cn=" + EscapeDNValue(name) + "+" + number;
}

namespace {

bool NamesEntry(const TUserList& list, int index, const std::string& normalized)
{
    return NormalizedDN(StandardDN(list, index)) == normalized;
}

// Entries whose first value of the column may equal upperValue.
std::vector<std::uint32_t> FirstValueHolders(const TUserList& list, std::int64_t column, std::string_view upperValue)
{
    std::vector<std::uint32_t> entries;
    if (column < 0)
        return entries;
    const auto c = static_cast<std::uint32_t>(column);
    const TValueColumns& columns = list.Columns();
    if (upperValue.size() >= TSubstringIndex::kWindow) {
        TSubstringIndex::Decode(list.SubstringIndex().Rarest(c, upperValue), entries);
    } else {
        for (std::uint32_t i = 0; i < columns.EntryCount(); ++i)
            if (columns.Value(c, i) == upperValue)
                entries.push_back(i);
    }
    return entries;
}

// A normalized value with its hex escapes resolved again.
std::string Unescaped(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) {
            out.push_back(static_cast<char>(std::stoi(std::string(value.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

// Every entry with a line of that upper-cased name.
void AddNameHolders(const TUserList& list, std::string_view upperName, std::vector<std::uint32_t>& into)
{
    const std::int64_t column = list.FindFolded(upperName);
    if (column < 0)
        return;
    const TValueColumns& columns = list.Columns();
    const auto c = static_cast<std::uint32_t>(column);
    for (std::uint32_t i = 0; i < columns.EntryCount(); ++i)
        if (!columns.Value(c, i).empty())
            into.push_back(i);
    into.insert(into.end(), columns.EmptyFirst(c).begin(), columns.EmptyFirst(c).end());
}

int FirstNaming(const TUserList& list, std::vector<std::uint32_t> entries, const std::string& normalized)
{
    std::sort(entries.begin(), entries.end());
    for (const std::uint32_t i : entries)
        if (NamesEntry(list, static_cast<int>(i), normalized))
            return static_cast<int>(i);
    return -1;
}

} // namespace

int FindEntryByDN(const TUserList& list, std::string_view dn)
{
    const std::string normalized = NormalizedDN(dn);
    if (normalized.empty() || list.Count() == 0)
        return -1;
    // Entries named by a dn line may have any DN, and go first in store order
    // only if they come first: so the answer is the lowest of the candidates
    // of every rule.
    std::vector<std::uint32_t> candidates;
    AddNameHolders(list, "DN", candidates);
    AddNameHolders(list, "DN:", candidates);
    const std::string_view text = normalized;
    if (text.rfind("MAIL=", 0) == 0 && text.find_first_of(",+") == std::string_view::npos) {
        // The column holds the value as stored, upper-cased.
        std::vector<std::uint32_t> mail = FirstValueHolders(list, list.MailFoldedId(), Unescaped(text.substr(5)));
        candidates.insert(candidates.end(), mail.begin(), mail.end());
        AddNameHolders(list, "MAIL:", candidates);
    }
    const std::size_t number = text.rfind("ENTRY=");
    if (number != std::string_view::npos && (number == 0 || text[number - 1] == '+')) {
        unsigned long index = 0;
        const std::string_view digits = text.substr(number + 6);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (error == std::errc() && end == digits.data() + digits.size() &&
            index < static_cast<unsigned long>(list.Count()))
            candidates.push_back(static_cast<std::uint32_t>(index));
    }
    return FirstNaming(list, std::move(candidates), normalized);
}
