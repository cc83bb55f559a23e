// Finds where one complete top-level BER element (one LDAP message) ends in a
// stream of received bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string_view>

// Raised when a message must end its connection without an answer for a reason
// other than a missing element (declared length above the cap).
class EFramingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest declared content length of one message.
inline constexpr std::size_t kMaxMessageSize = 32768;

// Size in octets (identifier, length octets and content) of the first top-level
// element of data, or nullopt while its header or content is incomplete. Lengths
// are read as the decoder reads them: short form, or 0x80 + n followed by n
// octets (0x80 alone declares 0). Raises EFramingError when the declared length
// exceeds maxContent.
std::optional<std::size_t> FrameSize(std::string_view data, std::size_t maxContent = kMaxMessageSize);
