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
