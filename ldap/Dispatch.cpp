#include "ldap/Dispatch.h"

#include "ldap/StandardReplies.h"

#include <optional>
#include <string>
#include <type_traits>
#include <variant>

namespace {

// What the decoding tree of one thread may keep between messages.
constexpr std::size_t kKeptTreeOctets = 64 * 1024;

} // namespace

TLdapRequest ReadRequest(ILdapConnection& connection)
{
    std::string& pending = connection.Pending();
    const std::optional<std::size_t> size = FrameSize(pending);
    // Each thread decodes into one tree, over and over: a request like the
    // ones before it costs no allocation for its elements. What the tree has
    // taken is counted, and past the bound it starts afresh.
    thread_local TASNList tree;
    thread_local std::size_t kept = 0;
    if (size) {
        try {
            kept += tree.Decode(std::string_view(pending).substr(0, *size));
        } catch (...) {
            // What a refused message left behind is not counted: let it go.
            tree = TASNList();
            kept = 0;
            throw;
        }
        pending.erase(0, *size);
    } else {
        // Peer closed: an unfinished message is dropped, and the empty message
        // ends the connection through the missing element.
        pending.clear();
        tree.Decode({});
    }
    TLdapRequest request = DecodeRequest(tree);
    if (kept > kKeptTreeOctets) {
        tree = TASNList();
        kept = 0;
    }
    return request;
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
