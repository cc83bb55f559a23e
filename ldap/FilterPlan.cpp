#include "ldap/FilterPlan.h"

#include "config/AsciiText.h"
#include "ldap/Filter.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

constexpr int kAnd = 0xA0;
constexpr int kOr = 0xA1;
constexpr int kNot = 0xA2;
constexpr int kSubstrings = 0xA4;
constexpr int kInitial = 0x80;
constexpr int kAny = 0x81;
constexpr int kFinal = 0x82;

// The attribute type exactly as MatchFilter trims it.
std::string_view TrimControls(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

// MatchFilter counts the top filter as depth 1 and raises past kMaxFilterDepth.
bool WellFormed(const TASNNode& filter, int depth)
{
    if (depth > kMaxFilterDepth)
        return false;
    switch (filter.Tag) {
    case kAnd:
    case kOr:
        for (int i = 0; i < filter.Children.Count(); ++i)
            if (!WellFormed(filter.Children.Items(i), depth + 1))
                return false;
        return true;
    case kNot:
        // Later children are never looked at.
        return filter.Children.Count() >= 1 && WellFormed(filter.Children.Items(0), depth + 1);
    case kSubstrings:
        return filter.Children.Count() >= 2;
    default:
        return true;
    }
}

TFilterCandidates AllEntries()
{
    TFilterCandidates all;
    all.All = true;
    return all;
}

void UniteInto(TFilterCandidates& into, std::vector<std::uint32_t>&& more)
{
    if (more.empty())
        return;
    if (into.Entries.empty()) {
        into.Entries = std::move(more);
        return;
    }
    std::vector<std::uint32_t> united;
    united.reserve(into.Entries.size() + more.size());
    std::set_union(into.Entries.begin(), into.Entries.end(), more.begin(), more.end(),
                   std::back_inserter(united));
    into.Entries = std::move(united);
}

TFilterCandidates SubstringsCandidates(const TASNNode& filter, const TSubstringIndex& index)
{
    const std::string_view type = TrimControls(filter.Children.Items(0).Value);
    const TASNList& parts = filter.Children.Items(1).Children;
    // Parts are alternatives, so the entries of any one of them may match.
    TFilterCandidates result;
    for (int i = 0; i < parts.Count(); ++i) {
        const TASNNode& part = parts.Items(i);
        if (part.Tag != kInitial && part.Tag != kAny && part.Tag != kFinal)
            continue;
        // An empty any part never matches; an empty initial or final part
        // matches every entry, even one without the attribute.
        if (part.Value.empty() && part.Tag == kAny)
            continue;
        if (part.Value.size() < TSubstringIndex::kWindow)
            return AllEntries();
        UniteInto(result, index.Candidates(type, part.Value));
    }
    return result;
}

TFilterCandidates Candidates(const TASNNode& filter, const TSubstringIndex& index, int depth)
{
    if (depth > kMaxFilterDepth)
        return AllEntries();
    switch (filter.Tag) {
    case kAnd: {
        TFilterCandidates result = AllEntries();
        for (int i = 0; i < filter.Children.Count(); ++i) {
            TFilterCandidates child = Candidates(filter.Children.Items(i), index, depth + 1);
            if (child.All)
                continue;
            if (result.All) {
                result = std::move(child);
            } else {
                std::vector<std::uint32_t> both;
                std::set_intersection(result.Entries.begin(), result.Entries.end(), child.Entries.begin(),
                                      child.Entries.end(), std::back_inserter(both));
                result.Entries = std::move(both);
            }
            if (result.Entries.empty())
                break;
        }
        return result;
    }
    case kOr: {
        TFilterCandidates result;
        for (int i = 0; i < filter.Children.Count(); ++i) {
            TFilterCandidates child = Candidates(filter.Children.Items(i), index, depth + 1);
            if (child.All)
                return child;
            UniteInto(result, std::move(child.Entries));
        }
        return result;
    }
    case kNot:
        // Entries outside the child's candidates fail the child, so not
        // matches them: nothing to narrow.
        return AllEntries();
    case kSubstrings:
        if (filter.Children.Count() < 2)
            return AllEntries();
        return SubstringsCandidates(filter, index);
    default:
        // Every other filter never matches.
        return {};
    }
}

} // namespace

bool FilterIsWellFormed(const TASNNode& filter)
{
    return WellFormed(filter, 1);
}

TFilterCandidates FilterCandidates(const TASNNode& filter, const TSubstringIndex& index)
{
    return Candidates(filter, index, 1);
}
