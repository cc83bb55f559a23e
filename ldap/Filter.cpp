#include "ldap/Filter.h"

#include <string>
#include <string_view>

namespace {

template <typename TEntry>
bool MatchSubstrings(const TASNNode& filter, const TEntry& entry)
{
    const std::string_view type = SubstringsAttributeType(filter);
    const TASNList& parts = filter.Children.Items(1).Children;
    // Compared in place, letters folded on both sides: no copy per entry.
    const std::string_view v = entry.ValueViewOf(type);
    bool result = false;
    for (int i = 0; i < parts.Count(); ++i) {
        const TASNNode& part = parts.Items(i);
        if (part.Tag != kPartInitial && part.Tag != kPartAny && part.Tag != kPartFinal)
            continue;
        const std::string_view s = part.Value;
        bool match = false;
        if (s.size() > v.size())
            match = false;
        else if (part.Tag == kPartInitial)
            match = SameTextASCII(v.substr(0, s.size()), s);
        else if (part.Tag == kPartAny)
            match = !s.empty() && ContainsTextASCII(v, s);
        else
            match = SameTextASCII(v.substr(v.size() - s.size()), s);
        // Parts are alternatives: a later part never undoes a match.
        result = result || match;
    }
    return result;
}

template <typename TEntry>
bool Match(const TASNNode& filter, const TEntry& entry, int depth)
{
    if (depth > kMaxFilterDepth)
        throw EFilterDepthError();
    switch (filter.Tag) {
    case kFilterAnd:
        for (int i = 0; i < filter.Children.Count(); ++i)
            if (!Match(filter.Children.Items(i), entry, depth + 1))
                return false;
        return true;
    case kFilterOr:
        for (int i = 0; i < filter.Children.Count(); ++i)
            if (Match(filter.Children.Items(i), entry, depth + 1))
                return true;
        return false;
    case kFilterNot:
        return !Match(filter.Children.Items(0), entry, depth + 1);
    case kFilterSubstrings:
        return MatchSubstrings(filter, entry);
    default:
        return false;
    }
}

} // namespace

EFilterDepthError::EFilterDepthError()
    : std::runtime_error("Filter nested too deeply")
{
}

std::string_view SubstringsAttributeType(const TASNNode& substrings)
{
    std::string_view text = substrings.Children.Items(0).Value;
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

bool MatchFilter(const TASNNode& filter, const TUserInfo& entry)
{
    return Match(filter, entry, 1);
}

bool MatchFilter(const TASNNode& filter, const TEntryView& entry)
{
    return Match(filter, entry, 1);
}
