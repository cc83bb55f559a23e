#include "ldap/Dispatch.h"

#include "ldap/StandardReplies.h"

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

void SrvExecuteMessage(ILdapConnection& connection, const TSearchBranch& search, TDispatchMode mode)
{
    const TLdapRequest request = ReadRequest(connection);
    request.RequireOperation();
    const bool standard = mode == TDispatchMode::Standard;
    std::visit(
        [&](const auto& operation) {
            using T = std::decay_t<decltype(operation)>;
            if constexpr (std::is_same_v<T, TBindRequest>) {
                BindAnswer(connection, request);
            } else if constexpr (std::is_same_v<T, TSearchRequest>) {
                if (search)
                    search(connection, request);
            } else if constexpr (std::is_same_v<T, TUnbindRequest>) {
                if (standard)
                    connection.Disconnect();
            } else if constexpr (std::is_same_v<T, TCompareRequest>) {
                if (standard)
                    connection.Write(CompareAnswer(request, operation));
            } else if constexpr (std::is_same_v<T, TUpdateRequest>) {
                if (standard)
                    connection.Write(RefusalAnswer(request, operation));
            } else if constexpr (std::is_same_v<T, TExtendedRequest>) {
                if (standard)
                    connection.Write(ExtendedAnswer(request, operation));
            } else {
                // Abandon, unknown operations, and in the described mode all
                // of the above: passed over in silence.
                static_assert(std::is_same_v<T, TAbandonRequest> || std::is_same_v<T, TOtherRequest> ||
                              std::is_same_v<T, TMissingOperation>);
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
