// The LDAP messages around encryption: the StartTLS extended request and its
// response, and the answer to a search that must wait for encryption.
#pragma once

#include "ldap/LdapTags.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kStartTlsOID = "1.3.6.1.4.1.1466.20037";

// The message ID octets when `message` (one whole message) is an
// ExtendedRequest naming StartTLS; nullopt for anything else, malformed
// messages included (they go their usual way). Looks no further than the
// operation's tag unless it is an extended request.
std::optional<std::string> StartTlsMessageID(std::string_view message);

// ExtendedResponse carrying the StartTLS name, for the given message ID octets.
std::string StartTlsResponse(const std::string& messageID, TResultCode resultCode,
                             std::string_view diagnostic = {});

// SearchResultDone with resultCode 13 (confidentialityRequired).
std::string ConfidentialityRequiredDone(const std::string& messageID);
