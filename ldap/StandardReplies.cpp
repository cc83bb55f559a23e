#include "ldap/StandardReplies.h"

#include "config/AsciiText.h"
#include "directory/PublishedDirectory.h"
#include "ldap/ResultMessage.h"
#include "ldap/StandardEntry.h"

namespace {

TOperationTag ResponseTo(TOperationTag request)
{
    switch (request) {
    case TOperationTag::ModifyRequest:
        return TOperationTag::ModifyResponse;
    case TOperationTag::AddRequest:
        return TOperationTag::AddResponse;
    case TOperationTag::DelRequest:
        return TOperationTag::DelResponse;
    case TOperationTag::ModifyDNRequest:
        return TOperationTag::ModifyDNResponse;
    default:
        return TOperationTag::ExtendedResponse;
    }
}

TResultCode Compared(const TCompareRequest& compare)
{
    if (!compare.Complete)
        return TResultCode::ProtocolError;
    const TUserListSnapshot list = CurrentUserList();
    const int index = list && list->Count() > 0 ? FindEntryByDN(*list, compare.Entry) : -1;
    if (index < 0)
        return TResultCode::NoSuchObject;
    const std::string wanted = UpperASCII(compare.Value);
    for (const TStandardAttribute& attribute : StandardAttributes(*list, index)) {
        if (!SameTextASCII(attribute.Type, compare.Type))
            continue;
        for (const std::string& value : attribute.Values)
            if (UpperASCII(value) == wanted)
                return TResultCode::CompareTrue;
    }
    return TResultCode::CompareFalse;
}

} // namespace

std::string CompareAnswer(const TLdapRequest& request, const TCompareRequest& compare)
{
    return ResultMessage(request.MessageIDOctets(), TOperationTag::CompareResponse, Compared(compare));
}

std::string RefusalAnswer(const TLdapRequest& request, const TUpdateRequest& update)
{
    return ResultMessage(request.MessageIDOctets(), ResponseTo(update.Tag), TResultCode::UnwillingToPerform,
                         "The directory is read-only");
}

std::string ExtendedAnswer(const TLdapRequest& request, const TExtendedRequest&)
{
    return ResultMessage(request.MessageIDOctets(), TOperationTag::ExtendedResponse, TResultCode::ProtocolError,
                         "Unsupported extended operation");
}
