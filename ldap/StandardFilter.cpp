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
    : FList(list), FColumns(list.Columns()), FNodes(filter, [this](const TFilter& f) { return MakeLeaf(f); })
{
}

std::optional<TStandardFilter::TLeaf> TStandardFilter::MakeLeaf(const TFilter& filter) const
{
    switch (filter.Kind) {
    case TFilterKind::Equality:
    case TFilterKind::Approx:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Present:
    case TFilterKind::Substrings: {
        const std::string upper = UpperASCII(filter.Type);
        // "dn" lines name the entry and are no attribute; a type with ":"
        // could only meet the stored form of base64 lines.
        if (upper == "DN" || upper.find(':') != std::string::npos || upper.empty())
            return std::nullopt;
        return TLeaf{FList.FindFolded(upper), FList.FindFolded(upper + ":"), IsObjectClass(filter.Type),
                     TValueTest(filter)};
    }
    default:
        return std::nullopt;
    }
}

bool TStandardFilter::Holds(std::int64_t column, std::uint32_t entry) const
{
    if (column < 0)
        return false;
    const auto c = static_cast<std::uint32_t>(column);
    return !FColumns.Value(c, entry).empty() || Listed(FColumns.EmptyFirst(c), entry);
}

bool TStandardFilter::MatchLines(const TLeaf& leaf, std::uint32_t entry, bool skipFirstPlain) const
{
    bool matched = false;
    bool skipped = !skipFirstPlain;
    std::string upper;
    FList.ForEachLine(static_cast<int>(entry), [&](const TLineView& line) {
        if (matched || !line.HasEquals)
            return;
        const std::int64_t folded = FList.FoldedId(line.TypeId);
        if (folded == leaf.Column && !skipped) {
            skipped = true;
            return;
        }
        if (folded != leaf.Column && folded != leaf.Base64Column)
            return;
        const TLineType type = LineTypeOf(line.Type);
        upper = UpperASCII(WireValue(line.Value, type.Base64));
        matched = leaf.Test(upper);
    });
    return matched;
}

bool TStandardFilter::MatchLeaf(const TLeaf& leaf, std::uint32_t entry) const
{
    const TValueTest& test = leaf.Test;
    const bool plain = Holds(leaf.Column, entry);
    const bool base64 = Holds(leaf.Base64Column, entry);
    if (!plain && !base64) {
        if (!leaf.ObjectClass)
            return false;
        for (const std::string_view value : kDefaultObjectClasses)
            if (test(UpperASCII(value)))
                return true;
        return false;
    }
    if (test.Presence())
        return true;
    if (plain && test(FColumns.Value(static_cast<std::uint32_t>(leaf.Column), entry)))
        return true;
    const bool repeats = plain && Listed(FColumns.Repeated(static_cast<std::uint32_t>(leaf.Column)), entry);
    if (!repeats && !base64)
        return false;
    return MatchLines(leaf, entry, plain);
}
