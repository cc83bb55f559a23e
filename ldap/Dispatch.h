// The LDAP side of one connection: frames, decodes and answers one message per call.
#pragma once

#include "ldap/Framing.h"
#include "ldap/LDAPASN.h"
#include "ldap/LdapRequest.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// An answer produced piece by piece, so that a connection whose client reads
// slowly never holds a whole large answer in memory.
class IAnswerSource {
public:
    virtual ~IAnswerSource() = default;
    // Appends the next encoded messages to out, stopping once out has grown by
    // at least `budget` octets or the answer is complete (a message is never
    // split). Returns false once the whole answer has been appended.
    virtual bool Next(std::string& out, std::size_t budget) = 0;
    // Entries this answer sends (for statistics).
    virtual std::size_t EntryCount() const { return 0; }
};

// What a handler needs of a connection.
class ILdapConnection {
public:
    virtual ~ILdapConnection() = default;
    // Sends the whole string.
    virtual void Write(std::string_view data) = 0;
    virtual std::string PeerIP() const = 0;
    // Ends the connection once what was written has gone out.
    virtual void Disconnect() {}
    // Bytes received but not yet handled (the framer's buffer). The transport
    // fills it before a handler runs: a handler that finds no whole message
    // there treats the peer as gone.
    virtual std::string& Pending() = 0;
    // Sends an answer as the client takes it. This default encodes it whole and
    // sends it with one Write; a connection with its own output queue pulls the
    // pieces as the socket drains.
    virtual void WriteAnswer(std::unique_ptr<IAnswerSource> answer)
    {
        std::string out;
        while (answer->Next(out, static_cast<std::size_t>(-1))) {
        }
        Write(out);
    }
};

// The search branch plugs in here.
using TSearchBranch = std::function<void(ILdapConnection&, const TLdapRequest& request)>;

// Described: bind and search answered, every other operation passed over in
// silence. Standard: Unbind also ends the connection, Compare is answered,
// changes and extended operations get their refusal; Abandon and unknown
// operations stay unanswered.
enum class TDispatchMode { Described, Standard };

// Handles exactly one message: takes the complete top-level element pending
// (none: the peer has closed), decodes it once into a typed request, answers a bind, hands a
// search to `search` (if set), and treats the rest as the mode says. Raises
// (EListIndexError, EASNDepthError, EFramingError, socket errors) when the
// connection must end.
void SrvExecuteMessage(ILdapConnection& connection, const TSearchBranch& search,
                       TDispatchMode mode = TDispatchMode::Described);

// Takes the whole message pending and decodes it. Without one (the peer
// closed) an unfinished message is dropped and the empty message (whose
// operation is missing) is given.
TLdapRequest ReadRequest(ILdapConnection& connection);

// Writes the BindResponse (success) carrying the request's message ID octets.
void BindAnswer(ILdapConnection& connection, const TLdapRequest& request);
void BindAnswer(ILdapConnection& connection, const TASNList& request);
