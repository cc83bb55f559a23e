#include "ldap/Filter.h"

#include <string>
#include <string_view>

namespace {

constexpr int kAnd = 0xA0;
constexpr int kOr = 0xA1;
constexpr int kNot = 0xA2;
constexpr int kSubstrings = 0xA4;
constexpr int kInitial = 0x80;
constexpr int kAny = 0x81;
constexpr int kFinal = 0x82;

std::string_view TrimControls(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

bool MatchSubstrings(const TASNNode& filter, const TUserInfo& entry)
{
    const std::string_view type = TrimControls(filter.Children.Items(0).Value);
    const TASNList& parts = filter.Children.Items(1).Children;
    // Compared in place, letters folded on both sides: no copy per entry.
    const std::string_view v = entry.ValueViewOf(type);
    bool result = false;
    for (int i = 0; i < parts.Count(); ++i) {
        const TASNNode& part = parts.Items(i);
        if (part.Tag != kInitial && part.Tag != kAny && part.Tag != kFinal)
            continue;
        const std::string_view s = part.Value;
        bool match = false;
        if (s.size() > v.size())
            match = false;
        else if (part.Tag == kInitial)
            match = SameTextASCII(v.substr(0, s.size()), s);
        else if (part.Tag == kAny)
            match = !s.empty() && ContainsTextASCII(v, s);
        else
            match = SameTextASCII(v.substr(v.size() - s.size()), s);
        // Parts are alternatives: a later part never undoes a match.
        result = result || match;
    }
    return result;
}

bool Match(const TASNNode& filter, const TUserInfo& entry, int depth)
{
    if (depth > kMaxFilterDepth)
        throw EFilterDepthError();
    switch (filter.Tag) {
    case kAnd:
        for (int i = 0; i < filter.Children.Count(); ++i)
            if (!Match(filter.Children.Items(i), entry, depth + 1))
                return false;
        return true;
    case kOr:
        for (int i = 0; i < filter.Children.Count(); ++i)
            if (Match(filter.Children.Items(i), entry, depth + 1))
                return true;
        return false;
    case kNot:
        return !Match(filter.Children.Items(0), entry, depth + 1);
    case kSubstrings:
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

bool MatchFilter(const TASNNode& filter, const TUserInfo& entry)
{
    return Match(filter, entry, 1);
}
