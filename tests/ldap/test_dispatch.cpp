// Message framing and request dispatch over an in-memory connection.
#include "ldap/Dispatch.h"
#include "ldap/Framing.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

using wire::BindRequest;
using wire::BindResponse;
using wire::Hex;
using wire::ToHex;

namespace {

// ------------------------------------------------------------------ framing

struct FrameCase {
    const char* Name;
    const char* Bytes;
    long Size;  // -1: incomplete
};

class FrameTable : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameTable, FindsTheEnd) {
    const FrameCase& c = GetParam();
    const std::optional<std::size_t> size = FrameSize(Hex(c.Bytes));
    if (c.Size < 0)
        EXPECT_FALSE(size.has_value()) << c.Bytes;
    else
        EXPECT_EQ(size, std::optional<std::size_t>(static_cast<std::size_t>(c.Size))) << c.Bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Framing, FrameTable,
    ::testing::Values(FrameCase{"Empty", "", -1}, FrameCase{"IdentifierOnly", "30", -1},
                      FrameCase{"ShortComplete", "30 03 02 01 01", 5}, FrameCase{"ShortMissingOne", "30 03 02 01", -1},
                      FrameCase{"ZeroLength", "30 00", 2}, FrameCase{"IndefiniteIsZero", "30 80 02 01 01", 2},
                      FrameCase{"OneLengthOctet", "30 81 03 02 01 01", 6},
                      FrameCase{"OneLengthOctetMissing", "30 81", -1},
                      FrameCase{"FourLengthOctets", "30 84 00 00 00 03 02 01 01", 9},
                      FrameCase{"FourLengthOctetsHeaderCut", "30 84 00 00 00", -1},
                      FrameCase{"FourLengthOctetsContentCut", "30 84 00 00 00 03 02 01", -1},
                      FrameCase{"ThreeLengthOctets", "30 83 00 00 03 02 01 01", 8},
                      FrameCase{"LeadingZeroOctets", "30 86 00 00 00 00 00 01 00", 9},
                      FrameCase{"TwoMessagesTakesFirst", "30 03 02 01 01 30 03 02 01 02", 5},
                      FrameCase{"TrailingPartialSecond", "30 00 30", 2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Framing, CapIsInclusive) {
    std::string message = Hex("30 83 00 80 00") + std::string(kMaxMessageSize, '\0');
    EXPECT_EQ(FrameSize(message), message.size());
    EXPECT_FALSE(FrameSize(message.substr(0, message.size() - 1)).has_value());
}

struct OversizeCase {
    const char* Name;
    const char* Header;
};

class OversizeTable : public ::testing::TestWithParam<OversizeCase> {};

// Raised as soon as the length octets are in, without waiting for the content.
TEST_P(OversizeTable, Raises) { EXPECT_THROW(FrameSize(Hex(GetParam().Header)), EFramingError); }

INSTANTIATE_TEST_SUITE_P(Framing, OversizeTable,
                         ::testing::Values(OversizeCase{"OneAbove", "30 82 80 01"},
                                           OversizeCase{"FourOctets", "30 84 00 00 80 01"},
                                           OversizeCase{"Huge", "30 84 FF FF FF FF"},
                                           // Would wrap to 1 modulo 2^32 if read as the decoder does.
                                           OversizeCase{"WrapsModulo2To32", "30 85 01 00 00 00 01"},
                                           OversizeCase{"ManyOctets", "30 88 00 00 00 01 00 00 00 00"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ----------------------------------------------------------------- dispatch

// Reads come from a script of chunks: as the listener does, a read takes
// place only while no whole message is pending, and once the script is used
// up the peer has closed.
class TFakeConnection : public ILdapConnection {
public:
    explicit TFakeConnection(std::vector<std::string> chunks) : FChunks(chunks.begin(), chunks.end()) {}

    void Write(std::string_view data) override { Written.emplace_back(data); }
    std::string PeerIP() const override { return "127.0.0.1"; }
    std::string& Pending() override {
        for (;;) {
            try {
                if (FrameSize(FPending)) break;
            } catch (const EFramingError&) {
                break;  // the handler finds it too
            }
            ++Reads;
            if (FChunks.empty()) break;
            FPending += FChunks.front();
            FChunks.pop_front();
        }
        return FPending;
    }

    int Reads = 0;
    std::vector<std::string> Written;

private:
    std::deque<std::string> FChunks;
    std::string FPending;
};

// Runs calls until one raises; returns how many returned normally.
template <typename Exception>
int RunUntil(TFakeConnection& connection, const TSearchBranch& search = {}) {
    int calls = 0;
    for (;;) {
        try {
            SrvExecuteMessage(connection, search);
        } catch (const Exception&) {
            return calls;
        }
        ++calls;
        if (calls > 1000) ADD_FAILURE() << "never ended";
        if (calls > 1000) return calls;
    }
}

TEST(Dispatch, BindGetsExactAnswer) {
    TFakeConnection c({Hex("30 0C 02 01 01 60 07 02 01 03 04 00 80 00")});
    SrvExecuteMessage(c, {});
    ASSERT_EQ(c.Written.size(), 1u);
    EXPECT_EQ(ToHex(c.Written[0]), "30 0C 02 01 01 61 07 0A 01 00 04 00 04 00");
}

struct BindCase {
    const char* Name;
    const char* MessageID;
    const char* Answer;
};

class BindTable : public ::testing::TestWithParam<BindCase> {};

// The message ID octets are copied, never read as a number.
TEST_P(BindTable, CopiesMessageID) {
    TFakeConnection c({BindRequest(Hex(GetParam().MessageID), "cn=anyone")});
    SrvExecuteMessage(c, {});
    ASSERT_EQ(c.Written.size(), 1u);
    EXPECT_EQ(ToHex(c.Written[0]), GetParam().Answer);
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, BindTable,
    ::testing::Values(BindCase{"One", "01", "30 0C 02 01 01 61 07 0A 01 00 04 00 04 00"},
                      BindCase{"ThreeHundred", "01 2C", "30 0D 02 02 01 2C 61 07 0A 01 00 04 00 04 00"},
                      BindCase{"Empty", "", "30 0B 02 00 61 07 0A 01 00 04 00 04 00"},
                      BindCase{"LeadingZeros", "00 00 01", "30 0E 02 03 00 00 01 61 07 0A 01 00 04 00 04 00"},
                      BindCase{"Negative", "FF", "30 0C 02 01 FF 61 07 0A 01 00 04 00 04 00"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every length written with four octets, as some clients do.
TEST(Dispatch, BindInFourOctetLengthForm) {
    TFakeConnection c({Hex("30 84 00 00 00 17 02 84 00 00 00 01 05 60 84 00 00 00 0A "
                           "02 01 03 04 84 00 00 00 00 80 00")});
    SrvExecuteMessage(c, {});
    ASSERT_EQ(c.Written.size(), 1u);
    EXPECT_EQ(ToHex(c.Written[0]), ToHex(BindResponse("\x05")));
}

struct SilentCase {
    const char* Name;
    const char* Bytes;
};

class SilentTable : public ::testing::TestWithParam<SilentCase> {};

// No answer, and the next message on the connection is still served.
TEST_P(SilentTable, NoAnswerConnectionGoesOn) {
    TFakeConnection c({Hex(GetParam().Bytes), BindRequest("\x09")});
    SrvExecuteMessage(c, {});
    EXPECT_TRUE(c.Written.empty());
    SrvExecuteMessage(c, {});
    ASSERT_EQ(c.Written.size(), 1u);
    EXPECT_EQ(ToHex(c.Written[0]), ToHex(BindResponse("\x09")));
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, SilentTable,
    ::testing::Values(SilentCase{"Unbind", "30 05 02 01 02 42 00"},
                      SilentCase{"Abandon", "30 06 02 01 02 50 01 01"},
                      SilentCase{"Modify", "30 0A 02 01 02 66 05 04 01 78 30 00"},
                      SilentCase{"Add", "30 0A 02 01 02 68 05 04 01 78 30 00"},
                      SilentCase{"Delete", "30 06 02 01 02 4A 01 78"},
                      SilentCase{"ModifyDN", "30 0E 02 01 02 6C 09 04 01 78 04 01 79 01 01 FF"},
                      SilentCase{"Compare", "30 0E 02 01 02 6E 09 04 01 78 30 04 04 00 04 00"},
                      SilentCase{"Extended", "30 08 02 01 02 77 03 80 01 31"},
                      // The first element's tag plays no part.
                      SilentCase{"OtherOuterTag", "31 05 02 01 02 42 00"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct EndCase {
    const char* Name;
    const char* Bytes;
};

class EndTable : public ::testing::TestWithParam<EndCase> {};

// A message lacking a looked-up element ends the connection without an answer.
TEST_P(EndTable, RaisesIndexError) {
    TFakeConnection c({Hex(GetParam().Bytes), BindRequest("\x01")});
    EXPECT_THROW(SrvExecuteMessage(c, {}), EListIndexError);
    EXPECT_TRUE(c.Written.empty());
}

INSTANTIATE_TEST_SUITE_P(Dispatch, EndTable,
                         ::testing::Values(EndCase{"EmptySequence", "30 00"},
                                           EndCase{"OnlyMessageID", "30 03 02 01 01"},
                                           EndCase{"PrimitiveOuter", "04 03 02 01 01"},
                                           EndCase{"IndefiniteOuter", "30 80"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Dispatch, PeerCloseRaisesIndexError) {
    TFakeConnection c({});
    EXPECT_THROW(SrvExecuteMessage(c, {}), EListIndexError);
    EXPECT_EQ(c.Reads, 1);
    EXPECT_TRUE(c.Written.empty());
}

// A partial message is dropped when the peer closes, not answered.
TEST(Dispatch, PartialMessageAtCloseIsDropped) {
    const std::string bind = BindRequest("\x01");
    TFakeConnection c({bind.substr(0, bind.size() - 1)});
    EXPECT_THROW(SrvExecuteMessage(c, {}), EListIndexError);
    EXPECT_TRUE(c.Written.empty());
    EXPECT_TRUE(c.Pending().empty());
}

TEST(Dispatch, OversizeEndsWithoutAnswer) {
    TFakeConnection c({Hex("30 84 00 00 80 01 02 01 01")});
    EXPECT_THROW(SrvExecuteMessage(c, {}), EFramingError);
    EXPECT_TRUE(c.Written.empty());
}

TEST(Dispatch, DeepNestingEnds) {
    std::string deep;
    for (int i = 0; i < 8000; ++i) deep += Hex("30 82 FF FF");
    TFakeConnection c({Hex("30 82 7D 00") + deep});
    EXPECT_THROW(SrvExecuteMessage(c, {}), EASNDepthError);
    EXPECT_TRUE(c.Written.empty());
}

TEST(Dispatch, SeveralRequestsInOneReadEachAnswered) {
    TFakeConnection c({BindRequest("\x01") + Hex("30 05 02 01 02 42 00") + BindRequest("\x03")});
    SrvExecuteMessage(c, {});
    SrvExecuteMessage(c, {});
    SrvExecuteMessage(c, {});
    // All three came from the one read: nothing more was read while one was pending.
    EXPECT_EQ(c.Reads, 1);
    ASSERT_EQ(c.Written.size(), 2u);
    EXPECT_EQ(ToHex(c.Written[0]), ToHex(BindResponse("\x01")));
    EXPECT_EQ(ToHex(c.Written[1]), ToHex(BindResponse("\x03")));
    EXPECT_THROW(SrvExecuteMessage(c, {}), EListIndexError);
}

TEST(Dispatch, SplitRequestReassembledOnce) {
    const std::string bind = BindRequest("\x07", "cn=split");
    for (std::size_t cut = 1; cut < bind.size(); ++cut) {
        TFakeConnection c({bind.substr(0, cut), bind.substr(cut)});
        SrvExecuteMessage(c, {});
        ASSERT_EQ(c.Written.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(ToHex(c.Written[0]), ToHex(BindResponse("\x07")));
        EXPECT_EQ(c.Reads, 2);
        EXPECT_THROW(SrvExecuteMessage(c, {}), EListIndexError);
        EXPECT_EQ(c.Written.size(), 1u);
    }
}

TEST(Dispatch, OneOctetAtATime) {
    const std::string stream = BindRequest("\x01") + BindRequest("\x02");
    std::vector<std::string> chunks;
    for (const char octet : stream) chunks.emplace_back(1, octet);
    TFakeConnection c(chunks);
    EXPECT_EQ(RunUntil<EListIndexError>(c), 2);
    ASSERT_EQ(c.Written.size(), 2u);
    EXPECT_EQ(ToHex(c.Written[1]), ToHex(BindResponse("\x02")));
}

TEST(Dispatch, SearchGoesToBranchWithTheRequest) {
    const std::string search = Hex("30 25 02 01 04 63 20 04 00 0A 01 02 0A 01 00 02 01 00 02 01 00 01 01 00 "
                                   "87 0B 6F 62 6A 65 63 74 43 6C 61 73 73 30 00");
    TFakeConnection c({BindRequest("\x01") + search});
    std::vector<std::string> seen;
    const TSearchBranch branch = [&seen](ILdapConnection& connection, const TLdapRequest& request) {
        seen.push_back(ToHex(request.Encode()));
        connection.Write("answer");
    };
    SrvExecuteMessage(c, branch);
    SrvExecuteMessage(c, branch);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], ToHex(search));
    ASSERT_EQ(c.Written.size(), 2u);
    EXPECT_EQ(c.Written[1], "answer");
}

TEST(Dispatch, SearchWithoutBranchIsSilent) {
    TFakeConnection c({Hex("30 08 02 01 04 63 03 04 01 78"), BindRequest("\x05")});
    SrvExecuteMessage(c, {});
    EXPECT_TRUE(c.Written.empty());
    SrvExecuteMessage(c, {});
    EXPECT_EQ(c.Written.size(), 1u);
}

// Malformed bytes that still provide the elements are answered as what they
// decode to.
TEST(Dispatch, MalformedButCompleteBindAnswered) {
    TFakeConnection c({Hex("30 05 04 01 AA 60 00")});
    SrvExecuteMessage(c, {});
    ASSERT_EQ(c.Written.size(), 1u);
    EXPECT_EQ(ToHex(c.Written[0]), ToHex(BindResponse("\xAA")));
}

// BindAnswer looks up only the first child of the message.
TEST(Dispatch, BindAnswerCopiesWhateverStandsFirst) {
    TASNList request;
    request.Decode(Hex("30 02 60 00"));
    TFakeConnection c({});
    BindAnswer(c, request);
    ASSERT_EQ(c.Written.size(), 1u);
    EXPECT_EQ(ToHex(c.Written[0]), "30 0B 02 00 61 07 0A 01 00 04 00 04 00");

    request.Decode(Hex("30 00"));
    EXPECT_THROW(BindAnswer(c, request), EListIndexError);
    EXPECT_EQ(c.Written.size(), 1u);
}

}  // namespace
