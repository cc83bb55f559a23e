// The directory: an ordered list of (entry name, entry), never sorted, kept
// compact: attribute lines live in large shared blocks, attribute names are
// interned, and the upper-cased values filters compare (with the substring
// index over them) are built once per published state.
#pragma once

#include "directory/EntryMemo.h"
#include "directory/SubstringIndex.h"
#include "directory/UserInfo.h"
#include "directory/ValueColumns.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TUserList;

// One attribute line as stored: type and value, or (HasEquals false) a line
// without "=" that is all value.
struct TLineView {
    std::string_view Type;
    std::string_view Value;
    std::uint32_t TypeId = 0; // interned type, when HasEquals
    bool HasEquals = true;
    std::string Text() const;
};

// The attribute lines of one listed entry, read in place.
class TEntryLines {
public:
    TEntryLines(const TUserList& list, int index) : FList(&list), FIndex(index) {}
    int Count() const;
    // Raises EDirectoryIndexError outside 0..Count-1.
    std::string Strings(int index) const;
    // A copy of every line, in order.
    std::vector<std::string> Lines() const;

private:
    const TUserList* FList;
    int FIndex;
};

// A listed entry, read in place: valid while its list lives and is unchanged.
class TEntryView {
public:
    TEntryView(const TUserList& list, int index) : Attributes(list, index), FList(&list), FIndex(index) {}
    TEntryLines Attributes;
    // As TUserInfo::ValueOf.
    std::string ValueOf(std::string_view name) const { return std::string(ValueViewOf(name)); }
    std::string_view ValueViewOf(std::string_view name) const;

private:
    const TUserList* FList;
    int FIndex;
};

class TUserList {
public:
    TUserList();
    ~TUserList();
    TUserList(const TUserList&) = delete;
    TUserList& operator=(const TUserList&) = delete;

    // Appends the item with a copy of entry's lines (null gives an empty
    // entry). Returns the new index.
    int Add(std::string_view name, std::unique_ptr<TUserInfo> entry);
    int Add(std::string_view name, const std::vector<std::string>& lines);
    int Count() const { return static_cast<int>(FRecords.size()); }
    // Both raise EDirectoryIndexError outside 0..Count-1.
    std::string Names(int index) const { return std::string(NameView(index)); }
    TEntryView Objects(int index) const;
    // The entry name in place.
    std::string_view NameView(int index) const;

    void AppendLine(int index, std::string_view line);
    void AppendLines(int index, const std::vector<std::string>& lines);

    // Calls f(TLineView) for every line of the entry, in order. No checks:
    // index must lie in 0..Count-1.
    template <typename F>
    void ForEachLine(int index, F&& f) const;
    int LineCount(int index) const;

    // The entry name, with every line of the entry appended to lines in
    // order: the record is read once for both. No checks.
    std::string_view ReadEntry(int index, std::vector<TLineView>& lines) const;

    // Highest index whose entry has a line equal to "MAIL=" + address, both
    // raised to upper case in ASCII (no trimming); -1 when none has.
    int IndexOfMail(std::string_view address) const;

    // The upper-cased first value of every attribute name per entry, and the
    // substring index over them. Built by Seal, or on first use after a
    // change; valid until the next change.
    const TValueColumns& Columns() const;
    const TSubstringIndex& SubstringIndex() const;

    // A copy that can be changed while this one stays as it is. The line
    // blocks are shared, not copied: they are only ever appended to.
    std::unique_ptr<TUserList> Clone() const;
    // Builds the search structures now, before the list is published.
    void Seal();
    // Whether anything was added since the list was made, cloned or sealed.
    bool Changed() const { return FChanged; }

    // Interned attribute names: the exact spelling of a line's type and the
    // upper-cased name filters compare by.
    std::string_view TypeText(std::uint32_t typeId) const { return FTypes[typeId]; }
    std::uint32_t FoldedId(std::uint32_t typeId) const { return FTypeFolded[typeId]; }
    std::uint32_t FoldedCount() const { return static_cast<std::uint32_t>(FFolded.size()); }
    // Id of an upper-cased name, or -1 when no line has it.
    std::int64_t FindFolded(std::string_view upperName) const;
    std::uint32_t MailFoldedId() const { return FMailFolded; }
    // True when no two entries hold the same upper-cased first mail value
    // (the MailFoldedId column): no address is shared between entries and
    // at most one entry has none.
    bool MailValuesDistinct() const;
    // Octets readers derived from entries of this state, kept per entry (at
    // most MemoryBytes, and 64 MiB); emptied with the search structures by any
    // change.
    TEntryMemo& EntryMemo() const;

    // Octets held by the lines, names and the mail index (not the search
    // structures).
    std::size_t MemoryBytes() const;

private:
    struct TBlock;
    // Lines appended to an entry after it was listed, newest first.
    struct TSegment {
        const char* Data;
        std::uint32_t Older; // 0: none
    };

    void CheckIndex(int index) const;
    // The lines appended after the entry was listed, oldest first.
    template <typename F>
    void ForEachAppendedLine(int index, F& f) const;
    std::uint32_t InternType(std::string_view type);
    char* Allocate(std::size_t size);
    // Encodes lines (count first) into the blocks; returns where.
    template <typename Lines>
    const char* StoreLines(std::string_view name, bool withName, const Lines& lines);
    template <typename Lines>
    int AddLines(std::string_view name, const Lines& lines);
    template <typename Lines>
    void AppendTo(int index, const Lines& lines);
    void IndexMail(int index, std::string_view value);
    void DropSearchStructures();

    std::vector<std::shared_ptr<TBlock>> FBlocks; // shared with clones
    char* FFree = nullptr;                        // in FBlocks.back(), this list's own
    std::size_t FFreeSize = 0;
    std::size_t FStoredBytes = 0;

    std::vector<const char*> FRecords;                  // per entry
    std::unordered_map<std::uint32_t, std::uint32_t> FNewest; // entry -> newest segment
    std::vector<TSegment> FSegments;                     // [0] unused

    std::vector<std::string> FTypes;
    std::unordered_map<std::string, std::uint32_t> FTypeIds;
    std::vector<std::uint32_t> FTypeFolded;
    std::vector<std::string> FFolded;
    std::unordered_map<std::string, std::uint32_t> FFoldedIds;
    std::uint32_t FMailFolded;

    // Open addressing: (hash of the upper-cased address << 32) | (index + 1),
    // the highest index holding that address. Items are only appended and
    // lines only added, so an index can only grow: keeping the maximum per
    // address gives the same answer as the full scan.
    std::vector<std::uint64_t> FMailSlots;
    std::size_t FMailUsed = 0;
    // Some address is held by two entries. Only set: lines are only added.
    bool FMailShared = false;

    bool FChanged = false;
    std::vector<std::uint64_t> FScratchTypes; // StoreLines' own

    // FBuildLock guards the building of the search structures; once built they
    // are read through FSearch without a lock. Changes happen only on a list
    // no reader shares (a writer's copy), so dropping them needs no lock.
    struct TSearchStructures;
    // This state's search structures, built on first use.
    const TSearchStructures& SearchStructures() const;
    mutable std::mutex FBuildLock;
    mutable std::atomic<const TSearchStructures*> FSearch{nullptr};
    mutable std::unique_ptr<const TSearchStructures> FSearchOwner;

    friend class TEntryLines;
    friend class TEntryView;
};

// ------------------------------------------------------------------ inline

namespace userlist_detail {
// Decodes the lines of one record part (count, then lines) and calls f.
template <typename F>
const char* DecodeLines(const TUserList& list, const char* p, F& f);
} // namespace userlist_detail

#include "directory/Varint.h"

namespace userlist_detail {
template <typename F>
const char* DecodeLines(const TUserList& list, const char* p, F& f)
{
    std::uint64_t count = 0;
    p = GetVarint(p, count);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t type = 0;
        std::uint64_t size = 0;
        p = GetVarint(p, type);
        p = GetVarint(p, size);
        TLineView line;
        line.Value = std::string_view(p, size);
        if (type == 0)
            line.HasEquals = false;
        else {
            line.TypeId = static_cast<std::uint32_t>(type - 1);
            line.Type = list.TypeText(line.TypeId);
        }
        f(line);
        p += size;
    }
    return p;
}

// Skips the entry name at the start of a record.
inline const char* SkipName(const char* p)
{
    std::uint64_t ref = 0;
    p = GetVarint(p, ref);
    if (ref == 0) {
        std::uint64_t size = 0;
        p = GetVarint(p, size);
        p += size;
    }
    return p;
}
} // namespace userlist_detail

template <typename F>
void TUserList::ForEachLine(int index, F&& f) const
{
    userlist_detail::DecodeLines(*this, userlist_detail::SkipName(FRecords[static_cast<std::size_t>(index)]), f);
    ForEachAppendedLine(index, f);
}

template <typename F>
void TUserList::ForEachAppendedLine(int index, F& f) const
{
    if (FNewest.empty())
        return;
    const auto it = FNewest.find(static_cast<std::uint32_t>(index));
    if (it == FNewest.end())
        return;
    // Segments are chained newest first; lines go out oldest first.
    std::vector<const char*> chain;
    for (std::uint32_t s = it->second; s != 0; s = FSegments[s].Older)
        chain.push_back(FSegments[s].Data);
    for (auto c = chain.rbegin(); c != chain.rend(); ++c)
        userlist_detail::DecodeLines(*this, *c, f);
}
