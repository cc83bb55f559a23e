#include "listener/TcpServer.h"

#include "ldap/LDAPASN.h"
#include "listener/EventLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

std::string BindErrorText(int error, const TBinding& binding) {
    if (error == EADDRINUSE) return "Could not bind socket. Address and port are already in use.";
    return "Could not bind socket to " + binding.IP + ":" + std::to_string(binding.Port) + ". " + ErrnoText(error);
}

// "address:port: reason", with what the reason means here where it is not plain.
std::string BindCause(const TBinding& binding, const std::string& reason, int error = 0) {
    std::string cause = binding.IP + ":" + std::to_string(binding.Port) + ": " + reason;
    if (error == EACCES && binding.Port > 0 && binding.Port < 1024)
        cause += " (ports below 1024 need root or the CAP_NET_BIND_SERVICE capability)";
    else if (error == EADDRNOTAVAIL)
        cause += " (the address is not one of this host's)";
    return cause;
}

std::string AddressText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
    return text;
}

}  // namespace

struct TTCPServer::TImpl {
    // Guards Bindings, Port and IsActive; held only briefly, so connection
    // handlers reading the statistics never wait on a running (de)activation.
    mutable std::mutex Mutex;
    std::vector<TBinding> Bindings;
    int Port = 389;
    bool IsActive = false;

    // Serialises SetActive and owns Core (replaced only under it).
    std::mutex StateMutex;
    std::unique_ptr<TServerCore> Core;
    bool StopRequested = false;  // guarded by StateMutex

    // Shared with the loops of each activation through the core.
    TOutputBudget Budget;
    std::atomic<int> Connections{0};
    std::atomic<std::uint64_t> Refused{0};
    std::atomic<int> MaxConnections{0};

    // Asks every loop to end and waits up to timeout; true when all ended (the
    // core is then released).
    bool StopLoops(std::chrono::milliseconds timeout);
    std::vector<int> OpenListeners(std::vector<TBinding>& bindings);
};

bool TTCPServer::TImpl::StopLoops(std::chrono::milliseconds timeout) {
    if (!Core) return true;
    if (!StopRequested) {
        for (auto& loop : Core->Loops) loop->RequestStop();
        StopRequested = true;
    }
    {
        std::unique_lock lock(Core->EndMutex);
        const auto all = static_cast<int>(Core->Loops.size());
        if (!Core->EndChanged.wait_for(lock, timeout, [&] { return Core->LoopsEnded >= all; })) return false;
    }
    Core->Loops.clear();  // joins the threads
    Core.reset();
    StopRequested = false;
    return true;
}

std::vector<int> TTCPServer::TImpl::OpenListeners(std::vector<TBinding>& bindings) {
    std::vector<int> sockets;
    auto fail = [&sockets](const std::string& text, const std::string& cause) {
        for (const int fd : sockets) ::close(fd);
        throw ESocketError(text, cause);
    };
    const int backlog = ListenBacklog();
    for (auto& binding : bindings) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (binding.Port < 0 || binding.Port > 65535)
            fail("Could not bind socket. Invalid port " + std::to_string(binding.Port) + ".",
                 BindCause(binding, "port out of range (0 to 65535)"));
        address.sin_port = htons(static_cast<std::uint16_t>(binding.Port));
        if (inet_pton(AF_INET, binding.IP.c_str(), &address.sin_addr) != 1)
            fail("Could not bind socket. Invalid address \"" + binding.IP + "\".", BindCause(binding, "not an IPv4 address"));
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            const int error = errno;
            fail("Could not open socket. " + ErrnoText(error), BindCause(binding, ErrnoText(error), error));
        }
        sockets.push_back(fd);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            fail(BindErrorText(error, binding), BindCause(binding, ErrnoText(error), error));
        }
        if (::listen(fd, backlog) != 0) {
            const int error = errno;
            fail("Could not listen on socket. " + ErrnoText(error), BindCause(binding, ErrnoText(error), error));
        }
        sockaddr_in bound{};
        socklen_t boundSize = sizeof bound;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) == 0) {
            binding.IP = AddressText(bound.sin_addr);
            binding.Port = ntohs(bound.sin_port);
        }
    }
    return sockets;
}

TTCPServer::TTCPServer() : FImpl(std::make_unique<TImpl>()) {}

TTCPServer::~TTCPServer() {
    try {
        SetActive(false);
    } catch (...) {
        // A handler that never returns: threads must not outlive the server, so
        // keep waiting for them.
        try {
            std::lock_guard state(FImpl->StateMutex);
            while (!FImpl->StopLoops(std::chrono::milliseconds(kTerminateWaitMs))) {
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

int TTCPServer::ConnectionCount() const { return FImpl->Connections.load(); }

std::uint64_t TTCPServer::RefusedCount() const { return FImpl->Refused.load(); }

std::size_t TTCPServer::UnsentBytes() const { return FImpl->Budget.Held.load(); }

int TTCPServer::MaxConnections() const { return FImpl->MaxConnections.load(); }

void TTCPServer::SetActive(bool value) {
    TImpl& impl = *FImpl;
    std::lock_guard state(impl.StateMutex);
    // A failed deactivation leaves the server active, so asking again retries it.
    if (value == Active()) return;

    if (!value) {
        if (!impl.StopLoops(std::chrono::milliseconds(kTerminateWaitMs)))
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
    const long descriptors = Limits.RaiseDescriptorLimit ? RaiseDescriptorLimit() : DescriptorLimit();
    std::vector<int> sockets = impl.OpenListeners(bindings);

    auto core = std::make_unique<TServerCore>(impl.Budget, impl.Connections, impl.Refused);
    core->Connect = OnConnect;
    core->Execute = OnExecute;
    core->Disconnect = OnDisconnect;
    core->Error = OnError;
    core->Limits = Limits;
    if (core->Limits.MaxConnections <= 0) core->Limits.MaxConnections = DefaultMaxConnections(descriptors);
    core->Limits.IncompleteMessageMs = std::max(1, core->Limits.IncompleteMessageMs);
    core->Limits.WriteTimeoutMs = std::max(1, core->Limits.WriteTimeoutMs);
    impl.Budget.PerConnection = std::max<std::size_t>(Limits.ConnectionOutputBytes, 4096);
    impl.Budget.Total = std::max(Limits.TotalOutputBytes, impl.Budget.PerConnection);
    try {
        const int threads = LoopThreadCount(Limits.Threads);
        for (int i = 0; i < threads; ++i) core->Loops.push_back(std::make_unique<TEventLoop>(*core, i));
    } catch (const ESocketError&) {
        for (const int fd : sockets) ::close(fd);
        throw;
    }
    core->Loops.front()->SetListeners(std::move(sockets));
    impl.MaxConnections = core->Limits.MaxConnections;
    impl.Core = std::move(core);
    impl.StopRequested = false;
    try {
        for (auto& loop : impl.Core->Loops) loop->Start();
    } catch (const std::system_error& e) {
        // Loops that never started count as ended; the started ones stop.
        {
            std::lock_guard lock(impl.Core->EndMutex);
            for (auto& loop : impl.Core->Loops)
                if (!loop->Started()) ++impl.Core->LoopsEnded;
        }
        impl.StopLoops(std::chrono::milliseconds(kTerminateWaitMs));
        throw ESocketError(std::string("Could not start listener thread. ") + e.what());
    }

    std::lock_guard lock(impl.Mutex);
    impl.Bindings = std::move(bindings);
    impl.IsActive = true;
}
