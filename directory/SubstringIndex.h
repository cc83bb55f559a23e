// Candidate entries for substring filters: for every attribute name, which
// entries hold each 3-octet window of that attribute's value. Posting lists
// are delta-encoded, back to back in one block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TUserList;
class TValueColumns;

// Built once from a list's value columns and never changed; a list change
// makes a new one. An entry's value for a name is the one
// TUserInfo::ValueViewOf gives (its first line of that name), folded to upper
// case in ASCII like every search.
class TSubstringIndex {
public:
    // Uses list.Columns(); both must outlive the index.
    explicit TSubstringIndex(const TUserList& list);
    TSubstringIndex(const TUserList& list, const TValueColumns& columns);

    // Sorted, distinct indices of a superset of the entries whose value for
    // name contains part, ASCII case ignored on both. Every entry when the
    // part is shorter than a window, since then no window narrows anything.
    std::vector<std::uint32_t> Candidates(std::string_view name, std::string_view part) const;

    // The entries holding the rarest window of an upper-cased part in a
    // column: a superset of those whose value contains it. Parts shorter than
    // a window are not asked for.
    struct TPostings {
        const char* First = nullptr;
        const char* Last = nullptr;
        std::uint32_t Count = 0;
    };
    TPostings Rarest(std::uint32_t column, std::string_view upperPart) const;
    static void Decode(const TPostings& postings, std::vector<std::uint32_t>& into);

    // Parts shorter than a window are answered by a scan over the column's
    // contiguous upper-cased values instead: into gets exactly the entries
    // whose value begins with (tag 0x80), holds (0x81) or ends with (0x82)
    // the non-empty upperPart. False (into unspecified) as soon as more than
    // limit entries qualify.
    bool ScanShort(std::uint32_t column, int tag, std::string_view upperPart, std::uint32_t limit,
                   std::vector<std::uint32_t>& into) const;
    // Column of an attribute name (any letter case), or -1 when no entry has it.
    std::int64_t Column(std::string_view name) const;

    std::uint32_t EntryCount() const { return FEntryCount; }
    // Distinct (name, window) keys and the octets the index occupies.
    std::size_t KeyCount() const;
    std::size_t MemoryBytes() const;

    static constexpr std::size_t kWindow = 3;

private:
    // One column's lists: the postings of Windows[k] (sorted) are
    // Postings[Starts[k] .. Starts[k + 1]), entry + 1 minus the previous
    // entry + 1, as varints; Counts[k] entries.
    struct TColumnIndex {
        std::vector<std::uint32_t> Windows;
        std::vector<std::uint32_t> Counts;
        std::vector<std::uint64_t> Starts;
        std::vector<char> Postings;
    };

    void Build(const TValueColumns& columns);
    void BuildSmall(const TValueColumns& columns, std::uint32_t column, TColumnIndex& into) const;
    void BuildLarge(const TValueColumns& columns, std::uint32_t column, TColumnIndex& into) const;
    TPostings Find(std::uint32_t column, std::uint32_t window) const;

    const TUserList& FList;
    const TValueColumns& FValues;
    std::vector<TColumnIndex> FColumns;
    std::uint32_t FEntryCount = 0;
};
