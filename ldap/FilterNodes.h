// A filter's and/or/not tree laid out flat once per search, so that testing an
// entry follows indices. Each evaluator decides what its leaves hold.
#pragma once

#include "ldap/FilterTree.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

template <typename TLeaf>
class TFilterNodes {
public:
    // makeLeaf(const TFilter&) -> std::optional<TLeaf> for every element that
    // is no and, or or not; nothing where the element never matches. filter
    // must hold no Invalid node.
    template <typename MakeLeaf>
    TFilterNodes(const TFilter& filter, const MakeLeaf& makeLeaf)
    {
        Add(filter, makeLeaf);
    }

    // matchLeaf(const TLeaf&) -> bool
    template <typename MatchLeaf>
    bool Matches(const MatchLeaf& matchLeaf) const
    {
        return Match(0, matchLeaf);
    }

private:
    enum class TKind { And, Or, Not, Leaf, Never };
    struct TNode {
        TKind Kind = TKind::Never;
        std::vector<std::uint32_t> Children;
        std::optional<TLeaf> Leaf;
    };

    std::vector<TNode> FNodes; // [0] is the whole filter

    template <typename MakeLeaf>
    std::uint32_t Add(const TFilter& filter, const MakeLeaf& makeLeaf)
    {
        const auto at = static_cast<std::uint32_t>(FNodes.size());
        FNodes.emplace_back();
        TNode node;
        switch (filter.Kind) {
        case TFilterKind::And:
        case TFilterKind::Or:
            node.Kind = filter.Kind == TFilterKind::And ? TKind::And : TKind::Or;
            for (const TFilter& child : filter.Children)
                node.Children.push_back(Add(child, makeLeaf));
            break;
        case TFilterKind::Not:
            node.Kind = TKind::Not;
            node.Children.push_back(Add(filter.Children.front(), makeLeaf));
            break;
        default:
            node.Leaf = makeLeaf(filter);
            node.Kind = node.Leaf ? TKind::Leaf : TKind::Never;
            break;
        }
        FNodes[at] = std::move(node);
        return at;
    }

    template <typename MatchLeaf>
    bool Match(std::uint32_t at, const MatchLeaf& matchLeaf) const
    {
        const TNode& node = FNodes[at];
        switch (node.Kind) {
        case TKind::And:
            for (const std::uint32_t child : node.Children)
                if (!Match(child, matchLeaf))
                    return false;
            return true;
        case TKind::Or:
            for (const std::uint32_t child : node.Children)
                if (Match(child, matchLeaf))
                    return true;
            return false;
        case TKind::Not:
            return !Match(node.Children[0], matchLeaf);
        case TKind::Leaf:
            return matchLeaf(*node.Leaf);
        case TKind::Never:
            break;
        }
        return false;
    }
};
