// Search filter evaluation against one directory entry.
#pragma once

#include "directory/UserInfo.h"
#include "directory/UserList.h"
#include "ldap/LDAPASN.h"

#include <stdexcept>
#include <string_view>

// Filter and substring-part tags the evaluator understands.
inline constexpr int kFilterAnd = 0xA0;
inline constexpr int kFilterOr = 0xA1;
inline constexpr int kFilterNot = 0xA2;
inline constexpr int kFilterSubstrings = 0xA4;
inline constexpr int kPartInitial = 0x80;
inline constexpr int kPartAny = 0x81;
inline constexpr int kPartFinal = 0x82;

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
bool MatchFilter(const TASNNode& filter, const TEntryView& entry);

// The attribute type of a substrings filter: its first child's octets without
// leading and trailing octets of 0x20 or below.
std::string_view SubstringsAttributeType(const TASNNode& substrings);
