// Octets a reader derived from an entry (its encoded answer message) kept per
// entry of one published state, so that an entry asked for again is copied,
// not worked out again. It lives and dies with the state's search structures:
// a change of the list or a new state starts empty.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

class TEntryMemo {
public:
    // Room for entries' octets up to capBytes in all; past it nothing more is kept.
    TEntryMemo(std::uint32_t entries, std::size_t capBytes);
    TEntryMemo(const TEntryMemo&) = delete;
    TEntryMemo& operator=(const TEntryMemo&) = delete;

    // The octets kept for entry; empty when none are (or entry is out of range).
    std::string_view Find(std::uint32_t entry) const
    {
        if (entry >= FEntries)
            return {};
        const char* held = std::atomic_ref(FSlots[entry]).load(std::memory_order_acquire);
        if (held == nullptr)
            return {};
        std::uint32_t size = 0;
        __builtin_memcpy(&size, held, sizeof size);
        return {held + sizeof size, size};
    }
    // Keeps a copy of octets for entry unless some are kept already, the cap
    // is reached or octets is empty. From any thread.
    void Keep(std::uint32_t entry, std::string_view octets);
    // Asks the memory for an entry's slot ahead of its use, without waiting.
    void PrefetchSlot(std::uint32_t entry) const
    {
        if (entry < FEntries)
            __builtin_prefetch(&FSlots[entry]);
    }
    // Asks for the kept octets of an entry whose slot is at hand.
    void PrefetchOctets(std::uint32_t entry) const
    {
        if (entry >= FEntries)
            return;
        if (const char* held = std::atomic_ref(FSlots[entry]).load(std::memory_order_relaxed)) {
            __builtin_prefetch(held);
            __builtin_prefetch(held + 64);
        }
    }
    std::size_t KeptBytes() const;

private:
    const std::uint32_t FEntries;
    const std::size_t FCap;
    // Written once each (null to the kept octets, under FLock); read without a
    // lock: a release store publishes octets that never change afterwards.
    // Every access goes through std::atomic_ref. Zeroed by calloc: the pages of
    // entries never asked for are never touched.
    struct TFree {
        void operator()(const char** slots) const;
    };
    std::unique_ptr<const char*[], TFree> FSlots;
    // FLock guards the blocks and the count of kept octets.
    mutable std::mutex FLock;
    std::vector<std::unique_ptr<char[]>> FBlocks;
    char* FFree = nullptr;
    std::size_t FFreeSize = 0;
    std::size_t FKept = 0;
};
