// The host's own addresses, as offered for binding.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

class EResolveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The host's name resolved to its IPv4 addresses, dotted decimal, in the order
// the resolver gives them, each once. Raises EResolveError when the name does
// not resolve.
std::vector<std::string> HostIPv4Addresses();

// The IPv6 addresses of the host's interfaces that are up, in the system's
// interface order, each once, in their shortest text form. Link-local
// addresses are left out: binding one needs an interface name besides the
// address. Empty where the host has none (or no IPv6 at all).
std::vector<std::string> HostIPv6Addresses();

// What the Bindings page offers: the IPv4 addresses, then the IPv6 ones.
std::vector<std::string> HostBindingAddresses();

// Whether two address texts name the same address: IPv6 addresses compare as
// addresses ("FD00:0::1", "[fd00::1]" and "fd00::1" agree), since they have
// many spellings;
// anything else compares as text without regard to ASCII letter case.
bool SameAddress(const std::string& a, const std::string& b);
