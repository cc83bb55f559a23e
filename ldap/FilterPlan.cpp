#include "ldap/FilterPlan.h"

#include "config/AsciiText.h"
#include "ldap/Filter.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

// MatchFilter counts the top filter as depth 1 and raises past kMaxFilterDepth.
bool WellFormed(const TASNNode& filter, int depth)
{
    if (depth > kMaxFilterDepth)
        return false;
    switch (filter.Tag) {
    case kFilterAnd:
    case kFilterOr:
        for (int i = 0; i < filter.Children.Count(); ++i)
            if (!WellFormed(filter.Children.Items(i), depth + 1))
                return false;
        return true;
    case kFilterNot:
        // Later children are never looked at.
        return filter.Children.Count() >= 1 && WellFormed(filter.Children.Items(0), depth + 1);
    case kFilterSubstrings:
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

struct TPlan {
    const TSubstringIndex& Index;
    std::uint32_t DenseLimit;
    bool ScanShortParts;
};

TFilterCandidates SubstringsCandidates(const TASNNode& filter, const TPlan& plan)
{
    const std::int64_t column = plan.Index.Column(SubstringsAttributeType(filter));
    const TASNList& parts = filter.Children.Items(1).Children;
    // Parts are alternatives, so the entries of any one of them may match.
    TFilterCandidates result;
    std::vector<std::uint32_t> entries;
    for (int i = 0; i < parts.Count(); ++i) {
        const TASNNode& part = parts.Items(i);
        if (part.Tag != kPartInitial && part.Tag != kPartAny && part.Tag != kPartFinal)
            continue;
        // An empty any part never matches; an empty initial or final part
        // matches every entry, even one without the attribute.
        if (part.Value.empty() && part.Tag == kPartAny)
            continue;
        if (part.Value.empty())
            return AllEntries();
        // No entry has the attribute: a non-empty part matches none.
        if (column < 0)
            continue;
        if (part.Value.size() < TSubstringIndex::kWindow) {
            if (!plan.ScanShortParts ||
                !plan.Index.ScanShort(static_cast<std::uint32_t>(column), part.Tag, UpperASCII(part.Value),
                                      plan.DenseLimit, entries))
                return AllEntries();
            UniteInto(result, std::move(entries));
            entries = {};
            continue;
        }
        const TSubstringIndex::TPostings postings =
            plan.Index.Rarest(static_cast<std::uint32_t>(column), UpperASCII(part.Value));
        if (postings.Count > plan.DenseLimit)
            return AllEntries();
        TSubstringIndex::Decode(postings, entries);
        UniteInto(result, std::move(entries));
        entries = {};
    }
    return result;
}

TFilterCandidates Candidates(const TASNNode& filter, const TPlan& plan, int depth)
{
    if (depth > kMaxFilterDepth)
        return AllEntries();
    switch (filter.Tag) {
    case kFilterAnd: {
        TFilterCandidates result = AllEntries();
        for (int i = 0; i < filter.Children.Count(); ++i) {
            TFilterCandidates child = Candidates(filter.Children.Items(i), plan, depth + 1);
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
    case kFilterOr: {
        TFilterCandidates result;
        for (int i = 0; i < filter.Children.Count(); ++i) {
            TFilterCandidates child = Candidates(filter.Children.Items(i), plan, depth + 1);
            if (child.All)
                return child;
            UniteInto(result, std::move(child.Entries));
        }
        return result;
    }
    case kFilterNot:
        // Entries outside the child's candidates fail the child, so not
        // matches them: nothing to narrow.
        return AllEntries();
    case kFilterSubstrings:
        if (filter.Children.Count() < 2)
            return AllEntries();
        return SubstringsCandidates(filter, plan);
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

TFilterCandidates FilterCandidates(const TASNNode& filter, const TSubstringIndex& index, std::uint32_t denseLimit)
{
    // Without a limit (tests of the plan alone) short parts stay All.
    return Candidates(filter, TPlan{index, denseLimit, denseLimit != std::numeric_limits<std::uint32_t>::max()}, 1);
}
