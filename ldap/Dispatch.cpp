#include "ldap/Dispatch.h"

#include <string>

namespace {

constexpr int kBindRequest = 0x60;
constexpr int kBindResponse = 0x61;
constexpr int kSearchRequest = 0x63;

const TASNNode& Operation(const TASNList& request) { return request.Items(0).Children.Items(1); }

}  // namespace

void SrvExecuteMessage(ILdapConnection& connection, const TSearchBranch& search) {
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

    TASNList request;
    if (size) {
        request.Decode(std::string_view(pending).substr(0, *size));
        pending.erase(0, *size);
    } else {
        request.Decode({});
    }

    if (Operation(request).Tag == kBindRequest) BindAnswer(connection, request);
    if (Operation(request).Tag == kSearchRequest && search) search(connection, request);
}

void BindAnswer(ILdapConnection& connection, const TASNList& request) {
    const std::string& messageID = request.Items(0).Children.Items(0).Value;
    TASNList answer;
    TASNNode& message = answer.Add(0x30);
    message.Children.Add(0x02, messageID);
    TASNNode& response = message.Children.Add(kBindResponse);
    response.Children.Add(0x0A, std::string_view("\x00", 1));
    response.Children.Add(0x04);
    response.Children.Add(0x04);
    connection.Write(answer.Encode());
}
