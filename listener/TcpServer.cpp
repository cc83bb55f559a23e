#include "listener/TcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

std::string BindErrorText(int error, const TBinding& binding) {
    if (error == EADDRINUSE) return "Could not bind socket. Address and port are already in use.";
    return "Could not bind socket to " + binding.IP + ":" + std::to_string(binding.Port) + ". " + ErrnoText(error);
}

std::string AddressText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
    return text;
}

void CloseSocket(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace

// ---------------------------------------------------------------- TConnection

TConnection::TConnection(int fd, std::string peerIP) : FSocket(fd), FPeerIP(std::move(peerIP)) {}

TConnection::~TConnection() { CloseSocket(FSocket); }

std::string TConnection::ReadAll() {
    std::string data(kReadChunk, '\0');
    for (;;) {
        const ssize_t received = ::recv(FSocket, data.data(), data.size(), 0);
        if (received > 0) {
            data.resize(static_cast<std::size_t>(received));
            return data;
        }
        if (received == 0) {
            FConnected = false;
            return {};
        }
        if (errno == EINTR) continue;
        const int error = errno;
        FConnected = false;
        throw ESocketError("Socket error on read: " + ErrnoText(error));
    }
}

void TConnection::Write(std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(FSocket, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) continue;
        const int error = errno;
        FConnected = false;
        throw ESocketError("Socket error on write: " + ErrnoText(error));
    }
}

std::string TConnection::PeerIP() const { return FPeerIP; }

std::string& TConnection::Pending() { return FPending; }

void TConnection::Disconnect() {
    FConnected = false;
    ::shutdown(FSocket, SHUT_RDWR);
}

bool TConnection::Connected() const { return FConnected; }

// ----------------------------------------------------------------- TTCPServer

struct TTCPServer::TImpl {
    struct TListener {
        int Socket = -1;
        std::thread Thread;
    };
    struct TClient {
        std::unique_ptr<TConnection> Connection;
        std::thread Thread;
        bool Done = false;  // guarded by ClientMutex
    };
    struct THandlers {
        TConnectionEvent Connect, Execute, Disconnect;
    };

    // Guards Bindings, Port and IsActive; held only briefly, so connection
    // threads reading the statistics never wait on a running (de)activation.
    mutable std::mutex Mutex;
    std::vector<TBinding> Bindings;
    int Port = 389;
    bool IsActive = false;

    // Serialises SetActive; owns Listeners and Handlers (written only under it,
    // read by listener and connection threads started after the write).
    std::mutex StateMutex;
    std::vector<TListener> Listeners;
    THandlers Handlers;

    // Guards Clients and every TClient::Done.
    std::mutex ClientMutex;
    std::condition_variable ClientDone;
    std::list<TClient> Clients;

    void Listen(int listenSocket);
    void Serve(TClient& client);
    void ReapFinished();
    void StopListeners();
    // Disconnects every connection and waits up to timeout; true when all ended.
    bool EndConnections(std::chrono::milliseconds timeout);
};

void TTCPServer::TImpl::Listen(int listenSocket) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerSize = sizeof peer;
        const int fd = ::accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED || error == EPROTO) continue;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                // Out of resources: give running connections a moment to end.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            return;  // shut down (EINVAL) or closed: the server is deactivating
        }
        ReapFinished();
        std::lock_guard lock(ClientMutex);
        TClient& client = Clients.emplace_back();
        client.Connection = std::make_unique<TConnection>(fd, AddressText(peer.sin_addr));
        try {
            client.Thread = std::thread([this, &client] { Serve(client); });
        } catch (const std::system_error&) {
            Clients.pop_back();  // no thread: the connection is simply closed
        }
    }
}

void TTCPServer::TImpl::Serve(TClient& client) {
    TConnection& connection = *client.Connection;
    try {
        if (Handlers.Connect) Handlers.Connect(connection);
        while (connection.Connected()) {
            if (Handlers.Execute)
                Handlers.Execute(connection);
            else
                connection.ReadAll();
        }
    } catch (...) {
        // Any failure ends this connection only, quietly.
    }
    connection.Disconnect();
    try {
        if (Handlers.Disconnect) Handlers.Disconnect(connection);
    } catch (...) {
    }
    std::lock_guard lock(ClientMutex);
    client.Done = true;
    ClientDone.notify_all();
}

void TTCPServer::TImpl::ReapFinished() {
    std::list<TClient> finished;
    {
        std::lock_guard lock(ClientMutex);
        for (auto it = Clients.begin(); it != Clients.end();) {
            auto next = std::next(it);
            if (it->Done) finished.splice(finished.end(), Clients, it);
            it = next;
        }
    }
    for (auto& client : finished) client.Thread.join();
}

void TTCPServer::TImpl::StopListeners() {
    // shutdown wakes a blocked accept; the socket is closed only after its thread
    // has ended so that its number cannot be reused under it.
    for (auto& listener : Listeners) ::shutdown(listener.Socket, SHUT_RDWR);
    for (auto& listener : Listeners) {
        if (listener.Thread.joinable()) listener.Thread.join();
        CloseSocket(listener.Socket);
    }
    Listeners.clear();
}

bool TTCPServer::TImpl::EndConnections(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool allDone = false;
    {
        std::unique_lock lock(ClientMutex);
        for (auto& client : Clients) client.Connection->Disconnect();
        allDone = ClientDone.wait_until(lock, deadline, [this] {
            for (const auto& client : Clients)
                if (!client.Done) return false;
            return true;
        });
    }
    ReapFinished();
    return allDone;
}

TTCPServer::TTCPServer() : FImpl(std::make_unique<TImpl>()) {}

TTCPServer::~TTCPServer() {
    try {
        SetActive(false);
    } catch (...) {
        // A handler that never returns: threads must not outlive the server, so
        // keep disconnecting and waiting for them.
        try {
            std::lock_guard state(FImpl->StateMutex);
            while (!FImpl->EndConnections(std::chrono::milliseconds(kTerminateWaitMs))) {
            }
        } catch (...) {
        }
    }
}

int TTCPServer::DefaultPort() const {
    std::lock_guard lock(FImpl->Mutex);
    return FImpl->Port;
}

void TTCPServer::SetDefaultPort(int port) {
    std::lock_guard lock(FImpl->Mutex);
    FImpl->Port = port;
}

void TTCPServer::ClearBindings() {
    std::lock_guard lock(FImpl->Mutex);
    if (FImpl->IsActive) throw ESocketError("Cannot change the bindings of an active server");
    FImpl->Bindings.clear();
}

void TTCPServer::AddBinding(const std::string& ip, int port) {
    std::lock_guard lock(FImpl->Mutex);
    if (FImpl->IsActive) throw ESocketError("Cannot change the bindings of an active server");
    FImpl->Bindings.push_back(TBinding{ip, port});
}

int TTCPServer::BindingCount() const {
    std::lock_guard lock(FImpl->Mutex);
    return static_cast<int>(FImpl->Bindings.size());
}

TBinding TTCPServer::Binding(int index) const {
    std::lock_guard lock(FImpl->Mutex);
    if (index < 0 || index >= static_cast<int>(FImpl->Bindings.size())) throw EListIndexError(index);
    return FImpl->Bindings[static_cast<std::size_t>(index)];
}

bool TTCPServer::Active() const {
    std::lock_guard lock(FImpl->Mutex);
    return FImpl->IsActive;
}

void TTCPServer::SetActive(bool value) {
    TImpl& impl = *FImpl;
    std::lock_guard state(impl.StateMutex);
    // A failed deactivation leaves the server active, so asking again retries it.
    if (value == Active()) return;

    if (!value) {
        impl.StopListeners();
        if (!impl.EndConnections(std::chrono::milliseconds(kTerminateWaitMs)))
            throw ESocketError("Connection threads did not end within " + std::to_string(kTerminateWaitMs) +
                               " ms");
        std::lock_guard lock(impl.Mutex);
        impl.IsActive = false;
        return;
    }

    std::vector<TBinding> bindings;
    {
        std::lock_guard lock(impl.Mutex);
        if (impl.Bindings.empty()) impl.Bindings.push_back(TBinding{"0.0.0.0", impl.Port});
        bindings = impl.Bindings;
    }

    std::vector<int> sockets;
    auto release = [&sockets] {
        for (const int fd : sockets) CloseSocket(fd);
        sockets.clear();
    };
    for (auto& binding : bindings) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (binding.Port < 0 || binding.Port > 65535) {
            release();
            throw ESocketError("Could not bind socket. Invalid port " + std::to_string(binding.Port) + ".");
        }
        address.sin_port = htons(static_cast<std::uint16_t>(binding.Port));
        if (inet_pton(AF_INET, binding.IP.c_str(), &address.sin_addr) != 1) {
            release();
            throw ESocketError("Could not bind socket. Invalid address \"" + binding.IP + "\".");
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            const int error = errno;
            release();
            throw ESocketError("Could not open socket. " + ErrnoText(error));
        }
        sockets.push_back(fd);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            release();
            throw ESocketError(BindErrorText(error, binding));
        }
        if (::listen(fd, kListenBacklog) != 0) {
            const int error = errno;
            release();
            throw ESocketError("Could not listen on socket. " + ErrnoText(error));
        }
        sockaddr_in bound{};
        socklen_t boundSize = sizeof bound;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) == 0) {
            binding.IP = AddressText(bound.sin_addr);
            binding.Port = ntohs(bound.sin_port);
        }
    }

    impl.Handlers = TImpl::THandlers{OnConnect, OnExecute, OnDisconnect};
    try {
        for (const int fd : sockets) {
            TImpl::TListener& listener = impl.Listeners.emplace_back();
            listener.Socket = fd;
            listener.Thread = std::thread([&impl, fd] { impl.Listen(fd); });
        }
    } catch (const std::system_error& e) {
        // Sockets whose listener did not start are still only in `sockets`.
        for (const auto& listener : impl.Listeners) std::erase(sockets, listener.Socket);
        impl.StopListeners();
        release();
        impl.EndConnections(std::chrono::milliseconds(kTerminateWaitMs));
        throw ESocketError(std::string("Could not start listener thread. ") + e.what());
    }

    std::lock_guard lock(impl.Mutex);
    impl.Bindings = std::move(bindings);
    impl.IsActive = true;
}
