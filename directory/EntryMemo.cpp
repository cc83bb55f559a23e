#include "directory/EntryMemo.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
// Kept octets come in blocks of this size (or one of its own for a larger run).
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
} // namespace

void TEntryMemo::TFree::operator()(const char** slots) const { std::free(slots); }

TEntryMemo::TEntryMemo(std::uint32_t entries, std::size_t capBytes)
    : FEntries(entries), FCap(capBytes),
      FSlots(static_cast<const char**>(std::calloc(std::max<std::size_t>(entries, 1), sizeof(const char*))))
{
    if (!FSlots)
        throw std::bad_alloc();
}

void TEntryMemo::Keep(std::uint32_t entry, std::string_view octets)
{
    if (entry >= FEntries || octets.empty() || octets.size() > UINT32_MAX)
        return;
    const std::size_t need = sizeof(std::uint32_t) + octets.size();
    std::lock_guard lock(FLock);
    std::atomic_ref slot(FSlots[entry]);
    if (slot.load(std::memory_order_relaxed) != nullptr || FKept + need > FCap)
        return;
    if (need > FFreeSize) {
        const std::size_t size = std::max(need, kBlockSize);
        FBlocks.push_back(std::make_unique_for_overwrite<char[]>(size));
        FFree = FBlocks.back().get();
        FFreeSize = size;
    }
    char* held = FFree;
    // Kept runs start on an 8-octet boundary: the length is read in one go.
    const std::size_t used = std::min(FFreeSize, (need + 7) & ~std::size_t{7});
    FFree += used;
    FFreeSize -= used;
    FKept += need;
    const auto size = static_cast<std::uint32_t>(octets.size());
    std::memcpy(held, &size, sizeof size);
    std::memcpy(held + sizeof size, octets.data(), octets.size());
    slot.store(held, std::memory_order_release);
}

std::size_t TEntryMemo::KeptBytes() const
{
    std::lock_guard lock(FLock);
    return FKept;
}
