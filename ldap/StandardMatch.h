// What a filter means when standard searches are answered: equality,
// approximate, ordering, presence and RFC 4511 substrings, each tested on
// every value of the attribute, letters compared after ASCII upper-casing.
// Extensible matches select nothing.
#pragma once

#include "ldap/FilterTree.h"
#include "ldap/StandardEntry.h"

#include <string>
#include <string_view>
#include <vector>

// One assertion, upper-cased once, tested on upper-cased values.
class TValueTest {
public:
    explicit TValueTest(const TFilter& leaf);
    bool operator()(std::string_view upperValue) const;
    // Whether an entry must hold the attribute at all for the test to pass
    // (presence holds whatever the value).
    bool Presence() const { return FKind == TFilterKind::Present; }

private:
    TFilterKind FKind;
    std::string FUpper;
    std::vector<TSubstringPart> FParts; // upper-cased
    bool FOrdered = true;               // the parts as RFC 4511 allows them
};

// Initial at most once and first, final at most once and last.
bool SubstringPartsInOrder(const std::vector<TSubstringPart>& parts);

// Whether the attributes (as StandardAttributes gives them) satisfy the
// filter. An Invalid node raises what it stands for when reached.
bool MatchStandard(const TFilter& filter, const TStandardAttributes& entry);

// objectClass, whose values every entry has by default.
bool IsObjectClass(std::string_view type);
