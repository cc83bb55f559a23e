// The search answer: exact bytes, one entry per mail value, the MaxResults cut,
// and the requests that must end the connection without an answer.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Filter.h"
#include "ldap/Search.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

using wire::Hex;
using wire::ToHex;

#include <string>
#include <vector>

namespace {

// A SearchRequest as a client encodes it, with the filter's bytes spliced in
// verbatim; `children` below 8 drops the trailing elements of the operation.
std::string SearchRequest(std::string_view id, std::string_view filterBytes, int children = 8,
                          std::string_view base = "", char scope = 2)
{
    TASNList fields;
    fields.Add(0x04, base);
    fields.Add(0x0A, std::string(1, scope));
    fields.Add(0x0A, std::string(1, '\0'));
    fields.Add(0x02, std::string(1, '\0'));
    fields.Add(0x02, std::string(1, '\0'));
    fields.Add(0x01, std::string(1, '\0'));
    std::string inner;
    for (int i = 0; i < fields.Count() && i < children; ++i) inner += EncodeNode(fields.Items(i));
    if (children > 6) inner += filterBytes;
    if (children > 7) inner += Hex("30 00");
    TASNList idList;
    const std::string message = EncodeNode(idList.Add(0x02, id)) + "\x63" + EncodeLength(inner.size()) + inner;
    return "\x30" + EncodeLength(message.size()) + message;
}

std::string Answer(const std::string& requestBytes, const TOptions& options)
{
    TASNList request;
    request.Decode(requestBytes);
    TCaptureConnection connection;
    SearchAnswer(connection, request, options);
    EXPECT_EQ(connection.Written.size(), 1u) << "the answer goes out in one write";
    return connection.Written.empty() ? std::string() : connection.Written.front();
}

// DNs of the entries in an answer, in order, and whether it ends in a success done.
std::vector<std::string> EntryNames(const std::string& answer, bool* doneOK = nullptr)
{
    TASNList messages;
    messages.Decode(answer);
    std::vector<std::string> names;
    for (int i = 0; i < messages.Count(); ++i) {
        const TASNNode& op = messages.Items(i).Children.Items(1);
        if (op.Tag == 0x64) names.push_back(op.Children.Items(0).Value);
        if (doneOK && i == messages.Count() - 1)
            *doneOK = op.Tag == 0x65 && op.Children.Items(0).Value == std::string(1, '\0');
    }
    return names;
}

const std::string kSubCnLee = Hex("A4 0B 04 02 63 6E 30 05 81 03 6C 65 65");            // (cn=*lee*)
const std::string kSubMailAnn = Hex("A4 0D 04 04 6D 61 69 6C 30 05 80 03 61 6E 6E");    // (mail=ann*)
const std::string kAndEmpty = Hex("A0 00");                                                // (&)

class SearchTest : public ::testing::Test {
protected:
    void TearDown() override { FreeUserList(); }
    TVESKAOptions Options;
};

TEST_F(SearchTest, AnnLeeExactBytes)
{
    SetDirectory({{"Ann Lee", {"mail=ann"}}});
    EXPECT_EQ(ToHex(Answer(SearchRequest(Hex("02"), kSubMailAnn), Options)),
              "30 1F 02 01 02 64 1A 04 07 41 6E 6E 20 4C 65 65 30 0F 30 0D 04 04 6D 61 69 6C 31 05 "
              "04 03 61 6E 6E 30 0C 02 01 02 65 07 0A 01 00 04 00 04 00");
}

TEST_F(SearchTest, NoMatchAndEmptyOrAbsentStoreGiveDoneAlone)
{
    const std::string done = "30 0C 02 01 07 65 07 0A 01 00 04 00 04 00";
    SetDirectory({{"Ann Lee", {"cn=Ann Lee", "mail=ann"}}});
    EXPECT_EQ(ToHex(Answer(SearchRequest(Hex("07"), Hex("A3 09 04 04 6D 61 69 6C 04 01 61")), Options)), done);
    SetDirectory({});
    EXPECT_EQ(ToHex(Answer(SearchRequest(Hex("07"), kSubCnLee), Options)), done);
    FreeUserList();
    EXPECT_EQ(ToHex(Answer(SearchRequest(Hex("07"), kSubCnLee), Options)), done);
    // With no entry to test, the filter is never looked up: a short request still
    // gets its SearchResultDone.
    EXPECT_EQ(ToHex(Answer(SearchRequest(Hex("07"), kSubCnLee, 3), Options)), done);
}

struct TLimitCase {
    const char* Name;
    int MaxResults;  // INT32_MIN: leave the default
    size_t Expected;
};

class SearchLimit : public SearchTest, public ::testing::WithParamInterface<TLimitCase> {};

TEST_P(SearchLimit, CutsInStoreOrder)
{
    std::vector<TEntry> entries;
    for (int i = 0; i < 60; ++i)
        entries.push_back({"Lee " + std::to_string(i), {"cn=Lee " + std::to_string(i),
                                                        "mail=lee" + std::to_string(i) + "@x"}});
    SetDirectory(entries);
    if (GetParam().MaxResults != INT32_MIN) Options.SetValue("MaxResults", TValue(GetParam().MaxResults));
    bool ok = false;
    const auto names = EntryNames(Answer(SearchRequest(Hex("01"), kSubCnLee), Options), &ok);
    EXPECT_TRUE(ok) << "success also when the limit cut the answer";
    ASSERT_EQ(names.size(), GetParam().Expected);
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], "Lee " + std::to_string(i));
}

INSTANTIATE_TEST_SUITE_P(All, SearchLimit,
                         ::testing::Values(TLimitCase{"Two", 2, 2}, TLimitCase{"Zero", 0, 60},
                                           TLimitCase{"Negative", -1, 60},
                                           TLimitCase{"Default", INT32_MIN, 50},
                                           TLimitCase{"AboveCount", 100, 60}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TDedupCase {
    const char* Name;
    std::vector<TEntry> Entries;
    std::vector<std::string> Expected;
};

class SearchDedup : public SearchTest, public ::testing::WithParamInterface<TDedupCase> {};

TEST_P(SearchDedup, OneEntryPerMailValue)
{
    SetDirectory(GetParam().Entries);
    EXPECT_EQ(EntryNames(Answer(SearchRequest(Hex("01"), kSubCnLee), Options)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    All, SearchDedup,
    ::testing::Values(
        TDedupCase{"CaseOnly", {{"A", {"cn=lee a", "mail=Lee@X"}}, {"B", {"cn=lee b", "mail=lee@x"}}}, {"A"}},
        TDedupCase{"NoMail", {{"A", {"cn=lee a"}}, {"B", {"cn=lee b"}}, {"C", {"cn=lee c", "mail=c"}}},
                   {"A", "C"}},
        // Only the first mail line counts for the seen list.
        TDedupCase{"FirstMailLine",
                   {{"A", {"cn=lee a", "mail=a", "mail=b"}}, {"B", {"cn=lee b", "mail=b"}}},
                   {"A", "B"}},
        // A non-matching entry does not take a mail value.
        TDedupCase{"SkippedDoesNotCount",
                   {{"A", {"cn=ann", "mail=x"}}, {"B", {"cn=lee b", "mail=x"}}}, {"B"}},
        TDedupCase{"SameNameKept", {{"Desk", {"cn=Lee", "mail=d"}}, {"Desk", {"cn=Lee", "mail=i"}}},
                   {"Desk", "Desk"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SearchTest, LinesBecomeOneAttributeEachInOrder)
{
    SetDirectory({{"", {"cn=Ann Lee", "description=a=b", "mail=ann", "mail=ann2", "noequals", "CN=x"}}});
    TASNList messages;
    messages.Decode(Answer(SearchRequest(Hex("01"), kAndEmpty), Options));
    ASSERT_EQ(messages.Count(), 2);
    const TASNNode& entry = messages.Items(0).Children.Items(1);
    EXPECT_EQ(entry.Children.Items(0).Value, "");
    const TASNList& attributes = entry.Children.Items(1).Children;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"cn", "Ann Lee"}, {"description", "a=b"}, {"mail", "ann"}, {"mail", "ann2"}, {"", "noequals"}, {"CN", "x"}};
    ASSERT_EQ(attributes.Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < attributes.Count(); ++i) {
        const TASNNode& a = attributes.Items(i);
        EXPECT_EQ(a.Children.Items(0).Value, expected[i].first);
        ASSERT_EQ(a.Children.Items(1).Tag, 0x31);
        ASSERT_EQ(a.Children.Items(1).Children.Count(), 1);
        EXPECT_EQ(a.Children.Items(1).Children.Items(0).Value, expected[i].second);
    }
}

TEST_F(SearchTest, EntryWithoutLinesHasEmptyAttributeList)
{
    SetDirectory({{"X", {}}});
    EXPECT_EQ(ToHex(Answer(SearchRequest(Hex("01"), kAndEmpty), Options)),
              "30 0A 02 01 01 64 05 04 01 58 30 00 30 0C 02 01 01 65 07 0A 01 00 04 00 04 00");
}

TEST_F(SearchTest, BaseAndScopeMakeNoDifference)
{
    SetDirectory({{"Ann Lee", {"cn=Ann Lee", "mail=ann"}}, {"Bob Leeds", {"cn=Bob Leeds", "mail=bob"}}});
    const std::string plain = Answer(SearchRequest(Hex("01"), kSubCnLee), Options);
    EXPECT_EQ(Answer(SearchRequest(Hex("01"), kSubCnLee, 8, "o=nowhere,c=zz", 0), Options), plain);
    EXPECT_EQ(Answer(SearchRequest(Hex("01"), kSubCnLee, 8, "cn=Ann Lee", 1), Options), plain);
    EXPECT_EQ(EntryNames(plain), (std::vector<std::string>{"Ann Lee", "Bob Leeds"}));
}

TEST_F(SearchTest, MalformedRequestsRaiseBeforeAnyWrite)
{
    SetDirectory({{"Ann Lee", {"cn=Ann Lee", "mail=ann"}}, {"B", {"cn=b", "mail=b"}}});
    TCaptureConnection connection;
    struct TBad {
        const char* Name;
        std::string Bytes;
    };
    const std::vector<TBad> cases = {
        {"SixChildren", SearchRequest(Hex("01"), kSubCnLee, 6)},
        {"NotWithoutChild", SearchRequest(Hex("01"), Hex("A2 00"))},
        {"SubstringsWithoutParts", SearchRequest(Hex("01"), Hex("A4 04 04 02 63 6E"))},
        // The first entry matches, the second reaches the malformed or-branch.
        {"LaterBranchFails", SearchRequest(Hex("01"), Hex("A1 11 A4 0D 04 02 63 6E 30 07 80 05 41 6E 6E 20 4C A2 00"))},
    };
    for (const TBad& c : cases) {
        TASNList request;
        request.Decode(c.Bytes);
        EXPECT_THROW(SearchAnswer(connection, request, Options), std::out_of_range) << c.Name;
    }
    EXPECT_TRUE(connection.Written.empty());
}

TEST_F(SearchTest, FilterNestingPastTheBoundRaises)
{
    SetDirectory({{"A", {"cn=a"}}});
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, Hex("01"));
    TASNNode& op = message.Children.Add(0x63);
    for (int i = 0; i < 6; ++i) op.Children.Add(0x04);
    TASNNode* node = &op.Children.Add(0xA2);
    for (int i = 0; i < kMaxFilterDepth + 5; ++i) node = &node->Children.Add(0xA2);
    node->Children.Add(0xA0);
    TCaptureConnection connection;
    EXPECT_THROW(SearchAnswer(connection, request, Options), EFilterDepthError);
    EXPECT_TRUE(connection.Written.empty());
}

} // namespace
