// Candidate entries for substring filters: for every attribute name, which
// entries hold each 3-octet window of that attribute's value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TUserList;

// Built once from a list and never changed; a list change makes a new one.
// An entry's value for a name is the one TUserInfo::ValueViewOf gives (its
// first line of that name), folded to upper case in ASCII like every search.
class TSubstringIndex {
public:
    explicit TSubstringIndex(const TUserList& list);

    // Sorted, distinct indices of a superset of the entries whose value for
    // name contains part, ASCII case ignored on both. Every entry when the
    // part is shorter than a window, since then no window narrows anything.
    std::vector<std::uint32_t> Candidates(std::string_view name, std::string_view part) const;

    std::uint32_t EntryCount() const { return FEntryCount; }
    // Distinct (name, window) keys and the octets the index occupies.
    std::size_t KeyCount() const { return FKeys.size(); }
    std::size_t MemoryBytes() const;

    static constexpr std::size_t kWindow = 3;

private:
    // Sorted keys: name id in the high bits, the three octets in the low 24.
    std::vector<std::uint64_t> FKeys;
    // The postings of FKeys[k] are FPostings[FStarts[k] .. FStarts[k + 1]).
    std::vector<std::size_t> FStarts;
    std::vector<std::uint32_t> FPostings;
    std::unordered_map<std::string, std::uint32_t> FNameIds;
    std::uint32_t FEntryCount = 0;
};
