// One accepted connection as its handlers see it. It lives on one event-loop
// thread, which runs its handlers, reads into Pending() and sends what the
// handlers write as the socket takes it.
#pragma once

#include "ldap/Dispatch.h"
#include "listener/OutputQueue.h"
#include "listener/TlsSession.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

// Socket failures (bind, listen, read, write) and the deactivation timeout.
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // cause: where and why, for the line after a fixed message
    // ("127.0.0.1:389: Address already in use").
    ESocketError(const std::string& text, std::string cause) : std::runtime_error(text), FCause(std::move(cause)) {}
    // Empty when the text says it all.
    const std::string& Cause() const { return FCause; }

private:
    std::string FCause;
};

class TTlsContext;

class TConnection final : public ILdapConnection {
public:
    // fd: a connected, non-blocking socket, owned from now on.
    TConnection(int fd, std::string peerIP, TOutputBudget& budget);
    ~TConnection() override;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Queues the octets after everything written before and sends what the
    // socket takes now; the loop sends the rest. Raises ESocketError once the
    // connection has failed.
    void Write(std::string_view data) override;
    // Pulls the answer's pieces as the socket drains, holding at most the
    // connection's share of unsent octets.
    void WriteAnswer(std::unique_ptr<IAnswerSource> answer) override;
    std::string PeerIP() const override;
    std::string& Pending() override;

    // Whether the connection is encrypted (LDAPS, or after StartTLS).
    bool Secure() const { return FTls != nullptr && FTls->Established(); }
    // Whether the server has a certificate, so that StartTLS can be granted.
    bool TlsAvailable() const { return FTlsContext != nullptr; }
    // Grants StartTLS: once everything written so far has gone out in clear,
    // the connection reads nothing else until the handshake is done. Call only
    // when TlsAvailable() and nothing further is pending.
    void StartTls() { FStartTlsWanted = true; }
    bool StartTlsWanted() const { return FStartTlsWanted; }

    // Ends the connection soon; safe from any thread.
    void Disconnect() override;
    // False once the peer has closed, a socket error was met or Disconnect ran.
    bool Connected() const;

    static constexpr std::size_t kReadChunk = 32768;
    static constexpr std::size_t kProgressOctets = 16 * 1024;

private:
    friend class TEventLoop;
    using TClock = std::chrono::steady_clock;

    // Sends what the socket takes, refilling from a pending answer source;
    // false on a socket error. Exceptions of the source propagate.
    bool Flush();
    // Releases the descriptor at once (the connection has ended).
    void CloseSocket();
    // Flush for an encrypted connection.
    bool FlushTls();

    // FSocketLock guards FSocket against Disconnect from other threads; only
    // the owning loop thread changes it (closing), so that thread reads it
    // without the lock.
    mutable std::mutex FSocketLock;
    int FSocket;
    const std::string FPeerIP;
    // The rest is used by the owning loop thread only.
    std::string FPending;
    TOutputQueue FOutput;
    // Unsent octets last began waiting, drained or moved by kProgressOctets;
    // a trickle below that does not keep a blocked connection alive.
    TClock::time_point FLastProgress;
    std::size_t FMovedSinceProgress = 0;
    bool FLargeAnswer = false;         // a large answer passed since the loop last looked
    // Null on plain connections; set by the loop (accepted on a TLS binding, or
    // when a granted StartTLS begins).
    std::unique_ptr<TTlsSession> FTls;
    const TTlsContext* FTlsContext = nullptr;  // the activation's, which outlives it
    bool FStartTlsWanted = false;
    std::atomic<bool> FConnected{true};
};
