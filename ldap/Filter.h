// Search filter evaluation against one directory entry.
#pragma once

#include "directory/UserInfo.h"
#include "ldap/LDAPASN.h"

#include <stdexcept>

// Deeper than any client nests and, or and not; shallow enough that the
// recursion is harmless on a connection thread's stack.
inline constexpr int kMaxFilterDepth = 64;

// Raised when evaluation reaches a filter nested deeper than kMaxFilterDepth;
// the connection ends as for a malformed message.
class EFilterDepthError : public std::runtime_error {
public:
    EFilterDepthError();
};

// and, or and not combine; substrings compares parts with the first value of
// the attribute, ASCII case ignored. Every other filter never matches. A
// missing child raises EListIndexError when evaluation reaches it.
bool MatchFilter(const TASNNode& filter, const TUserInfo& entry);
