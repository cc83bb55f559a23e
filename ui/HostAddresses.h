// The host's own IPv4 addresses, as offered for binding.
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
