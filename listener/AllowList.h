// The client networks a server accepts connections from: addresses and CIDR
// networks, IPv4 and IPv6. An IPv4 client reaching a dual-stack socket (as
// ::ffff:a.b.c.d) is matched as the IPv4 address it is.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct sockaddr;

class EAllowListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAllowList {
public:
    // Comma-separated items, blanks around each ignored; an IPv6 item may
    // stand in brackets. Empty text (or only blanks): everyone. Raises
    // EAllowListError naming the first item that is not an address or network.
    static TAllowList Parse(const std::string& text);

    // Everyone is accepted.
    bool Empty() const { return FNetworks.empty(); }
    bool Permits(const sockaddr& peer) const;

private:
    struct TNetwork {
        bool V6 = false;
        std::array<std::uint8_t, 16> Octets{};
        int Prefix = 0;
    };
    static bool Matches(const TNetwork& network, bool v6, const std::uint8_t* octets);
    std::vector<TNetwork> FNetworks;
};
