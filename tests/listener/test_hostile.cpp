// Hostile clients against the listener: each case ends with a well-behaved
// client answered exactly and the process's descriptors, threads and
// connections back where they were before the case.
#include "listener/TcpServer.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using wire::BindRequest;
using wire::BindResponse;
using wire::ToHex;
using wire::TWireClient;

namespace {

constexpr int kWaitMs = 10000;  // only to keep a broken server from hanging the test
constexpr std::size_t kShare = 64 * 1024;
constexpr int kTimeoutMs = 300;  // incomplete message and blocked write

// ------------------------------------------------------------ the answers

// A search answer of `count` entries produced piece by piece, as a directory
// snapshot would: entry i is "cn=entry<8 digits>" with a padding attribute.
class TEntriesSource : public IAnswerSource {
public:
    TEntriesSource(std::string messageID, int count) : FCount(count) {
        TASNList message;
        TASNNode& envelope = message.Add(0x30);
        envelope.Children.Add(0x02, messageID);
        TASNNode& entry = envelope.Children.Add(0x64);
        entry.Children.Add(0x04, "cn=entry00000000");
        entry.Children.Add(0x30).Children.Add(0x04, std::string(200, 'x'));
        FEntry = message.Encode();
        FDigits = FEntry.find("00000000");
        TASNList done;
        TASNNode& doneEnvelope = done.Add(0x30);
        doneEnvelope.Children.Add(0x02, messageID);
        TASNNode& result = doneEnvelope.Children.Add(0x65);
        result.Children.Add(0x0A, std::string_view("\x00", 1));
        result.Children.Add(0x04);
        result.Children.Add(0x04);
        FDone = done.Encode();
    }
    bool Next(std::string& out, std::size_t budget) override {
        const std::size_t start = out.size();
        while (FNext < FCount && out.size() - start < budget) {
            std::string number = std::to_string(FNext++);
            FEntry.replace(FDigits, 8, std::string(8 - number.size(), '0') + number);
            out += FEntry;
        }
        if (FNext < FCount) return true;
        out += FDone;
        return false;
    }

private:
    std::string FEntry, FDone;
    std::size_t FDigits = 0;
    int FCount;
    int FNext = 0;
};

// The test's search: the base object's text is the number of entries.
void CountedSearch(ILdapConnection& connection, const TLdapRequest& request) {
    const std::string& id = request.MessageIDOctets();
    const int count = std::stoi(request.Search()->BaseObject);
    connection.WriteAnswer(std::make_unique<TEntriesSource>(id, count));
}

std::string SearchRequest(std::string_view id, int entries) {
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, id);
    message.Children.Add(0x63).Children.Add(0x04, std::to_string(entries));
    return request.Encode();
}

std::string SearchAnswer(std::string_view id, int entries) {
    std::string out;
    TEntriesSource source(std::string(id), entries);
    while (source.Next(out, static_cast<std::size_t>(-1))) {
    }
    return out;
}

// ----------------------------------------------------- process accounting

int CountEntries(const char* folder) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return -1;
    int n = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n;
}

// Less the directory stream's own descriptor.
int OpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }
int Threads() { return CountEntries("/proc/self/task"); }

// Polls `done` until true or the wait runs out (the wait only bounds a failure).
bool Eventually(const std::function<bool()>& done, int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// ------------------------------------------------------------ raw clients

// A client socket with a small receive window, so that a large answer stays
// in the server rather than in the kernel.
int SmallWindowClient(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendRaw(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string ReadRaw(int fd, std::size_t n, int timeoutMs = 5000) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buffer[65536];
        const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

void Reset(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

// ---------------------------------------------------------------- fixture

struct THostileServer {
    TTCPServer Server;
    int Port = 0;
    std::mutex Mutex;
    std::vector<std::string> Errors;  // guarded by Mutex
    std::atomic<int> Connects{0}, Disconnects{0};

    void Start() {
        Server.OnConnect = [this](TConnection&) { ++Connects; };
        Server.OnDisconnect = [this](TConnection&) { ++Disconnects; };
        Server.OnError = [this](const std::string& text) {
            std::lock_guard lock(Mutex);
            Errors.push_back(text);
        };
        Port = wire::StartLdapServer(Server, CountedSearch);
    }
    int ErrorsContaining(const std::string& part) {
        std::lock_guard lock(Mutex);
        return static_cast<int>(std::count_if(Errors.begin(), Errors.end(),
                                              [&](const std::string& e) { return e.find(part) != std::string::npos; }));
    }
};

struct HostileCase {
    const char* Name;
    int MaxConnections;  // 0: the default
    std::function<void(THostileServer&)> Run;
};

class Hostile : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override {
        Host.Server.Limits.Threads = 2;
        Host.Server.Limits.MaxConnections = GetParam().MaxConnections;
        Host.Server.Limits.IncompleteMessageMs = kTimeoutMs;
        Host.Server.Limits.WriteTimeoutMs = kTimeoutMs;
        Host.Server.Limits.ConnectionOutputBytes = kShare;
        Host.Server.Limits.RaiseDescriptorLimit = false;
        // A client that does not read leaves the answer in the server, not in
        // a kernel buffer of a few MiB.
        Host.Server.Limits.SocketSendBufferBytes = 32 * 1024;
        Host.Start();
        BaseDescriptors = OpenDescriptors();
        BaseThreads = Threads();
    }
    THostileServer Host;
    int BaseDescriptors = 0;
    int BaseThreads = 0;
};

TEST_P(Hostile, ThenAWellBehavedClientIsServed) {
    GetParam().Run(Host);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_TRUE(Eventually([&] { return Host.Server.ConnectionCount() == 0; }))
        << Host.Server.ConnectionCount() << " connections left";
    EXPECT_TRUE(Eventually([&] { return Host.Server.UnsentBytes() == 0; })) << Host.Server.UnsentBytes();
    EXPECT_TRUE(Eventually([&] { return OpenDescriptors() == BaseDescriptors; }))
        << OpenDescriptors() << " descriptors open, " << BaseDescriptors << " before";
    EXPECT_EQ(Threads(), BaseThreads);
    EXPECT_TRUE(Eventually([&] { return Host.Connects.load() == Host.Disconnects.load(); }));

    TWireClient client(Host.Port);
    client.Send(BindRequest("\x07"));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x07")));
    const std::string answer = SearchAnswer("\x08", 300);
    client.Send(SearchRequest("\x08", 300));
    EXPECT_EQ(client.ReadExactly(answer.size()), answer);
}

// Clients whose sockets sit at high numbers, so that a low descriptor limit
// binds the server alone (connect needs no new descriptor).
std::vector<int> HighNumberedSockets(int count, int from) {
    std::vector<int> sockets;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockets.push_back(::fcntl(fd, F_DUPFD_CLOEXEC, from + i));
        ::close(fd);
    }
    return sockets;
}

// The lowest limit that leaves `free` numbers below it unused.
rlim_t LimitLeavingFree(int free) {
    std::set<int> open;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') open.insert(std::stoi(entry->d_name));
        ::closedir(dir);
    }
    int fd = 0;
    for (int left = free; left > 0; ++fd)
        if (!open.count(fd)) --left;
    return static_cast<rlim_t>(fd);
}

void DescriptorLimitReachedThenReleased(THostileServer& host) {
    constexpr int kClients = 40;
    {
        // Sanitized builds check a virtual call's type through a pipe until
        // the type is known: let them learn it while descriptors are at hand.
        TWireClient warm(host.Port);
        warm.Send(BindRequest("\x01"));
        ASSERT_EQ(ToHex(warm.ReadExactly(14)), ToHex(BindResponse("\x01")));
    }
    ASSERT_TRUE(Eventually([&] { return host.Server.ConnectionCount() == 0; }));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int from = static_cast<int>(std::min<rlim_t>(saved.rlim_cur, 4096)) - kClients - 8;
    ASSERT_GT(from, 256) << "descriptor limit too low for this case";
    std::vector<int> clients = HighNumberedSockets(kClients, from);
    for (const int fd : clients) ASSERT_GE(fd, from);

    rlimit low = saved;
    low.rlim_cur = LimitLeavingFree(8);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(host.Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const int fd : clients) ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const bool reported = Eventually([&] { return host.ErrorsContaining("Too many open files") > 0; });

    // The first clients were accepted and are still served.
    SendRaw(clients[0], BindRequest("\x01"));
    const std::string answer = ReadRaw(clients[0], 14);
    for (const int fd : clients) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_TRUE(reported);
    EXPECT_EQ(ToHex(answer), ToHex(BindResponse("\x01")));
    // The waiting clients are accepted once descriptors free up, and ended.
    EXPECT_TRUE(Eventually([&] { return host.Connects.load() == kClients + 1; })) << host.Connects.load();
    EXPECT_EQ(host.ErrorsContaining("Too many open files"), 1) << "reported once";
}

void ConnectionCap(THostileServer& host) {
    constexpr int kClients = 30;  // the cap is 20
    std::vector<std::unique_ptr<TWireClient>> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<TWireClient>(host.Port));
    ASSERT_TRUE(Eventually([&] { return host.Server.RefusedCount() == 10; })) << host.Server.RefusedCount();
    int answered = 0, closed = 0;
    for (auto& client : clients) {
        try {
            client->Send(BindRequest("\x02"));
        } catch (const std::runtime_error&) {
        }
        const std::string got = client->ReadExactly(14);
        answered += got == BindResponse("\x02") ? 1 : 0;
        closed += got.empty() ? 1 : 0;
    }
    EXPECT_EQ(answered, 20);
    EXPECT_EQ(closed, 10);
    EXPECT_EQ(host.ErrorsContaining("Connection refused"), 1) << "reported once";
}

void HalfAMessageThenSilence(THostileServer& host) {
    TWireClient idle(host.Port);
    std::vector<std::unique_ptr<TWireClient>> halves;
    const std::string bind = BindRequest("\x03", "cn=someone");
    for (int i = 0; i < 100; ++i) {
        halves.push_back(std::make_unique<TWireClient>(host.Port));
        halves.back()->Send(bind.substr(0, bind.size() / 2));
    }
    for (auto& half : halves) {
        std::string received;
        EXPECT_TRUE(half->PeerClosed(kWaitMs, &received));
        EXPECT_EQ(received, "");
    }
    // Silence between whole messages is no fault: the idle client stays.
    idle.Send(BindRequest("\x04"));
    EXPECT_EQ(ToHex(idle.ReadExactly(14)), ToHex(BindResponse("\x04")));
}

void OneByteAtATime(THostileServer& host) {
    TWireClient client(host.Port);
    const int on = 1;
    ::setsockopt(client.Socket(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::string requests = BindRequest("\x05", "cn=slow") + SearchRequest("\x06", 20);
    for (const char octet : requests) {
        client.Send(std::string(1, octet));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const std::string expected = BindResponse("\x05") + SearchAnswer("\x06", 20);
    EXPECT_EQ(client.ReadExactly(expected.size()), expected);
}

void NeverReadsALargeAnswer(THostileServer& host) {
    constexpr int kClients = 20;
    constexpr int kEntries = 40000;  // about 9 MB each
    std::vector<int> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(SmallWindowClient(host.Port));
        SendRaw(clients.back(), SearchRequest("\x09", kEntries));
    }
    // Each holds at most its share (plus the piece that crossed it) while blocked...
    ASSERT_TRUE(Eventually([&] { return host.Connects.load() == kClients; }));
    std::size_t most = 0;
    while (host.Server.ConnectionCount() > 0) {
        most = std::max(most, host.Server.UnsentBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(most, 0u);
    EXPECT_LE(most, kClients * (kShare + 1024));
    // ...and was ended by the write timeout without the client doing anything.
    for (const int fd : clients) ::close(fd);
}

void ResetsInTheMiddleOfAnAnswer(THostileServer& host) {
    for (int i = 0; i < 50; ++i) {
        const int fd = SmallWindowClient(host.Port);
        SendRaw(fd, SearchRequest("\x0A", 20000));
        EXPECT_EQ(ReadRaw(fd, 64 * 1024).size(), 64u * 1024);
        Reset(fd);
    }
}

void ThousandConnectsAndClosesInABurst(THostileServer& host) {
    for (int i = 0; i < 1000; ++i) TWireClient client(host.Port);
    EXPECT_TRUE(Eventually([&] { return host.Disconnects.load() == 1000; })) << host.Disconnects.load();
}

void StopWithHundredsInEveryState(THostileServer& host) {
    std::vector<std::unique_ptr<TWireClient>> clients;
    std::vector<int> raw;
    const std::string bind = BindRequest("\x0B");
    for (int i = 0; i < 100; ++i) clients.push_back(std::make_unique<TWireClient>(host.Port));  // idle
    for (int i = 0; i < 100; ++i) {  // half a message
        clients.push_back(std::make_unique<TWireClient>(host.Port));
        clients.back()->Send(bind.substr(0, 5));
    }
    for (int i = 0; i < 100; ++i) {  // a bind never read
        clients.push_back(std::make_unique<TWireClient>(host.Port));
        clients.back()->Send(bind);
    }
    for (int i = 0; i < 100; ++i) {  // a large answer never read
        raw.push_back(SmallWindowClient(host.Port));
        SendRaw(raw.back(), SearchRequest("\x0C", 40000));
    }
    for (int i = 0; i < 100; ++i) {  // a request sent as the stop begins
        clients.push_back(std::make_unique<TWireClient>(host.Port));
        clients.back()->Send(SearchRequest("\x0D", 50));
    }
    EXPECT_TRUE(Eventually([&] { return host.Connects.load() == 500; })) << host.Connects.load();
    EXPECT_NO_THROW(host.Server.SetActive(false));
    EXPECT_FALSE(host.Server.Active());
    EXPECT_EQ(host.Disconnects.load(), host.Connects.load());
    for (auto& client : clients) EXPECT_TRUE(client->PeerClosed(kWaitMs));
    for (const int fd : raw) ::close(fd);
    // The same server starts again at the same port.
    host.Server.SetActive(true);
    ASSERT_TRUE(host.Server.Active());
    EXPECT_EQ(host.Server.Binding(0).Port, host.Port);
}

INSTANTIATE_TEST_SUITE_P(
    Listener, Hostile,
    ::testing::Values(HostileCase{"DescriptorLimitReachedThenReleased", 0, DescriptorLimitReachedThenReleased},
                      HostileCase{"ConnectionCap", 20, ConnectionCap},
                      HostileCase{"HalfAMessageThenSilence", 0, HalfAMessageThenSilence},
                      HostileCase{"OneByteAtATime", 0, OneByteAtATime},
                      HostileCase{"NeverReadsALargeAnswer", 0, NeverReadsALargeAnswer},
                      HostileCase{"ResetsInTheMiddleOfAnAnswer", 0, ResetsInTheMiddleOfAnAnswer},
                      HostileCase{"ThousandConnectsAndClosesInABurst", 0, ThousandConnectsAndClosesInABurst},
                      HostileCase{"StopWithHundredsInEveryState", 0, StopWithHundredsInEveryState}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
