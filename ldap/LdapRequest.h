// One received LDAP message decoded once into a typed request. Handlers,
// evaluators and logs read only this form.
#pragma once

#include "ldap/FilterTree.h"
#include "ldap/LDAPASN.h"
#include "ldap/LdapTags.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

enum class TSearchScope : std::uint8_t { BaseObject, SingleLevel, WholeSubtree, Other };

struct TBindRequest {};
struct TUnbindRequest {};
struct TAbandonRequest {};

struct TSearchRequest {
    std::string BaseObject;
    TSearchScope Scope = TSearchScope::WholeSubtree;
    std::uint32_t DerefAliases = 0;
    // 0: no limit (a negative value counts as none too).
    std::uint32_t SizeLimit = 0;
    std::uint32_t TimeLimit = 0;
    bool TypesOnly = false;
    TSearchFilter Filter;
    // In wire order, duplicates kept.
    std::vector<std::string> Attributes;
};

struct TCompareRequest {
    std::string Entry;
    std::string Type; // trimmed as filter types are
    std::string Value;
    // False when the assertion lacked its type or value.
    bool Complete = false;
};

struct TExtendedRequest {
    std::string Name;
    std::string Value;
};

// Add, Modify, Delete and ModifyDN: refused whatever they carry.
struct TUpdateRequest {
    TOperationTag Tag;
};

// Any other protocolOp.
struct TOtherRequest {};

// The message had no operation element: handling it raises
// EListIndexError(Index), which ends the connection.
struct TMissingOperation {
    int Index = 0;
};

using TOperation = std::variant<TMissingOperation, TBindRequest, TUnbindRequest, TSearchRequest, TAbandonRequest,
                                TCompareRequest, TExtendedRequest, TUpdateRequest, TOtherRequest>;

struct TLdapRequest {
    // The message ID's content octets, copied unchanged into every answer.
    std::string MessageID;
    bool HasMessageID = false;
    // The operation's identifier octet as received (0 when missing).
    std::uint8_t Tag = 0;
    TOperation Operation;

    // The message ID octets; raises EListIndexError(0) when the message had
    // no first element.
    const std::string& MessageIDOctets() const;
    // Raises EListIndexError when the operation element was missing.
    void RequireOperation() const;
    const TSearchRequest* Search() const { return std::get_if<TSearchRequest>(&Operation); }

    // BER encoding of the message: exact for search requests as clients send
    // them; other operations are written as their tag with empty content.
    std::string Encode() const;
};

// The first top-level element of tree, read by position as the handlers
// always have; never raises.
TLdapRequest DecodeRequest(const TASNList& tree);

// Reads the whole big-endian INTEGER content as a non-negative count;
// negative values give 0.
std::uint32_t NonNegativeInteger(std::string_view octets);
