// The unsent octets of one connection: a bounded buffer, refilled from an
// answer source as the socket takes what it holds.
#pragma once

#include "ldap/Dispatch.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Unsent answer octets of every connection of one server. Held is atomic:
// every loop thread adds and subtracts its connections' shares.
struct TOutputBudget {
    std::size_t PerConnection = std::size_t{1} << 20;
    std::size_t Total = std::size_t{128} << 20;
    std::atomic<std::size_t> Held{0};

    bool Exhausted() const { return Held.load(std::memory_order_relaxed) >= Total; }
};

// Used by the thread that owns the connection only.
class TOutputQueue {
public:
    explicit TOutputQueue(TOutputBudget& budget) : FBudget(budget) {}
    ~TOutputQueue();
    TOutputQueue(const TOutputQueue&) = delete;
    TOutputQueue& operator=(const TOutputQueue&) = delete;

    // Octets written whole (an answer already built). They follow everything
    // queued before, so a pending source is drained first.
    void Append(std::string_view data);
    // An answer pulled piece by piece; one pending before is drained first.
    // Pulls at once up to the connection's share.
    void SetSource(std::unique_ptr<IAnswerSource> source);
    // Pulls the next pieces while the connection holds less than its share
    // and the server's total allows. Exceptions of the source propagate.
    void Refill();

    std::string_view Unsent() const { return std::string_view(FBuffer).substr(FOffset); }
    void Consume(std::size_t sent);
    std::size_t Size() const { return FBuffer.size() - FOffset; }
    bool HasSource() const { return FSource != nullptr; }
    // Nothing unsent and nothing left to pull.
    bool Done() const { return Size() == 0 && !FSource; }
    // The connection's next message must wait.
    bool Blocked() const { return FSource != nullptr || Size() >= FBudget.PerConnection; }
    // Below this a pending source is pulled again.
    std::size_t ShareLowWater() const { return FBudget.PerConnection / 2 + 1; }
    // Drops everything (the connection ended).
    void Clear();
    // True once since a buffer of at least kLargeBuffer octets was released,
    // a hint that memory can go back to the system.
    bool TakeReleasedLarge();

    static constexpr std::size_t kLargeBuffer = std::size_t{1} << 20;

private:
    void Account();
    void ReleaseBuffer();

    TOutputBudget& FBudget;
    std::string FBuffer;  // FBuffer[FOffset..] is unsent
    std::size_t FOffset = 0;
    std::size_t FAccounted = 0;  // this queue's share of FBudget.Held
    std::unique_ptr<IAnswerSource> FSource;
    bool FReleasedLarge = false;
};
