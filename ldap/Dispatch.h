// The LDAP side of one connection: frames, decodes and answers one message per call.
#pragma once

#include "ldap/Framing.h"
#include "ldap/LDAPASN.h"

#include <functional>
#include <string>
#include <string_view>

// What a handler needs of a connection.
class ILdapConnection {
public:
    virtual ~ILdapConnection() = default;
    // Waits for data and receives once; "" when the peer has closed.
    virtual std::string ReadAll() = 0;
    // Sends the whole string.
    virtual void Write(std::string_view data) = 0;
    virtual std::string PeerIP() const = 0;
    // Bytes received but not yet handled (the framer's buffer).
    virtual std::string& Pending() = 0;
};

// The search branch plugs in here (tag 0x63).
using TSearchBranch = std::function<void(ILdapConnection&, const TASNList& request)>;

// Handles exactly one message: reads until one complete top-level element is
// pending, decodes it, answers a bind, hands a search to `search` (if set), and
// passes every other operation over. Raises (EListIndexError, EASNDepthError,
// EFramingError, socket errors) when the connection must end.
void SrvExecuteMessage(ILdapConnection& connection, const TSearchBranch& search);

// Writes the BindResponse (success) carrying the request's message ID octets.
void BindAnswer(ILdapConnection& connection, const TASNList& request);
