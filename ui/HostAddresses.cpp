#include "ui/HostAddresses.h"

#include "config/AsciiText.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::vector<std::string> HostIPv4Addresses()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        throw EResolveError(std::string("Cannot read the host name: ") + std::strerror(errno));

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one answer per address, not one per socket type
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name, nullptr, &hints, &found);
    if (rc != 0) throw EResolveError(std::string("Cannot resolve the host name ") + name + ": " + ::gai_strerror(rc));

    std::vector<std::string> addresses;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addr == nullptr) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr) continue;
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.emplace_back(text);
    }
    ::freeaddrinfo(found);
    return addresses;
}

std::vector<std::string> HostIPv6Addresses()
{
    std::vector<std::string> addresses;
    ifaddrs* interfaces = nullptr;
    // A host without IPv6 (or without interfaces to list) simply offers none.
    if (::getifaddrs(&interfaces) != 0) return addresses;
    for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET6 || (i->ifa_flags & IFF_UP) == 0) continue;
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
        if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr)) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) == nullptr) continue;
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.emplace_back(text);
    }
    ::freeifaddrs(interfaces);
    return addresses;
}

std::vector<std::string> HostBindingAddresses()
{
    std::vector<std::string> addresses = HostIPv4Addresses();
    for (std::string& address : HostIPv6Addresses()) addresses.push_back(std::move(address));
    return addresses;
}

namespace {

// An IPv6 address, also written in brackets.
bool ParseIPv6(std::string text, in6_addr& address)
{
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace

bool SameAddress(const std::string& a, const std::string& b)
{
    in6_addr a6{}, b6{};
    if (ParseIPv6(a, a6) && ParseIPv6(b, b6)) return std::memcmp(&a6, &b6, sizeof a6) == 0;
    return SameTextASCII(a, b);
}
