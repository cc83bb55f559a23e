// Searches on the wire, through a started main form: exact answer bytes, the
// result limit, one entry per mail value, malformed requests, counting and
// logging.
#include "ServiceTestSupport.h"

#include "config/LogFile.h"
#include "ldap/LDAPASN.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace servicetest;
using wire::Hex;
using wire::Tlv;
using wire::ToHex;

namespace {

// One BER element with a definite length (long form when needed).
std::string Substrings(const std::string& type, int partTag, const std::string& part)
{
    return Tlv(0xA4, Tlv(0x04, type) + Tlv(0x30, Tlv(partTag, part)));
}

const std::string kMatchAll = Tlv(0xA0, "");  // an empty and: always true

// A SearchRequest with the usual eight children, or only the first `children`.
std::string SearchRequest(const std::string& messageID, const std::string& filter, const std::string& base = "",
                          int scope = 2, int children = 8)
{
    const std::vector<std::string> parts{Tlv(0x04, base),
                                         Tlv(0x0A, std::string(1, static_cast<char>(scope))),
                                         Tlv(0x0A, std::string(1, '\0')),
                                         Tlv(0x02, std::string(1, '\0')),
                                         Tlv(0x02, std::string(1, '\0')),
                                         Tlv(0x01, std::string(1, '\0')),
                                         filter,
                                         Tlv(0x30, Tlv(0x04, "cn"))};
    std::string operation;
    for (int i = 0; i < children; ++i) operation += parts[static_cast<std::size_t>(i)];
    return Tlv(0x30, Tlv(0x02, messageID) + Tlv(0x63, operation));
}

std::string Done(const std::string& messageID)
{
    return Tlv(0x30, Tlv(0x02, messageID) + Hex("65 07 0A 01 00 04 00 04 00"));
}

// Reads whole messages until a SearchResultDone arrived (or the peer closed or
// went silent); returns them as raw bytes.
std::vector<std::string> ReadAnswer(wire::TWireClient& client)
{
    std::vector<std::string> messages;
    for (;;) {
        std::string head = client.ReadExactly(2);
        if (head.size() < 2) return messages;
        const unsigned first = static_cast<unsigned char>(head[1]);
        std::size_t length = first;
        if (first & 0x80) {
            const std::string octets = client.ReadExactly(first & 0x7F);
            head += octets;
            length = 0;
            for (char c : octets) length = (length << 8) | static_cast<unsigned char>(c);
        }
        const std::string content = client.ReadExactly(length);
        messages.push_back(head + content);
        if (content.size() < length) return messages;
        TASNList decoded;
        decoded.Decode(messages.back());
        if (decoded.Items(0).Children.Items(1).Tag == 0x65) return messages;
    }
}

// The entry names of the SearchResultEntry messages of an answer.
std::vector<std::string> EntryNames(const std::vector<std::string>& answer)
{
    std::vector<std::string> names;
    for (const std::string& message : answer) {
        TASNList decoded;
        decoded.Decode(message);
        const TASNNode& operation = decoded.Items(0).Children.Items(1);
        if (operation.Tag == 0x64) names.push_back(operation.Children.Items(0).Value);
    }
    return names;
}

class SearchWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlaceForm(Form, Dir);
        Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
        ASSERT_EQ(Form.FormCreate(), TInitOutcome::Stopped);
        Form.StartService();
        Port = Form.Listener().Binding(0).Port;
    }
    void TearDown() override
    {
        Form.FormDestroy();
        CloseLogFile();
    }
    // Sends one request and reads its whole answer.
    std::vector<std::string> Ask(const std::string& request)
    {
        wire::TWireClient client(Port);
        client.Send(request);
        return ReadAnswer(client);
    }

    TProgramDir Dir;
    TRecordingPresenter Presenter;
    TMainForm Form{&Presenter};
    int Port = 0;
};

TEST_F(SearchWire, ExactBytesOfOneEntryAndTheDone)
{
    SetDirectory({{"Ann Lee", {"mail=ann"}}, {"Bob", {"mail=bob"}}});
    const std::vector<std::string> answer = Ask(SearchRequest(Hex("02"), Substrings("mail", 0x80, "an")));
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(ToHex(answer[0]), "30 1F 02 01 02 64 1A 04 07 41 6E 6E 20 4C 65 65 30 0F 30 0D 04 04 6D 61 69 6C 31 05 "
                                "04 03 61 6E 6E");
    EXPECT_EQ(ToHex(answer[1]), "30 0C 02 01 02 65 07 0A 01 00 04 00 04 00");
}

TEST_F(SearchWire, AllMessagesOfAnAnswerArriveAsOneBurst)
{
    SetDirectory({{"A", {"cn=A", "mail=a"}}, {"B", {"cn=B", "mail=b"}}});
    wire::TWireClient client(Port);
    client.Send(SearchRequest(Hex("05"), kMatchAll));
    std::string expected;
    expected += Tlv(0x30, Tlv(0x02, Hex("05")) +
                              Tlv(0x64, Tlv(0x04, "A") + Tlv(0x30, Tlv(0x30, Tlv(0x04, "cn") + Tlv(0x31, Tlv(0x04, "A"))) +
                                                                      Tlv(0x30, Tlv(0x04, "mail") + Tlv(0x31, Tlv(0x04, "a"))))));
    expected += Tlv(0x30, Tlv(0x02, Hex("05")) +
                              Tlv(0x64, Tlv(0x04, "B") + Tlv(0x30, Tlv(0x30, Tlv(0x04, "cn") + Tlv(0x31, Tlv(0x04, "B"))) +
                                                                      Tlv(0x30, Tlv(0x04, "mail") + Tlv(0x31, Tlv(0x04, "b"))))));
    expected += Done(Hex("05"));
    EXPECT_EQ(ToHex(client.ReadExactly(expected.size())), ToHex(expected));
}

TEST_F(SearchWire, LinesBecomeOneAttributeEach)
{
    SetDirectory({{"E", {"description=a=b", "mail=x", "mail=y", "noequals"}}, {"", {}}});
    const std::vector<std::string> answer = Ask(SearchRequest(Hex("07"), kMatchAll));
    ASSERT_EQ(answer.size(), 3u);
    const std::string attributes = Tlv(0x30, Tlv(0x04, "description") + Tlv(0x31, Tlv(0x04, "a=b"))) +
                                   Tlv(0x30, Tlv(0x04, "mail") + Tlv(0x31, Tlv(0x04, "x"))) +
                                   Tlv(0x30, Tlv(0x04, "mail") + Tlv(0x31, Tlv(0x04, "y"))) +
                                   Tlv(0x30, Tlv(0x04, "") + Tlv(0x31, Tlv(0x04, "noequals")));
    EXPECT_EQ(ToHex(answer[0]), ToHex(Tlv(0x30, Tlv(0x02, Hex("07")) + Tlv(0x64, Tlv(0x04, "E") + Tlv(0x30, attributes)))));
    // An empty name and no lines: an empty attribute list, 30 00.
    EXPECT_EQ(ToHex(answer[1]), "30 09 02 01 07 64 04 04 00 30 00");
    EXPECT_EQ(ToHex(answer[2]), ToHex(Done(Hex("07"))));
}

// ---- the result limit ------------------------------------------------------------

struct TLimitCase {
    const char* Label;
    bool Set;
    int MaxResults;
    std::size_t Entries;
};

class Limit : public SearchWire, public ::testing::WithParamInterface<TLimitCase> {};

TEST_P(Limit, MaxResultsCutsInStoreOrder)
{
    std::vector<TEntry> store;
    for (int i = 0; i < 60; ++i) {
        const std::string n = std::to_string(i);
        store.push_back({"User " + n, {"cn=User " + n, "mail=u" + n + "@x"}});
    }
    SetDirectory(store);
    if (GetParam().Set) Form.Settings().SetValue("MaxResults", TValue(GetParam().MaxResults));
    const std::vector<std::string> answer = Ask(SearchRequest(Hex("03"), Substrings("cn", 0x80, "user")));
    const std::vector<std::string> names = EntryNames(answer);
    ASSERT_EQ(names.size(), GetParam().Entries);
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], "User " + std::to_string(i));
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(ToHex(answer.back()), ToHex(Done(Hex("03")))) << "success also when cut short";
}

INSTANTIATE_TEST_SUITE_P(MaxResults, Limit,
                         ::testing::Values(TLimitCase{"Two", true, 2, 2}, TLimitCase{"Zero", true, 0, 60},
                                           TLimitCase{"Negative", true, -1, 60},
                                           TLimitCase{"Default", false, 0, 50}),
                         [](const auto& info) { return std::string(info.param.Label); });

// ---- one entry per mail value ------------------------------------------------------

struct TDistinctCase {
    const char* Label;
    std::vector<TEntry> Store;
    std::vector<std::string> Sent;
};

class Distinct : public SearchWire, public ::testing::WithParamInterface<TDistinctCase> {};

TEST_P(Distinct, FirstOfEachMailValue)
{
    SetDirectory(GetParam().Store);
    EXPECT_EQ(EntryNames(Ask(SearchRequest(Hex("04"), kMatchAll))), GetParam().Sent);
}

INSTANTIATE_TEST_SUITE_P(
    Mail, Distinct,
    ::testing::Values(TDistinctCase{"CaseOnly", {{"First", {"mail=Ann@X.org"}}, {"Second", {"mail=ann@x.ORG"}}}, {"First"}},
                      TDistinctCase{"NoMail", {{"One", {"cn=One"}}, {"Two", {"cn=Two"}}, {"M", {"mail=m"}}}, {"One", "M"}},
                      TDistinctCase{"FirstMailLineCounts",
                                    {{"A", {"mail=a", "mail=b"}}, {"B", {"mail=b"}}, {"C", {"mail=a"}}},
                                    {"A", "B"}},
                      TDistinctCase{"EmptyMailIsNoMail", {{"A", {"mail="}}, {"B", {"cn=B"}}}, {"A"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(SearchWire, MaxResultsCountsOnlyEntriesSent)
{
    SetDirectory({{"A", {"mail=a"}}, {"A2", {"mail=A"}}, {"B", {"mail=b"}}, {"C", {"mail=c"}}});
    Form.Settings().SetValue("MaxResults", TValue(2));
    EXPECT_EQ(EntryNames(Ask(SearchRequest(Hex("04"), kMatchAll))), (std::vector<std::string>{"A", "B"}));
}

// ---- what the request looks like ------------------------------------------------------

TEST_F(SearchWire, BaseAndScopeMakeNoDifference)
{
    SetDirectory({{"Ann Lee", {"cn=Ann Lee", "mail=ann"}}, {"Bob", {"cn=Bob", "mail=bob"}}});
    const std::string filter = Substrings("cn", 0x81, "lee");
    const std::vector<std::string> plain = Ask(SearchRequest(Hex("09"), filter, "", 2));
    ASSERT_EQ(EntryNames(plain), std::vector<std::string>{"Ann Lee"});
    EXPECT_EQ(Ask(SearchRequest(Hex("09"), filter, "o=Elsewhere,c=ZZ", 0)), plain);
    EXPECT_EQ(Ask(SearchRequest(Hex("09"), filter, "cn=Bob", 1)), plain);
}

TEST_F(SearchWire, FewerThanSevenChildrenEndsTheConnectionUnanswered)
{
    SetDirectory({{"A", {"mail=a"}}});
    wire::TWireClient client(Port);
    client.Send(SearchRequest(Hex("02"), kMatchAll, "", 2, 6));
    std::string received;
    EXPECT_TRUE(client.PeerClosed(10000, &received));
    EXPECT_EQ(ToHex(received), "");
    EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), 1) << "counted before the answer failed";
}

struct TEmptyStoreCase {
    const char* Label;
    bool Absent;
    int Children;
};

class EmptyStore : public SearchWire, public ::testing::WithParamInterface<TEmptyStoreCase> {};

TEST_P(EmptyStore, AnswersTheDoneAlone)
{
    if (GetParam().Absent)
        FreeUserList();
    else
        SetDirectory({});
    // With no entry to test, the filter is never looked up: even a request
    // without one is answered.
    const std::vector<std::string> answer = Ask(SearchRequest(Hex("11"), kMatchAll, "", 2, GetParam().Children));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(ToHex(answer[0]), "30 0C 02 01 11 65 07 0A 01 00 04 00 04 00");
}

INSTANTIATE_TEST_SUITE_P(Store, EmptyStore,
                         ::testing::Values(TEmptyStoreCase{"Empty", false, 8}, TEmptyStoreCase{"Absent", true, 8},
                                           TEmptyStoreCase{"EmptyWithoutFilter", false, 6}),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST_F(SearchWire, NothingMatchingGivesTheDoneAlone)
{
    SetDirectory({{"A", {"mail=a"}}});
    // An equality filter never matches.
    const std::vector<std::string> answer = Ask(SearchRequest(Hex("01"), Tlv(0xA3, Tlv(0x04, "mail") + Tlv(0x04, "a"))));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(ToHex(answer[0]), "30 0C 02 01 01 65 07 0A 01 00 04 00 04 00");
}

TEST_F(SearchWire, BindAndSearchInOneWriteAreBothAnswered)
{
    SetDirectory({{"Ann Lee", {"mail=ann"}}});
    wire::TWireClient client(Port);
    client.Send(wire::BindRequest(Hex("01")) + SearchRequest(Hex("02"), kMatchAll));
    const std::string bind = wire::BindResponse(Hex("01"));
    EXPECT_EQ(ToHex(client.ReadExactly(bind.size())), ToHex(bind));
    const std::vector<std::string> answer = ReadAnswer(client);
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(ToHex(answer[1]), "30 0C 02 01 02 65 07 0A 01 00 04 00 04 00");
}

TEST_F(SearchWire, LongMessageIDIsCopied)
{
    SetDirectory({{"A", {"mail=a"}}});
    const std::vector<std::string> answer = Ask(SearchRequest(Hex("01 00 00"), kMatchAll));
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(ToHex(answer[1]), "30 0E 02 03 01 00 00 65 07 0A 01 00 04 00 04 00");
}

// ---- counting and logging -----------------------------------------------------------------

TEST_F(SearchWire, EachSearchIsCountedAndLoggedBeforeItsAnswer)
{
    Form.Settings().SetValue("LogSelected", TValue(true));
    Form.Settings().SetValue("LogRequests", TValue(true));
    Form.StopService();
    Form.StartService();
    // The start rebuilt the directory (empty: no library here).
    SetDirectory({{"A", {"mail=a"}}});
    Port = Form.Listener().Binding(0).Port;
    ASSERT_EQ(TMainFormProbe::RequestCount(Form).load(), 0);

    wire::TWireClient client(Port);
    client.Send(wire::BindRequest(Hex("01")));
    const std::string bind = wire::BindResponse(Hex("01"));
    ASSERT_EQ(client.ReadExactly(bind.size()), bind);
    EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), 0) << "a bind is not counted";

    for (int i = 1; i <= 3; ++i) {
        client.Send(SearchRequest(std::string(1, static_cast<char>(i + 1)), kMatchAll));
        ASSERT_EQ(ReadAnswer(client).size(), 2u);
        // The answer was written after the event: it is there already.
        const std::vector<std::string> events = Presenter.Events();
        EXPECT_EQ(static_cast<int>(std::count(events.begin(), events.end(), "Search Request 127.0.0.1")), i);
        EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), i);
    }
    client.Close();
    ASSERT_TRUE(Presenter.WaitForEvent("Disconnect..."));
    EXPECT_EQ(Panels(Form).StatRequests, "3");
    const std::string file = ReadFile(Dir.File("VESKA.LOG"));
    std::size_t count = 0;
    for (std::size_t at = file.find("Search Request 127.0.0.1 "); at != std::string::npos;
         at = file.find("Search Request 127.0.0.1 ", at + 1))
        ++count;
    EXPECT_EQ(count, 3u);
}

TEST_F(SearchWire, ConcurrentSearchesAreAllCounted)
{
    SetDirectory({{"A", {"mail=a"}}, {"B", {"mail=b"}}});
    constexpr int kClients = 8;
    constexpr int kSearches = 10;
    std::vector<std::thread> threads;
    std::atomic<int> complete{0};
    for (int c = 0; c < kClients; ++c)
        threads.emplace_back([&] {
            wire::TWireClient client(Port);
            for (int s = 0; s < kSearches; ++s) {
                client.Send(SearchRequest(Hex("01"), kMatchAll));
                if (ReadAnswer(client).size() == 3u) ++complete;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(complete.load(), kClients * kSearches);
    EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), kClients * kSearches);
}

}  // namespace
