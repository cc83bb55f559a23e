#include "ldap/StandardFilter.h"

#include "config/AsciiText.h"

#include <algorithm>

namespace {

bool Listed(const std::vector<std::uint32_t>& sorted, std::uint32_t entry)
{
    return !sorted.empty() && std::binary_search(sorted.begin(), sorted.end(), entry);
}

} // namespace

TStandardFilter::TStandardFilter(const TFilter& filter, const TUserList& list)
    : FList(list), FColumns(list.Columns())
{
    Compile(filter);
}

std::uint32_t TStandardFilter::Compile(const TFilter& filter)
{
    const auto at = static_cast<std::uint32_t>(FNodes.size());
    FNodes.emplace_back();
    TNode node;
    switch (filter.Kind) {
    case TFilterKind::And:
    case TFilterKind::Or:
        node.Kind = filter.Kind == TFilterKind::And ? TKind::And : TKind::Or;
        for (const TFilter& child : filter.Children)
            node.Children.push_back(Compile(child));
        break;
    case TFilterKind::Not:
        node.Kind = TKind::Not;
        node.Children.push_back(Compile(filter.Children.front()));
        break;
    case TFilterKind::Equality:
    case TFilterKind::Approx:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Present:
    case TFilterKind::Substrings: {
        node.Kind = TKind::Leaf;
        const std::string upper = UpperASCII(filter.Type);
        // "dn" lines name the entry and are no attribute; a type with ":"
        // could only meet the stored form of base64 lines.
        if (upper == "DN" || upper.find(':') != std::string::npos || upper.empty()) {
            node.Kind = TKind::Never;
            break;
        }
        node.Column = FList.FindFolded(upper);
        node.Base64Column = FList.FindFolded(upper + ":");
        node.ObjectClass = IsObjectClass(filter.Type);
        node.Test.emplace(filter);
        break;
    }
    case TFilterKind::Extensible:
    case TFilterKind::Unknown:
    case TFilterKind::Invalid:
        node.Kind = TKind::Never;
        break;
    }
    FNodes[at] = std::move(node);
    return at;
}

bool TStandardFilter::Holds(std::int64_t column, std::uint32_t entry) const
{
    if (column < 0)
        return false;
    const auto c = static_cast<std::uint32_t>(column);
    return !FColumns.Value(c, entry).empty() || Listed(FColumns.EmptyFirst(c), entry);
}

bool TStandardFilter::MatchLines(const TNode& node, std::uint32_t entry, bool skipFirstPlain) const
{
    bool matched = false;
    bool skipped = !skipFirstPlain;
    std::string upper;
    FList.ForEachLine(static_cast<int>(entry), [&](const TLineView& line) {
        if (matched || !line.HasEquals)
            return;
        const std::int64_t folded = FList.FoldedId(line.TypeId);
        if (folded == node.Column && !skipped) {
            skipped = true;
            return;
        }
        if (folded != node.Column && folded != node.Base64Column)
            return;
        const TLineType type = LineTypeOf(line.Type);
        upper = UpperASCII(WireValue(line.Value, type.Base64));
        matched = (*node.Test)(upper);
    });
    return matched;
}

bool TStandardFilter::MatchLeaf(const TNode& node, std::uint32_t entry) const
{
    const TValueTest& test = *node.Test;
    const bool plain = Holds(node.Column, entry);
    const bool base64 = Holds(node.Base64Column, entry);
    if (!plain && !base64) {
        if (!node.ObjectClass)
            return false;
        for (const std::string_view value : kDefaultObjectClasses)
            if (test(UpperASCII(value)))
                return true;
        return false;
    }
    if (test.Presence())
        return true;
    if (plain && test(FColumns.Value(static_cast<std::uint32_t>(node.Column), entry)))
        return true;
    const bool repeats = plain && Listed(FColumns.Repeated(static_cast<std::uint32_t>(node.Column)), entry);
    if (!repeats && !base64)
        return false;
    return MatchLines(node, entry, plain);
}

bool TStandardFilter::Match(std::uint32_t at, std::uint32_t entry) const
{
    const TNode& node = FNodes[at];
    switch (node.Kind) {
    case TKind::And:
        for (const std::uint32_t child : node.Children)
            if (!Match(child, entry))
                return false;
        return true;
    case TKind::Or:
        for (const std::uint32_t child : node.Children)
            if (Match(child, entry))
                return true;
        return false;
    case TKind::Not:
        return !Match(node.Children[0], entry);
    case TKind::Leaf:
        return MatchLeaf(node, entry);
    case TKind::Never:
        break;
    }
    return false;
}
