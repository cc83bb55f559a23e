#include "ldap/StandardPlan.h"

#include "config/AsciiText.h"
#include "ldap/StandardMatch.h"

#include <string>
#include <string_view>

namespace {

TFilterCandidates All()
{
    TFilterCandidates all;
    all.All = true;
    return all;
}

struct TPlan {
    const TUserList& List;
    std::uint32_t DenseLimit;
};

// The longest part, which narrows most; with its tag.
const TSubstringPart* LongestPart(const TFilter& filter)
{
    const TSubstringPart* longest = nullptr;
    for (const TSubstringPart& part : filter.Parts)
        if (longest == nullptr || part.Text.size() > longest->Text.size())
            longest = &part;
    return longest;
}

TFilterCandidates LeafCandidates(const TFilter& filter, const TPlan& plan)
{
    const std::string upper = UpperASCII(filter.Type);
    if (upper.empty() || upper == "DN" || upper.find(':') != std::string::npos)
        return {};
    // Entries without objectClass lines have its defaults; base64 lines are
    // not in the index.
    if (IsObjectClass(filter.Type) || plan.List.FindFolded(upper + ":") >= 0)
        return All();
    const std::int64_t column = plan.List.FindFolded(upper);
    if (column < 0)
        return {};
    const auto c = static_cast<std::uint32_t>(column);
    std::string text;
    TSubstringTag tag = TSubstringTag::Any;
    if (filter.Kind == TFilterKind::Substrings) {
        if (!SubstringPartsInOrder(filter.Parts))
            return {};
        const TSubstringPart* part = LongestPart(filter);
        if (part == nullptr || part->Text.empty())
            return All();
        text = UpperASCII(part->Text);
        tag = part->Kind;
    } else {
        // Equality and approximate match: the whole value.
        text = UpperASCII(filter.Value);
        if (text.empty())
            return All();
        tag = TSubstringTag::Initial;
    }
    const TSubstringIndex& index = plan.List.SubstringIndex();
    TFilterCandidates result;
    if (text.size() < TSubstringIndex::kWindow) {
        if (!index.ScanShort(c, TagOf(tag), text, plan.DenseLimit, result.Entries))
            return All();
    } else {
        const TSubstringIndex::TPostings postings = index.Rarest(c, text);
        if (postings.Count > plan.DenseLimit)
            return All();
        TSubstringIndex::Decode(postings, result.Entries);
    }
    // Further values of a repeated attribute are not in the index.
    const std::vector<std::uint32_t>& repeated = plan.List.Columns().Repeated(c);
    UniteInto(result, std::vector<std::uint32_t>(repeated));
    return result;
}

TFilterCandidates Candidates(const TFilter& filter, const TPlan& plan)
{
    switch (filter.Kind) {
    case TFilterKind::And:
    case TFilterKind::Or:
        return CombinedCandidates(filter, [&plan](const TFilter& item) { return Candidates(item, plan); });
    case TFilterKind::Equality:
    case TFilterKind::Approx:
    case TFilterKind::Substrings:
        return LeafCandidates(filter, plan);
    case TFilterKind::Not:
    case TFilterKind::Present:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Invalid:
        return All();
    case TFilterKind::Extensible:
    case TFilterKind::Unknown:
        return {};
    }
    return All();
}

} // namespace

TFilterCandidates StandardCandidates(const TFilter& filter, const TUserList& list, std::uint32_t denseLimit)
{
    return Candidates(filter, TPlan{list, denseLimit});
}
