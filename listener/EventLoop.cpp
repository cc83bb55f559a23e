#include "listener/EventLoop.h"

#include "ldap/Framing.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

constexpr int kMaxEvents = 256;
constexpr int kAcceptBurst = 256;
// Messages of one connection handled before the others get their turn.
constexpr int kExecuteBurst = 16;
constexpr std::size_t kReadBuffer = 64 * 1024;
constexpr int kAcceptRetryMs = 250;

// What a handshake may hold inside the TLS library (a record each way and
// the handshake's state), charged to the total budget until it ends.
constexpr std::size_t kHandshakeShare = 40 * 1024;

// Dotted text for IPv4 clients, also those reaching a dual-stack socket.
std::string PeerText(const sockaddr_storage& peer) {
    char text[INET6_ADDRSTRLEN] = {};
    if (peer.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
        if (inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text) == nullptr) return {};
        return text;
    }
    if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            if (inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text) == nullptr) return {};
        } else if (inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text) == nullptr) {
            return {};
        }
        return text;
    }
    return {};
}

void Signal(int eventFd) {
    const std::uint64_t one = 1;
    // A full counter already wakes the loop.
    [[maybe_unused]] const ssize_t written = ::write(eventFd, &one, sizeof one);
}

}  // namespace

void TServerCore::Report(const std::string& text) const {
    if (!Error) return;
    try {
        Error(text);
    } catch (...) {
    }
}

void TServerCore::BudgetFreed() {
    if (!BudgetWaiting.load(std::memory_order_relaxed) || Budget.Exhausted()) return;
    // A loop still short of room sets the flag again.
    if (!BudgetWaiting.exchange(false)) return;
    for (const auto& loop : Loops) loop->Wake();
}

struct TEventLoop::TWatch {
    enum class TKind { Wake, Stop, Listener, Link };
    explicit TWatch(TKind kind, int fd = -1, bool tls = false) : Kind(kind), Fd(fd), Tls(tls) {}
    TKind Kind;
    int Fd;
    bool Tls;  // a listener whose clients speak TLS at once
};

struct TEventLoop::TLink : TWatch {
    explicit TLink(std::unique_ptr<TConnection> connection)
        : TWatch(TKind::Link), Connection(std::move(connection)) {}
    std::unique_ptr<TConnection> Connection;
    std::size_t Index = 0;  // in FLinks
    TClock::time_point MessageStart;
    std::uint32_t ArmedEvents = 0;
    bool Incomplete = false;  // part of a message is pending since MessageStart
    bool PeerClosed = false;
    bool Registered = false;
    bool Ready = false;
    bool WaitingBudget = false;
    bool Ended = false;
    bool Handshaking = false;     // TLS handshake under way (counts as an incomplete message)
    bool HandshakeShare = false;  // kHandshakeShare is charged to the budget
    bool ReadWantsWrite = false;  // the TLS library must send before it can read on
};

TEventLoop::TEventLoop(TServerCore& core, int index) : FCore(core), FIndex(index), FReadBuffer(kReadBuffer) {
    FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    FStopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FEpoll < 0 || FWakeFd < 0 || FStopFd < 0) {
        const int error = errno;
        for (const int fd : {FEpoll, FWakeFd, FStopFd})
            if (fd >= 0) ::close(fd);
        throw ESocketError(std::string("Could not start the connection loop. ") + std::strerror(error));
    }
    FWakeWatch = std::make_unique<TWatch>(TWatch::TKind::Wake, FWakeFd);
    FStopWatch = std::make_unique<TWatch>(TWatch::TKind::Stop, FStopFd);
    epoll_event wake{EPOLLIN, {.ptr = FWakeWatch.get()}};
    epoll_event stop{EPOLLIN, {.ptr = FStopWatch.get()}};
    ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, FWakeFd, &wake);
    ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, FStopFd, &stop);
}

TEventLoop::~TEventLoop() {
    if (FThread.joinable()) FThread.join();
    for (auto& listener : FListeners) ::close(listener->Fd);
    {
        std::lock_guard lock(FMailLock);
        for (auto& mail : FMail) ::close(mail.Fd);
        FMail.clear();
        for (const TListenSocket& socket : FListenersToAdd) ::close(socket.Fd);
        FListenersToAdd.clear();
    }
    ::close(FEpoll);
    ::close(FWakeFd);
    ::close(FStopFd);
}

void TEventLoop::SetListeners(const std::vector<TListenSocket>& sockets) {
    for (const TListenSocket& socket : sockets)
        FListeners.push_back(std::make_unique<TWatch>(TWatch::TKind::Listener, socket.Fd, socket.Tls));
    ResumeAccept();
}

void TEventLoop::Start() {
    FNextSweep = TClock::now();
    FTls = FCore.Tls;
    FAllow = FCore.Allow;
    FThread = std::thread([this] { Run(); });
}

void TEventLoop::Adopt(int fd, std::string peerIP, bool tls) {
    {
        std::lock_guard lock(FMailLock);
        if (!FMailClosed) {
            FMail.push_back(TMail{fd, std::move(peerIP), tls});
            Signal(FWakeFd);
            return;
        }
    }
    ::close(fd);
    FCore.Connections.fetch_sub(1);
}

void TEventLoop::RequestStop() { Signal(FStopFd); }

std::uint64_t TEventLoop::ChangeListeners(std::vector<TListenSocket> add, std::vector<int> remove) {
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(FMailLock);
        ticket = ++FChangesAsked;
        if (FMailClosed) {
            // Ended already: its own listeners are closed; the new ones too.
            for (const TListenSocket& socket : add) ::close(socket.Fd);
            FChangesDone = ticket;
            return ticket;
        }
        FListenersToAdd.insert(FListenersToAdd.end(), add.begin(), add.end());
        FListenersToRemove.insert(FListenersToRemove.end(), remove.begin(), remove.end());
    }
    Signal(FWakeFd);
    return ticket;
}

void TEventLoop::ChangeSecurity(std::shared_ptr<const TTlsContext> tls, TAllowList allow) {
    {
        std::lock_guard lock(FMailLock);
        FSecurityChanged = true;
        FNewTls = std::move(tls);
        FNewAllow = std::move(allow);
    }
    Signal(FWakeFd);
}

void TEventLoop::ApplyListenerChanges(const std::vector<TListenSocket>& add, const std::vector<int>& remove) {
    for (const int fd : remove) {
        const auto it = std::find_if(FListeners.begin(), FListeners.end(),
                                     [fd](const std::unique_ptr<TWatch>& w) { return w->Fd == fd; });
        if (it == FListeners.end()) continue;
        if (FListening) ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        FListeners.erase(it);
    }
    for (const TListenSocket& socket : add) {
        FListeners.push_back(std::make_unique<TWatch>(TWatch::TKind::Listener, socket.Fd, socket.Tls));
        if (FListening) {
            epoll_event interest{EPOLLIN, {.ptr = FListeners.back().get()}};
            ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, socket.Fd, &interest);
        }
    }
}

void TEventLoop::Wake() { Signal(FWakeFd); }

// ------------------------------------------------------------------ the loop

void TEventLoop::Run() {
    epoll_event events[kMaxEvents];
    while (!FStopping) {
        FTurns.store(FTurns.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        const int count = ::epoll_wait(FEpoll, events, kMaxEvents, NextTimeoutMs(TClock::now()));
        for (int i = 0; i < count; ++i) {
            auto* watch = static_cast<TWatch*>(events[i].data.ptr);
            switch (watch->Kind) {
            case TWatch::TKind::Wake:
                OnWake();
                break;
            case TWatch::TKind::Stop:
                FStopping = true;
                break;
            case TWatch::TKind::Listener:
                if (FListening) AcceptFrom(*watch);
                break;
            case TWatch::TKind::Link: {
                auto& link = static_cast<TLink&>(*watch);
                if (!link.Ended) OnLinkEvent(link, events[i].events);
                break;
            }
            }
        }
        if (FStopping) break;
        RunReady();
        const TClock::time_point now = TClock::now();
        if (!FListening && !FListeners.empty() &&
            now - FPausedAt >= std::chrono::milliseconds(kAcceptRetryMs))
            ResumeAccept();
        if (now >= FNextSweep) Sweep(now);
        FEnded.clear();
    }
    Shutdown();
}

void TEventLoop::Shutdown() {
    // No new connections first, then every connection ends with its event.
    for (auto& listener : FListeners) ::close(listener->Fd);
    FListeners.clear();
    FListening = false;
    std::vector<TMail> mail;
    {
        std::lock_guard lock(FMailLock);
        FMailClosed = true;
        mail.swap(FMail);
        for (const TListenSocket& socket : FListenersToAdd) ::close(socket.Fd);
        FListenersToAdd.clear();
        FChangesDone = FChangesAsked;
    }
    for (auto& item : mail) {
        ::close(item.Fd);
        FCore.Connections.fetch_sub(1);
    }
    while (!FLinks.empty()) End(*FLinks.back());
    FEnded.clear();
    FReady.clear();
    FBudgetWait.clear();
    if (FTrimWanted) ::malloc_trim(0);
    {
        std::lock_guard lock(FCore.EndMutex);
        ++FCore.LoopsEnded;
    }
    FCore.EndChanged.notify_all();
}

int TEventLoop::NextTimeoutMs(TClock::time_point now) const {
    if (!FReady.empty()) return 0;
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(FNextSweep - now).count();
    if (!FListening && !FListeners.empty()) wait = std::min<long long>(wait, kAcceptRetryMs);
    return static_cast<int>(std::clamp<long long>(wait + 1, 0, 1000));
}

void TEventLoop::OnWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(FWakeFd, &count, sizeof count);
    std::vector<TMail> mail;
    std::vector<TListenSocket> add;
    std::vector<int> remove;
    std::uint64_t asked = 0;
    {
        std::lock_guard lock(FMailLock);
        mail.swap(FMail);
        add.swap(FListenersToAdd);
        remove.swap(FListenersToRemove);
        asked = FChangesAsked;
        if (FSecurityChanged) {
            FSecurityChanged = false;
            if (FTls && FTls != FNewTls) FRetiredTls.push_back(FTls);
            FTls = std::move(FNewTls);
            FAllow = std::move(FNewAllow);
        }
    }
    if (!add.empty() || !remove.empty()) ApplyListenerChanges(add, remove);
    FChangesDone = asked;
    for (auto& item : mail) AdoptNow(item.Fd, std::move(item.PeerIP), item.Tls);
    // A descriptor was freed somewhere: try accepting again.
    if (!FListening && !FListeners.empty()) ResumeAccept();
    if (!FBudgetWait.empty() && !FCore.Budget.Exhausted()) {
        for (TLink* link : FBudgetWait) {
            link->WaitingBudget = false;
            MakeReady(*link);
        }
        FBudgetWait.clear();
    }
}

// --------------------------------------------------------------- accepting

void TEventLoop::AcceptFrom(const TWatch& listener) {
    for (int i = 0; i < kAcceptBurst; ++i) {
        sockaddr_storage peer{};
        socklen_t peerSize = sizeof peer;
        const int fd =
            ::accept4(listener.Fd, reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                // Every waiting client taken: a later shortage is a new episode.
                FPauseReported = false;
                return;
            }
            if (error == EINTR || error == ECONNABORTED || error == EPROTO || error == EPERM) continue;
            // Out of descriptors or memory: the waiting clients stay in the
            // backlog until something is freed.
            PauseAccept(error);
            return;
        }
        if (!FAllow.Empty() && !FAllow.Permits(reinterpret_cast<const sockaddr&>(peer))) {
            ::close(fd);
            FCore.Denied.fetch_add(1);
            FCore.Report("Connection refused: " + PeerText(peer) + " is not among the allowed networks");
            continue;
        }
        if (FCore.Connections.load() >= FCore.Limits.MaxConnections) {
            ::close(fd);
            FCore.Refused.fetch_add(1);
            if (!FRefusing) {
                FRefusing = true;
                FCore.Report("Connection refused: " + std::to_string(FCore.Limits.MaxConnections) +
                             " connections are open");
            }
            continue;
        }
        FRefusing = false;
        FCore.Connections.fetch_add(1);
        TEventLoop& target = *FCore.Loops[FNextLoop++ % FCore.Loops.size()];
        if (&target == this)
            AdoptNow(fd, PeerText(peer), listener.Tls);
        else
            target.Adopt(fd, PeerText(peer), listener.Tls);
    }
}

void TEventLoop::PauseAccept(int error) {
    for (auto& listener : FListeners) ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, listener->Fd, nullptr);
    FListening = false;
    FPausedAt = TClock::now();
    FCore.AcceptPaused = true;
    if (!FPauseReported) {
        FPauseReported = true;
        FCore.Report(std::string("Cannot accept connections: ") + std::strerror(error));
    }
}

void TEventLoop::ResumeAccept() {
    if (FListening) return;
    for (auto& listener : FListeners) {
        epoll_event interest{EPOLLIN, {.ptr = listener.get()}};
        ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, listener->Fd, &interest);
    }
    FListening = true;
    FCore.AcceptPaused = false;
}

// ------------------------------------------------------------- connections

void TEventLoop::AdoptNow(int fd, std::string peerIP, bool tls) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (const int size = FCore.Limits.SocketSendBufferBytes; size > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    auto owned = std::make_unique<TLink>(std::make_unique<TConnection>(fd, std::move(peerIP), FCore.Budget));
    owned->Fd = fd;
    TLink& link = *owned;
    link.Index = FLinks.size();
    FLinks.push_back(std::move(owned));
    link.Connection->FTlsContext = FTls.get();
    try {
        if (FCore.Connect) FCore.Connect(*link.Connection);
    } catch (...) {
        End(link);
        return;
    }
    if (tls)
        BeginHandshake(link);
    else
        Progress(link);
}

void TEventLoop::BeginHandshake(TLink& link) {
    TConnection& connection = *link.Connection;
    connection.FStartTlsWanted = false;
    try {
        connection.FTls = std::make_unique<TTlsSession>(*FTls, link.Fd);
    } catch (const std::exception&) {
        EndWithError(link, "no memory for a TLS session");
        return;
    }
    link.Handshaking = true;
    link.Incomplete = true;
    link.MessageStart = TClock::now();
    Handshake(link);
}

void TEventLoop::Handshake(TLink& link) {
    TConnection& connection = *link.Connection;
    if (!link.HandshakeShare) {
        // Handshakes wait, like messages, while the answers of all hold the total.
        if (FCore.Budget.Exhausted()) {
            WaitForBudget(link);
            Arm(link, 0);
            return;
        }
        FCore.Budget.Held.fetch_add(kHandshakeShare, std::memory_order_relaxed);
        link.HandshakeShare = true;
    }
    switch (connection.FTls->Handshake()) {
    case TTlsSession::TStatus::Done:
        ReleaseHandshakeShare(link);
        link.Handshaking = false;
        link.Incomplete = false;
        Progress(link);
        return;
    case TTlsSession::TStatus::WantRead:
        Arm(link, EPOLLIN | EPOLLRDHUP);
        return;
    case TTlsSession::TStatus::WantWrite:
        Arm(link, EPOLLOUT);
        return;
    case TTlsSession::TStatus::Closed:
    case TTlsSession::TStatus::Reset:
        End(link);  // gone before a word was said: quietly
        return;
    case TTlsSession::TStatus::Failed:
        EndWithError(link, "TLS handshake failed: " + connection.FTls->ErrorText());
        return;
    }
}

void TEventLoop::ReleaseHandshakeShare(TLink& link) {
    if (!std::exchange(link.HandshakeShare, false)) return;
    FCore.Budget.Held.fetch_sub(kHandshakeShare, std::memory_order_relaxed);
    FCore.BudgetFreed();
}

void TEventLoop::OnLinkEvent(TLink& link, std::uint32_t events) {
    if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
        End(link);
        return;
    }
    if (link.Handshaking) {
        Handshake(link);
        return;
    }
    if ((events & EPOLLOUT) != 0) {
        bool sent = false;
        try {
            sent = link.Connection->Flush();
        } catch (...) {
        }
        if (!sent) {
            EndWithError(link, "send failed");
            return;
        }
        FCore.BudgetFreed();
        if (link.ReadWantsWrite) events |= EPOLLIN;
    }
    if ((events & (EPOLLIN | EPOLLRDHUP)) != 0) {
        Read(link);
        if (link.Ended) return;
    }
    Progress(link);
}

void TEventLoop::Read(TLink& link) {
    TConnection& connection = *link.Connection;
    if (connection.FTls) {
        ReadTls(link);
        return;
    }
    for (;;) {
        try {
            if (FrameSize(connection.FPending)) return;  // the rest waits in the socket
        } catch (const EFramingError& e) {
            EndWithError(link, e.what());
            return;
        }
        const ssize_t received = ::recv(link.Fd, FReadBuffer.data(), FReadBuffer.size(), MSG_DONTWAIT);
        if (received > 0) {
            connection.FPending.append(FReadBuffer.data(), static_cast<std::size_t>(received));
            if (static_cast<std::size_t>(received) < FReadBuffer.size()) return;
            continue;
        }
        if (received == 0) {
            link.PeerClosed = true;
            return;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        End(link);  // reset by the peer and the like: quietly
        return;
    }
}

void TEventLoop::ReadTls(TLink& link) {
    TConnection& connection = *link.Connection;
    link.ReadWantsWrite = false;
    for (;;) {
        try {
            if (FrameSize(connection.FPending)) return;  // the rest waits in the session or the socket
        } catch (const EFramingError& e) {
            EndWithError(link, e.what());
            return;
        }
        std::size_t got = 0;
        switch (connection.FTls->Read(FReadBuffer.data(), FReadBuffer.size(), got)) {
        case TTlsSession::TStatus::Done:
            connection.FPending.append(FReadBuffer.data(), got);
            continue;
        case TTlsSession::TStatus::WantRead:
            return;
        case TTlsSession::TStatus::WantWrite:
            link.ReadWantsWrite = true;
            return;
        case TTlsSession::TStatus::Closed:
            link.PeerClosed = true;
            return;
        case TTlsSession::TStatus::Reset:
            End(link);
            return;
        case TTlsSession::TStatus::Failed:
            EndWithError(link, "TLS: " + connection.FTls->ErrorText());
            return;
        }
    }
}

void TEventLoop::Progress(TLink& link) {
    TConnection& connection = *link.Connection;
    if (link.Handshaking) {
        Handshake(link);
        return;
    }
    std::optional<std::size_t> frame;
    for (int executed = 0;; ++executed) {
        if (!connection.Connected()) {
            End(link);
            return;
        }
        try {
            frame = FrameSize(connection.FPending);
            // Octets the TLS session already took from the socket are not
            // announced again by it.
            if (!frame && connection.FTls && !link.PeerClosed && connection.FTls->Buffered()) {
                ReadTls(link);
                if (link.Ended) return;
                frame = FrameSize(connection.FPending);
            }
        } catch (const EFramingError& e) {
            EndWithError(link, e.what());
            return;
        }
        if (!frame || connection.FOutput.Blocked()) break;
        if (FCore.Budget.Exhausted()) {
            WaitForBudget(link);
            break;
        }
        if (executed == kExecuteBurst) {
            MakeReady(link);
            break;
        }
        Execute(link, *frame);
        if (link.Ended) return;
    }
    // A pulled answer whose next piece waits for room in the total budget.
    if (connection.FOutput.HasSource() && connection.FOutput.Size() == 0) {
        bool ok = false;
        try {
            ok = connection.Flush();
        } catch (...) {
        }
        if (!ok) {
            EndWithError(link, "send failed");
            return;
        }
        if (connection.FOutput.HasSource() && connection.FOutput.Size() == 0) WaitForBudget(link);
    }

    if (connection.FStartTlsWanted) {
        // The answer granting it goes out in clear first; meanwhile nothing is
        // read, as the next octets are the client's handshake.
        if (!connection.FPending.empty()) {
            EndWithError(link, "data after StartTLS");
            return;
        }
        if (connection.FOutput.Done()) {
            BeginHandshake(link);
            return;
        }
        Arm(link, connection.FOutput.Size() > 0 ? std::uint32_t{EPOLLOUT} : std::uint32_t{0});
        return;
    }
    if (!connection.FPending.empty() && !frame) {
        if (!link.Incomplete) {
            link.Incomplete = true;
            link.MessageStart = TClock::now();
        }
    } else {
        link.Incomplete = false;
    }
    // Nothing more will arrive: end once the answers are out.
    if (link.PeerClosed && !frame && connection.FOutput.Done()) {
        End(link);
        return;
    }
    std::uint32_t want = 0;
    if (connection.FOutput.Size() > 0) want |= EPOLLOUT;
    if (!link.PeerClosed && !frame) want |= EPOLLIN | EPOLLRDHUP;
    if (link.ReadWantsWrite) want |= EPOLLOUT;
    Arm(link, want);
}

void TEventLoop::Execute(TLink& link, std::size_t frameSize) {
    TConnection& connection = *link.Connection;
    const std::size_t before = connection.FPending.size();
    try {
        if (FCore.Execute) FCore.Execute(connection);
    } catch (...) {
        End(link);
        return;
    }
    // A handler that left the message in place must not see it again.
    if (connection.FPending.size() == before) connection.FPending.erase(0, frameSize);
    if (connection.FPending.empty() && connection.FPending.capacity() > 4096) std::string().swap(connection.FPending);
    if (std::exchange(connection.FLargeAnswer, false)) FTrimWanted = true;
}

void TEventLoop::Arm(TLink& link, std::uint32_t events) {
    // Level-triggered: the set changes only when what the connection waits
    // for does, so a request answered at once costs no epoll_ctl. With no
    // events a hang-up is still reported, and ends the connection.
    if (link.Registered && link.ArmedEvents == events) return;
    epoll_event interest{events, {.ptr = &link}};
    if (::epoll_ctl(FEpoll, link.Registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, link.Fd, &interest) != 0) {
        End(link);
        return;
    }
    link.Registered = true;
    link.ArmedEvents = events;
}

void TEventLoop::WaitForBudget(TLink& link) {
    if (link.WaitingBudget) return;
    link.WaitingBudget = true;
    FBudgetWait.push_back(&link);
    FCore.BudgetWaiting = true;
}

void TEventLoop::MakeReady(TLink& link) {
    if (link.Ready) return;
    link.Ready = true;
    FReady.push_back(&link);
}

void TEventLoop::RunReady() {
    std::vector<TLink*> ready;
    ready.swap(FReady);
    for (TLink* link : ready) link->Ready = false;
    for (TLink* link : ready)
        if (!link->Ended) Progress(*link);
}

void TEventLoop::EndWithError(TLink& link, const std::string& reason) {
    FCore.Report("Error..." + link.Connection->PeerIP() + ": " + reason);
    End(link);
}

void TEventLoop::End(TLink& link) {
    if (link.Ended) return;
    link.Ended = true;
    TConnection& connection = *link.Connection;
    if (connection.FOutput.TakeReleasedLarge() || connection.FOutput.Size() >= TOutputQueue::kLargeBuffer)
        FTrimWanted = true;
    connection.FOutput.Clear();
    ReleaseHandshakeShare(link);
    if (connection.FTls) connection.FTls->Close();
    // The descriptor goes back at once (closing also leaves the epoll set).
    connection.CloseSocket();
    FCore.Connections.fetch_sub(1);
    if (FCore.AcceptPaused.load()) FCore.Loops.front()->Wake();
    FCore.BudgetFreed();
    try {
        if (FCore.Disconnect) FCore.Disconnect(connection);
    } catch (...) {
    }
    if (link.Ready) std::erase(FReady, &link);
    if (link.WaitingBudget) std::erase(FBudgetWait, &link);
    const std::size_t index = link.Index;
    FEnded.push_back(std::move(FLinks[index]));
    if (index + 1 != FLinks.size()) {
        FLinks[index] = std::move(FLinks.back());
        FLinks[index]->Index = index;
    }
    FLinks.pop_back();
}

void TEventLoop::Sweep(TClock::time_point now) {
    using std::chrono::milliseconds;
    const milliseconds incomplete(FCore.Limits.IncompleteMessageMs);
    const milliseconds blocked(FCore.Limits.WriteTimeoutMs);
    // Backwards: End moves the last connection into the slot it frees.
    for (std::size_t i = FLinks.size(); i-- > 0;) {
        TLink& link = *FLinks[i];
        const TConnection& connection = *link.Connection;
        if (link.Incomplete && now - link.MessageStart >= incomplete)
            EndWithError(link, std::string(link.Handshaking ? "TLS handshake" : "message") + " not complete within " +
                                   std::to_string(FCore.Limits.IncompleteMessageMs) + " ms");
        else if (connection.FOutput.Size() > 0 && now - connection.FLastProgress >= blocked)
            EndWithError(link, "answer not taken within " + std::to_string(FCore.Limits.WriteTimeoutMs) + " ms");
    }
    if (!FBudgetWait.empty() && !FCore.Budget.Exhausted()) OnWake();
    // Large answers leave freed pages behind; give them back to the system.
    if (std::exchange(FTrimWanted, false)) ::malloc_trim(0);
    const auto interval = std::clamp(std::min(incomplete, blocked) / 4, milliseconds(10), milliseconds(1000));
    FNextSweep = now + interval;
}
