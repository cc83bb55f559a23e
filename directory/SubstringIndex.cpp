#include "directory/SubstringIndex.h"

#include "config/AsciiText.h"
#include "directory/UserList.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace {

std::uint32_t UpperOctet(char c)
{
    return static_cast<unsigned char>(UpperASCIIChar(c));
}

constexpr std::uint64_t MakeKey(std::uint32_t nameId, std::uint32_t window)
{
    return (static_cast<std::uint64_t>(nameId) << 24) | window;
}

// Calls f(window) for every 3-octet window of text, folded to upper case.
template <typename F>
void ForEachWindow(std::string_view text, F&& f)
{
    if (text.size() < TSubstringIndex::kWindow)
        return;
    std::uint32_t window = (UpperOctet(text[0]) << 8) | UpperOctet(text[1]);
    for (std::size_t j = 2; j < text.size(); ++j) {
        window = ((window << 8) | UpperOctet(text[j])) & 0xFFFFFFu;
        f(window);
    }
}

// Keeps the elements of `into` that `other` holds too; both sorted. Probes
// `other` by binary search since `into` is the shortest list in play.
void IntersectInPlace(std::vector<std::uint32_t>& into, const std::uint32_t* first, const std::uint32_t* last)
{
    std::size_t kept = 0;
    for (const std::uint32_t value : into) {
        first = std::lower_bound(first, last, value);
        if (first == last)
            break;
        if (*first == value)
            into[kept++] = value;
    }
    into.resize(kept);
}

} // namespace

TSubstringIndex::TSubstringIndex(const TUserList& list)
{
    FEntryCount = static_cast<std::uint32_t>(list.Count());
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> postings;
    std::vector<std::uint32_t> namesSeen;
    std::string name;
    for (std::uint32_t i = 0; i < FEntryCount; ++i) {
        namesSeen.clear();
        for (const std::string& line : list.Objects(static_cast<int>(i)).Attributes.Lines()) {
            const std::size_t eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            name.assign(line, 0, eq);
            UpperASCIIInPlace(name);
            const auto nextId = static_cast<std::uint32_t>(FNameIds.size());
            const std::uint32_t id = FNameIds.try_emplace(name, nextId).first->second;
            // Only the first line of a name is the value a filter compares.
            if (std::find(namesSeen.begin(), namesSeen.end(), id) != namesSeen.end())
                continue;
            namesSeen.push_back(id);
            ForEachWindow(std::string_view(line).substr(eq + 1), [&](std::uint32_t window) {
                std::vector<std::uint32_t>& entries = postings[MakeKey(id, window)];
                // Entries come in ascending order, so a repeat can only be the last one.
                if (entries.empty() || entries.back() != i)
                    entries.push_back(i);
            });
        }
    }

    FKeys.reserve(postings.size());
    std::size_t total = 0;
    for (const auto& [key, entries] : postings) {
        FKeys.push_back(key);
        total += entries.size();
    }
    std::sort(FKeys.begin(), FKeys.end());
    FStarts.reserve(FKeys.size() + 1);
    FPostings.reserve(total);
    for (const std::uint64_t key : FKeys) {
        FStarts.push_back(FPostings.size());
        auto it = postings.find(key);
        FPostings.insert(FPostings.end(), it->second.begin(), it->second.end());
        // Give the memory back as we go: peak stays near one copy.
        std::vector<std::uint32_t>().swap(it->second);
    }
    FStarts.push_back(FPostings.size());
}

std::vector<std::uint32_t> TSubstringIndex::Candidates(std::string_view name, std::string_view part) const
{
    if (part.size() < kWindow) {
        std::vector<std::uint32_t> all(FEntryCount);
        std::iota(all.begin(), all.end(), 0u);
        return all;
    }
    const auto nameIt = FNameIds.find(UpperASCII(name));
    if (nameIt == FNameIds.end())
        return {};
    // Postings range of each window of the part; one missing window rules out all.
    std::vector<std::pair<const std::uint32_t*, const std::uint32_t*>> ranges;
    bool missing = false;
    ForEachWindow(part, [&](std::uint32_t window) {
        if (missing)
            return;
        const std::uint64_t key = MakeKey(nameIt->second, window);
        const auto keyIt = std::lower_bound(FKeys.begin(), FKeys.end(), key);
        if (keyIt == FKeys.end() || *keyIt != key) {
            missing = true;
            return;
        }
        const auto k = static_cast<std::size_t>(keyIt - FKeys.begin());
        ranges.emplace_back(FPostings.data() + FStarts[k], FPostings.data() + FStarts[k + 1]);
    });
    if (missing)
        return {};
    std::sort(ranges.begin(), ranges.end(),
              [](const auto& a, const auto& b) { return a.second - a.first < b.second - b.first; });
    std::vector<std::uint32_t> result(ranges.front().first, ranges.front().second);
    for (std::size_t r = 1; r < ranges.size() && !result.empty(); ++r)
        if (ranges[r] != ranges[r - 1]) // a window that repeats in the part
            IntersectInPlace(result, ranges[r].first, ranges[r].second);
    return result;
}

std::size_t TSubstringIndex::MemoryBytes() const
{
    std::size_t bytes = sizeof(*this) + FKeys.capacity() * sizeof(std::uint64_t) +
                        FStarts.capacity() * sizeof(std::size_t) +
                        FPostings.capacity() * sizeof(std::uint32_t);
    for (const auto& [name, id] : FNameIds)
        bytes += sizeof(name) + sizeof(id) + 2 * sizeof(void*) + name.capacity();
    return bytes + FNameIds.bucket_count() * sizeof(void*);
}
