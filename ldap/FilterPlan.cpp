#include "ldap/FilterPlan.h"

#include "config/AsciiText.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

TFilterCandidates AllEntries()
{
    TFilterCandidates all;
    all.All = true;
    return all;
}

struct TPlan {
    const TSubstringIndex& Index;
    std::uint32_t DenseLimit;
    bool ScanShortParts;
};

TFilterCandidates SubstringsCandidates(const TFilter& filter, const TPlan& plan)
{
    const std::int64_t column = plan.Index.Column(filter.Type);
    // Parts are alternatives, so the entries of any one of them may match.
    TFilterCandidates result;
    std::vector<std::uint32_t> entries;
    for (const TSubstringPart& part : filter.Parts) {
        // An empty any part never matches; an empty initial or final part
        // matches every entry, even one without the attribute.
        if (part.Text.empty() && part.Kind == TSubstringTag::Any)
            continue;
        if (part.Text.empty())
            return AllEntries();
        // No entry has the attribute: a non-empty part matches none.
        if (column < 0)
            continue;
        if (part.Text.size() < TSubstringIndex::kWindow) {
            if (!plan.ScanShortParts ||
                !plan.Index.ScanShort(static_cast<std::uint32_t>(column), TagOf(part.Kind), UpperASCII(part.Text),
                                      plan.DenseLimit, entries))
                return AllEntries();
            UniteInto(result, std::move(entries));
            entries = {};
            continue;
        }
        const TSubstringIndex::TPostings postings =
            plan.Index.Rarest(static_cast<std::uint32_t>(column), UpperASCII(part.Text));
        if (postings.Count > plan.DenseLimit)
            return AllEntries();
        TSubstringIndex::Decode(postings, entries);
        UniteInto(result, std::move(entries));
        entries = {};
    }
    return result;
}

TFilterCandidates Candidates(const TFilter& filter, const TPlan& plan)
{
    switch (filter.Kind) {
    case TFilterKind::And:
    case TFilterKind::Or:
        return CombinedCandidates(filter, [&plan](const TFilter& item) { return Candidates(item, plan); });
    case TFilterKind::Not:
        // Entries outside the child's candidates fail the child, so not
        // matches them: nothing to narrow.
        return AllEntries();
    case TFilterKind::Substrings:
        return SubstringsCandidates(filter, plan);
    case TFilterKind::Invalid:
        return AllEntries();
    case TFilterKind::Equality:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Present:
    case TFilterKind::Approx:
    case TFilterKind::Extensible:
    case TFilterKind::Unknown:
        // Every other filter never matches.
        return {};
    }
    return {};
}

} // namespace

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

void IntersectInto(TFilterCandidates& into, const std::vector<std::uint32_t>& with)
{
    std::vector<std::uint32_t> both;
    std::set_intersection(into.Entries.begin(), into.Entries.end(), with.begin(), with.end(),
                          std::back_inserter(both));
    into.Entries = std::move(both);
}

bool FilterIsWellFormed(const TASNNode& filter)
{
    return !DecodeFilter(filter).ContainsInvalid;
}

TFilterCandidates FilterCandidates(const TFilter& filter, const TSubstringIndex& index, std::uint32_t denseLimit)
{
    // Without a limit (tests of the plan alone) short parts stay All.
    return Candidates(filter, TPlan{index, denseLimit, denseLimit != std::numeric_limits<std::uint32_t>::max()});
}

TFilterCandidates FilterCandidates(const TASNNode& filter, const TSubstringIndex& index, std::uint32_t denseLimit)
{
    return FilterCandidates(DecodeFilter(filter).Root, index, denseLimit);
}
