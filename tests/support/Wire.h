// Loopback client and byte helpers for tests that talk to a listener on the wire.
#pragma once

#include "ldap/Dispatch.h"
#include "listener/TcpServer.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace wire {

// "30 0C 02 01" -> the octets; blanks (and line breaks) between pairs are optional.
// Raises std::invalid_argument on anything that is not a hex pair.
std::string Hex(std::string_view text);
// The octets as upper-case pairs separated by blanks, for readable failures.
std::string ToHex(std::string_view bytes);

// One TCP client connected to 127.0.0.1 (or host) at port. Every wait is bounded
// by its timeout so that a broken server fails the test instead of hanging it.
class TWireClient {
public:
    explicit TWireClient(int port, const std::string& host = "127.0.0.1");
    ~TWireClient();
    TWireClient(const TWireClient&) = delete;
    TWireClient& operator=(const TWireClient&) = delete;

    // Sends everything; raises std::runtime_error on failure.
    void Send(std::string_view bytes);
    // Reads until n octets arrived, the peer closed or timeoutMs passed; returns
    // what arrived (shorter than n on close or timeout).
    std::string ReadExactly(std::size_t n, int timeoutMs = 5000);
    // Waits up to timeoutMs for the peer to close (recv returns 0, or a reset).
    // Octets that arrive meanwhile are appended to *received when given.
    bool PeerClosed(int timeoutMs = 5000, std::string* received = nullptr);
    // Closes the client's side.
    void Close();
    int Socket() const { return FSocket; }

private:
    int FSocket = -1;
};

// Starts server on 127.0.0.1, port 0, with OnExecute wired to SrvExecuteMessage
// (and search, if given); returns the port the system chose. Handlers already
// set for connect and disconnect are kept.
int StartLdapServer(TTCPServer& server, TSearchBranch search = {});

// One BER element: tag, the shortest length form, content.
std::string Tlv(int tag, std::string_view content);

// Messages met by many tests.
std::string BindRequest(std::string_view messageIDOctets, std::string_view name = "");
// The exact success answer to a bind; for message IDs shorter than 117 octets.
std::string BindResponse(std::string_view messageIDOctets);

}  // namespace wire
