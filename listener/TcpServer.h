// The listener `Srv`: bindings, and a few event-loop threads (one per core)
// that accept, read, run each connection's connect / execute / disconnect
// handlers and write its answers as the socket takes them.
#pragma once

#include "listener/AllowList.h"
#include "listener/Connection.h"
#include "listener/Limits.h"
#include "listener/TlsContext.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TBinding {
    // Dotted IPv4 or IPv6 text; "0.0.0.0" stands for all interfaces, IPv4 and
    // IPv6 alike (one dual-stack socket where the system has IPv6).
    std::string IP;
    int Port = 0;
    bool Tls = false;  // LDAPS: clients speak TLS from the first octet
    // Two bindings that compare equal listen on the same socket.
    bool operator==(const TBinding&) const = default;
};

class TTCPServer {
public:
    using TConnectionEvent = std::function<void(TConnection&)>;
    using TErrorEvent = std::function<void(const std::string& text)>;

    TTCPServer();
    // Deactivates; should a handler never return, keeps waiting for it, as no
    // loop thread may outlive the server.
    ~TTCPServer();
    TTCPServer(const TTCPServer&) = delete;
    TTCPServer& operator=(const TTCPServer&) = delete;

    // Set before activation (they are copied then). Each connection lives on
    // one loop thread, which runs its connect handler once, its execute handler
    // once per whole message pending in Pending(), then its disconnect handler
    // once; a handler holds up the other connections of its thread, so it must
    // not wait for long. An exception escaping one ends that connection only.
    TConnectionEvent OnConnect;
    TConnectionEvent OnExecute;
    TConnectionEvent OnDisconnect;
    // Conditions the service should log as errors: accepting paused for want
    // of descriptors, connections refused over the cap. Once per episode, on a
    // loop thread; must not wait for long.
    TErrorEvent OnError;
    // Read at activation.
    TListenerLimits Limits;
    // Read at activation. The certificate and key for TLS bindings and for
    // StartTLS; null: neither (a TLS binding then fails the activation).
    std::shared_ptr<const TTlsContext> Tls;
    // Read at activation. Clients from elsewhere are closed at accept, counted
    // (DeniedCount) and reported through OnError; empty: everyone.
    TAllowList AllowFrom;

    // Default 389; the port of the all-interfaces binding and of SetBindings.
    int DefaultPort() const;
    void SetDefaultPort(int port);

    // Bindings may be changed while inactive only (raises ESocketError otherwise).
    void ClearBindings();
    void AddBinding(const std::string& ip, int port, bool tls = false);
    int BindingCount() const;
    // After activation each binding holds the address and port actually bound, so
    // a binding at port 0 reads back the port the system chose.
    TBinding Binding(int index) const;  // raises EListIndexError outside the range

    bool Active() const;
    // true: bind and listen on every binding (0.0.0.0 at the default port when
    // there is none); a failure releases every socket opened and raises
    // ESocketError, leaving the server inactive.
    // false: closes the listeners, ends every connection (each gets its
    // disconnect event) and waits up to kTerminateWaitMs for the loop threads;
    // raises ESocketError and stays active when some remain.
    void SetActive(bool value);

    // Connections open now, and connections closed at once over the cap since
    // the server was made.
    int ConnectionCount() const;
    std::uint64_t RefusedCount() const;
    // Connections closed at accept because their address is not allowed.
    std::uint64_t DeniedCount() const;
    // The connection cap in force (resolved at activation; 0 before).
    int MaxConnections() const;
    // Answer octets queued and not yet taken by the sockets, all connections
    // (and the share each TLS handshake under way holds).
    std::size_t UnsentBytes() const;

    // Listens on exactly these bindings (0.0.0.0 at the default port when
    // there is none). Inactive: replaces the bindings. Active: opens only the
    // bindings not listened on yet and closes only those no longer wanted;
    // the other listening sockets and every connection stay. A binding that
    // cannot be opened raises ESocketError and changes nothing.
    void Rebind(std::vector<TBinding> wanted);
    // Replaces Tls and AllowFrom; an active server applies them to the
    // connections it accepts from now on (open ones keep theirs).
    void SetSecurity(std::shared_ptr<const TTlsContext> tls, TAllowList allow);

    // How many times each event loop has gone round (empty while inactive),
    // and a nudge that makes each loop go round once: a loop whose count does
    // not move after a nudge is stuck.
    std::vector<std::uint64_t> LoopTurns() const;
    void WakeLoops() const;

    static constexpr int kTerminateWaitMs = 5000;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
