// The search answer as a source the connection pulls piece by piece: the pieces
// make the same octets as the tree encoding, and the answer keeps the directory
// state it was made from.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Search.h"
#include "ldap/SearchEncoding.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wire::Hex;
using wire::ToHex;

namespace {

// (cn=*a*) as a SearchRequest with message ID 0x21.
void MakeRequest(TASNList& request)
{
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, "\x21");
    TASNNode& op = message.Children.Add(0x63);
    for (int tag : {0x04, 0x0A, 0x0A, 0x02, 0x02, 0x01}) op.Children.Add(tag, tag == 0x04 ? "" : std::string(1, '\0'));
    TASNNode& sub = op.Children.Add(0xA4);
    sub.Children.Add(0x04, "cn");
    sub.Children.Add(0x30).Children.Add(0x81, "a");
    op.Children.Add(0x30);
}

// The same answer built as element trees and encoded at once.
std::string TreeAnswer(const TASNList& request, const std::vector<TEntry>& sent)
{
    TASNList answer;
    for (const TEntry& e : sent) AddEntryMessage(request, answer, e.Name, TUserInfo(e.Lines));
    TASNNode& done = answer.Add(0x30);
    done.Children.Add(0x02, "\x21");
    TASNNode& result = done.Children.Add(0x65);
    result.Children.Add(0x0A, std::string(1, '\0'));
    result.Children.Add(0x04);
    result.Children.Add(0x04);
    return answer.Encode();
}

// Entries whose messages cross the length forms: short, 0x83 xx xx xx.
std::vector<TEntry> Entries()
{
    return {
        {"Ann", {"cn=Ann", "mail=ann@x"}},
        {"", {"cn=bare line follows", "no equals sign", "=empty type", "mail="}},
        {"Long", {"cn=a" + std::string(200, 'x'), "mail=long@x", "description=" + std::string(70000, 'd')}},
        {"Dup", {"cn=Ann again", "MAIL=ANN@X"}},  // same mail as Ann: not sent
        {"Mid", {"cn=a" + std::string(120, 'y'), "mail=mid@x"}},
    };
}

struct TBudgetCase {
    const char* Name;
    std::size_t Budget;
    bool Kept = false;  // an earlier answer left every entry's operation kept
};

class AnswerPieces : public ::testing::TestWithParam<TBudgetCase> {
protected:
    void TearDown() override { FreeUserList(); }
};

TEST_P(AnswerPieces, JoinToTheTreeEncoding)
{
    SetDirectory(Entries());
    TVESKAOptions options;
    TASNList request;
    MakeRequest(request);
    const std::vector<TEntry> all = Entries();
    const std::string expected = TreeAnswer(request, {all[0], all[1], all[2], all[4]});

    if (GetParam().Kept) {
        std::string earlier;
        SearchAnswerInto(earlier, request, options);
    }
    TSearchAnswerSource source(request, options);
    EXPECT_EQ(source.EntryCount(), 4u);
    std::string out;
    int calls = 0;
    bool more = true;
    while (more) {
        const std::size_t before = out.size();
        more = source.Next(out, GetParam().Budget);
        ++calls;
        ASSERT_GT(out.size(), before) << "every call appends a message";
        ASSERT_LT(calls, 100);
    }
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_EQ(out == expected, true) << ToHex(out.substr(0, 200));
    EXPECT_FALSE(source.Next(out, GetParam().Budget)) << "a finished answer appends nothing more";
    EXPECT_EQ(out.size(), expected.size());
    if (GetParam().Budget <= 1) {
        EXPECT_EQ(calls, 5) << "one message per call";
    }

    std::string oneCall;
    SearchAnswerInto(oneCall, request, options);
    EXPECT_EQ(oneCall == expected, true);
}

INSTANTIATE_TEST_SUITE_P(Budgets, AnswerPieces,
                         ::testing::Values(TBudgetCase{"Zero", 0}, TBudgetCase{"One", 1}, TBudgetCase{"Small", 100},
                                           TBudgetCase{"Large", 1 << 20}, TBudgetCase{"Unbounded", std::size_t(-1)},
                                           TBudgetCase{"OneKept", 1, true}, TBudgetCase{"SmallKept", 100, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(AnswerSource, KeepsItsDirectoryStateWhileImportPublishesAnother)
{
    SetDirectory({{"Ann", {"cn=Ann", "mail=ann@x"}}, {"Abe", {"cn=Abe", "mail=abe@x"}}});
    TVESKAOptions options;
    TASNList request;
    MakeRequest(request);
    TSearchAnswerSource source(request, options);
    std::string first;
    ASSERT_TRUE(source.Next(first, 1));
    {
        // Import: Ann's entry gains a line, a matching entry is added.
        TUserListWriteLock list;
        list->AppendLine(0, "sn=Changed");
        list->Add("Cat", std::make_unique<TUserInfo>(std::vector<std::string>{"cn=Cat", "mail=cat@x"}));
    }
    std::string rest;
    while (source.Next(rest, 1)) {
    }
    EXPECT_EQ(first + rest, TreeAnswer(request, {{"Ann", {"cn=Ann", "mail=ann@x"}}, {"Abe", {"cn=Abe", "mail=abe@x"}}}));

    std::string now;
    SearchAnswerInto(now, request, options);
    EXPECT_EQ(now, TreeAnswer(request, {{"Ann", {"cn=Ann", "mail=ann@x", "sn=Changed"}},
                                        {"Abe", {"cn=Abe", "mail=abe@x"}},
                                        {"Cat", {"cn=Cat", "mail=cat@x"}}}));
    FreeUserList();
}

struct TLengthCase {
    const char* Name;
    std::size_t Size;
};

class LengthOctets : public ::testing::TestWithParam<TLengthCase> {};

TEST_P(LengthOctets, SameAsTheTreeEncoder)
{
    std::string out;
    AppendLength(out, GetParam().Size);
    EXPECT_EQ(ToHex(out), ToHex(EncodeLength(GetParam().Size)));
    EXPECT_EQ(LengthSize(GetParam().Size), out.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, LengthOctets,
                         ::testing::Values(TLengthCase{"Zero", 0}, TLengthCase{"ShortMax", 0x7F},
                                           TLengthCase{"LongMin", 0x80}, TLengthCase{"ThreeOctetsMax", 0xFFFFFF},
                                           TLengthCase{"FourOctets", 0x1000000},
                                           TLengthCase{"FiveOctets", std::size_t(1) << 32}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
