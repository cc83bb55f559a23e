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
    : FList(list), FColumns(list.Columns())
{
    Compile(filter);
}

std::uint32_t TCompiledFilter::Compile(const TFilter& filter)
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
    case TFilterKind::Substrings:
        node.Kind = TKind::Substrings;
        node.Column = FList.FindFolded(UpperASCII(filter.Type));
        for (const TSubstringPart& part : filter.Parts)
            node.Parts.push_back(TPart{part.Kind, UpperASCII(part.Text)});
        break;
    default:
        node.Kind = TKind::Never;
        break;
    }
    FNodes[at] = std::move(node);
    return at;
}

bool TCompiledFilter::MatchValue(const TNode& node, std::string_view v) const
{
    // Parts are alternatives: the first that matches decides.
    for (const TPart& part : node.Parts) {
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

bool TCompiledFilter::Match(std::uint32_t at, std::uint32_t entry) const
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
    case TKind::Substrings:
        return MatchValue(node, node.Column < 0 ? std::string_view()
                                                : FColumns.Value(static_cast<std::uint32_t>(node.Column), entry));
    case TKind::Never:
        break;
    }
    return false;
}
