// A standard-mode filter turned, once per search, into a form that reads an
// entry's values from the upper-cased value columns: only entries whose
// attribute repeats, or comes in base64, have their lines read.
#pragma once

#include "directory/UserList.h"
#include "ldap/FilterNodes.h"
#include "ldap/FilterTree.h"
#include "ldap/StandardMatch.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TStandardFilter {
public:
    // filter must hold no Invalid node; list (and its columns) must outlive
    // this object.
    TStandardFilter(const TFilter& filter, const TUserList& list);

    // Same result as MatchStandard on the entry's StandardAttributes.
    bool Matches(std::uint32_t entry) const
    {
        return FNodes.Matches([&](const TLeaf& leaf) { return MatchLeaf(leaf, entry); });
    }

private:
    struct TLeaf {
        std::int64_t Column = -1;       // the plain name, -1: no entry has it
        std::int64_t Base64Column = -1; // the name with ":" (base64 lines)
        bool ObjectClass = false;
        TValueTest Test;
    };

    std::optional<TLeaf> MakeLeaf(const TFilter& filter) const;
    bool MatchLeaf(const TLeaf& leaf, std::uint32_t entry) const;
    // Every line of the leaf's names after the first plain one, decoded and
    // upper-cased; stops at the first value the test passes.
    bool MatchLines(const TLeaf& leaf, std::uint32_t entry, bool skipFirstPlain) const;
    bool Holds(std::int64_t column, std::uint32_t entry) const;

    const TUserList& FList;
    const TValueColumns& FColumns;
    TFilterNodes<TLeaf> FNodes;
};
