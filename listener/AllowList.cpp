#include "listener/AllowList.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace {

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsV4Mapped(const std::uint8_t* octets) {
    static const std::uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(octets, prefix, sizeof prefix) == 0;
}

}  // namespace

TAllowList TAllowList::Parse(const std::string& text) {
    TAllowList list;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = Trim(text.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) {
            if (comma == text.size()) break;
            continue;
        }
        const auto bad = [&item](const std::string& why) {
            return EAllowListError("AllowFrom: \"" + item + "\" " + why);
        };
        std::string address = item;
        int prefix = -1;
        if (const std::size_t slash = item.find('/'); slash != std::string::npos) {
            address = item.substr(0, slash);
            const std::string digits = item.substr(slash + 1);
            if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
                throw bad("has no valid prefix length");
            prefix = std::stoi(digits);
        }
        if (address.size() > 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
        TNetwork network;
        if (inet_pton(AF_INET, address.c_str(), network.Octets.data()) == 1) {
            network.V6 = false;
            network.Prefix = prefix < 0 ? 32 : prefix;
            if (network.Prefix > 32) throw bad("has a prefix longer than 32");
        } else if (inet_pton(AF_INET6, address.c_str(), network.Octets.data()) == 1) {
            network.V6 = true;
            network.Prefix = prefix < 0 ? 128 : prefix;
            if (network.Prefix > 128) throw bad("has a prefix longer than 128");
            // Written as a mapped IPv4 address: it is the IPv4 network.
            if (IsV4Mapped(network.Octets.data()) && network.Prefix >= 96) {
                std::memmove(network.Octets.data(), network.Octets.data() + 12, 4);
                std::memset(network.Octets.data() + 4, 0, 12);
                network.V6 = false;
                network.Prefix -= 96;
            }
        } else {
            throw bad("is not an IPv4 or IPv6 address or network");
        }
        list.FNetworks.push_back(network);
    }
    return list;
}

bool TAllowList::Matches(const TNetwork& network, bool v6, const std::uint8_t* octets) {
    if (network.V6 != v6) return false;
    const int whole = network.Prefix / 8;
    if (std::memcmp(network.Octets.data(), octets, static_cast<std::size_t>(whole)) != 0) return false;
    const int rest = network.Prefix % 8;
    if (rest == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return (network.Octets[static_cast<std::size_t>(whole)] & mask) == (octets[whole] & mask);
}

bool TAllowList::Permits(const sockaddr& peer) const {
    if (FNetworks.empty()) return true;
    const std::uint8_t* octets = nullptr;
    bool v6 = false;
    if (peer.sa_family == AF_INET) {
        octets = reinterpret_cast<const std::uint8_t*>(&reinterpret_cast<const sockaddr_in&>(peer).sin_addr);
    } else if (peer.sa_family == AF_INET6) {
        octets = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr.s6_addr;
        v6 = !IsV4Mapped(octets);
        if (!v6) octets += 12;
    } else {
        return false;
    }
    for (const TNetwork& network : FNetworks)
        if (Matches(network, v6, octets)) return true;
    return false;
}
