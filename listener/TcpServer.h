// The listener `Srv`: bindings, one listener thread per binding, one thread per
// accepted connection running connect / repeated execute / disconnect.
#pragma once

#include "ldap/Dispatch.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Socket failures (bind, listen, read, write) and the deactivation timeout.
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TBinding {
    std::string IP;  // dotted text; "0.0.0.0" stands for all interfaces
    int Port = 0;
};

// One accepted connection, handed to the event handlers on its own thread.
class TConnection final : public ILdapConnection {
public:
    TConnection(int fd, std::string peerIP);
    ~TConnection() override;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // One receive of at most kReadChunk bytes; "" once the peer has closed.
    // Raises ESocketError on a socket error.
    std::string ReadAll() override;
    void Write(std::string_view data) override;
    std::string PeerIP() const override;
    std::string& Pending() override;

    // Wakes a blocked ReadAll or Write so that the thread ends; safe from any thread.
    void Disconnect();
    // False once the peer has closed, a socket error was met or Disconnect ran.
    bool Connected() const;

    static constexpr std::size_t kReadChunk = 32768;

private:
    const int FSocket;  // closed only by the destructor, after the thread has ended
    const std::string FPeerIP;
    std::string FPending;  // used by the connection's own thread only
    std::atomic<bool> FConnected{true};
};

class TTCPServer {
public:
    using TConnectionEvent = std::function<void(TConnection&)>;

    TTCPServer();
    // Deactivates; should a handler never return, keeps waiting for it, as no
    // connection thread may outlive the server.
    ~TTCPServer();
    TTCPServer(const TTCPServer&) = delete;
    TTCPServer& operator=(const TTCPServer&) = delete;

    // Set before activation (they are copied then); run on each connection's own
    // thread. An exception escaping one ends that connection only.
    TConnectionEvent OnConnect;
    TConnectionEvent OnExecute;
    TConnectionEvent OnDisconnect;

    // Default 389; the port of the all-interfaces binding and of SetBindings.
    int DefaultPort() const;
    void SetDefaultPort(int port);

    // Bindings may be changed while inactive only (raises ESocketError otherwise).
    void ClearBindings();
    void AddBinding(const std::string& ip, int port);
    int BindingCount() const;
    // After activation each binding holds the address and port actually bound, so
    // a binding at port 0 reads back the port the system chose.
    TBinding Binding(int index) const;  // raises EListIndexError outside the range

    bool Active() const;
    // true: bind and listen on every binding (0.0.0.0 at the default port when
    // there is none); a failure releases every socket opened and raises
    // ESocketError, leaving the server inactive.
    // false: closes the listeners, disconnects every connection and waits up to
    // kTerminateWaitMs for their threads; raises ESocketError and stays active
    // when some remain.
    void SetActive(bool value);

    static constexpr int kListenBacklog = 15;
    static constexpr int kTerminateWaitMs = 5000;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
