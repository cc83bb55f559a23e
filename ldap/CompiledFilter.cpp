#include "ldap/CompiledFilter.h"

#include "config/AsciiText.h"

#include <cstring>

bool ContainsOctets(std::string_view text, std::string_view part)
{
    if (part.size() > text.size())
        return false;
    const char* p = text.data();
    const char* const last = text.data() + (text.size() - part.size());
    const std::size_t rest = part.size() - 1;
    while (p <= last) {
        p = static_cast<const char*>(std::memchr(p, part[0], static_cast<std::size_t>(last - p) + 1));
        if (p == nullptr)
            return false;
        if (std::memcmp(p + 1, part.data() + 1, rest) == 0)
            return true;
        ++p;
    }
    return false;
}

TCompiledFilter::TCompiledFilter(const TFilter& filter, const TUserList& list)
    : FList(list), FColumns(list.Columns()), FNodes(filter, [this](const TFilter& f) { return MakeLeaf(f); })
{
}

std::optional<TCompiledFilter::TLeaf> TCompiledFilter::MakeLeaf(const TFilter& filter) const
{
    if (filter.Kind != TFilterKind::Substrings)
        return std::nullopt;
    TLeaf leaf;
    leaf.Column = FList.FindFolded(UpperASCII(filter.Type));
    for (const TSubstringPart& part : filter.Parts)
        leaf.Parts.push_back(TPart{part.Kind, UpperASCII(part.Text)});
    return leaf;
}

bool TCompiledFilter::MatchValue(const TLeaf& leaf, std::string_view v) const
{
    // Parts are alternatives: the first that matches decides.
    for (const TPart& part : leaf.Parts) {
        const std::string_view s = part.Text;
        if (s.size() > v.size())
            continue;
        switch (part.Kind) {
        case TSubstringTag::Initial:
            if (s.empty() || std::memcmp(v.data(), s.data(), s.size()) == 0)
                return true;
            break;
        case TSubstringTag::Any:
            if (!s.empty() && ContainsOctets(v, s))
                return true;
            break;
        case TSubstringTag::Final:
            if (s.empty() || std::memcmp(v.data() + (v.size() - s.size()), s.data(), s.size()) == 0)
                return true;
            break;
        }
    }
    return false;
}

bool TCompiledFilter::MatchLeaf(const TLeaf& leaf, std::uint32_t entry) const
{
    return MatchValue(leaf, leaf.Column < 0 ? std::string_view()
                                            : FColumns.Value(static_cast<std::uint32_t>(leaf.Column), entry));
}
