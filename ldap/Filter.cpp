#include "ldap/Filter.h"

#include <string_view>

namespace {

template <typename TEntry>
bool MatchSubstrings(const TFilter& filter, const TEntry& entry)
{
    // Compared in place, letters folded on both sides: no copy per entry.
    const std::string_view v = entry.ValueViewOf(filter.Type);
    bool result = false;
    for (const TSubstringPart& part : filter.Parts) {
        const std::string_view s = part.Text;
        bool match = false;
        if (s.size() > v.size())
            match = false;
        else if (part.Kind == TSubstringTag::Initial)
            match = SameTextASCII(v.substr(0, s.size()), s);
        else if (part.Kind == TSubstringTag::Any)
            match = !s.empty() && ContainsTextASCII(v, s);
        else
            match = SameTextASCII(v.substr(v.size() - s.size()), s);
        // Parts are alternatives: a later part never undoes a match.
        result = result || match;
    }
    return result;
}

template <typename TEntry>
bool Match(const TFilter& filter, const TEntry& entry)
{
    switch (filter.Kind) {
    case TFilterKind::And:
        for (const TFilter& child : filter.Children)
            if (!Match(child, entry))
                return false;
        return true;
    case TFilterKind::Or:
        for (const TFilter& child : filter.Children)
            if (Match(child, entry))
                return true;
        return false;
    case TFilterKind::Not:
        return !Match(filter.Children.front(), entry);
    case TFilterKind::Substrings:
        return MatchSubstrings(filter, entry);
    case TFilterKind::Invalid:
        filter.RaiseFault();
        return false;
    case TFilterKind::Equality:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Present:
    case TFilterKind::Approx:
    case TFilterKind::Extensible:
    case TFilterKind::Unknown:
        return false;
    }
    return false;
}

} // namespace

bool MatchFilter(const TFilter& filter, const TUserInfo& entry)
{
    return Match(filter, entry);
}

bool MatchFilter(const TFilter& filter, const TEntryView& entry)
{
    return Match(filter, entry);
}

bool MatchFilter(const TASNNode& filter, const TUserInfo& entry)
{
    return Match(DecodeFilter(filter).Root, entry);
}

bool MatchFilter(const TASNNode& filter, const TEntryView& entry)
{
    return Match(DecodeFilter(filter).Root, entry);
}
