// A well-formed search filter turned, once per search, into a form that tests
// an entry by reading its upper-cased values straight from the value columns:
// no name lookup, no case folding and no allocation per entry.
#pragma once

#include "directory/UserList.h"
#include "ldap/FilterTree.h"

#include <cstdint>
#include <string>
#include <vector>

class TCompiledFilter {
public:
    // filter must hold no Invalid node; list (and its columns) must outlive
    // this object.
    TCompiledFilter(const TFilter& filter, const TUserList& list);

    // Same result as MatchFilter on the entry.
    bool Matches(std::uint32_t entry) const { return Match(0, entry); }

private:
    enum class TKind { And, Or, Not, Substrings, Never };
    struct TPart {
        TSubstringTag Kind;
        std::string Text; // upper-cased
    };
    struct TNode {
        TKind Kind = TKind::Never;
        std::vector<std::uint32_t> Children;
        std::int64_t Column = -1; // -1: no entry has the attribute
        std::vector<TPart> Parts;
    };

    std::uint32_t Compile(const TFilter& filter);
    bool Match(std::uint32_t node, std::uint32_t entry) const;
    bool MatchValue(const TNode& node, std::string_view value) const;

    const TUserList& FList;
    const TValueColumns& FColumns;
    std::vector<TNode> FNodes; // [0] is the whole filter
};

// Whether upper-cased text holds upper-cased part (not empty).
bool ContainsOctets(std::string_view text, std::string_view part);
