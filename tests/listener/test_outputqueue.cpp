// A connection's unsent octets: order of whole and pulled answers, the
// connection's share and the server's total.
#include "listener/OutputQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Pieces of `piece` octets of one letter, `pieces` of them.
class TLetterSource : public IAnswerSource {
public:
    TLetterSource(char letter, std::size_t piece, int pieces) : FLetter(letter), FPiece(piece), FLeft(pieces) {}
    bool Next(std::string& out, std::size_t budget) override {
        const std::size_t start = out.size();
        while (FLeft > 0 && out.size() - start < budget) {
            out.append(FPiece, FLetter);
            --FLeft;
        }
        return FLeft > 0;
    }

private:
    char FLetter;
    std::size_t FPiece;
    int FLeft;
};

std::string DrainAll(TOutputQueue& queue) {
    std::string out;
    while (!queue.Done()) {
        out += queue.Unsent();
        queue.Consume(queue.Unsent().size());
        queue.Refill();
    }
    return out;
}

// One step of a writer: a whole answer ('W' + text) or a pulled one
// ('S' + letter, 3 pieces of 4 octets).
struct OrderCase {
    const char* Name;
    std::vector<std::string> Steps;
    std::string Sent;
};

class Order : public ::testing::TestWithParam<OrderCase> {};

TEST_P(Order, AnswersLeaveInTheOrderWritten) {
    TOutputBudget budget;
    budget.PerConnection = 8;
    TOutputQueue queue(budget);
    for (const auto& step : GetParam().Steps) {
        if (step[0] == 'W')
            queue.Append(step.substr(1));
        else
            queue.SetSource(std::make_unique<TLetterSource>(step[1], 4, 3));
    }
    EXPECT_EQ(DrainAll(queue), GetParam().Sent);
    EXPECT_EQ(budget.Held.load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    OutputQueue, Order,
    ::testing::Values(OrderCase{"WholeOnly", {"Wab", "Wcd"}, "abcd"},
                      OrderCase{"PulledOnly", {"Sx"}, "xxxxxxxxxxxx"},
                      OrderCase{"WholeAfterPulled", {"Sx", "Wab"}, "xxxxxxxxxxxxab"},
                      OrderCase{"PulledAfterWhole", {"Wab", "Sx"}, "abxxxxxxxxxxxx"},
                      OrderCase{"TwoPulled", {"Sx", "Sy"}, "xxxxxxxxxxxxyyyyyyyyyyyy"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(OutputQueue, PullsNoMoreThanItsShareWhileUnsent) {
    TOutputBudget budget;
    budget.PerConnection = 100;
    TOutputQueue queue(budget);
    queue.SetSource(std::make_unique<TLetterSource>('x', 30, 1000));
    EXPECT_EQ(queue.Size(), 120u) << "the piece that crosses the share is kept whole";
    EXPECT_TRUE(queue.Blocked());
    queue.Refill();
    EXPECT_EQ(queue.Size(), 120u) << "nothing more while nothing was sent";
    queue.Consume(100);
    queue.Refill();
    EXPECT_EQ(queue.Size(), 110u);
    EXPECT_EQ(budget.Held.load(), 110u);
}

TEST(OutputQueue, TotalBudgetStopsEveryPull) {
    TOutputBudget budget;
    budget.PerConnection = 100;
    budget.Total = 150;
    TOutputQueue first(budget), second(budget);
    first.SetSource(std::make_unique<TLetterSource>('x', 10, 1000));
    second.SetSource(std::make_unique<TLetterSource>('y', 10, 1000));
    EXPECT_EQ(first.Size(), 100u);
    EXPECT_EQ(second.Size(), 50u) << "pulled until the total was reached";
    EXPECT_TRUE(budget.Exhausted());
    first.Consume(100);
    second.Refill();
    EXPECT_EQ(second.Size(), 100u);
}

TEST(OutputQueue, EndedConnectionGivesItsShareBack) {
    TOutputBudget budget;
    budget.PerConnection = 100;
    {
        TOutputQueue cleared(budget), destroyed(budget);
        cleared.Append(std::string(500, 'a'));
        destroyed.SetSource(std::make_unique<TLetterSource>('b', 10, 1000));
        EXPECT_EQ(budget.Held.load(), 600u);
        cleared.Clear();
        EXPECT_TRUE(cleared.Done());
        EXPECT_EQ(budget.Held.load(), 100u);
    }
    EXPECT_EQ(budget.Held.load(), 0u);
}

TEST(OutputQueue, LargeBufferReleasedIsNotedOnce) {
    TOutputBudget budget;
    TOutputQueue queue(budget);
    queue.Append(std::string(TOutputQueue::kLargeBuffer, 'a'));
    queue.Consume(TOutputQueue::kLargeBuffer);
    EXPECT_TRUE(queue.TakeReleasedLarge());
    EXPECT_FALSE(queue.TakeReleasedLarge());
}

}  // namespace
