// The host's own addresses as the resolver gives them.
#include "ui/HostAddresses.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>

TEST(HostAddresses, DottedIPv4EachOnceOrAResolverError)
{
    std::vector<std::string> addresses;
    try {
        addresses = HostIPv4Addresses();
    } catch (const EResolveError& e) {
        // A host whose own name does not resolve: the cause is named.
        EXPECT_EQ(std::string(e.what()).rfind("Cannot resolve the host name ", 0), 0u) << e.what();
        return;
    }
    std::set<std::string> seen;
    for (const std::string& a : addresses) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, a.c_str(), &parsed), 1) << a;
        EXPECT_TRUE(seen.insert(a).second) << a << " twice";
    }
}

TEST(HostAddresses, IPv6ShortestFormEachOnceWithoutLinkLocal)
{
    std::set<std::string> seen;
    for (const std::string& a : HostIPv6Addresses()) {
        in6_addr parsed{};
        ASSERT_EQ(inet_pton(AF_INET6, a.c_str(), &parsed), 1) << a;
        EXPECT_FALSE(IN6_IS_ADDR_LINKLOCAL(&parsed)) << a;
        char shortest[INET6_ADDRSTRLEN] = {};
        ASSERT_NE(inet_ntop(AF_INET6, &parsed, shortest, sizeof shortest), nullptr);
        EXPECT_EQ(a, shortest);
        EXPECT_TRUE(seen.insert(a).second) << a << " twice";
    }
}

TEST(HostAddresses, BindingAddressesAreIPv4ThenIPv6)
{
    std::vector<std::string> v4;
    try {
        v4 = HostIPv4Addresses();
    } catch (const EResolveError&) {
        EXPECT_THROW(HostBindingAddresses(), EResolveError);
        return;
    }
    std::vector<std::string> expected = v4;
    for (const std::string& a : HostIPv6Addresses()) expected.push_back(a);
    EXPECT_EQ(HostBindingAddresses(), expected);
}

struct TSameAddressCase {
    const char* Name;
    const char* A;
    const char* B;
    bool Same;
};

class SameAddressTable : public testing::TestWithParam<TSameAddressCase> {};

TEST_P(SameAddressTable, ComparesAsTheRuleSays)
{
    const TSameAddressCase& c = GetParam();
    EXPECT_EQ(SameAddress(c.A, c.B), c.Same);
    EXPECT_EQ(SameAddress(c.B, c.A), c.Same);
}

const TSameAddressCase kSameAddressCases[] = {
    {"EqualIPv4", "10.0.0.5", "10.0.0.5", true},
    {"OtherIPv4", "10.0.0.5", "10.0.0.50", false},
    {"IPv4ComparedAsText", "10.0.0.5", "10.00.0.5", false},
    {"IPv6LetterCase", "FD00::1", "fd00::1", true},
    {"IPv6ZerosSpelledOut", "fd00:0:0:0:0:0:0:1", "fd00::1", true},
    {"IPv6Loopback", "0:0:0:0:0:0:0:1", "::1", true},
    {"IPv6InBrackets", "[fd00::1]", "fd00::1", true},
    {"UnclosedBracket", "[fd00::1", "fd00::1", false},
    {"OtherIPv6", "fd00::1", "fd00::2", false},
    {"IPv4MappedIsNotIPv4", "::ffff:10.0.0.5", "10.0.0.5", false},
    {"NamesAsTextIgnoringCase", "LocalHost", "localhost", true},
    {"NotAnAddress", "fd00::1x", "fd00::1", false},
};

INSTANTIATE_TEST_SUITE_P(HostAddresses, SameAddressTable, testing::ValuesIn(kSameAddressCases),
                         [](const testing::TestParamInfo<TSameAddressCase>& info) { return info.param.Name; });
