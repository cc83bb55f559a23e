#include "ldap/TlsMessages.h"

#include "ldap/LDAPASN.h"
#include "ldap/ResultMessage.h"

#include <exception>

namespace {

constexpr int kExtendedRequest = TagOf(TOperationTag::ExtendedRequest);

// Skips one element header at pos; false when it does not fit.
bool SkipHeader(std::string_view data, std::size_t& pos, std::size_t& length) {
    if (pos + 2 > data.size()) return false;
    const auto first = static_cast<unsigned char>(data[pos + 1]);
    pos += 2;
    if (first < 0x80) {
        length = first;
        return true;
    }
    const std::size_t octets = first & 0x7f;
    if (octets > 4 || pos + octets > data.size()) return false;
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) length = length << 8 | static_cast<unsigned char>(data[pos + i]);
    pos += octets;
    return true;
}

}  // namespace

std::optional<std::string> StartTlsMessageID(std::string_view message) {
    std::size_t pos = 0;
    std::size_t length = 0;
    if (!SkipHeader(message, pos, length)) return std::nullopt;  // the message
    if (!SkipHeader(message, pos, length) || pos + length >= message.size()) return std::nullopt;  // its ID
    if (static_cast<unsigned char>(message[pos + length]) != kExtendedRequest) return std::nullopt;
    try {
        TASNList request;
        request.Decode(message);
        const TASNNode& operation = request.Items(0).Children.Items(1);
        const TASNNode& name = operation.Children.Items(0);
        if (operation.Tag != kExtendedRequest || name.Tag != TagOf(TExtendedTag::RequestName) || name.Value != kStartTlsOID)
            return std::nullopt;
        return request.Items(0).Children.Items(0).Value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string StartTlsResponse(const std::string& messageID, TResultCode resultCode, std::string_view diagnostic) {
    return ResultMessage(messageID, TOperationTag::ExtendedResponse, resultCode, diagnostic, kStartTlsOID);
}

std::string ConfidentialityRequiredDone(const std::string& messageID) {
    return ResultMessage(messageID, TOperationTag::SearchResultDone, TResultCode::ConfidentialityRequired,
                         "Encryption required: use LDAPS or StartTLS first");
}
