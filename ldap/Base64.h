// Base64 values of LDIF lines ("name:: text"), decoded for the wire only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The octets text encodes (RFC 4648 alphabet, padding optional, blanks and
// line breaks skipped); nullopt when it holds anything else.
std::optional<std::string> DecodeBase64(std::string_view text);
