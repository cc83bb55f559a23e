#include "listener/OutputQueue.h"

#include <algorithm>
#include <utility>

TOutputQueue::~TOutputQueue() { Clear(); }

void TOutputQueue::Account() {
    const std::size_t now = Size();
    // The total is shared by every loop: no atomic step when nothing changed.
    if (now == FAccounted) return;
    if (now > FAccounted)
        FBudget.Held.fetch_add(now - FAccounted, std::memory_order_relaxed);
    else
        FBudget.Held.fetch_sub(FAccounted - now, std::memory_order_relaxed);
    FAccounted = now;
}

void TOutputQueue::Append(std::string_view data) {
    if (data.empty()) return;
    while (FSource && FSource->Next(FBuffer, static_cast<std::size_t>(-1))) {
    }
    FSource.reset();
    if (FOffset > 0 && FOffset == FBuffer.size()) {
        FBuffer.clear();
        FOffset = 0;
    }
    FBuffer.append(data);
    Account();
}

void TOutputQueue::SetSource(std::unique_ptr<IAnswerSource> source) {
    while (FSource && FSource->Next(FBuffer, static_cast<std::size_t>(-1))) {
    }
    FSource = std::move(source);
    Account();
    Refill();
}

void TOutputQueue::Refill() {
    while (FSource && Size() < FBudget.PerConnection && !FBudget.Exhausted()) {
        if (FOffset > 0 && FOffset == FBuffer.size()) {
            FBuffer.clear();
            FOffset = 0;
        }
        const std::size_t held = FBudget.Held.load(std::memory_order_relaxed);
        const std::size_t room = std::min(FBudget.PerConnection - Size(), FBudget.Total - std::min(held, FBudget.Total));
        const bool more = FSource->Next(FBuffer, std::max<std::size_t>(room, 1));
        Account();
        if (!more) FSource.reset();
    }
}

void TOutputQueue::Consume(std::size_t sent) {
    FOffset += sent;
    if (FOffset >= FBuffer.size()) {
        ReleaseBuffer();
    } else if (FOffset >= (std::size_t{64} << 10) && FOffset * 2 >= FBuffer.size()) {
        // Keep the buffer from growing at the front while a long answer drains.
        FBuffer.erase(0, FOffset);
        FOffset = 0;
    }
    Account();
}

void TOutputQueue::Clear() {
    FSource.reset();
    ReleaseBuffer();
    Account();
}

void TOutputQueue::ReleaseBuffer() {
    // A large buffer is given back rather than kept for the next answer, so an
    // idle connection holds nothing.
    if (FBuffer.capacity() >= kLargeBuffer) FReleasedLarge = true;
    if (FBuffer.capacity() > (std::size_t{16} << 10))
        std::string().swap(FBuffer);
    else
        FBuffer.clear();
    FOffset = 0;
}

bool TOutputQueue::TakeReleasedLarge() { return std::exchange(FReleasedLarge, false); }
