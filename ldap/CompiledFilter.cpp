#include "ldap/CompiledFilter.h"

#include "config/AsciiText.h"
#include "ldap/Filter.h"

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

TCompiledFilter::TCompiledFilter(const TASNNode& filter, const TUserList& list)
    : FList(list), FColumns(list.Columns())
{
    Compile(filter);
}

std::uint32_t TCompiledFilter::Compile(const TASNNode& filter)
{
    const auto at = static_cast<std::uint32_t>(FNodes.size());
    FNodes.emplace_back();
    TNode node;
    switch (filter.Tag) {
    case kFilterAnd:
    case kFilterOr:
        node.Kind = filter.Tag == kFilterAnd ? TKind::And : TKind::Or;
        for (int i = 0; i < filter.Children.Count(); ++i)
            node.Children.push_back(Compile(filter.Children.Items(i)));
        break;
    case kFilterNot:
        node.Kind = TKind::Not;
        node.Children.push_back(Compile(filter.Children.Items(0)));
        break;
    case kFilterSubstrings: {
        node.Kind = TKind::Substrings;
        node.Column = FList.FindFolded(UpperASCII(SubstringsAttributeType(filter)));
        const TASNList& parts = filter.Children.Items(1).Children;
        for (int i = 0; i < parts.Count(); ++i) {
            const TASNNode& part = parts.Items(i);
            if (part.Tag == kPartInitial || part.Tag == kPartAny || part.Tag == kPartFinal)
                node.Parts.push_back(TPart{part.Tag, UpperASCII(part.Value)});
        }
        break;
    }
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
        switch (part.Tag) {
        case kPartInitial:
            if (s.empty() || std::memcmp(v.data(), s.data(), s.size()) == 0)
                return true;
            break;
        case kPartAny:
            if (!s.empty() && ContainsOctets(v, s))
                return true;
            break;
        default:
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
