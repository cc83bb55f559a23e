// Which entries a search filter can match, worked out from the substring index
// instead of evaluating the filter on every entry.
#pragma once

#include "directory/SubstringIndex.h"
#include "ldap/LDAPASN.h"

#include <cstdint>
#include <limits>
#include <vector>

// True when MatchFilter can never raise on this filter, whatever the entry:
// every and/or child and the first child of every not is itself well formed,
// every not has a child, every substrings has its type and parts, and no
// filter MatchFilter would reach lies deeper than kMaxFilterDepth.
bool FilterIsWellFormed(const TASNNode& filter);

// A superset of the entries a filter matches: all of them, or these sorted,
// distinct indices.
struct TFilterCandidates {
    bool All = false;
    std::vector<std::uint32_t> Entries;
};

// Meant for a filter FilterIsWellFormed accepts; on any other it answers All,
// which is never wrong. A part whose rarest window is held by more than
// `denseLimit` entries counts as All: testing every entry in order is then
// cheaper than listing them, the more so as a search stops at its limit.
TFilterCandidates FilterCandidates(const TASNNode& filter, const TSubstringIndex& index,
                                   std::uint32_t denseLimit = std::numeric_limits<std::uint32_t>::max());
