#include "ldap/FilterTree.h"

#include <utility>

namespace {

TFilter Invalid(std::uint8_t tag, TFilterFault fault, int index = 0)
{
    TFilter node;
    node.Kind = TFilterKind::Invalid;
    node.Tag = tag;
    node.Fault = fault;
    node.MissingIndex = index;
    return node;
}

TFilterKind SimpleKind(int tag)
{
    switch (static_cast<TFilterTag>(tag)) {
    case TFilterTag::EqualityMatch:
        return TFilterKind::Equality;
    case TFilterTag::GreaterOrEqual:
        return TFilterKind::GreaterOrEqual;
    case TFilterTag::LessOrEqual:
        return TFilterKind::LessOrEqual;
    case TFilterTag::ApproxMatch:
        return TFilterKind::Approx;
    default:
        return TFilterKind::Unknown;
    }
}

// depth counts the root as 1. A node is checked for depth before anything
// else, as evaluation used to do on entering it; the children a node's
// evaluation never looks at are not decoded.
TFilter Decode(const TASNNode& element, int depth, bool& invalid)
{
    const auto tag = static_cast<std::uint8_t>(element.Tag & 0xFF);
    if (depth > kMaxFilterDepth) {
        invalid = true;
        return Invalid(tag, TFilterFault::TooDeep);
    }
    const TASNList& children = element.Children;
    TFilter node;
    node.Tag = tag;
    switch (static_cast<TFilterTag>(tag)) {
    case TFilterTag::And:
    case TFilterTag::Or:
        node.Kind = tag == TagOf(TFilterTag::And) ? TFilterKind::And : TFilterKind::Or;
        node.Children.reserve(static_cast<std::size_t>(children.Count()));
        for (int i = 0; i < children.Count(); ++i)
            node.Children.push_back(Decode(children.Items(i), depth + 1, invalid));
        return node;
    case TFilterTag::Not:
        node.Kind = TFilterKind::Not;
        if (children.Count() == 0) {
            invalid = true;
            node.Children.push_back(Invalid(0, TFilterFault::MissingElement, 0));
        } else {
            node.Children.push_back(Decode(children.Items(0), depth + 1, invalid));
        }
        return node;
    case TFilterTag::Substrings:
        // The type is looked up before the parts.
        if (children.Count() < 2) {
            invalid = true;
            return Invalid(tag, TFilterFault::MissingElement, children.Count());
        }
        node.Kind = TFilterKind::Substrings;
        node.Type = TrimAttributeType(children.Items(0).Value);
        for (int i = 0; i < children.Items(1).Children.Count(); ++i) {
            const TASNNode& part = children.Items(1).Children.Items(i);
            switch (static_cast<TSubstringTag>(part.Tag)) {
            case TSubstringTag::Initial:
            case TSubstringTag::Any:
            case TSubstringTag::Final:
                node.Parts.push_back({static_cast<TSubstringTag>(part.Tag), part.Value});
                break;
            default:
                break;
            }
        }
        return node;
    case TFilterTag::Present:
        node.Kind = TFilterKind::Present;
        node.Type = TrimAttributeType(element.Value);
        return node;
    case TFilterTag::ExtensibleMatch:
        node.Kind = TFilterKind::Extensible;
        for (int i = 0; i < children.Count(); ++i) {
            const TASNNode& field = children.Items(i);
            switch (static_cast<TMatchingRuleTag>(field.Tag)) {
            case TMatchingRuleTag::MatchingRule:
                node.Rule = field.Value;
                break;
            case TMatchingRuleTag::Type:
                node.Type = TrimAttributeType(field.Value);
                break;
            case TMatchingRuleTag::MatchValue:
                node.Value = field.Value;
                break;
            case TMatchingRuleTag::DnAttributes:
                node.DnAttributes = !field.Value.empty() && field.Value[0] != 0;
                break;
            }
        }
        return node;
    default:
        node.Kind = SimpleKind(tag);
        if (node.Kind == TFilterKind::Unknown)
            return node;
        if (children.Count() < 2) {
            node.Kind = TFilterKind::Unknown;
            return node;
        }
        node.Type = TrimAttributeType(children.Items(0).Value);
        node.Value = children.Items(1).Value;
        return node;
    }
}

void AddAttributeValue(TASNNode& into, const TFilter& filter)
{
    into.Children.Add(TagOf(TUniversalTag::OctetString), filter.Type);
    into.Children.Add(TagOf(TUniversalTag::OctetString), filter.Value);
}

void Encode(const TFilter& filter, TASNList& into)
{
    TASNNode& node = into.Add(filter.Tag);
    switch (filter.Kind) {
    case TFilterKind::And:
    case TFilterKind::Or:
    case TFilterKind::Not:
        for (const TFilter& child : filter.Children)
            // A not that came without a child goes back without one.
            if (!(child.Kind == TFilterKind::Invalid && child.Tag == 0))
                Encode(child, node.Children);
        return;
    case TFilterKind::Equality:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Approx:
        AddAttributeValue(node, filter);
        return;
    case TFilterKind::Substrings: {
        node.Children.Add(TagOf(TUniversalTag::OctetString), filter.Type);
        TASNNode& parts = node.Children.Add(TagOf(TUniversalTag::Sequence));
        for (const TSubstringPart& part : filter.Parts)
            parts.Children.Add(TagOf(part.Kind), part.Text);
        return;
    }
    case TFilterKind::Present:
        node.Value = filter.Type;
        return;
    case TFilterKind::Extensible:
        if (!filter.Rule.empty())
            node.Children.Add(TagOf(TMatchingRuleTag::MatchingRule), filter.Rule);
        if (!filter.Type.empty())
            node.Children.Add(TagOf(TMatchingRuleTag::Type), filter.Type);
        node.Children.Add(TagOf(TMatchingRuleTag::MatchValue), filter.Value);
        if (filter.DnAttributes)
            node.Children.Add(TagOf(TMatchingRuleTag::DnAttributes), "\xFF");
        return;
    case TFilterKind::Unknown:
    case TFilterKind::Invalid:
        return;
    }
}

} // namespace

EFilterDepthError::EFilterDepthError()
    : std::runtime_error("Filter nested too deeply")
{
}

void TFilter::RaiseFault() const
{
    switch (Fault) {
    case TFilterFault::None:
        return;
    case TFilterFault::MissingElement:
        throw EListIndexError(MissingIndex);
    case TFilterFault::TooDeep:
        throw EFilterDepthError();
    }
}

std::string_view TrimAttributeType(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

TSearchFilter DecodeFilter(const TASNNode& element)
{
    TSearchFilter filter;
    filter.Root = Decode(element, 1, filter.ContainsInvalid);
    return filter;
}

TSearchFilter MissingFilter(int index)
{
    TSearchFilter filter;
    filter.Root = Invalid(0, TFilterFault::MissingElement, index);
    filter.ContainsInvalid = true;
    return filter;
}

void EncodeFilter(const TFilter& filter, TASNList& into)
{
    Encode(filter, into);
}
