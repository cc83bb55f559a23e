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
    // Column of an attribute name (any letter case), or -1 when no entry has it.
    std::int64_t Column(std::string_view name) const;

    std::uint32_t EntryCount() const { return FEntryCount; }
    // Distinct (name, window) keys and the octets the index occupies.
    std::size_t KeyCount() const { return FKeys.size(); }
    std::size_t MemoryBytes() const;

    static constexpr std::size_t kWindow = 3;

private:
    void Build(const TValueColumns& columns);
    void BuildSmall(const TValueColumns& columns, std::uint32_t column);
    TPostings Find(std::uint32_t column, std::uint32_t window) const;

    const TUserList& FList;
    // Sorted keys: column in the high bits, the three octets in the low 24.
    std::vector<std::uint64_t> FKeys;
    std::vector<std::uint32_t> FCounts;
    // The postings of FKeys[k] are FPostings[FStarts[k] .. FStarts[k + 1]):
    // entry + 1 - previous entry (+ 1), as varints.
    std::vector<std::uint64_t> FStarts;
    std::vector<char> FPostings;
    std::uint32_t FEntryCount = 0;
};
