// Every BER identifier octet and result code the LDAP side reads or writes.
// Decoder, encoders and handlers name tags only through these.
#pragma once

#include <cstdint>

// Universal types.
enum class TUniversalTag : std::uint8_t {
    Boolean = 0x01,
    Integer = 0x02,
    OctetString = 0x04,
    Enumerated = 0x0A,
    Sequence = 0x30,
    Set = 0x31,
};

// protocolOp choices of an LDAPMessage.
enum class TOperationTag : std::uint8_t {
    BindRequest = 0x60,
    BindResponse = 0x61,
    UnbindRequest = 0x42,
    SearchRequest = 0x63,
    SearchResultEntry = 0x64,
    SearchResultDone = 0x65,
    ModifyRequest = 0x66,
    ModifyResponse = 0x67,
    AddRequest = 0x68,
    AddResponse = 0x69,
    DelRequest = 0x4A,
    DelResponse = 0x6B,
    ModifyDNRequest = 0x6C,
    ModifyDNResponse = 0x6D,
    CompareRequest = 0x6E,
    CompareResponse = 0x6F,
    AbandonRequest = 0x50,
    ExtendedRequest = 0x77,
    ExtendedResponse = 0x78,
};

// Filter choices.
enum class TFilterTag : std::uint8_t {
    And = 0xA0,
    Or = 0xA1,
    Not = 0xA2,
    EqualityMatch = 0xA3,
    Substrings = 0xA4,
    GreaterOrEqual = 0xA5,
    LessOrEqual = 0xA6,
    Present = 0x87,
    ApproxMatch = 0xA8,
    ExtensibleMatch = 0xA9,
};

// Parts of a substrings filter.
enum class TSubstringTag : std::uint8_t {
    Initial = 0x80,
    Any = 0x81,
    Final = 0x82,
};

// Fields of a MatchingRuleAssertion (extensible match).
enum class TMatchingRuleTag : std::uint8_t {
    MatchingRule = 0x81,
    Type = 0x82,
    MatchValue = 0x83,
    DnAttributes = 0x84,
};

// requestName and requestValue of an ExtendedRequest, responseName of its
// response.
enum class TExtendedTag : std::uint8_t {
    RequestName = 0x80,
    RequestValue = 0x81,
    ResponseName = 0x8A,
};

// resultCode values sent.
enum class TResultCode : std::uint8_t {
    Success = 0,
    OperationsError = 1,
    ProtocolError = 2,
    SizeLimitExceeded = 4,
    CompareFalse = 5,
    CompareTrue = 6,
    ConfidentialityRequired = 13,
    NoSuchObject = 32,
    UnwillingToPerform = 53,
};

// The identifier octet as the tree stores it.
constexpr int TagOf(TUniversalTag t) { return static_cast<int>(t); }
constexpr int TagOf(TOperationTag t) { return static_cast<int>(t); }
constexpr int TagOf(TFilterTag t) { return static_cast<int>(t); }
constexpr int TagOf(TSubstringTag t) { return static_cast<int>(t); }
constexpr int TagOf(TMatchingRuleTag t) { return static_cast<int>(t); }
constexpr int TagOf(TExtendedTag t) { return static_cast<int>(t); }
