// Which client addresses an allowed-networks list lets in, and which lists it
// refuses to read.
#include "listener/AllowList.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The peer as accept() reports it: IPv4 on an IPv4 socket ("v4:"), anything on
// a dual-stack socket ("v6:", IPv4 then appears as ::ffff:a.b.c.d).
sockaddr_storage Peer(const std::string& text) {
    sockaddr_storage peer{};
    if (text.rfind("v4:", 0) == 0) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(peer);
        v4.sin_family = AF_INET;
        EXPECT_EQ(inet_pton(AF_INET, text.c_str() + 3, &v4.sin_addr), 1) << text;
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(peer);
        v6.sin6_family = AF_INET6;
        EXPECT_EQ(inet_pton(AF_INET6, text.c_str() + 3, &v6.sin6_addr), 1) << text;
    }
    return peer;
}

struct TAllowCase {
    const char* Name;
    const char* List;
    const char* Peer;
    bool Permitted;
};

class AllowedPeers : public testing::TestWithParam<TAllowCase> {};

TEST_P(AllowedPeers, PermitsExactlyTheListedNetworks) {
    const TAllowCase& c = GetParam();
    const sockaddr_storage peer = Peer(c.Peer);
    EXPECT_EQ(TAllowList::Parse(c.List).Permits(reinterpret_cast<const sockaddr&>(peer)), c.Permitted)
        << c.List << " / " << c.Peer;
}

INSTANTIATE_TEST_SUITE_P(
    AllowList, AllowedPeers,
    testing::Values(
        TAllowCase{"EmptyListLetsEveryoneIn", "", "v4:192.0.2.1", true},
        TAllowCase{"BlanksOnlyLetEveryoneIn", "  ,  ", "v6:2001:db8::1", true},
        TAllowCase{"SingleAddressMatches", "127.0.0.1", "v4:127.0.0.1", true},
        TAllowCase{"SingleAddressRefusesItsNeighbour", "127.0.0.1", "v4:127.0.0.2", false},
        TAllowCase{"MappedPeerMatchesIPv4Entry", "127.0.0.1", "v6:::ffff:127.0.0.1", true},
        TAllowCase{"MappedPeerRefusedByOtherIPv4Entry", "127.0.0.1", "v6:::ffff:127.0.0.2", false},
        TAllowCase{"Network8Contains", "10.0.0.0/8", "v4:10.255.1.2", true},
        TAllowCase{"Network8Excludes", "10.0.0.0/8", "v4:11.0.0.1", false},
        TAllowCase{"OddPrefixInside", "192.168.4.0/22", "v4:192.168.7.255", true},
        TAllowCase{"OddPrefixOutside", "192.168.4.0/22", "v4:192.168.8.0", false},
        TAllowCase{"PrefixZeroTakesAllIPv4", "0.0.0.0/0", "v4:203.0.113.9", true},
        TAllowCase{"PrefixZeroIPv4NotIPv6", "0.0.0.0/0", "v6:2001:db8::1", false},
        TAllowCase{"IPv6Loopback", "::1", "v6:::1", true},
        TAllowCase{"IPv6LoopbackInBrackets", "[::1]", "v6:::1", true},
        TAllowCase{"IPv6Network", "2001:db8::/32", "v6:2001:db8:ffff::7", true},
        TAllowCase{"IPv6NetworkExcludes", "2001:db8::/32", "v6:2001:db9::1", false},
        TAllowCase{"IPv6EntryNeverMatchesIPv4", "::/0", "v4:127.0.0.1", false},
        TAllowCase{"MappedEntryIsIPv4Network", "::ffff:10.0.0.0/104", "v4:10.1.2.3", true},
        TAllowCase{"SecondItemOfList", "10.0.0.0/8, 127.0.0.1 ,::1", "v4:127.0.0.1", true},
        TAllowCase{"NoItemOfList", "10.0.0.0/8, 127.0.0.1 ,::1", "v6:::2", false}),
    [](const testing::TestParamInfo<TAllowCase>& info) { return std::string(info.param.Name); });

struct TBadListCase {
    const char* Name;
    const char* List;
    const char* Message;
};

class BadLists : public testing::TestWithParam<TBadListCase> {};

TEST_P(BadLists, NameTheFirstBadItem) {
    const TBadListCase& c = GetParam();
    try {
        TAllowList::Parse(c.List);
        FAIL() << "accepted " << c.List;
    } catch (const EAllowListError& e) {
        EXPECT_EQ(std::string(e.what()), c.Message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllowList, BadLists,
    testing::Values(
        TBadListCase{"OctetOver255", "127.0.0.1, 10.0.0.300",
                     "AllowFrom: \"10.0.0.300\" is not an IPv4 or IPv6 address or network"},
        TBadListCase{"HostName", "localhost", "AllowFrom: \"localhost\" is not an IPv4 or IPv6 address or network"},
        TBadListCase{"IPv4PrefixOver32", "10.0.0.0/33", "AllowFrom: \"10.0.0.0/33\" has a prefix longer than 32"},
        TBadListCase{"IPv6PrefixOver128", "::/129", "AllowFrom: \"::/129\" has a prefix longer than 128"},
        TBadListCase{"EmptyPrefix", "10.0.0.0/", "AllowFrom: \"10.0.0.0/\" has no valid prefix length"},
        TBadListCase{"SignedPrefix", "10.0.0.0/-1", "AllowFrom: \"10.0.0.0/-1\" has no valid prefix length"}),
    [](const testing::TestParamInfo<TBadListCase>& info) { return std::string(info.param.Name); });

}  // namespace
