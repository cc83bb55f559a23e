#include "ldap/Dispatch.h"

#include <string>
#include <type_traits>
#include <variant>

TLdapRequest ReadRequest(ILdapConnection& connection)
{
    std::string& pending = connection.Pending();
    // Pending never grows past one capped message plus one read: the cap is
    // checked before every further read.
    std::optional<std::size_t> size = FrameSize(pending);
    while (!size) {
        std::string data = connection.ReadAll();
        if (data.empty()) {
            // Peer closed: an unfinished message is dropped, and the empty message
            // ends the connection through the missing element.
            pending.clear();
            break;
        }
        pending += data;
        size = FrameSize(pending);
    }

    TASNList tree;
    if (size) {
        tree.Decode(std::string_view(pending).substr(0, *size));
        pending.erase(0, *size);
    }
    return DecodeRequest(tree);
}

void SrvExecuteMessage(ILdapConnection& connection, const TSearchBranch& search)
{
    const TLdapRequest request = ReadRequest(connection);
    request.RequireOperation();
    std::visit(
        [&](const auto& operation) {
            using T = std::decay_t<decltype(operation)>;
            if constexpr (std::is_same_v<T, TBindRequest>) {
                BindAnswer(connection, request);
            } else if constexpr (std::is_same_v<T, TSearchRequest>) {
                if (search)
                    search(connection, request);
            } else {
                // Every other operation is passed over in silence.
            }
        },
        request.Operation);
}

void BindAnswer(ILdapConnection& connection, const TLdapRequest& request)
{
    TASNList answer;
    TASNNode& message = answer.Add(TagOf(TUniversalTag::Sequence));
    message.Children.Add(TagOf(TUniversalTag::Integer), request.MessageIDOctets());
    TASNNode& response = message.Children.Add(TagOf(TOperationTag::BindResponse));
    response.Children.Add(TagOf(TUniversalTag::Enumerated), std::string_view("\x00", 1));
    response.Children.Add(TagOf(TUniversalTag::OctetString));
    response.Children.Add(TagOf(TUniversalTag::OctetString));
    connection.Write(answer.Encode());
}

void BindAnswer(ILdapConnection& connection, const TASNList& request)
{
    BindAnswer(connection, DecodeRequest(request));
}
