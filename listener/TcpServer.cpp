#include "listener/TcpServer.h"

#include "ldap/LDAPASN.h"
#include "listener/EventLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
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

// An address of a binding in whichever family it is written; IPv6 may stand
// in brackets. False when it is neither.
bool ParseAddress(std::string text, sockaddr_storage& address, socklen_t& size) {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        size = sizeof v4;
        return true;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        size = sizeof v6;
        return true;
    }
    return false;
}

std::string AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* octets = address.ss_family == AF_INET6
                             ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr)
                             : static_cast<const void*>(&reinterpret_cast<const sockaddr_in&>(address).sin_addr);
    if (inet_ntop(address.ss_family, octets, text, sizeof text) == nullptr) return {};
    return text;
}

// Opens the socket of one binding; -1 with errno set on failure. All
// interfaces means IPv6 and IPv4 on one socket where the system has IPv6.
int OpenSocket(const TBinding& binding, sockaddr_storage& address, socklen_t& size, bool& dualStack) {
    dualStack = false;
    if (binding.IP == "0.0.0.0") {
        const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const int off = 0;
            if (::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0) {
                address = {};
                auto& any = reinterpret_cast<sockaddr_in6&>(address);
                any.sin6_family = AF_INET6;
                any.sin6_addr = in6addr_any;
                any.sin6_port = htons(static_cast<std::uint16_t>(binding.Port));
                size = sizeof any;
                dualStack = true;
                return fd;
            }
            ::close(fd);
        }
        // No IPv6 here: IPv4 alone, as parsed.
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0 && address.ss_family == AF_INET6) {
        // An IPv6 address serves IPv6 only; IPv4 clients have their own bindings.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    return fd;
}

}  // namespace

struct TTCPServer::TImpl {
    // Guards Bindings, Port and IsActive; held only briefly, so connection
    // handlers reading the statistics never wait on a running (de)activation.
    mutable std::mutex Mutex;
    std::vector<TBinding> Bindings;
    int Port = 389;
    bool IsActive = false;

    // Serialises SetActive and Rebind and owns Core (replaced only under it).
    mutable std::mutex StateMutex;
    std::unique_ptr<TServerCore> Core;
    bool StopRequested = false;  // guarded by StateMutex
    // While active, guarded by StateMutex: each listening socket with the
    // binding it was asked for (what Rebind compares).
    std::vector<TBinding> Requested;
    std::vector<int> Sockets;

    // Shared with the loops of each activation through the core.
    TOutputBudget Budget;
    std::atomic<int> Connections{0};
    std::atomic<std::uint64_t> Refused{0};
    std::atomic<std::uint64_t> Denied{0};
    std::atomic<int> MaxConnections{0};

    // Asks every loop to end and waits up to timeout; true when all ended (the
    // core is then released).
    bool StopLoops(std::chrono::milliseconds timeout);
    std::vector<TListenSocket> OpenListeners(std::vector<TBinding>& bindings);
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
    Requested.clear();
    Sockets.clear();
    StopRequested = false;
    return true;
}

std::vector<TListenSocket> TTCPServer::TImpl::OpenListeners(std::vector<TBinding>& bindings) {
    std::vector<TListenSocket> sockets;
    auto fail = [&sockets](const std::string& text, const std::string& cause) {
        for (const TListenSocket& socket : sockets) ::close(socket.Fd);
        throw ESocketError(text, cause);
    };
    const int backlog = ListenBacklog();
    for (auto& binding : bindings) {
        if (binding.Port < 0 || binding.Port > 65535)
            fail("Could not bind socket. Invalid port " + std::to_string(binding.Port) + ".",
                 BindCause(binding, "port out of range (0 to 65535)"));
        sockaddr_storage address{};
        socklen_t addressSize = 0;
        if (!ParseAddress(binding.IP, address, addressSize))
            fail("Could not bind socket. Invalid address \"" + binding.IP + "\".",
                 BindCause(binding, "not an IPv4 or IPv6 address"));
        const auto port = htons(static_cast<std::uint16_t>(binding.Port));
        if (address.ss_family == AF_INET6)
            reinterpret_cast<sockaddr_in6&>(address).sin6_port = port;
        else
            reinterpret_cast<sockaddr_in&>(address).sin_port = port;
        bool dualStack = false;
        const int fd = OpenSocket(binding, address, addressSize, dualStack);
        if (fd < 0) {
            const int error = errno;
            fail("Could not open socket. " + ErrnoText(error), BindCause(binding, ErrnoText(error), error));
        }
        sockets.push_back(TListenSocket{fd, binding.Tls});
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), addressSize) != 0) {
            const int error = errno;
            fail(BindErrorText(error, binding), BindCause(binding, ErrnoText(error), error));
        }
        if (::listen(fd, backlog) != 0) {
            const int error = errno;
            fail("Could not listen on socket. " + ErrnoText(error), BindCause(binding, ErrnoText(error), error));
        }
        sockaddr_storage bound{};
        socklen_t boundSize = sizeof bound;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) == 0) {
            // Both families' ports sit at the same offset.
            binding.Port = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
            if (!dualStack) binding.IP = AddressText(bound);
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

void TTCPServer::AddBinding(const std::string& ip, int port, bool tls) {
    std::lock_guard lock(FImpl->Mutex);
    if (FImpl->IsActive) throw ESocketError("Cannot change the bindings of an active server");
    FImpl->Bindings.push_back(TBinding{ip, port, tls});
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

std::uint64_t TTCPServer::DeniedCount() const { return FImpl->Denied.load(); }

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
    for (const TBinding& binding : bindings)
        if (binding.Tls && !Tls)
            throw ESocketError("Cannot start LDAPS without a certificate",
                               binding.IP + ":" + std::to_string(binding.Port) + ": no certificate and key");
    const long descriptors = Limits.RaiseDescriptorLimit ? RaiseDescriptorLimit() : DescriptorLimit();
    std::vector<TBinding> requested = bindings;
    std::vector<TListenSocket> sockets = impl.OpenListeners(bindings);
    std::vector<int> socketNumbers;
    for (const TListenSocket& socket : sockets) socketNumbers.push_back(socket.Fd);

    auto core = std::make_unique<TServerCore>(impl.Budget, impl.Connections, impl.Refused, impl.Denied);
    core->Tls = Tls;
    core->Allow = AllowFrom;
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
        for (const TListenSocket& socket : sockets) ::close(socket.Fd);
        throw;
    }
    core->Loops.front()->SetListeners(sockets);
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

    impl.Requested = std::move(requested);
    impl.Sockets = std::move(socketNumbers);
    std::lock_guard lock(impl.Mutex);
    impl.Bindings = std::move(bindings);
    impl.IsActive = true;
}

void TTCPServer::Rebind(std::vector<TBinding> wanted) {
    TImpl& impl = *FImpl;
    std::lock_guard state(impl.StateMutex);
    if (!impl.Core) {
        std::lock_guard lock(impl.Mutex);
        impl.Bindings = std::move(wanted);
        return;
    }
    if (wanted.empty()) wanted.push_back(TBinding{"0.0.0.0", DefaultPort()});
    for (const TBinding& binding : wanted)
        if (binding.Tls && !impl.Core->Tls)
            throw ESocketError("Cannot start LDAPS without a certificate",
                               binding.IP + ":" + std::to_string(binding.Port) + ": no certificate and key");
    auto wants = [&](const TBinding& b) { return std::find(wanted.begin(), wanted.end(), b) != wanted.end(); };
    auto heldAt = [&](const TBinding& b) {
        return static_cast<std::size_t>(std::find(impl.Requested.begin(), impl.Requested.end(), b) -
                                        impl.Requested.begin());
    };
    std::vector<TBinding> opening;
    for (const TBinding& b : wanted)
        if (heldAt(b) == impl.Requested.size() && std::find(opening.begin(), opening.end(), b) == opening.end())
            opening.push_back(b);
    std::vector<TBinding> closing;
    std::vector<int> removed;
    for (std::size_t i = 0; i < impl.Requested.size(); ++i)
        if (!wants(impl.Requested[i])) {
            closing.push_back(impl.Requested[i]);
            removed.push_back(impl.Sockets[i]);
        }
    std::vector<TBinding> current;
    {
        std::lock_guard lock(impl.Mutex);
        current = impl.Bindings;
    }
    TEventLoop& acceptor = *impl.Core->Loops.front();
    auto waitFor = [&acceptor](std::uint64_t ticket) {
        for (int i = 0; i < kTerminateWaitMs && acceptor.ListenerChangesDone() < ticket; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    std::vector<TBinding> opened = opening;
    std::vector<TListenSocket> added;
    try {
        added = impl.OpenListeners(opened);
    } catch (const ESocketError&) {
        // A socket being given up may hold the address (all interfaces and
        // one of them on the same port): give those up first, then try
        // again, and take them back if that fails too.
        if (removed.empty()) throw;
        waitFor(acceptor.ChangeListeners({}, removed));
        try {
            opened = opening;
            added = impl.OpenListeners(opened);
            removed.clear();
        } catch (const ESocketError&) {
            std::vector<TBinding> back = closing;
            std::vector<TListenSocket> reopened;
            try {
                reopened = impl.OpenListeners(back);
            } catch (const ESocketError&) {
            }
            // What could be taken back is listened on again; the rest is lost.
            std::vector<TBinding> requested;
            std::vector<int> sockets;
            std::vector<TBinding> bound;
            for (std::size_t i = 0; i < impl.Requested.size(); ++i) {
                if (wants(impl.Requested[i])) {
                    requested.push_back(impl.Requested[i]);
                    sockets.push_back(impl.Sockets[i]);
                    bound.push_back(i < current.size() ? current[i] : impl.Requested[i]);
                }
            }
            for (std::size_t i = 0; i < reopened.size(); ++i) {
                requested.push_back(closing[i]);
                sockets.push_back(reopened[i].Fd);
                bound.push_back(back[i]);
            }
            waitFor(acceptor.ChangeListeners(std::move(reopened), {}));
            impl.Requested = std::move(requested);
            impl.Sockets = std::move(sockets);
            {
                std::lock_guard lock(impl.Mutex);
                impl.Bindings = std::move(bound);
            }
            throw;
        }
    }

    // The new order: that of wanted, each with its socket and bound address.
    std::vector<TBinding> requested;
    std::vector<int> sockets;
    std::vector<TBinding> bound;
    for (const TBinding& b : wanted) {
        if (std::find(requested.begin(), requested.end(), b) != requested.end()) continue;
        if (const std::size_t i = heldAt(b); i < impl.Requested.size()) {
            sockets.push_back(impl.Sockets[i]);
            bound.push_back(i < current.size() ? current[i] : b);
        } else {
            const auto k = static_cast<std::size_t>(std::find(opening.begin(), opening.end(), b) - opening.begin());
            sockets.push_back(added[k].Fd);
            bound.push_back(opened[k]);
        }
        requested.push_back(b);
    }
    waitFor(acceptor.ChangeListeners(std::move(added), std::move(removed)));
    impl.Requested = std::move(requested);
    impl.Sockets = std::move(sockets);
    std::lock_guard lock(impl.Mutex);
    impl.Bindings = std::move(bound);
}

void TTCPServer::SetSecurity(std::shared_ptr<const TTlsContext> tls, TAllowList allow) {
    std::lock_guard state(FImpl->StateMutex);
    Tls = tls;
    AllowFrom = allow;
    if (!FImpl->Core) return;
    FImpl->Core->Tls = tls;
    for (const auto& loop : FImpl->Core->Loops) loop->ChangeSecurity(tls, allow);
}

std::vector<std::uint64_t> TTCPServer::LoopTurns() const {
    std::lock_guard state(FImpl->StateMutex);
    std::vector<std::uint64_t> turns;
    if (FImpl->Core && !FImpl->StopRequested)
        for (const auto& loop : FImpl->Core->Loops) turns.push_back(loop->Turns());
    return turns;
}

void TTCPServer::WakeLoops() const {
    std::lock_guard state(FImpl->StateMutex);
    if (FImpl->Core)
        for (const auto& loop : FImpl->Core->Loops) loop->Wake();
}

