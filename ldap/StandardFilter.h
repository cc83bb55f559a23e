// A standard-mode filter turned, once per search, into a form that reads an
// entry's values from the upper-cased value columns: only entries whose
// attribute repeats, or comes in base64, have their lines read.
#pragma once

#include "directory/UserList.h"
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
    bool Matches(std::uint32_t entry) const { return Match(0, entry); }

private:
    enum class TKind { And, Or, Not, Leaf, Never };
    struct TNode {
        TKind Kind = TKind::Never;
        std::vector<std::uint32_t> Children;
        std::int64_t Column = -1;       // the plain name, -1: no entry has it
        std::int64_t Base64Column = -1; // the name with ":" (base64 lines)
        bool ObjectClass = false;
        std::optional<TValueTest> Test;
    };

    std::uint32_t Compile(const TFilter& filter);
    bool Match(std::uint32_t node, std::uint32_t entry) const;
    bool MatchLeaf(const TNode& node, std::uint32_t entry) const;
    // Every line of the node's names after the first plain one, decoded and
    // upper-cased; stops at the first value the test passes.
    bool MatchLines(const TNode& node, std::uint32_t entry, bool skipFirstPlain) const;
    bool Holds(std::int64_t column, std::uint32_t entry) const;

    const TUserList& FList;
    const TValueColumns& FColumns;
    std::vector<TNode> FNodes; // [0] is the whole filter
};
