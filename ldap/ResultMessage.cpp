#include "ldap/ResultMessage.h"

#include "ldap/LDAPASN.h"

std::string ResultMessage(std::string_view messageID, TOperationTag response, TResultCode code,
                          std::string_view errorMessage, std::string_view responseName)
{
    TASNList answer;
    TASNNode& message = answer.Add(TagOf(TUniversalTag::Sequence));
    message.Children.Add(TagOf(TUniversalTag::Integer), messageID);
    TASNNode& result = message.Children.Add(TagOf(response));
    const char octet = static_cast<char>(code);
    result.Children.Add(TagOf(TUniversalTag::Enumerated), std::string_view(&octet, 1));
    result.Children.Add(TagOf(TUniversalTag::OctetString));
    result.Children.Add(TagOf(TUniversalTag::OctetString), errorMessage);
    if (!responseName.empty()) result.Children.Add(TagOf(TExtendedTag::ResponseName), responseName);
    return answer.Encode();
}
