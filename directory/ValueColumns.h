// The values filters compare, one column per attribute name: for every entry
// the first value of that name, upper-cased in ASCII, all of a column in one
// contiguous block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class TUserList;

class TValueColumns {
public:
    // Column c holds the values of the list's upper-cased name c
    // (TUserList::FoldedId). Raises std::length_error when one column would
    // pass 4 GiB.
    explicit TValueColumns(const TUserList& list);

    std::uint32_t EntryCount() const { return FEntryCount; }
    std::uint32_t ColumnCount() const { return static_cast<std::uint32_t>(FColumns.size()); }
    // Empty when the entry has no line of that name (or an empty value).
    std::string_view Value(std::uint32_t column, std::uint32_t entry) const
    {
        const TColumn& c = FColumns[column];
        const std::uint32_t begin = c.Offsets[entry];
        return std::string_view(c.Bytes.data() + begin, c.Offsets[entry + 1] - begin);
    }
    // Where the entry's value ends in Bytes.
    std::size_t End(std::uint32_t column, std::uint32_t entry) const { return FColumns[column].Offsets[entry + 1]; }
    // Sorted entries with more than one line of the column's name: where the
    // first value alone does not tell every value.
    const std::vector<std::uint32_t>& Repeated(std::uint32_t column) const { return FColumns[column].Repeated; }
    // Sorted entries whose first line of the name has an empty value: where
    // an empty Value still means the entry has the name.
    const std::vector<std::uint32_t>& EmptyFirst(std::uint32_t column) const { return FColumns[column].EmptyFirst; }
    // The whole column: values of entries 0..EntryCount-1, back to back.
    std::string_view Bytes(std::uint32_t column) const
    {
        return std::string_view(FColumns[column].Bytes.data(), FColumns[column].Bytes.size());
    }
    std::size_t MemoryBytes() const;

private:
    struct TColumn {
        std::vector<std::uint32_t> Offsets; // EntryCount + 1
        std::vector<char> Bytes;
        std::vector<std::uint32_t> Repeated;
        std::vector<std::uint32_t> EmptyFirst;
    };
    std::vector<TColumn> FColumns;
    std::uint32_t FEntryCount = 0;
};
