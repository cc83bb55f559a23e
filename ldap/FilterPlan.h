// Which entries a search filter can match, worked out from the substring index
// instead of evaluating the filter on every entry.
#pragma once

#include "directory/SubstringIndex.h"
#include "ldap/FilterTree.h"
#include "ldap/LDAPASN.h"

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

// True when MatchFilter can never raise on this filter element, whatever the
// entry: its decoded form holds no Invalid node.
bool FilterIsWellFormed(const TASNNode& filter);

// A superset of the entries a filter matches: all of them, or these sorted,
// distinct indices.
struct TFilterCandidates {
    bool All = false;
    std::vector<std::uint32_t> Entries;
};

// An Invalid node counts as All, which is never wrong; still, only a filter
// without one may skip entries (the walk must raise where it always has). A part whose rarest window is held by more than
// `denseLimit` entries counts as All: testing every entry in order is then
// cheaper than listing them, the more so as a search stops at its limit.
TFilterCandidates FilterCandidates(const TFilter& filter, const TSubstringIndex& index,
                                   std::uint32_t denseLimit = std::numeric_limits<std::uint32_t>::max());
// The same for a filter element still in its BER form.
TFilterCandidates FilterCandidates(const TASNNode& filter, const TSubstringIndex& index,
                                   std::uint32_t denseLimit = std::numeric_limits<std::uint32_t>::max());

// Sorted, distinct entries added to or kept in a set of candidates.
void UniteInto(TFilterCandidates& into, std::vector<std::uint32_t>&& more);
void IntersectInto(TFilterCandidates& into, const std::vector<std::uint32_t>& with);

// The candidates of an And or an Or from its children's, each worked out by
// childCandidates(const TFilter&): an And keeps what every narrowing child
// holds and stops once nothing is left; an Or unites them, and is All as soon
// as one child is.
template <typename ChildCandidates>
TFilterCandidates CombinedCandidates(const TFilter& filter, const ChildCandidates& childCandidates)
{
    const bool isAnd = filter.Kind == TFilterKind::And;
    TFilterCandidates result;
    result.All = isAnd;
    for (const TFilter& item : filter.Children) {
        TFilterCandidates child = childCandidates(item);
        if (!isAnd) {
            if (child.All)
                return child;
            UniteInto(result, std::move(child.Entries));
            continue;
        }
        if (child.All)
            continue;
        if (result.All)
            result = std::move(child);
        else
            IntersectInto(result, child.Entries);
        if (result.Entries.empty())
            break;
    }
    return result;
}
