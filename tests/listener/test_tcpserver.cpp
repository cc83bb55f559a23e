// The listener on the wire: exact answers over loopback sockets, connection
// events and their threads, activation and deactivation, bindings.
#include "listener/TcpServer.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using wire::BindRequest;
using wire::BindResponse;
using wire::Hex;
using wire::StartLdapServer;
using wire::ToHex;
using wire::TWireClient;

namespace {

constexpr int kWaitMs = 10000;  // only to keep a broken server from hanging the test

// Counts events from connection threads; the test thread waits on it.
class TEventLog {
public:
    void Record(const std::string& event) {
        std::lock_guard lock(FMutex);  // guards FEvents and FThreads
        FEvents.push_back(event);
        FThreads.push_back(std::this_thread::get_id());
        FChanged.notify_all();
    }
    int Count(const std::string& event) const {
        std::lock_guard lock(FMutex);
        return CountLocked(event);
    }
    bool WaitFor(const std::string& event, int count, int timeoutMs = kWaitMs) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return CountLocked(event) >= count; });
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard lock(FMutex);
        return FThreads;
    }

private:
    int CountLocked(const std::string& event) const {
        int n = 0;
        for (const auto& e : FEvents) n += e == event ? 1 : 0;
        return n;
    }
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<std::string> FEvents;
    std::vector<std::thread::id> FThreads;
};

void RecordEvents(TTCPServer& server, TEventLog& log) {
    server.OnConnect = [&log](TConnection&) { log.Record("connect"); };
    server.OnDisconnect = [&log](TConnection&) { log.Record("disconnect"); };
}

// A port nobody listens on right now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Binds (without SO_REUSEADDR) and listens on 127.0.0.1:port; -1 when it fails.
int ListenOn(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class Wire : public ::testing::Test {
protected:
    void SetUp() override {
        RecordEvents(Server, Events);
        Port = StartLdapServer(Server);
    }
    TEventLog Events;
    TTCPServer Server;
    int Port = 0;
};

// ------------------------------------------------------------------ answers

TEST_F(Wire, BindWithMessageIDOne) {
    TWireClient client(Port);
    client.Send(Hex("30 0C 02 01 01 60 07 02 01 03 04 00 80 00"));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), "30 0C 02 01 01 61 07 0A 01 00 04 00 04 00");
}

TEST_F(Wire, BindWithMessageID300) {
    TWireClient client(Port);
    client.Send(Hex("30 1B 02 02 01 2C 60 15 02 01 03 04 08 63 6E 3D 61 64 6D 69 6E 80 06 73 65 63 72 65 74"));
    EXPECT_EQ(ToHex(client.ReadExactly(15)), "30 0D 02 02 01 2C 61 07 0A 01 00 04 00 04 00");
}

TEST_F(Wire, BindWithEveryLengthInFourOctets) {
    TWireClient client(Port);
    client.Send(Hex("30 84 00 00 00 17 02 84 00 00 00 01 05 60 84 00 00 00 0A "
                    "02 01 03 04 84 00 00 00 00 80 00"));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), "30 0C 02 01 05 61 07 0A 01 00 04 00 04 00");
}

struct SilentCase {
    const char* Name;
    const char* Bytes;
};

class WireSilent : public Wire, public ::testing::WithParamInterface<SilentCase> {};

// No answer; the bind sent after it is the first thing answered.
TEST_P(WireSilent, NoAnswerAndStaysOpen) {
    TWireClient client(Port);
    client.Send(Hex(GetParam().Bytes));
    client.Send(BindRequest("\x09"));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x09")));
    EXPECT_EQ(Events.Count("disconnect"), 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, WireSilent,
                         ::testing::Values(SilentCase{"Unbind", "30 05 02 01 02 42 00"},
                                           SilentCase{"Modify", "30 0A 02 01 02 66 05 04 01 78 30 00"},
                                           SilentCase{"Add", "30 0A 02 01 02 68 05 04 01 78 30 00"},
                                           SilentCase{"Delete", "30 06 02 01 02 4A 01 78"},
                                           SilentCase{"Compare", "30 0E 02 01 02 6E 09 04 01 78 30 04 04 00 04 00"}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct EndCase {
    const char* Name;
    std::string Bytes;
};

class WireEnd : public Wire, public ::testing::WithParamInterface<EndCase> {};

std::string Repeat(const std::string& unit, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += unit;
    return out;
}

// The connection ends without an answer; another client is still served.
TEST_P(WireEnd, ClosesWithoutAnswer) {
    TWireClient other(Port);
    TWireClient client(Port);
    client.Send(GetParam().Bytes);
    std::string received;
    EXPECT_TRUE(client.PeerClosed(kWaitMs, &received));
    EXPECT_EQ(ToHex(received), "");
    other.Send(BindRequest("\x02"));
    EXPECT_EQ(ToHex(other.ReadExactly(14)), ToHex(BindResponse("\x02")));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, WireEnd,
    ::testing::Values(EndCase{"EmptySequence", Hex("30 00")},
                      EndCase{"OnlyMessageID", Hex("30 03 02 01 01")},
                      // Only the header: the declared size alone ends it.
                      EndCase{"DeclaredAboveCap", Hex("30 84 00 00 80 01")},
                      EndCase{"DeclaredHuge", Hex("30 84 FF FF FF FF 02 01 01")},
                      // 8,001 levels inside the cap: the nesting bound ends it.
                      EndCase{"DeepWithinCap", Hex("30 82 7D 00") + Repeat(Hex("30 82 FF FF"), 8000)},
                      // 10,000 levels whose outer length passes the cap.
                      EndCase{"TenThousandLevels", Repeat(Hex("30 84 FF FF FF FF"), 10000)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Wire, UnbindThenCloseGivesNothing) {
    TWireClient client(Port);
    client.Send(Hex("30 05 02 01 02 42 00"));
    client.Close();
    EXPECT_TRUE(Events.WaitFor("disconnect", 1));
}

TEST_F(Wire, TwoBindsInOneWrite) {
    TWireClient client(Port);
    client.Send(BindRequest("\x01") + BindRequest("\x02"));
    EXPECT_EQ(ToHex(client.ReadExactly(28)), ToHex(BindResponse("\x01") + BindResponse("\x02")));
}

// A client that sends its last request and shuts its side still gets the answer.
TEST_F(Wire, HalfClosedClientGetsItsAnswer) {
    TWireClient client(Port);
    client.Send(BindRequest("\x01") + BindRequest("\x02"));
    ::shutdown(client.Socket(), SHUT_WR);
    std::string received;
    EXPECT_TRUE(client.PeerClosed(kWaitMs, &received));
    EXPECT_EQ(ToHex(received), ToHex(BindResponse("\x01") + BindResponse("\x02")));
}

TEST_F(Wire, BindInTwoPartsAnsweredOnce) {
    TWireClient client(Port);
    const std::string bind = BindRequest("\x04", "cn=two parts");
    client.Send(bind.substr(0, 9));
    // Give the server the chance to handle the first part on its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Send(bind.substr(9));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x04")));
    // Nothing else was answered in between: the next answer is the next bind's.
    client.Send(BindRequest("\x05"));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x05")));
}

TEST_F(Wire, MessageOfExactlyTheCapIsServed) {
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, "\x06");
    TASNNode& bind = message.Children.Add(0x60);
    bind.Children.Add(0x02, "\x03");
    bind.Children.Add(0x04, std::string(32750, 'n'));
    bind.Children.Add(0x80);
    const std::string bytes = request.Encode();
    ASSERT_EQ(ToHex(bytes.substr(0, 5)), "30 83 00 80 00");
    TWireClient client(Port);
    client.Send(bytes);
    EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x06")));
}

TEST_F(Wire, ResetByPeerEndsQuietly) {
    {
        TWireClient client(Port);
        ASSERT_TRUE(Events.WaitFor("connect", 1));
        const linger abort{1, 0};
        ::setsockopt(client.Socket(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    EXPECT_TRUE(Events.WaitFor("disconnect", 1));
    TWireClient again(Port);
    again.Send(BindRequest("\x01"));
    EXPECT_EQ(ToHex(again.ReadExactly(14)), ToHex(BindResponse("\x01")));
}

TEST_F(Wire, HundredsOfClientsAtOnce) {
    constexpr int kClients = 200;
    std::vector<std::unique_ptr<TWireClient>> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<TWireClient>(Port));
    for (int i = 0; i < kClients; ++i) clients[i]->Send(BindRequest(std::string(1, static_cast<char>(i % 100))));
    for (int i = 0; i < kClients; ++i)
        ASSERT_EQ(ToHex(clients[i]->ReadExactly(14)), ToHex(BindResponse(std::string(1, static_cast<char>(i % 100)))))
            << i;
    EXPECT_EQ(Events.Count("connect"), kClients);
}

// ------------------------------------------------------------------- events

TEST(Events, ConnectAndDisconnectOnceOnTheConnectionThread) {
    TEventLog events;
    TTCPServer server;
    RecordEvents(server, events);
    const int port = StartLdapServer(server);
    { TWireClient client(port); }
    ASSERT_TRUE(events.WaitFor("disconnect", 1));
    server.SetActive(false);
    EXPECT_EQ(events.Count("connect"), 1);
    EXPECT_EQ(events.Count("disconnect"), 1);
    const auto threads = events.Threads();
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(Events, ThrowingHandlersEndOnlyTheirConnection) {
    TEventLog events;
    TTCPServer server;
    server.OnConnect = [&events](TConnection&) {
        events.Record("connect");
        if (events.Count("connect") == 1) throw std::runtime_error("connect failed");
    };
    server.OnDisconnect = [&events](TConnection&) {
        events.Record("disconnect");
        throw std::runtime_error("disconnect failed");
    };
    const int port = StartLdapServer(server);
    TWireClient refused(port);
    EXPECT_TRUE(refused.PeerClosed(kWaitMs));
    ASSERT_TRUE(events.WaitFor("disconnect", 1));
    // The server goes on for the next client.
    TWireClient served(port);
    served.Send(BindRequest("\x01"));
    EXPECT_EQ(ToHex(served.ReadExactly(14)), ToHex(BindResponse("\x01")));
    served.Close();
    ASSERT_TRUE(events.WaitFor("disconnect", 2));
    EXPECT_NO_THROW(server.SetActive(false));
}

TEST(Events, PeerIPIsTheClientAddress) {
    TTCPServer server;
    std::mutex mutex;
    std::string seen;  // guarded by mutex
    server.OnConnect = [&](TConnection& connection) {
        std::lock_guard lock(mutex);
        seen = connection.PeerIP();
    };
    TEventLog events;
    server.OnDisconnect = [&events](TConnection&) { events.Record("disconnect"); };
    const int port = StartLdapServer(server);
    { TWireClient client(port); }
    ASSERT_TRUE(events.WaitFor("disconnect", 1));
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, "127.0.0.1");
}

// ------------------------------------------------------ activation lifecycle

TEST(Lifecycle, DeactivationWithFiftyIdleClients) {
    TEventLog events;
    TTCPServer server;
    RecordEvents(server, events);
    const int port = StartLdapServer(server);
    std::vector<std::unique_ptr<TWireClient>> clients;
    for (int i = 0; i < 50; ++i) clients.push_back(std::make_unique<TWireClient>(port));
    ASSERT_TRUE(events.WaitFor("connect", 50));
    EXPECT_NO_THROW(server.SetActive(false));
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(events.Count("disconnect"), 50);
    for (auto& client : clients) EXPECT_TRUE(client->PeerClosed(kWaitMs));
    // The listener is gone too.
    EXPECT_THROW(TWireClient{port}, std::runtime_error);
}

TEST(Lifecycle, NoBindingsBindsAllInterfaces) {
    TTCPServer server;
    EXPECT_EQ(server.DefaultPort(), 389);
    server.SetDefaultPort(0);  // let the system choose; read back below
    server.OnExecute = [](TConnection& connection) { SrvExecuteMessage(connection, {}); };
    ASSERT_EQ(server.BindingCount(), 0);
    server.SetActive(true);
    ASSERT_TRUE(server.Active());
    ASSERT_EQ(server.BindingCount(), 1);
    EXPECT_EQ(server.Binding(0).IP, "0.0.0.0");
    ASSERT_NE(server.Binding(0).Port, 0);
    TWireClient client(server.Binding(0).Port);
    client.Send(BindRequest("\x01"));
    EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x01")));
    EXPECT_THROW(server.Binding(1), EListIndexError);
}

TEST(Lifecycle, BusyPortFailsAndReleasesEverything) {
    const int busy = ListenOn(0);
    ASSERT_GE(busy, 0);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(busy, reinterpret_cast<sockaddr*>(&address), &size);
    const int busyPort = ntohs(address.sin_port);
    const int freePort = FreePort();

    TTCPServer server;
    server.AddBinding("127.0.0.1", freePort);
    server.AddBinding("127.0.0.1", busyPort);
    try {
        server.SetActive(true);
        ADD_FAILURE() << "activation on a busy port succeeded";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(server.Active());
    // The first binding's socket was released: the port can be bound again.
    const int again = ListenOn(freePort);
    EXPECT_GE(again, 0);
    if (again >= 0) ::close(again);
    ::close(busy);
    // Once the port is free the same server starts.
    EXPECT_NO_THROW(server.SetActive(true));
    EXPECT_TRUE(server.Active());
}

struct BadBindingCase {
    const char* Name;
    const char* IP;
    int Port;
};

class BadBinding : public ::testing::TestWithParam<BadBindingCase> {};

TEST_P(BadBinding, ActivationRaisesAndStaysInactive) {
    TTCPServer server;
    server.AddBinding("127.0.0.1", 0);
    server.AddBinding(GetParam().IP, GetParam().Port);
    EXPECT_THROW(server.SetActive(true), ESocketError);
    EXPECT_FALSE(server.Active());
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, BadBinding,
                         ::testing::Values(BadBindingCase{"NotAnAddress", "not-an-address", 0},
                                           BadBindingCase{"Empty", "", 0},
                                           // TEST-NET-3: not on this host
                                           BadBindingCase{"AbsentAddress", "203.0.113.7", 0},
                                           BadBindingCase{"PortTooLarge", "127.0.0.1", 65536},
                                           BadBindingCase{"NegativePort", "127.0.0.1", -1}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Lifecycle, BindingsFixedWhileActive) {
    TTCPServer server;
    server.AddBinding("127.0.0.1", 0);
    server.SetActive(true);
    EXPECT_THROW(server.ClearBindings(), ESocketError);
    EXPECT_THROW(server.AddBinding("127.0.0.1", 0), ESocketError);
    EXPECT_EQ(server.BindingCount(), 1);
    // Repeated commands are harmless.
    EXPECT_NO_THROW(server.SetActive(true));
    server.SetActive(false);
    EXPECT_NO_THROW(server.SetActive(false));
    EXPECT_NO_THROW(server.ClearBindings());
}

// A handler that never returns: deactivation gives up after its wait, raises and
// the server stays active; once the handler returns, deactivation succeeds.
TEST(Lifecycle, StuckHandlerKeepsServerActive) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;  // guarded by mutex
    TEventLog events;
    TTCPServer server;
    RecordEvents(server, events);
    server.OnExecute = [&](TConnection&) {
        events.Record("execute");
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
    };
    server.AddBinding("127.0.0.1", 0);
    server.SetActive(true);
    const int port = server.Binding(0).Port;
    TWireClient stuck(port);
    // Execute runs once a whole message is pending.
    stuck.Send(BindRequest("\x01"));
    ASSERT_TRUE(events.WaitFor("execute", 1));
    EXPECT_THROW(server.SetActive(false), ESocketError);
    EXPECT_TRUE(server.Active());
    EXPECT_EQ(events.Count("disconnect"), 0);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_NO_THROW(server.SetActive(false));
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(events.Count("disconnect"), 1);
    EXPECT_TRUE(stuck.PeerClosed(kWaitMs));
}

TEST(Lifecycle, DestructorEndsConnections) {
    TEventLog events;
    std::vector<std::unique_ptr<TWireClient>> clients;
    {
        TTCPServer server;
        RecordEvents(server, events);
        const int port = StartLdapServer(server);
        for (int i = 0; i < 5; ++i) clients.push_back(std::make_unique<TWireClient>(port));
        ASSERT_TRUE(events.WaitFor("connect", 5));
    }
    EXPECT_EQ(events.Count("disconnect"), 5);
}

TEST(Lifecycle, ReactivationServesAgain) {
    TTCPServer server;
    for (int round = 0; round < 3; ++round) {
        const int port = StartLdapServer(server);
        TWireClient client(port);
        client.Send(BindRequest("\x01"));
        EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x01"))) << round;
        server.SetActive(false);
    }
}

}  // namespace
