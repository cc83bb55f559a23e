// BER element tree: every LDAP message received or sent passes through it.
// Content octets are never interpreted; only the constructed bit (0x20) of a tag is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Raised by TASNList::Items outside 0..Count-1. Handlers rely on it to abandon a
// message that lacks an element they look up.
class EListIndexError : public std::out_of_range {
public:
    explicit EListIndexError(int index);
};

// Raised when decoding passes the nesting bound; the connection ends as for a
// malformed message.
class EASNDepthError : public std::runtime_error {
public:
    EASNDepthError();
};

// Counted from the message itself: a filter nested to its own bound of 64
// sits under two levels of message and has two more below it (a substrings'
// part list and parts), so the decoder must allow at least 68. Twice the
// filter bound leaves room for any wrapping, and recursion this deep is still
// a few kilobytes of stack.
inline constexpr int kMaxASNDepth = 128;

class TASNNode;

class TASNList {
public:
    TASNList();
    ~TASNList();
    TASNList(const TASNList&) = delete;
    TASNList& operator=(const TASNList&) = delete;
    TASNList(TASNList&&) noexcept;
    TASNList& operator=(TASNList&&) noexcept;

    // Appends a new element and returns it; the list keeps ownership.
    TASNNode& Add(int tag, std::string_view value = {});
    int Count() const { return static_cast<int>(FCount); }
    TASNNode& Items(int index);
    const TASNNode& Items(int index) const;

    // Empties the list, then parses data into it. Never fails on malformed bytes;
    // raises EASNDepthError past kMaxASNDepth levels of nesting. The elements
    // of earlier decodes are reused (with their buffers), so a list decoded
    // over and over allocates only for shapes it has not held before. Returns
    // the octets newly taken for that (elements made, values grown), for a
    // caller that keeps one list and must bound what it holds.
    std::size_t Decode(std::string_view data);
    // Parses data into parent's children (or into this list when parent is null).
    void DecodeInto(TASNNode* parent, std::string_view data);
    std::string Encode() const;

private:
    // The next element: a spare one emptied for reuse, else a new one
    // (counted in taken).
    TASNNode& Append(int tag, std::string_view value, std::size_t& taken);
    void DecodeLevel(TASNList& into, std::string_view data, int depth, std::size_t& taken);
    [[noreturn]] static void RaiseIndex(int index);
    // The elements are [0, FCount); the rest are spares from earlier decodes.
    std::vector<std::unique_ptr<TASNNode>> FItems;
    std::size_t FCount = 0;
};

class TASNNode {
public:
    int Tag = 0;
    std::string Value;
    TASNList Children;
};

// Inline: every look-up of a decoded request goes through them.
inline TASNNode& TASNList::Items(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= FCount) RaiseIndex(index);
    return *FItems[static_cast<std::size_t>(index)];
}

inline const TASNNode& TASNList::Items(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= FCount) RaiseIndex(index);
    return *FItems[static_cast<std::size_t>(index)];
}

std::string EncodeNode(const TASNNode& node);
// Length octets for a content of this size.
std::string EncodeLength(std::size_t contentSize);
// Unsigned big-endian value, modulo 2^32.
std::uint32_t OctetsToInt(std::string_view octets);
