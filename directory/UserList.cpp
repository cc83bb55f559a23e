#include "directory/UserList.h"

#include "config/AsciiText.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kSmallestBlock = 4096;
constexpr std::size_t kLargestBlock = std::size_t(1) << 20;

// FNV-1a over the upper-cased octets.
std::uint32_t HashUpper(std::string_view text)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(UpperASCIIChar(c));
        hash *= 16777619u;
    }
    return hash;
}

std::pair<std::string_view, std::string_view> Split(std::string_view line, bool& hasEquals)
{
    const std::size_t eq = line.find('=');
    hasEquals = eq != std::string_view::npos;
    if (!hasEquals)
        return {std::string_view(), line};
    return {line.substr(0, eq), line.substr(eq + 1)};
}

} // namespace

struct TUserList::TBlock {
    explicit TBlock(std::size_t size) : Data(new char[size]), Size(size) {}
    std::unique_ptr<char[]> Data;
    std::size_t Size;
};

// Kept operations take at most about what the directory itself holds, and
// never more than this: a large directory keeps the entries first asked for.
constexpr std::size_t kEntryMemoBytes = std::size_t{64} << 20;

struct TUserList::TSearchStructures {
    explicit TSearchStructures(const TUserList& list)
        : Columns(list), Index(list, Columns), MailDistinct(!list.FMailShared && EmptyAtMostOnce(list)),
          Memo(static_cast<std::uint32_t>(list.Count()), std::min(list.MemoryBytes(), kEntryMemoBytes))
    {
    }
    TValueColumns Columns;
    TSubstringIndex Index;
    bool MailDistinct;
    // Filled by readers; its own lock guards the filling.
    mutable TEntryMemo Memo;

private:
    bool EmptyAtMostOnce(const TUserList& list) const
    {
        int empty = 0;
        for (std::uint32_t i = 0; i < Columns.EntryCount() && empty < 2; ++i)
            empty += Columns.Value(list.FMailFolded, i).empty() ? 1 : 0;
        return empty < 2;
    }
};

std::string TLineView::Text() const
{
    if (!HasEquals)
        return std::string(Value);
    std::string text;
    text.reserve(Type.size() + 1 + Value.size());
    text.append(Type);
    text.push_back('=');
    text.append(Value);
    return text;
}

int TEntryLines::Count() const
{
    return FList->LineCount(FIndex);
}

std::string TEntryLines::Strings(int index) const
{
    std::string result;
    int at = 0;
    bool found = false;
    FList->ForEachLine(FIndex, [&](const TLineView& line) {
        if (at++ == index) {
            result = line.Text();
            found = true;
        }
    });
    if (!found)
        throw EDirectoryIndexError(index);
    return result;
}

std::vector<std::string> TEntryLines::Lines() const
{
    std::vector<std::string> lines;
    FList->ForEachLine(FIndex, [&](const TLineView& line) { lines.push_back(line.Text()); });
    return lines;
}

std::string_view TEntryView::ValueViewOf(std::string_view name) const
{
    std::string_view result;
    bool found = false;
    FList->ForEachLine(FIndex, [&](const TLineView& line) {
        if (!found && line.HasEquals && SameTextASCII(line.Type, name)) {
            result = line.Value;
            found = true;
        }
    });
    return result;
}

TUserList::TUserList()
    : FSegments(1, TSegment{nullptr, 0})
{
    FFolded.push_back("MAIL");
    FFoldedIds.emplace("MAIL", 0);
    FMailFolded = 0;
}

TUserList::~TUserList() = default;

void TUserList::CheckIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EDirectoryIndexError(index);
}

TEntryView TUserList::Objects(int index) const
{
    CheckIndex(index);
    return TEntryView(*this, index);
}

std::string_view TUserList::NameView(int index) const
{
    CheckIndex(index);
    const char* p = FRecords[static_cast<std::size_t>(index)];
    std::uint64_t ref = 0;
    p = GetVarint(p, ref);
    if (ref == 0) {
        std::uint64_t size = 0;
        p = GetVarint(p, size);
        return std::string_view(p, size);
    }
    // The name is the value of one of the entry's first lines.
    std::string_view name;
    std::uint64_t at = 0;
    auto take = [&](const TLineView& line) {
        if (++at == ref)
            name = line.Value;
    };
    userlist_detail::DecodeLines(*this, p, take);
    return name;
}

std::string_view TUserList::ReadEntry(int index, std::vector<TLineView>& lines) const
{
    const char* p = FRecords[static_cast<std::size_t>(index)];
    std::uint64_t ref = 0;
    p = GetVarint(p, ref);
    std::string_view name;
    if (ref == 0) {
        std::uint64_t size = 0;
        p = GetVarint(p, size);
        name = std::string_view(p, size);
        p += size;
    }
    const std::size_t first = lines.size();
    auto add = [&lines](const TLineView& line) { lines.push_back(line); };
    userlist_detail::DecodeLines(*this, p, add);
    // As NameView: the ref-th line of the record's own lines.
    if (ref != 0 && ref <= lines.size() - first)
        name = lines[first + ref - 1].Value;
    ForEachAppendedLine(index, add);
    return name;
}

int TUserList::LineCount(int index) const
{
    int count = 0;
    ForEachLine(index, [&](const TLineView&) { ++count; });
    return count;
}

std::uint32_t TUserList::InternType(std::string_view type)
{
    const std::string key(type);
    const auto found = FTypeIds.find(key);
    if (found != FTypeIds.end())
        return found->second;
    const auto id = static_cast<std::uint32_t>(FTypes.size());
    FTypes.push_back(key);
    FTypeIds.emplace(key, id);
    const std::string folded = UpperASCII(type);
    const auto nextFolded = static_cast<std::uint32_t>(FFolded.size());
    const auto [it, inserted] = FFoldedIds.try_emplace(folded, nextFolded);
    if (inserted)
        FFolded.push_back(folded);
    FTypeFolded.push_back(it->second);
    return id;
}

std::int64_t TUserList::FindFolded(std::string_view upperName) const
{
    const auto it = FFoldedIds.find(std::string(upperName));
    return it == FFoldedIds.end() ? -1 : static_cast<std::int64_t>(it->second);
}

char* TUserList::Allocate(std::size_t size)
{
    if (size > FFreeSize) {
        const std::size_t wanted = std::clamp(FStoredBytes / 8, kSmallestBlock, kLargestBlock);
        FBlocks.push_back(std::make_shared<TBlock>(std::max(size, wanted)));
        FFree = FBlocks.back()->Data.get();
        FFreeSize = FBlocks.back()->Size;
    }
    char* at = FFree;
    FFree += size;
    FFreeSize -= size;
    FStoredBytes += size;
    return at;
}

template <typename Lines>
const char* TUserList::StoreLines(std::string_view name, bool withName, const Lines& lines)
{
    // Types are interned before the size is known: a line stores its type's id.
    std::size_t size = VarintSize(lines.size());
    std::uint64_t nameRef = 0;
    if (withName) {
        for (std::size_t i = 0; i < lines.size() && nameRef == 0; ++i) {
            bool eq = false;
            if (Split(lines[i], eq).second == name)
                nameRef = i + 1;
        }
        size += VarintSize(nameRef);
        if (nameRef == 0)
            size += VarintSize(name.size()) + name.size();
    }
    std::vector<std::uint64_t>& types = FScratchTypes;
    types.assign(lines.size(), 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        bool eq = false;
        const auto [type, value] = Split(lines[i], eq);
        types[i] = eq ? InternType(type) + 1 : 0;
        size += VarintSize(types[i]) + VarintSize(value.size()) + value.size();
    }
    char* const start = Allocate(size);
    char* p = start;
    if (withName) {
        p = PutVarint(p, nameRef);
        if (nameRef == 0) {
            p = PutVarint(p, name.size());
            std::memcpy(p, name.data(), name.size());
            p += name.size();
        }
    }
    p = PutVarint(p, lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        bool eq = false;
        const std::string_view value = Split(lines[i], eq).second;
        p = PutVarint(p, types[i]);
        p = PutVarint(p, value.size());
        std::memcpy(p, value.data(), value.size());
        p += value.size();
    }
    return start;
}

template <typename Lines>
int TUserList::AddLines(std::string_view name, const Lines& lines)
{
    DropSearchStructures();
    const int index = Count();
    FRecords.push_back(StoreLines(name, true, lines));
    for (const auto& line : lines) {
        bool eq = false;
        const auto [type, value] = Split(line, eq);
        if (eq && SameTextASCII(type, "MAIL"))
            IndexMail(index, value);
    }
    return index;
}

int TUserList::Add(std::string_view name, std::unique_ptr<TUserInfo> entry)
{
    if (!entry)
        return AddLines(name, std::vector<std::string>());
    return AddLines(name, entry->Attributes.Lines());
}

int TUserList::Add(std::string_view name, const std::vector<std::string>& lines)
{
    return AddLines(name, lines);
}

template <typename Lines>
void TUserList::AppendTo(int index, const Lines& lines)
{
    CheckIndex(index);
    DropSearchStructures();
    const char* data = StoreLines({}, false, lines);
    const auto entry = static_cast<std::uint32_t>(index);
    const auto [it, inserted] = FNewest.try_emplace(entry, 0);
    FSegments.push_back(TSegment{data, it->second});
    it->second = static_cast<std::uint32_t>(FSegments.size() - 1);
    for (const auto& line : lines) {
        bool eq = false;
        const auto [type, value] = Split(line, eq);
        if (eq && SameTextASCII(type, "MAIL"))
            IndexMail(index, value);
    }
}

void TUserList::AppendLine(int index, std::string_view line)
{
    AppendTo(index, std::vector<std::string_view>{line});
}

void TUserList::AppendLines(int index, const std::vector<std::string>& lines)
{
    AppendTo(index, lines);
}

void TUserList::IndexMail(int index, std::string_view value)
{
    if ((FMailUsed + 1) * 2 > FMailSlots.size()) {
        std::vector<std::uint64_t> old(std::max<std::size_t>(16, FMailSlots.size() * 2), 0);
        old.swap(FMailSlots);
        const std::size_t mask = FMailSlots.size() - 1;
        for (const std::uint64_t slot : old) {
            if (slot == 0)
                continue;
            std::size_t at = static_cast<std::size_t>(slot >> 32) & mask;
            while (FMailSlots[at] != 0)
                at = (at + 1) & mask;
            FMailSlots[at] = slot;
        }
    }
    const std::uint32_t hash = HashUpper(value);
    const std::size_t mask = FMailSlots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        std::uint64_t& slot = FMailSlots[at];
        if (slot == 0) {
            slot = (static_cast<std::uint64_t>(hash) << 32) | static_cast<std::uint32_t>(index + 1);
            ++FMailUsed;
            return;
        }
        if (static_cast<std::uint32_t>(slot >> 32) != hash)
            continue;
        const int held = static_cast<int>(slot & 0xFFFFFFFFu) - 1;
        bool same = false;
        ForEachLine(held, [&](const TLineView& line) {
            same = same || (line.HasEquals && FTypeFolded[line.TypeId] == FMailFolded &&
                            SameTextASCII(line.Value, value));
        });
        if (!same)
            continue;
        if (index != held)
            FMailShared = true;
        if (index > held)
            slot = (slot & 0xFFFFFFFF00000000ull) | static_cast<std::uint32_t>(index + 1);
        return;
    }
}

int TUserList::IndexOfMail(std::string_view address) const
{
    if (FMailSlots.empty())
        return -1;
    const std::uint32_t hash = HashUpper(address);
    const std::size_t mask = FMailSlots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const std::uint64_t slot = FMailSlots[at];
        if (slot == 0)
            return -1;
        if (static_cast<std::uint32_t>(slot >> 32) != hash)
            continue;
        const int held = static_cast<int>(slot & 0xFFFFFFFFu) - 1;
        bool same = false;
        ForEachLine(held, [&](const TLineView& line) {
            same = same || (line.HasEquals && FTypeFolded[line.TypeId] == FMailFolded &&
                            SameTextASCII(line.Value, address));
        });
        if (same)
            return held;
    }
}

void TUserList::DropSearchStructures()
{
    FChanged = true;
    if (FSearch.load(std::memory_order_relaxed) == nullptr)
        return;
    FSearch.store(nullptr, std::memory_order_relaxed);
    FSearchOwner.reset();
}

const TUserList::TSearchStructures& TUserList::SearchStructures() const
{
    if (const TSearchStructures* built = FSearch.load(std::memory_order_acquire))
        return *built;
    std::lock_guard<std::mutex> guard(FBuildLock);
    if (const TSearchStructures* built = FSearch.load(std::memory_order_acquire))
        return *built;
    FSearchOwner = std::make_unique<const TSearchStructures>(*this);
    FSearch.store(FSearchOwner.get(), std::memory_order_release);
    return *FSearchOwner;
}

const TValueColumns& TUserList::Columns() const { return SearchStructures().Columns; }

bool TUserList::MailValuesDistinct() const { return SearchStructures().MailDistinct; }

TEntryMemo& TUserList::EntryMemo() const { return SearchStructures().Memo; }

const TSubstringIndex& TUserList::SubstringIndex() const { return SearchStructures().Index; }

std::unique_ptr<TUserList> TUserList::Clone() const
{
    auto copy = std::make_unique<TUserList>();
    copy->FBlocks = FBlocks;
    // The copy starts a block of its own: the free room after this list's
    // data stays this list's.
    copy->FStoredBytes = FStoredBytes;
    copy->FRecords = FRecords;
    copy->FNewest = FNewest;
    copy->FSegments = FSegments;
    copy->FTypes = FTypes;
    copy->FTypeIds = FTypeIds;
    copy->FTypeFolded = FTypeFolded;
    copy->FFolded = FFolded;
    copy->FFoldedIds = FFoldedIds;
    copy->FMailFolded = FMailFolded;
    copy->FMailSlots = FMailSlots;
    copy->FMailUsed = FMailUsed;
    copy->FMailShared = FMailShared;
    return copy;
}

void TUserList::Seal()
{
    Columns();
    FChanged = false;
}

std::size_t TUserList::MemoryBytes() const
{
    std::size_t bytes = sizeof(*this) + FRecords.capacity() * sizeof(const char*) +
                        FSegments.capacity() * sizeof(TSegment) + FMailSlots.capacity() * sizeof(std::uint64_t) +
                        FNewest.size() * 32;
    for (const auto& block : FBlocks)
        bytes += block->Size;
    for (const std::string& t : FTypes)
        bytes += t.capacity() + 64;
    return bytes;
}
