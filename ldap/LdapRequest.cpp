#include "ldap/LdapRequest.h"

#include <limits>

namespace {

TSearchScope ScopeOf(std::string_view octets)
{
    switch (OctetsToInt(octets)) {
    case 0:
        return octets.empty() ? TSearchScope::Other : TSearchScope::BaseObject;
    case 1:
        return TSearchScope::SingleLevel;
    case 2:
        return TSearchScope::WholeSubtree;
    default:
        return TSearchScope::Other;
    }
}

bool BooleanOf(std::string_view octets)
{
    return !octets.empty() && octets[0] != 0;
}

TSearchRequest DecodeSearch(const TASNList& fields)
{
    // Every field is optional here; the filter alone decides whether a search
    // can be answered, and only when an entry is tested.
    TSearchRequest search;
    const int count = fields.Count();
    if (count > 0)
        search.BaseObject = fields.Items(0).Value;
    if (count > 1)
        search.Scope = ScopeOf(fields.Items(1).Value);
    if (count > 2)
        search.DerefAliases = NonNegativeInteger(fields.Items(2).Value);
    if (count > 3)
        search.SizeLimit = NonNegativeInteger(fields.Items(3).Value);
    if (count > 4)
        search.TimeLimit = NonNegativeInteger(fields.Items(4).Value);
    if (count > 5)
        search.TypesOnly = BooleanOf(fields.Items(5).Value);
    search.Filter = count > 6 ? DecodeFilter(fields.Items(6)) : MissingFilter(6);
    if (count > 7) {
        const TASNList& names = fields.Items(7).Children;
        search.Attributes.reserve(static_cast<std::size_t>(names.Count()));
        for (int i = 0; i < names.Count(); ++i)
            search.Attributes.push_back(names.Items(i).Value);
    }
    return search;
}

TCompareRequest DecodeCompare(const TASNList& fields)
{
    TCompareRequest compare;
    if (fields.Count() > 0)
        compare.Entry = fields.Items(0).Value;
    if (fields.Count() > 1 && fields.Items(1).Children.Count() >= 2) {
        const TASNList& ava = fields.Items(1).Children;
        compare.Type = TrimAttributeType(ava.Items(0).Value);
        compare.Value = ava.Items(1).Value;
        compare.Complete = true;
    }
    return compare;
}

TExtendedRequest DecodeExtended(const TASNList& fields)
{
    TExtendedRequest extended;
    for (int i = 0; i < fields.Count(); ++i) {
        const TASNNode& field = fields.Items(i);
        if (field.Tag == TagOf(TExtendedTag::RequestName))
            extended.Name = field.Value;
        else if (field.Tag == TagOf(TExtendedTag::RequestValue))
            extended.Value = field.Value;
    }
    return extended;
}

TOperation DecodeOperation(const TASNNode& op)
{
    switch (static_cast<TOperationTag>(op.Tag)) {
    case TOperationTag::BindRequest:
        return TBindRequest{};
    case TOperationTag::UnbindRequest:
        return TUnbindRequest{};
    case TOperationTag::SearchRequest:
        return DecodeSearch(op.Children);
    case TOperationTag::AbandonRequest:
        return TAbandonRequest{};
    case TOperationTag::CompareRequest:
        return DecodeCompare(op.Children);
    case TOperationTag::ExtendedRequest:
        return DecodeExtended(op.Children);
    case TOperationTag::ModifyRequest:
    case TOperationTag::AddRequest:
    case TOperationTag::DelRequest:
    case TOperationTag::ModifyDNRequest:
        return TUpdateRequest{static_cast<TOperationTag>(op.Tag)};
    default:
        return TOtherRequest{};
    }
}

// INTEGER content, shortest two's-complement form.
std::string IntegerOctets(std::uint32_t value)
{
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    if ((static_cast<unsigned char>(out[0]) & 0x80) != 0)
        out.insert(out.begin(), '\0');
    return out;
}

void EncodeSearch(const TSearchRequest& search, TASNNode& op)
{
    const int octetString = TagOf(TUniversalTag::OctetString);
    op.Children.Add(octetString, search.BaseObject);
    const std::uint32_t scope = search.Scope == TSearchScope::BaseObject    ? 0
                                : search.Scope == TSearchScope::SingleLevel ? 1
                                                                            : 2;
    op.Children.Add(TagOf(TUniversalTag::Enumerated), IntegerOctets(scope));
    op.Children.Add(TagOf(TUniversalTag::Enumerated), IntegerOctets(search.DerefAliases));
    op.Children.Add(TagOf(TUniversalTag::Integer), IntegerOctets(search.SizeLimit));
    op.Children.Add(TagOf(TUniversalTag::Integer), IntegerOctets(search.TimeLimit));
    op.Children.Add(TagOf(TUniversalTag::Boolean), search.TypesOnly ? "\xFF" : std::string_view("\x00", 1));
    EncodeFilter(search.Filter.Root, op.Children);
    TASNNode& names = op.Children.Add(TagOf(TUniversalTag::Sequence));
    for (const std::string& name : search.Attributes)
        names.Children.Add(octetString, name);
}

} // namespace

std::uint32_t NonNegativeInteger(std::string_view octets)
{
    if (octets.empty() || (static_cast<unsigned char>(octets[0]) & 0x80) != 0)
        return 0;
    std::uint64_t value = 0;
    for (const char c : octets) {
        value = (value << 8) | static_cast<unsigned char>(c);
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(value);
}

const std::string& TLdapRequest::MessageIDOctets() const
{
    if (!HasMessageID)
        throw EListIndexError(0);
    return MessageID;
}

void TLdapRequest::RequireOperation() const
{
    if (const auto* missing = std::get_if<TMissingOperation>(&Operation))
        throw EListIndexError(missing->Index);
}

std::string TLdapRequest::Encode() const
{
    TASNList tree;
    TASNNode& message = tree.Add(TagOf(TUniversalTag::Sequence));
    if (HasMessageID)
        message.Children.Add(TagOf(TUniversalTag::Integer), MessageID);
    if (std::holds_alternative<TMissingOperation>(Operation))
        return tree.Encode();
    TASNNode& op = message.Children.Add(Tag);
    if (const TSearchRequest* search = Search())
        EncodeSearch(*search, op);
    return tree.Encode();
}

TLdapRequest DecodeRequest(const TASNList& tree)
{
    TLdapRequest request;
    if (tree.Count() == 0) {
        request.Operation = TMissingOperation{0};
        return request;
    }
    const TASNList& message = tree.Items(0).Children;
    if (message.Count() > 0) {
        request.MessageID = message.Items(0).Value;
        request.HasMessageID = true;
    }
    if (message.Count() < 2) {
        request.Operation = TMissingOperation{1};
        return request;
    }
    const TASNNode& op = message.Items(1);
    request.Tag = static_cast<std::uint8_t>(op.Tag & 0xFF);
    request.Operation = DecodeOperation(op);
    return request;
}
