// A search filter decoded once into typed nodes. Every evaluator, the index
// planner and the request encoder read this form, never the BER elements.
#pragma once

#include "ldap/LDAPASN.h"
#include "ldap/LdapTags.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Deeper than any client nests and, or and not; shallow enough that the
// recursion is harmless on a connection thread's stack.
inline constexpr int kMaxFilterDepth = 64;

// Raised when evaluation reaches a filter nested deeper than kMaxFilterDepth;
// the connection ends as for a malformed message.
class EFilterDepthError : public std::runtime_error {
public:
    EFilterDepthError();
};

enum class TFilterKind : std::uint8_t {
    And,
    Or,
    Not,
    Equality,
    Substrings,
    GreaterOrEqual,
    LessOrEqual,
    Present,
    Approx,
    Extensible,
    // A choice no evaluator knows, or a simple filter without its parts:
    // matches nothing and never fails.
    Unknown,
    // Fails the search when evaluation reaches it (see TFilter::Fault).
    Invalid,
};

// What reaching an Invalid node raises.
enum class TFilterFault : std::uint8_t {
    None,
    MissingElement, // EListIndexError(MissingIndex)
    TooDeep,        // EFilterDepthError
};

struct TSubstringPart {
    TSubstringTag Kind;
    std::string Text; // as sent
};

struct TFilter {
    TFilterKind Kind = TFilterKind::Unknown;
    // The identifier octet received, for logs and re-encoding.
    std::uint8_t Tag = 0;
    // Attribute description without leading and trailing octets of 0x20 or
    // below (extensible: its type, possibly empty).
    std::string Type;
    // Assertion value (extensible: matchValue).
    std::string Value;
    // Substrings: initial, any and final parts in wire order (others dropped).
    std::vector<TSubstringPart> Parts;
    // And, Or: every child in order. Not: exactly one.
    std::vector<TFilter> Children;
    // Extensible only.
    std::string Rule;
    bool DnAttributes = false;
    // Invalid only.
    TFilterFault Fault = TFilterFault::None;
    int MissingIndex = 0;

    // Raises what an Invalid node stands for; does nothing on other nodes.
    void RaiseFault() const;
};

// The filter of one search with what the decoder learnt about it.
struct TSearchFilter {
    TFilter Root;
    // Some node evaluation may reach raises: only a walk over every entry in
    // store order reproduces where.
    bool ContainsInvalid = false;
};

// The filter element as the request tree holds it.
TSearchFilter DecodeFilter(const TASNNode& element);
// A root that raises EListIndexError(index) when reached: the request had no
// filter element at that position.
TSearchFilter MissingFilter(int index);

// Appends the BER encoding of the filter. Exact for filters as clients send
// them; an Unknown or Invalid node is written as its tag with empty content.
void EncodeFilter(const TFilter& filter, TASNList& into);

// Text before the attribute description and after it that the type rule drops.
std::string_view TrimAttributeType(std::string_view text);
