// A running listener given new bindings: only the sockets that changed are
// opened or closed, and connections stay.
#include "listener/TcpServer.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using wire::BindRequest;
using wire::BindResponse;
using wire::Hex;
using wire::TWireClient;

namespace {

// A binding of a row: address and which of the row's two free ports.
struct TPlace {
    std::string IP;
    int PortSlot;
};

struct TRebindCase {
    const char* Label;
    std::vector<TPlace> Before;
    std::vector<TPlace> After;
    bool Fails;  // Rebind raises and changes nothing
    std::vector<TPlace> Refused;  // after the rebind
};

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

// Whether a client at ip:port gets its bind answered.
bool Answers(const std::string& ip, int port)
{
    // 0.0.0.0 is reached through loopback.
    std::optional<TWireClient> client;
    try {
        client.emplace(port, ip == "0.0.0.0" ? "127.0.0.1" : ip);
    } catch (const std::runtime_error&) {
        return false;
    }
    client->Send(BindRequest(Hex("07")));
    return client->ReadExactly(BindResponse(Hex("07")).size()) == BindResponse(Hex("07"));
}

class Rebind : public ::testing::TestWithParam<TRebindCase> {};

} // namespace

TEST_P(Rebind, OnlyChangedSocketsMoveAndConnectionsStay)
{
    const TRebindCase& row = GetParam();
    // Two ports the kernel freed one after the other may be the same one.
    const int firstPort = FreePort();
    int secondPort = FreePort();
    while (secondPort == firstPort) secondPort = FreePort();
    const int ports[2] = {firstPort, secondPort};
    auto bindings = [&](const std::vector<TPlace>& places) {
        std::vector<TBinding> out;
        for (const TPlace& p : places) out.push_back(TBinding{p.IP, ports[p.PortSlot]});
        return out;
    };
    TTCPServer server;
    server.OnExecute = [](TConnection& connection) { SrvExecuteMessage(connection, {}); };
    for (const TBinding& b : bindings(row.Before)) server.AddBinding(b.IP, b.Port);
    server.SetActive(true);

    // A client connected before the change.
    const TPlace first = row.Before.front();
    TWireClient old(ports[first.PortSlot], first.IP == "0.0.0.0" ? "127.0.0.1" : first.IP);
    old.Send(BindRequest(Hex("01")));
    ASSERT_EQ(old.ReadExactly(BindResponse(Hex("01")).size()), BindResponse(Hex("01")));

    if (row.Fails)
        EXPECT_THROW(server.Rebind(bindings(row.After)), ESocketError);
    else
        server.Rebind(bindings(row.After));

    const std::vector<TPlace>& listening = row.Fails ? row.Before : row.After;
    ASSERT_EQ(server.BindingCount(), static_cast<int>(listening.size()));
    for (std::size_t i = 0; i < listening.size(); ++i) {
        EXPECT_EQ(server.Binding(static_cast<int>(i)).IP, listening[i].IP);
        EXPECT_EQ(server.Binding(static_cast<int>(i)).Port, ports[listening[i].PortSlot]);
        EXPECT_TRUE(Answers(listening[i].IP, ports[listening[i].PortSlot])) << listening[i].IP;
    }
    for (const TPlace& p : row.Refused) EXPECT_FALSE(Answers(p.IP, ports[p.PortSlot])) << p.IP;
    old.Send(BindRequest(Hex("02")));
    EXPECT_EQ(old.ReadExactly(BindResponse(Hex("02")).size()), BindResponse(Hex("02")));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, Rebind,
    ::testing::Values(
        TRebindCase{"AddASecondAddress", {{"127.0.0.1", 0}}, {{"127.0.0.1", 0}, {"127.0.0.2", 0}}, false, {}},
        TRebindCase{"DropTheAddressInUse", {{"127.0.0.1", 0}, {"127.0.0.2", 0}}, {{"127.0.0.2", 0}}, false,
                    {{"127.0.0.1", 0}}},
        TRebindCase{"MoveToAnotherPort", {{"127.0.0.1", 0}}, {{"127.0.0.1", 1}}, false, {{"127.0.0.1", 0}}},
        TRebindCase{"AllInterfacesToOneOnTheSamePort", {{"0.0.0.0", 0}}, {{"127.0.0.1", 0}}, false,
                    {{"127.0.0.2", 0}}},
        TRebindCase{"NothingChanged", {{"127.0.0.1", 0}}, {{"127.0.0.1", 0}}, false, {{"127.0.0.2", 0}}},
        TRebindCase{"AnAddressNotOnThisHostChangesNothing", {{"127.0.0.1", 0}},
                    {{"127.0.0.1", 1}, {"192.0.2.1", 1}}, true, {{"127.0.0.1", 1}}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(RebindInactive, ReplacesTheBindingsOnly)
{
    TTCPServer server;
    server.AddBinding("127.0.0.1", 1);
    server.Rebind({TBinding{"127.0.0.2", 2}, TBinding{"127.0.0.3", 3}});
    EXPECT_FALSE(server.Active());
    ASSERT_EQ(server.BindingCount(), 2);
    EXPECT_EQ(server.Binding(1).IP, "127.0.0.3");
}

TEST(LoopTurns, EveryLoopTurnsWhenWoken)
{
    TTCPServer server;
    server.Limits.Threads = 3;
    EXPECT_TRUE(server.LoopTurns().empty());
    server.AddBinding("127.0.0.1", 0);
    server.SetActive(true);
    const std::vector<std::uint64_t> before = server.LoopTurns();
    ASSERT_EQ(before.size(), 3u);
    std::vector<std::uint64_t> after = before;
    // Bounded only so that a stuck loop fails instead of hanging.
    for (int i = 0; i < 1000 && after == before; ++i) {
        server.WakeLoops();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        after = server.LoopTurns();
        for (std::size_t l = 0; l < after.size(); ++l)
            if (after[l] == before[l]) after = before;
    }
    for (std::size_t l = 0; l < after.size(); ++l) EXPECT_GT(after[l], before[l]) << "loop " << l;
    server.SetActive(false);
    EXPECT_TRUE(server.LoopTurns().empty());
}
