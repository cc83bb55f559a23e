#include "directory/SubstringIndex.h"

#include "config/AsciiText.h"
#include "directory/UserList.h"
#include "directory/ValueColumns.h"
#include "directory/Varint.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <utility>

namespace {

constexpr std::uint32_t kWindowSpace = 1u << 24;
// Below this many octets a column's windows are sorted rather than counted in
// a table over every possible window.
constexpr std::size_t kSmallColumn = std::size_t(1) << 20;

constexpr std::uint64_t MakeKey(std::uint32_t column, std::uint32_t window)
{
    return (static_cast<std::uint64_t>(column) << 24) | window;
}

// Calls f(window) for every 3-octet window of an upper-cased text.
template <typename F>
void ForEachWindow(std::string_view text, F&& f)
{
    if (text.size() < TSubstringIndex::kWindow)
        return;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::uint32_t window = (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
    for (std::size_t j = 2; j < text.size(); ++j) {
        window = ((window << 8) | p[j]) & 0xFFFFFFu;
        f(window);
    }
}

// The windows present in one column, numbered densely in window order.
class TWindowRanks {
public:
    TWindowRanks() : FBits(kWindowSpace / 64, 0), FRanks(kWindowSpace / 64, 0) {}
    void Mark(std::uint32_t window) { FBits[window >> 6] |= std::uint64_t(1) << (window & 63); }
    // After every Mark: numbers the windows, returns how many there are.
    std::uint32_t Rank()
    {
        std::uint32_t total = 0;
        for (std::size_t w = 0; w < FBits.size(); ++w) {
            FRanks[w] = total;
            total += static_cast<std::uint32_t>(std::popcount(FBits[w]));
        }
        return total;
    }
    std::uint32_t Of(std::uint32_t window) const
    {
        const std::uint64_t below = FBits[window >> 6] & ((std::uint64_t(1) << (window & 63)) - 1);
        return FRanks[window >> 6] + static_cast<std::uint32_t>(std::popcount(below));
    }
    template <typename F>
    void ForEachMarked(F&& f) const
    {
        for (std::size_t w = 0; w < FBits.size(); ++w)
            for (std::uint64_t bits = FBits[w]; bits != 0; bits &= bits - 1)
                f(static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(bits))));
    }

private:
    std::vector<std::uint64_t> FBits;
    std::vector<std::uint32_t> FRanks;
};

// Keeps the elements of `into` that `other` holds too; both sorted.
void IntersectInPlace(std::vector<std::uint32_t>& into, const std::vector<std::uint32_t>& other)
{
    std::size_t kept = 0;
    auto first = other.begin();
    for (const std::uint32_t value : into) {
        first = std::lower_bound(first, other.end(), value);
        if (first == other.end())
            break;
        if (*first == value)
            into[kept++] = value;
    }
    into.resize(kept);
}

} // namespace

TSubstringIndex::TSubstringIndex(const TUserList& list)
    : FList(list)
{
    Build(list.Columns());
}

TSubstringIndex::TSubstringIndex(const TUserList& list, const TValueColumns& columns)
    : FList(list)
{
    Build(columns);
}

void TSubstringIndex::Build(const TValueColumns& columns)
{
    FEntryCount = columns.EntryCount();
    FStarts.push_back(0);
    for (std::uint32_t c = 0; c < columns.ColumnCount(); ++c) {
        const std::size_t bytes = columns.Bytes(c).size();
        if (bytes < kSmallColumn) {
            BuildSmall(columns, c);
            continue;
        }
        TWindowRanks ranks;
        for (std::uint32_t e = 0; e < FEntryCount; ++e)
            ForEachWindow(columns.Value(c, e), [&](std::uint32_t w) { ranks.Mark(w); });
        const std::uint32_t distinct = ranks.Rank();
        if (distinct == 0)
            continue;
        ranks.ForEachMarked([&](std::uint32_t w) { FKeys.push_back(MakeKey(c, w)); });

        // Octets and entries per window: an entry counts once however often
        // the window repeats in its value.
        std::vector<std::uint32_t> last(distinct, 0); // entry + 1 of the last posting
        std::vector<std::uint64_t> size(distinct, 0);
        std::vector<std::uint32_t> count(distinct, 0);
        for (std::uint32_t e = 0; e < FEntryCount; ++e)
            ForEachWindow(columns.Value(c, e), [&](std::uint32_t w) {
                const std::uint32_t k = ranks.Of(w);
                if (last[k] == e + 1)
                    return;
                size[k] += VarintSize(e + 1 - last[k]);
                ++count[k];
                last[k] = e + 1;
            });
        std::uint64_t at = FPostings.size();
        std::vector<std::uint64_t>& cursor = size; // reused: where each list goes on
        for (std::uint32_t k = 0; k < distinct; ++k) {
            const std::uint64_t bytes = size[k];
            cursor[k] = at;
            at += bytes;
            FStarts.push_back(at);
        }
        FCounts.insert(FCounts.end(), count.begin(), count.end());
        FPostings.resize(at);
        std::fill(last.begin(), last.end(), 0);
        char* const base = FPostings.data();
        for (std::uint32_t e = 0; e < FEntryCount; ++e)
            ForEachWindow(columns.Value(c, e), [&](std::uint32_t w) {
                const std::uint32_t k = ranks.Of(w);
                if (last[k] == e + 1)
                    return;
                cursor[k] = static_cast<std::uint64_t>(PutVarint(base + cursor[k], e + 1 - last[k]) - base);
                last[k] = e + 1;
            });
    }
    FPostings.shrink_to_fit();
    FKeys.shrink_to_fit();
    FStarts.shrink_to_fit();
    FCounts.shrink_to_fit();
}

void TSubstringIndex::BuildSmall(const TValueColumns& columns, std::uint32_t column)
{
    // (window, entry) pairs, sorted: each run of one window is its list.
    std::vector<std::uint64_t> pairs;
    for (std::uint32_t e = 0; e < FEntryCount; ++e)
        ForEachWindow(columns.Value(column, e),
                      [&](std::uint32_t w) { pairs.push_back((static_cast<std::uint64_t>(w) << 32) | e); });
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    char buffer[16];
    for (std::size_t i = 0; i < pairs.size();) {
        const auto window = static_cast<std::uint32_t>(pairs[i] >> 32);
        FKeys.push_back(MakeKey(column, window));
        std::uint32_t last = 0; // entry + 1
        std::uint32_t count = 0;
        for (; i < pairs.size() && static_cast<std::uint32_t>(pairs[i] >> 32) == window; ++i) {
            const auto entry = static_cast<std::uint32_t>(pairs[i]);
            const char* end = PutVarint(buffer, entry + 1 - last);
            FPostings.insert(FPostings.end(), static_cast<const char*>(buffer), end);
            last = entry + 1;
            ++count;
        }
        FCounts.push_back(count);
        FStarts.push_back(FPostings.size());
    }
}

TSubstringIndex::TPostings TSubstringIndex::Find(std::uint32_t column, std::uint32_t window) const
{
    const std::uint64_t key = MakeKey(column, window);
    const auto it = std::lower_bound(FKeys.begin(), FKeys.end(), key);
    if (it == FKeys.end() || *it != key)
        return {};
    const auto k = static_cast<std::size_t>(it - FKeys.begin());
    return TPostings{FPostings.data() + FStarts[k], FPostings.data() + FStarts[k + 1], FCounts[k]};
}

TSubstringIndex::TPostings TSubstringIndex::Rarest(std::uint32_t column, std::string_view upperPart) const
{
    TPostings best;
    bool first = true;
    ForEachWindow(upperPart, [&](std::uint32_t window) {
        if (!first && best.Count == 0)
            return;
        const TPostings p = Find(column, window);
        if (first || p.Count < best.Count)
            best = p;
        first = false;
    });
    return best;
}

void TSubstringIndex::Decode(const TPostings& postings, std::vector<std::uint32_t>& into)
{
    into.clear();
    into.reserve(postings.Count);
    std::uint64_t entry = 0; // entry + 1
    for (const char* p = postings.First; p < postings.Last;) {
        std::uint64_t delta = 0;
        p = GetVarint(p, delta);
        entry += delta;
        into.push_back(static_cast<std::uint32_t>(entry - 1));
    }
}

std::vector<std::uint32_t> TSubstringIndex::Candidates(std::string_view name, std::string_view part) const
{
    if (part.size() < kWindow) {
        std::vector<std::uint32_t> all(FEntryCount);
        std::iota(all.begin(), all.end(), 0u);
        return all;
    }
    const std::int64_t column = FList.FindFolded(UpperASCII(name));
    if (column < 0)
        return {};
    const std::string upper = UpperASCII(part);
    std::vector<std::uint32_t> result;
    std::vector<std::uint32_t> more;
    bool first = true;
    ForEachWindow(upper, [&](std::uint32_t window) {
        if (!first && result.empty())
            return;
        const TPostings p = Find(static_cast<std::uint32_t>(column), window);
        if (first) {
            Decode(p, result);
            first = false;
            return;
        }
        Decode(p, more);
        IntersectInPlace(result, more);
    });
    return result;
}

std::int64_t TSubstringIndex::Column(std::string_view name) const
{
    return FList.FindFolded(UpperASCII(name));
}

std::size_t TSubstringIndex::MemoryBytes() const
{
    return sizeof(*this) + FKeys.capacity() * sizeof(std::uint64_t) + FCounts.capacity() * sizeof(std::uint32_t) +
           FStarts.capacity() * sizeof(std::uint64_t) + FPostings.capacity();
}
