#include "directory/SubstringIndex.h"

#include "config/AsciiText.h"
#include "directory/UserList.h"
#include "directory/ValueColumns.h"
#include "directory/Varint.h"

#include <algorithm>
#include <cstring>
#include <atomic>
#include <exception>
#include <thread>
#include <bit>
#include <numeric>
#include <utility>

namespace {

constexpr std::uint32_t kWindowSpace = 1u << 24;
// Below this many octets a column's windows are sorted rather than counted in
// a table over every possible window.
constexpr std::size_t kSmallColumn = std::size_t(1) << 20;

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

// Inline: without a target flag std::popcount becomes a library call.
inline std::uint32_t BitCount(std::uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<std::uint32_t>((x * 0x0101010101010101ull) >> 56);
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
            total += BitCount(FBits[w]);
        }
        return total;
    }
    std::uint32_t Of(std::uint32_t window) const
    {
        const std::uint64_t below = FBits[window >> 6] & ((std::uint64_t(1) << (window & 63)) - 1);
        return FRanks[window >> 6] + BitCount(below);
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
    : FList(list), FValues(list.Columns())
{
    Build(FValues);
}

TSubstringIndex::TSubstringIndex(const TUserList& list, const TValueColumns& columns)
    : FList(list), FValues(columns)
{
    Build(columns);
}

void TSubstringIndex::Build(const TValueColumns& columns)
{
    FEntryCount = columns.EntryCount();
    FColumns.resize(columns.ColumnCount());
    std::size_t total = 0;
    for (std::uint32_t c = 0; c < columns.ColumnCount(); ++c)
        total += columns.Bytes(c).size();
    // Columns are independent: a large directory builds them on two threads.
    std::atomic<std::uint32_t> next{0};
    const auto work = [&] {
        for (std::uint32_t c = next++; c < columns.ColumnCount(); c = next++) {
            if (columns.Bytes(c).size() < kSmallColumn)
                BuildSmall(columns, c, FColumns[c]);
            else
                BuildLarge(columns, c, FColumns[c]);
        }
    };
    if (total < 2 * kSmallColumn || columns.ColumnCount() < 2) {
        work();
        return;
    }
    std::exception_ptr failure;
    std::thread helper([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        work();
    } catch (...) {
        next = columns.ColumnCount();
        helper.join();
        throw;
    }
    helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

void TSubstringIndex::BuildLarge(const TValueColumns& columns, std::uint32_t c, TColumnIndex& into) const
{
    TWindowRanks ranks;
    for (std::uint32_t e = 0; e < FEntryCount; ++e)
        ForEachWindow(columns.Value(c, e), [&](std::uint32_t w) { ranks.Mark(w); });
    const std::uint32_t distinct = ranks.Rank();
    if (distinct == 0)
        return;
    into.Windows.reserve(distinct);
    ranks.ForEachMarked([&](std::uint32_t w) { into.Windows.push_back(w); });

    // Octets and entries per window: an entry counts once however often the
    // window repeats in its value.
    std::vector<std::uint32_t> last(distinct, 0); // entry + 1 of the last posting
    std::vector<std::uint64_t> size(distinct, 0);
    into.Counts.assign(distinct, 0);
    for (std::uint32_t e = 0; e < FEntryCount; ++e)
        ForEachWindow(columns.Value(c, e), [&](std::uint32_t w) {
            const std::uint32_t k = ranks.Of(w);
            if (last[k] == e + 1)
                return;
            size[k] += VarintSize(e + 1 - last[k]);
            ++into.Counts[k];
            last[k] = e + 1;
        });
    std::uint64_t at = 0;
    std::vector<std::uint64_t>& cursor = size; // reused: where each list goes on
    into.Starts.reserve(distinct + 1);
    into.Starts.push_back(0);
    for (std::uint32_t k = 0; k < distinct; ++k) {
        const std::uint64_t bytes = size[k];
        cursor[k] = at;
        at += bytes;
        into.Starts.push_back(at);
    }
    into.Postings.resize(at);
    std::fill(last.begin(), last.end(), 0);
    char* const base = into.Postings.data();
    for (std::uint32_t e = 0; e < FEntryCount; ++e)
        ForEachWindow(columns.Value(c, e), [&](std::uint32_t w) {
            const std::uint32_t k = ranks.Of(w);
            if (last[k] == e + 1)
                return;
            cursor[k] = static_cast<std::uint64_t>(PutVarint(base + cursor[k], e + 1 - last[k]) - base);
            last[k] = e + 1;
        });
}

void TSubstringIndex::BuildSmall(const TValueColumns& columns, std::uint32_t column, TColumnIndex& into) const
{
    // (window, entry) pairs, sorted: each run of one window is its list.
    std::vector<std::uint64_t> pairs;
    for (std::uint32_t e = 0; e < FEntryCount; ++e)
        ForEachWindow(columns.Value(column, e),
                      [&](std::uint32_t w) { pairs.push_back((static_cast<std::uint64_t>(w) << 32) | e); });
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    char buffer[16];
    into.Starts.push_back(0);
    for (std::size_t i = 0; i < pairs.size();) {
        const auto window = static_cast<std::uint32_t>(pairs[i] >> 32);
        into.Windows.push_back(window);
        std::uint32_t last = 0; // entry + 1
        std::uint32_t count = 0;
        for (; i < pairs.size() && static_cast<std::uint32_t>(pairs[i] >> 32) == window; ++i) {
            const auto entry = static_cast<std::uint32_t>(pairs[i]);
            const char* end = PutVarint(buffer, entry + 1 - last);
            into.Postings.insert(into.Postings.end(), static_cast<const char*>(buffer), end);
            last = entry + 1;
            ++count;
        }
        into.Counts.push_back(count);
        into.Starts.push_back(into.Postings.size());
    }
    into.Postings.shrink_to_fit();
}

TSubstringIndex::TPostings TSubstringIndex::Find(std::uint32_t column, std::uint32_t window) const
{
    if (column >= FColumns.size())
        return {};
    const TColumnIndex& index = FColumns[column];
    const auto it = std::lower_bound(index.Windows.begin(), index.Windows.end(), window);
    if (it == index.Windows.end() || *it != window)
        return {};
    const auto k = static_cast<std::size_t>(it - index.Windows.begin());
    return TPostings{index.Postings.data() + index.Starts[k], index.Postings.data() + index.Starts[k + 1],
                     index.Counts[k]};
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

bool TSubstringIndex::ScanShort(std::uint32_t column, int tag, std::string_view upperPart, std::uint32_t limit,
                                std::vector<std::uint32_t>& into) const
{
    into.clear();
    if (column >= FValues.ColumnCount() || upperPart.empty())
        return false;
    const std::size_t n = upperPart.size();
    if (tag != 0x81) {
        // Initial or final: one comparison per entry.
        for (std::uint32_t e = 0; e < FEntryCount; ++e) {
            const std::string_view v = FValues.Value(column, e);
            if (v.size() < n)
                continue;
            const std::string_view piece = tag == 0x80 ? v.substr(0, n) : v.substr(v.size() - n);
            if (piece == upperPart) {
                if (into.size() >= limit)
                    return false;
                into.push_back(e);
            }
        }
        return true;
    }
    // Any: search the whole column, then find whose value each hit lies in.
    const std::string_view bytes = FValues.Bytes(column);
    std::uint32_t entry = 0;
    std::size_t from = 0;
    while (from + n <= bytes.size()) {
        const void* hit = ::memmem(bytes.data() + from, bytes.size() - from, upperPart.data(), n);
        if (hit == nullptr)
            break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data());
        while (entry < FEntryCount && FValues.End(column, entry) <= at)
            ++entry;
        const std::size_t end = FValues.End(column, entry);
        if (at + n <= end) {
            if (into.size() >= limit)
                return false;
            into.push_back(entry);
            from = end; // the rest of this value adds nothing
        } else {
            from = at + 1; // the hit spans two values
        }
    }
    return true;
}

std::int64_t TSubstringIndex::Column(std::string_view name) const
{
    return FList.FindFolded(UpperASCII(name));
}

std::size_t TSubstringIndex::KeyCount() const
{
    std::size_t keys = 0;
    for (const TColumnIndex& c : FColumns)
        keys += c.Windows.size();
    return keys;
}

std::size_t TSubstringIndex::MemoryBytes() const
{
    std::size_t bytes = sizeof(*this);
    for (const TColumnIndex& c : FColumns)
        bytes += sizeof(c) + c.Windows.capacity() * sizeof(std::uint32_t) +
                 c.Counts.capacity() * sizeof(std::uint32_t) + c.Starts.capacity() * sizeof(std::uint64_t) +
                 c.Postings.capacity();
    return bytes;
}
