#include "directory/ValueColumns.h"

#include "config/AsciiText.h"
#include "directory/UserList.h"

#include <limits>
#include <stdexcept>

namespace {

// Calls f(column, value) for the first line of each name of the entry, and
// repeat(column) for every further line of a name.
template <typename F, typename R>
void ForEachFirstValue(const TUserList& list, int entry, std::vector<std::uint32_t>& seen, F&& f, R&& repeat)
{
    seen.clear();
    list.ForEachLine(entry, [&](const TLineView& line) {
        if (!line.HasEquals)
            return;
        const std::uint32_t column = list.FoldedId(line.TypeId);
        for (const std::uint32_t s : seen)
            if (s == column) {
                repeat(column);
                return;
            }
        seen.push_back(column);
        f(column, line.Value);
    });
}

} // namespace

TValueColumns::TValueColumns(const TUserList& list)
    : FColumns(list.FoldedCount()), FEntryCount(static_cast<std::uint32_t>(list.Count()))
{
    // Sizes first, so that every column is allocated once and exactly.
    std::vector<std::uint64_t> sizes(FColumns.size(), 0);
    std::vector<std::uint32_t> seen;
    for (std::uint32_t i = 0; i < FEntryCount; ++i)
        ForEachFirstValue(
            list, static_cast<int>(i), seen,
            [&](std::uint32_t column, std::string_view value) {
                sizes[column] += value.size();
                if (value.empty())
                    FColumns[column].EmptyFirst.push_back(i);
            },
            [&](std::uint32_t column) {
                std::vector<std::uint32_t>& repeated = FColumns[column].Repeated;
                if (repeated.empty() || repeated.back() != i)
                    repeated.push_back(i);
            });
    for (std::size_t c = 0; c < FColumns.size(); ++c) {
        if (sizes[c] > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("Directory column larger than 4 GiB");
        FColumns[c].Bytes.resize(sizes[c]);
        FColumns[c].Offsets.assign(FEntryCount + 1, 0);
    }
    std::vector<std::uint32_t> fill(FColumns.size(), 0);
    for (std::uint32_t i = 0; i < FEntryCount; ++i) {
        ForEachFirstValue(list, static_cast<int>(i), seen, [&](std::uint32_t column, std::string_view value) {
            char* out = FColumns[column].Bytes.data() + fill[column];
            for (const char ch : value)
                *out++ = UpperASCIIChar(ch);
            fill[column] += static_cast<std::uint32_t>(value.size());
        }, [](std::uint32_t) {});
        for (std::size_t c = 0; c < FColumns.size(); ++c)
            FColumns[c].Offsets[i + 1] = fill[c];
    }
}

std::size_t TValueColumns::MemoryBytes() const
{
    std::size_t bytes = sizeof(*this);
    for (const TColumn& c : FColumns)
        bytes += sizeof(c) + (c.Offsets.capacity() + c.Repeated.capacity() + c.EmptyFirst.capacity()) *
                                 sizeof(std::uint32_t) + c.Bytes.capacity();
    return bytes;
}
