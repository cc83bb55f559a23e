// A well-formed search filter turned, once per search, into a form that tests
// an entry by reading its upper-cased values straight from the value columns:
// no name lookup, no case folding and no allocation per entry.
#pragma once

#include "directory/UserList.h"
#include "ldap/FilterNodes.h"
#include "ldap/FilterTree.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TCompiledFilter {
public:
    // filter must hold no Invalid node; list (and its columns) must outlive
    // this object.
    TCompiledFilter(const TFilter& filter, const TUserList& list);

    // Same result as MatchFilter on the entry.
    bool Matches(std::uint32_t entry) const
    {
        return FNodes.Matches([&](const TLeaf& leaf) { return MatchLeaf(leaf, entry); });
    }

private:
    struct TPart {
        TSubstringTag Kind;
        std::string Text; // upper-cased
    };
    // A substring filter; every other leaf never matches.
    struct TLeaf {
        std::int64_t Column = -1; // -1: no entry has the attribute
        std::vector<TPart> Parts;
    };

    std::optional<TLeaf> MakeLeaf(const TFilter& filter) const;
    bool MatchLeaf(const TLeaf& leaf, std::uint32_t entry) const;
    bool MatchValue(const TLeaf& leaf, std::string_view value) const;

    const TUserList& FList;
    const TValueColumns& FColumns;
    TFilterNodes<TLeaf> FNodes;
};

// Whether upper-cased text holds upper-cased part (not empty).
bool ContainsOctets(std::string_view text, std::string_view part);
