// BER element tree: decoding of well-formed and malformed octets, encoding to
// exact octets, the nesting bound and list indexing.
#include "ldap/LDAPASN.h"
#include "support/Wire.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wire::Hex;
using wire::ToHex;

namespace {

// Compact picture of a tree: a primitive is "TT=VALUEHEX", a constructed
// element "TT{child,child}" (its Value, when non-empty, as "TT=V{...}").
std::string Describe(const TASNList& list);

std::string Describe(const TASNNode& node) {
    char tag[3];
    std::snprintf(tag, sizeof tag, "%02X", node.Tag & 0xFF);
    std::string out = tag;
    if ((node.Tag & 0x20) == 0 || !node.Value.empty()) {
        out += "=";
        for (const char c : node.Value) {
            char octet[3];
            std::snprintf(octet, sizeof octet, "%02X", static_cast<unsigned char>(c));
            out += octet;
        }
    }
    if ((node.Tag & 0x20) != 0 || node.Children.Count() > 0) out += "{" + Describe(node.Children) + "}";
    return out;
}

std::string Describe(const TASNList& list) {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) {
        if (i > 0) out += ",";
        out += Describe(list.Items(i));
    }
    return out;
}

struct DecodeCase {
    const char* Name;
    const char* Bytes;
    const char* Tree;
};

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, GivesTheTree) {
    const DecodeCase& c = GetParam();
    TASNList list;
    list.Decode(Hex(c.Bytes));
    EXPECT_EQ(Describe(list), c.Tree) << c.Bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Asn, DecodeTable,
    ::testing::Values(
        DecodeCase{"Empty", "", ""},
        DecodeCase{"Integer", "02 01 05", "02=05"},
        DecodeCase{"Unbind", "30 05 02 01 01 42 00", "30{02=01,42=}"},
        DecodeCase{"OneLongLengthOctet", "04 81 05 68 65 6C 6C 6F", "04=68656C6C6F"},
        DecodeCase{"IndefiniteIsZero", "04 80", "04="},
        DecodeCase{"IndefiniteConstructedIsSibling", "30 80 02 01 07 00 00", "30{},02=07,00="},
        DecodeCase{"LoneIdentifier", "04", "04="},
        DecodeCase{"LoneIdentifierAfterElement", "02 01 05 04", "02=05,04="},
        DecodeCase{"InnerLengthPastEnd", "30 03 02 01", "30{02=}"},
        DecodeCase{"LengthBeyondInput", "04 0A 61 62", "04=6162"},
        DecodeCase{"HugeLengthCut", "04 84 FF FF FF FA 61", "04=61"},
        DecodeCase{"LengthOctetsCutShort", "04 84 00 01", "04="},
        DecodeCase{"FiveLengthOctetsUseLastFour", "04 85 01 00 00 00 02 61 62 63", "04=6162,63{}"},
        DecodeCase{"NoHighTagForm", "1F 02 41 42", "1F=4142"},
        DecodeCase{"TwoMessages", "30 03 02 01 01 30 03 02 01 02", "30{02=01},30{02=02}"},
        DecodeCase{"ConstructedEmpty", "30 00", "30{}"},
        DecodeCase{"ZeroOctetsKept", "04 03 00 00 00", "04=000000"},
        DecodeCase{"ApplicationAndContext", "63 06 A4 04 80 02 61 62", "63{A4{80=6162}}"},
        DecodeCase{"PrivateConstructed", "E1 03 02 01 09", "E1{02=09}"},
        DecodeCase{"PrimitiveClassesKeepContent", "42 00 50 01 07 87 02 63 6E C0 01 FF",
                   "42=,50=07,87=636E,C0=FF"},
        DecodeCase{"BindRequest", "30 0C 02 01 01 60 07 02 01 03 04 00 80 00",
                   "30{02=01,60{02=03,04=,80=}}"},
        DecodeCase{"LongFormInsideConstructed", "30 84 00 00 00 06 02 83 00 00 01 07",
                   "30{02=07}"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A list decoded before keeps its elements for reuse: what it gives must not
// depend on what it held.
TEST_P(DecodeTable, GivesTheSameTreeInAReusedList) {
    const DecodeCase& c = GetParam();
    TASNList list;
    list.Decode(Hex("30 0E 02 01 07 63 09 04 03 41 42 43 30 02 04 00 04 05 68 65 6C 6C 6F 30 00"));
    list.Decode(Hex(c.Bytes));
    EXPECT_EQ(Describe(list), c.Tree) << c.Bytes;
}

struct TakenCase {
    const char* Name;
    const char* Before;  // decoded first into the same list
    const char* Bytes;
    bool Takes;          // whether decoding Bytes needs new elements or room
};

class TakenTable : public ::testing::TestWithParam<TakenCase> {};

TEST_P(TakenTable, CountsOnlyNewRoom) {
    const TakenCase& c = GetParam();
    TASNList list;
    list.Decode(Hex(c.Before));
    EXPECT_EQ(list.Decode(Hex(c.Bytes)) > 0, c.Takes) << c.Bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Asn, TakenTable,
    ::testing::Values(TakenCase{"FreshList", "", "02 01 05", true},
                      TakenCase{"SameMessageAgain", "30 0C 02 01 01 60 07 02 01 03 04 00 80 00",
                                "30 0C 02 01 01 60 07 02 01 03 04 00 80 00", false},
                      TakenCase{"FewerElements", "30 0C 02 01 01 60 07 02 01 03 04 00 80 00", "30 03 02 01 01",
                                false},
                      TakenCase{"OneMoreTopElement", "30 03 02 01 01", "30 03 02 01 01 02 01 09", true},
                      TakenCase{"DeeperThanBefore", "30 03 02 01 01", "30 05 30 03 02 01 01", true},
                      // Past the room a short value has in place.
                      TakenCase{"LongerValueThanBefore", "04 01 61",
                                "04 14 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61", true},
                      TakenCase{"ShorterValueThanBefore",
                                "04 14 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61", "04 01 61",
                                false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Asn, DecodeReplacesEarlierElements) {
    TASNList list;
    list.Decode(Hex("02 01 01 02 01 02"));
    ASSERT_EQ(list.Count(), 2);
    list.Decode(Hex("04 01 61"));
    EXPECT_EQ(Describe(list), "04=61");
}

TEST(Asn, DecodeIntoParentAddsToItsChildren) {
    TASNList list;
    TASNNode& parent = list.Add(0x30);
    parent.Children.Add(0x02, "\x01");
    list.DecodeInto(&parent, Hex("04 01 61"));
    list.DecodeInto(nullptr, Hex("02 01 05"));
    EXPECT_EQ(Describe(list), "30{02=01,04=61},02=05");
}

// Length octets and the form they must take: short below 128, always 83 + three
// octets up to 2^24, then 84 + four octets.
struct LengthCase {
    std::size_t Size;
    const char* Octets;
};

class LengthTable : public ::testing::TestWithParam<LengthCase> {};

TEST_P(LengthTable, ExactOctets) { EXPECT_EQ(ToHex(EncodeLength(GetParam().Size)), GetParam().Octets); }

INSTANTIATE_TEST_SUITE_P(Asn, LengthTable,
                         ::testing::Values(LengthCase{0, "00"}, LengthCase{1, "01"}, LengthCase{127, "7F"},
                                           LengthCase{128, "83 00 00 80"}, LengthCase{200, "83 00 00 C8"},
                                           LengthCase{255, "83 00 00 FF"}, LengthCase{256, "83 00 01 00"},
                                           LengthCase{70000, "83 01 11 70"},
                                           LengthCase{16777215, "83 FF FF FF"},
                                           LengthCase{16777216, "84 01 00 00 00"},
                                           LengthCase{4294967295u, "84 FF FF FF FF"}),
                         [](const auto& info) { return "Size" + std::to_string(info.param.Size); });

// A primitive element of each content size encodes as tag, length octets, content.
TEST(Asn, EncodeValueSizes) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{127}, std::size_t{128}, std::size_t{200},
                                   std::size_t{70000}}) {
        TASNList list;
        list.Add(0x04, std::string(size, 'x'));
        const std::string bytes = list.Encode();
        const std::string header = std::string("\x04", 1) + EncodeLength(size);
        ASSERT_EQ(bytes.size(), header.size() + size) << size;
        EXPECT_EQ(ToHex(bytes.substr(0, header.size())), ToHex(header)) << size;
        // What was encoded decodes to the same element.
        TASNList back;
        back.Decode(bytes);
        ASSERT_EQ(back.Count(), 1);
        EXPECT_EQ(back.Items(0).Value.size(), size);
    }
}

// 2^24 octets were cut to their low 24 bits before; now the 84 form carries them.
TEST(Asn, EncodeSixteenMebibytesUsesFourLengthOctets) {
    const std::size_t size = std::size_t{1} << 24;
    TASNList list;
    TASNNode& message = list.Add(0x30);
    message.Children.Add(0x04, std::string(size, '\x5A'));
    const std::string bytes = list.Encode();
    ASSERT_EQ(bytes.size(), 6 + 6 + size);
    EXPECT_EQ(ToHex(bytes.substr(0, 12)), "30 84 01 00 00 06 04 84 01 00 00 00");
    TASNList back;
    back.Decode(bytes);
    ASSERT_EQ(back.Count(), 1);
    ASSERT_EQ(back.Items(0).Children.Count(), 1);
    EXPECT_EQ(back.Items(0).Children.Items(0).Value.size(), size);
}

struct EncodeCase {
    const char* Name;
    void (*Build)(TASNList&);
    const char* Bytes;
};

class EncodeTable : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTable, ExactOctets) {
    TASNList list;
    GetParam().Build(list);
    EXPECT_EQ(ToHex(list.Encode()), GetParam().Bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Asn, EncodeTable,
    ::testing::Values(
        EncodeCase{"EmptyList", [](TASNList&) {}, ""},
        EncodeCase{"Sequence",
                   [](TASNList& l) {
                       TASNNode& s = l.Add(0x30);
                       s.Children.Add(0x02, "\x05");
                       s.Children.Add(0x04, "abc");
                   },
                   "30 08 02 01 05 04 03 61 62 63"},
        EncodeCase{"ChildrenWinOverValue",
                   [](TASNList& l) {
                       TASNNode& s = l.Add(0x30, "ignored");
                       s.Children.Add(0x02, "\x01");
                   },
                   "30 03 02 01 01"},
        EncodeCase{"ConstructedWithoutChildren", [](TASNList& l) { l.Add(0x30); }, "30 00"},
        EncodeCase{"ConstructedTagWithValueOnly", [](TASNList& l) { l.Add(0x31, "ab"); }, "31 02 61 62"},
        EncodeCase{"PrimitiveTagWithChildren",
                   [](TASNList& l) { l.Add(0x04, "xy").Children.Add(0x01, "\xFF"); }, "04 03 01 01 FF"},
        EncodeCase{"TagKeepsLowEightBits", [](TASNList& l) { l.Add(0x165, ""); }, "65 00"},
        EncodeCase{"ZeroOctets", [](TASNList& l) { l.Add(0x04, std::string(2, '\0')); }, "04 02 00 00"},
        EncodeCase{"SeveralTopLevel",
                   [](TASNList& l) {
                       l.Add(0x02, "\x01");
                       l.Add(0x02, "\x02");
                   },
                   "02 01 01 02 01 02"},
        EncodeCase{"BindResponse",
                   [](TASNList& l) {
                       TASNNode& m = l.Add(0x30);
                       m.Children.Add(0x02, "\x01");
                       TASNNode& r = m.Children.Add(0x61);
                       r.Children.Add(0x0A, std::string(1, '\0'));
                       r.Children.Add(0x04);
                       r.Children.Add(0x04);
                   },
                   "30 0C 02 01 01 61 07 0A 01 00 04 00 04 00"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace

// A long form inside a long form: both carry three length octets.
TEST(Asn, NestedLongFormHeaders) {
    TASNList list;
    list.Add(0x30).Children.Add(0x04, std::string(128, 'a'));
    const std::string bytes = list.Encode();
    ASSERT_EQ(bytes.size(), 5u + 5u + 128u);
    EXPECT_EQ(ToHex(bytes.substr(0, 10)), "30 83 00 00 85 04 83 00 00 80");
}

TEST(Asn, EncodeNodeMatchesListEncoding) {
    TASNList list;
    TASNNode& m = list.Add(0x30);
    m.Children.Add(0x02, "\x07");
    m.Children.Add(0x64).Children.Add(0x04, "cn=x");
    EXPECT_EQ(ToHex(EncodeNode(m)), ToHex(list.Encode()));
    EXPECT_EQ(ToHex(EncodeNode(m)), "30 0B 02 01 07 64 06 04 04 63 6E 3D 78");
}

// A large answer: thousands of entries encode to the right size and decode back.
TEST(Asn, LargeAnswerRoundTrips) {
    TASNList list;
    for (int i = 0; i < 5000; ++i) {
        TASNNode& m = list.Add(0x30);
        m.Children.Add(0x02, "\x02");
        TASNNode& entry = m.Children.Add(0x64);
        entry.Children.Add(0x04, "cn=user" + std::to_string(i));
        TASNNode& attrs = entry.Children.Add(0x30);
        TASNNode& attr = attrs.Children.Add(0x30);
        attr.Children.Add(0x04, "mail");
        attr.Children.Add(0x31).Children.Add(0x04, "user" + std::to_string(i) + "@example.com");
    }
    const std::string bytes = list.Encode();
    TASNList back;
    back.Decode(bytes);
    ASSERT_EQ(back.Count(), 5000);
    EXPECT_EQ(back.Items(4999).Children.Items(1).Children.Items(0).Value, "cn=user4999");
    EXPECT_EQ(back.Encode(), bytes);
}

TEST(Asn, OctetsToInt) {
    EXPECT_EQ(OctetsToInt(""), 0u);
    EXPECT_EQ(OctetsToInt(Hex("01 00")), 256u);
    EXPECT_EQ(OctetsToInt(Hex("00 00 01 2C")), 300u);
    EXPECT_EQ(OctetsToInt(Hex("FF FF FF FF")), 4294967295u);
    // Only the last four octets count (modulo 2^32).
    EXPECT_EQ(OctetsToInt(Hex("07 00 00 00 01")), 1u);
}

TEST(Asn, ItemsOutsideTheRangeRaise) {
    TASNList list;
    EXPECT_THROW(list.Items(0), EListIndexError);
    list.Add(0x02, "\x01");
    EXPECT_NO_THROW(list.Items(0));
    EXPECT_THROW(list.Items(1), EListIndexError);
    EXPECT_THROW(list.Items(-1), EListIndexError);
    const TASNList& constList = list;
    EXPECT_THROW(constList.Items(1), EListIndexError);
    // The index error is an out_of_range, so generic handlers see it too.
    EXPECT_THROW(list.Items(5), std::out_of_range);
}

TEST(Asn, MovedListKeepsElements) {
    TASNList a;
    a.Add(0x02, "\x01");
    TASNList b(std::move(a));
    EXPECT_EQ(b.Count(), 1);
    TASNList c;
    c = std::move(b);
    EXPECT_EQ(Describe(c), "02=01");
}

// ---------------------------------------------------------------- depth bound

namespace {

// levels constructed elements, each the only content of the one above, with
// exact lengths (short, 83 or 84 form as needed).
std::string NestedExact(int levels, const std::string& innermost = "") {
    std::string bytes = innermost;
    for (int i = 0; i < levels; ++i) bytes = "\x30" + EncodeLength(bytes.size()) + bytes;
    return bytes;
}

std::string Repeat(const std::string& unit, int count) {
    std::string out;
    out.reserve(unit.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out += unit;
    return out;
}

}  // namespace

TEST(AsnDepth, LevelsUpToTheBoundDecode) {
    TASNList list;
    ASSERT_NO_THROW(list.Decode(NestedExact(kMaxASNDepth - 1, Hex("04 01 61"))));
    const TASNNode* node = &list.Items(0);
    for (int level = 1; level < kMaxASNDepth; ++level) node = &node->Children.Items(0);
    EXPECT_EQ(node->Tag, 0x04);
    EXPECT_EQ(node->Value, "a");
    ASSERT_NO_THROW(list.Decode(NestedExact(kMaxASNDepth)));
}

TEST(AsnDepth, OneLevelPastTheBoundRaises) {
    TASNList list;
    EXPECT_THROW(list.Decode(NestedExact(kMaxASNDepth, Hex("04 01 61"))), EASNDepthError);
    EXPECT_THROW(list.Decode(NestedExact(kMaxASNDepth + 1)), EASNDepthError);
}

struct DeepCase {
    const char* Name;
    std::string Bytes;
};

class DeepTable : public ::testing::TestWithParam<DeepCase> {};

// Ten thousand levels must raise, not exhaust the stack.
TEST_P(DeepTable, Raises) {
    TASNList list;
    EXPECT_THROW(list.Decode(GetParam().Bytes), EASNDepthError);
}

INSTANTIATE_TEST_SUITE_P(AsnDepth, DeepTable,
                         ::testing::Values(DeepCase{"ExactLengths", NestedExact(10000)},
                                           DeepCase{"LengthsCutToWhatRemains", Repeat(Hex("30 84 FF FF FF FF"), 10000)},
                                           DeepCase{"TwoOctetLengthsCut", Repeat(Hex("30 82 FF FF"), 10000)},
                                           DeepCase{"ContextTags", Repeat(Hex("A0 84 7F FF FF FF"), 10000)}),
                         [](const auto& info) { return std::string(info.param.Name); });

// 30 80 declares length 0, so such layers are siblings, not levels.
TEST(AsnDepth, IndefiniteLayersAreSiblings) {
    TASNList list;
    ASSERT_NO_THROW(list.Decode(Repeat(Hex("30 80"), 10000)));
    EXPECT_EQ(list.Count(), 10000);
}
