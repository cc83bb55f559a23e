// Filter evaluation over filters decoded from the bytes a client sends.
#include "ldap/Filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Short-form TLV; every filter below stays under 128 octets per element.
std::string Tlv(int tag, const std::string& content)
{
    std::string out;
    out += static_cast<char>(tag);
    out += static_cast<char>(content.size());
    out += content;
    return out;
}

std::string Cat(const std::vector<std::string>& parts)
{
    std::string out;
    for (const auto& p : parts)
        out += p;
    return out;
}

struct Part {
    int Tag;
    std::string Text;
};

// (type=...) as a substrings filter with the given parts.
std::string Sub(const std::string& type, const std::vector<Part>& parts)
{
    std::string seq;
    for (const auto& p : parts)
        seq += Tlv(p.Tag, p.Text);
    return Tlv(0xA4, Tlv(0x04, type) + Tlv(0x30, seq));
}

std::string Eq(const std::string& type, const std::string& value)
{
    return Tlv(0xA3, Tlv(0x04, type) + Tlv(0x04, value));
}

std::string And(const std::vector<std::string>& f) { return Tlv(0xA0, Cat(f)); }
std::string Or(const std::vector<std::string>& f) { return Tlv(0xA1, Cat(f)); }
std::string Not(const std::string& f) { return Tlv(0xA2, f); }

std::string Hex(const std::vector<int>& octets)
{
    std::string out;
    for (int o : octets)
        out += static_cast<char>(o);
    return out;
}

enum class Outcome { Match, NoMatch, IndexError };

struct FilterCase {
    const char* Name;
    std::vector<std::string> Lines;
    std::string Filter;
    Outcome Expected;
};

const std::vector<std::string> kAnnLee = {"cn=Ann Lee", "mail=ann@example.org"};

std::vector<FilterCase> Cases()
{
    return {
        // (cn=*lee*) exactly as a client encodes it.
        {"AnyPartLiteralBytes", kAnnLee,
         Hex({0xA4, 0x0B, 0x04, 0x02, 0x63, 0x6E, 0x30, 0x05, 0x81, 0x03, 0x6C, 0x65, 0x65}),
         Outcome::Match},
        {"AnyPartUpperCaseEntry", {"cn=ANN LEE"}, Sub("cn", {{0x81, "lee"}}), Outcome::Match},
        {"AnyPartAbsentText", kAnnLee, Sub("cn", {{0x81, "bob"}}), Outcome::NoMatch},
        {"InitialMatches", kAnnLee, Sub("cn", {{0x80, "ann"}}), Outcome::Match},
        {"FinalMatches", kAnnLee, Sub("cn", {{0x82, "lee"}}), Outcome::Match},
        {"FinalAnnDoesNot", kAnnLee, Sub("cn", {{0x82, "ann"}}), Outcome::NoMatch},
        {"InitialNotAtStart", kAnnLee, Sub("cn", {{0x80, "lee"}}), Outcome::NoMatch},
        {"PartsAreAlternatives", kAnnLee, Sub("cn", {{0x80, "ann"}, {0x82, "x"}}), Outcome::Match},
        {"LaterFalsePartKeepsMatch", kAnnLee, Sub("cn", {{0x81, "lee"}, {0x81, "zzz"}}),
         Outcome::Match},
        {"OnlyFirstLineOfName", {"cn=Ann Lee", "cn=Annie"}, Sub("cn", {{0x81, "annie"}}),
         Outcome::NoMatch},
        {"TypeWithBlanksAround", kAnnLee,
         Hex({0xA4, 0x0D, 0x04, 0x04, 0x20, 0x63, 0x6E, 0x20, 0x30, 0x05, 0x81, 0x03, 0x6C, 0x65,
              0x65}),
         Outcome::Match},
        {"TypeWithControlsAround", kAnnLee, Sub(std::string("\x01\tcn\x00", 5), {{0x81, "lee"}}),
         Outcome::Match},
        {"TypeUpperCase", kAnnLee, Sub("CN", {{0x81, "lee"}}), Outcome::Match},
        {"EqualityNeverMatches", kAnnLee, Eq("mail", "ann@example.org"), Outcome::NoMatch},
        {"PresenceNeverMatches", kAnnLee, Tlv(0x87, "mail"), Outcome::NoMatch},
        {"GreaterOrEqualNeverMatches", kAnnLee, Tlv(0xA5, Tlv(0x04, "cn") + Tlv(0x04, "A")),
         Outcome::NoMatch},
        {"NotEqualityMatchesAll", kAnnLee, Not(Eq("mail", "ann")), Outcome::Match},
        {"NotSubstringMatch", kAnnLee, Not(Sub("cn", {{0x81, "lee"}})), Outcome::NoMatch},
        {"EmptyAndMatches", kAnnLee, Hex({0xA0, 0x00}), Outcome::Match},
        {"EmptyOrDoesNot", kAnnLee, Hex({0xA1, 0x00}), Outcome::NoMatch},
        {"AndFalseAtFirstChild", kAnnLee, And({Eq("mail", "ann"), Sub("cn", {{0x81, "lee"}})}),
         Outcome::NoMatch},
        // The malformed second child is never reached.
        {"AndShortCircuits", kAnnLee, And({Eq("mail", "ann"), Hex({0xA4, 0x00})}),
         Outcome::NoMatch},
        {"OrShortCircuits", kAnnLee, Or({Sub("cn", {{0x81, "lee"}}), Hex({0xA2, 0x00})}),
         Outcome::Match},
        {"OrReachesMalformedChild", kAnnLee, Or({Eq("mail", "ann"), Hex({0xA4, 0x00})}),
         Outcome::IndexError},
        {"AndAllTrue", kAnnLee, And({Sub("cn", {{0x80, "ann"}}), Sub("mail", {{0x82, ".org"}})}),
         Outcome::Match},
        {"NestedCombination", kAnnLee,
         And({Or({Sub("cn", {{0x81, "zz"}}), Sub("mail", {{0x80, "ANN"}})}),
              Not(Sub("cn", {{0x81, "bob"}}))}),
         Outcome::Match},
        {"NonAsciiComparedExactly", {"cn=\xC4nne"}, Sub("cn", {{0x81, "\xE4"}}), Outcome::NoMatch},
        {"NonAsciiSameOctet", {"cn=\xC4nne"}, Sub("cn", {{0x81, "\xC4"}}), Outcome::Match},
        {"EmptyInitialOnAbsentAttribute", kAnnLee, Sub("sn", {{0x80, ""}}), Outcome::Match},
        {"EmptyFinalOnAbsentAttribute", kAnnLee, Sub("sn", {{0x82, ""}}), Outcome::Match},
        {"EmptyAnyNeverMatches", kAnnLee, Sub("cn", {{0x81, ""}}), Outcome::NoMatch},
        {"NonEmptyPartOnAbsentAttribute", kAnnLee, Sub("sn", {{0x80, "a"}}), Outcome::NoMatch},
        {"InitialLongerThanValue", {"cn=ab"}, Sub("cn", {{0x80, "abc"}}), Outcome::NoMatch},
        {"FinalLongerThanValue", {"cn=ab"}, Sub("cn", {{0x82, "xab"}}), Outcome::NoMatch},
        {"WholeValueAsAny", {"cn=ab"}, Sub("cn", {{0x81, "AB"}}), Outcome::Match},
        {"UnknownPartTagSkipped", kAnnLee, Sub("cn", {{0x83, "Ann Lee"}}), Outcome::NoMatch},
        {"UnknownPartThenInitial", kAnnLee, Sub("cn", {{0x83, "zzz"}, {0x80, "ann"}}),
         Outcome::Match},
        {"NoParts", kAnnLee, Sub("cn", {}), Outcome::NoMatch},
        {"PartsElementPrimitive", kAnnLee, Tlv(0xA4, Tlv(0x04, "cn") + Tlv(0x04, "x")),
         Outcome::NoMatch},
        {"NotWithoutChild", kAnnLee, Hex({0xA2, 0x00}), Outcome::IndexError},
        {"SubstringsWithoutParts", kAnnLee, Tlv(0xA4, Tlv(0x04, "cn")), Outcome::IndexError},
        {"SubstringsEmpty", kAnnLee, Hex({0xA4, 0x00}), Outcome::IndexError},
        {"NotUsesFirstChildOnly", kAnnLee, Not(Eq("cn", "x") + Sub("cn", {{0x81, "lee"}})),
         Outcome::Match},
        {"NotIgnoresMalformedSecond", kAnnLee, Not(Sub("cn", {{0x81, "lee"}}) + Hex({0xA4, 0x00})),
         Outcome::NoMatch},
        {"ValueWithEqualsSign", {"description=a=b"}, Sub("description", {{0x80, "A=B"}}),
         Outcome::Match},
        {"EntryWithoutLines", {}, Sub("cn", {{0x81, "a"}}), Outcome::NoMatch},
    };
}

class FilterTable : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTable, Evaluates)
{
    const FilterCase& c = GetParam();
    TASNList tree;
    tree.Decode(c.Filter);
    ASSERT_EQ(tree.Count(), 1) << "test filter must be one element";
    const TUserInfo entry(c.Lines);
    switch (c.Expected) {
    case Outcome::Match:
        EXPECT_TRUE(MatchFilter(tree.Items(0), entry));
        break;
    case Outcome::NoMatch:
        EXPECT_FALSE(MatchFilter(tree.Items(0), entry));
        break;
    case Outcome::IndexError:
        EXPECT_THROW(MatchFilter(tree.Items(0), entry), EListIndexError);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FilterHelpers, SubMatchesClientEncoding)
{
    EXPECT_EQ(Sub("cn", {{0x81, "lee"}}),
              Hex({0xA4, 0x0B, 0x04, 0x02, 0x63, 0x6E, 0x30, 0x05, 0x81, 0x03, 0x6C, 0x65, 0x65}));
}

// Builds `nots` not-elements around (cn=*lee*), iteratively.
void BuildNotChain(TASNList& root, int nots)
{
    TASNList* level = &root;
    for (int i = 0; i < nots; ++i)
        level = &level->Add(0xA2).Children;
    TASNNode& sub = level->Add(0xA4);
    sub.Children.Add(0x04, "cn");
    sub.Children.Add(0x30).Children.Add(0x81, "lee");
}

// Frees a deep chain one level at a time, so the test's own teardown stays
// off the stack.
void Dismantle(TASNList& root)
{
    TASNList current = std::move(root);
    while (current.Count() > 0) {
        TASNList next = std::move(current.Items(0).Children);
        current = std::move(next);
    }
}

TEST(FilterDepth, DeepestAllowedChainEvaluates)
{
    const TUserInfo entry(kAnnLee);
    TASNList even;
    BuildNotChain(even, kMaxFilterDepth - 2);
    EXPECT_TRUE(MatchFilter(even.Items(0), entry));
    TASNList odd;
    BuildNotChain(odd, kMaxFilterDepth - 1);
    EXPECT_FALSE(MatchFilter(odd.Items(0), entry));
}

TEST(FilterDepth, OneLevelTooDeepRaises)
{
    const TUserInfo entry(kAnnLee);
    TASNList tree;
    BuildNotChain(tree, kMaxFilterDepth);
    EXPECT_THROW(MatchFilter(tree.Items(0), entry), EFilterDepthError);
}

TEST(FilterDepth, HugeChainRaisesWithoutExhaustingStack)
{
    const TUserInfo entry(kAnnLee);
    TASNList tree;
    BuildNotChain(tree, 100000);
    EXPECT_THROW(MatchFilter(tree.Items(0), entry), EFilterDepthError);
    Dismantle(tree);
}

TEST(FilterDepth, DeepAndChainRaises)
{
    const TUserInfo entry(kAnnLee);
    TASNList tree;
    TASNList* level = &tree;
    for (int i = 0; i < 100000; ++i)
        level = &level->Add(0xA0).Children;
    EXPECT_THROW(MatchFilter(tree.Items(0), entry), EFilterDepthError);
    Dismantle(tree);
}

} // namespace
