// The substring index and the candidate plan: a search that skips entries must
// answer byte for byte like one that tests every entry, and raise the same way.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "directory/SubstringIndex.h"
#include "ldap/Filter.h"
#include "ldap/FilterPlan.h"
#include "ldap/Search.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

using wire::Hex;
using wire::ToHex;

namespace {

// Sorted indices of the entries whose value for name contains part, by the
// same rule a substrings filter uses.
std::vector<std::uint32_t> Holding(const TUserList& list, std::string_view name, std::string_view part)
{
    std::vector<std::uint32_t> result;
    for (int i = 0; i < list.Count(); ++i)
        if (ContainsTextASCII(list.Objects(i).ValueViewOf(name), part)) result.push_back(static_cast<std::uint32_t>(i));
    return result;
}

bool IsSubset(const std::vector<std::uint32_t>& small, const std::vector<std::uint32_t>& big)
{
    return std::includes(big.begin(), big.end(), small.begin(), small.end());
}

// ---------------------------------------------------------------- the index

struct TIndexCase {
    const char* Name;
    std::vector<TEntry> Entries;
    std::string Attribute;
    std::string Part;
    std::vector<std::uint32_t> Expected;  // exactly: the tiny directories leave no false candidates
};

class SubstringIndexTable : public ::testing::TestWithParam<TIndexCase> {};

TEST_P(SubstringIndexTable, CandidatesAreTheHoldersHere)
{
    const TIndexCase& c = GetParam();
    const auto list = MakeList(c.Entries);
    const TSubstringIndex index(*list);
    const std::vector<std::uint32_t> got = index.Candidates(c.Attribute, c.Part);
    EXPECT_EQ(got, c.Expected);
    EXPECT_TRUE(IsSubset(Holding(*list, c.Attribute, c.Part), got)) << "never loses a holder";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SubstringIndexTable,
    ::testing::Values(
        TIndexCase{"CaseFoldedBothSides", {{"a", {"cn=SmItH"}}, {"b", {"CN=jones"}}}, "Cn", "smi", {0}},
        TIndexCase{"OnlyTheFirstLineOfAName", {{"a", {"cn=jones", "cn=smith"}}, {"b", {"cn=smith"}}}, "cn", "SMITH", {1}},
        TIndexCase{"NameIsTextBeforeFirstEquals", {{"a", {"cn=x=smith"}}, {"b", {"cn=x", "cn=smith"}}}, "cn", "=SM", {0}},
        TIndexCase{"LineWithoutEqualsPassedOver", {{"a", {"smith", "cn=abc"}}}, "cn", "SMI", {}},
        TIndexCase{"NameWithBlank", {{"a", {"given name=smith"}}, {"b", {"givenname=smith"}}}, "GIVEN NAME", "SMI", {0}},
        TIndexCase{"EmptyName", {{"a", {"=smith"}}, {"b", {"cn=smith"}}}, "", "SMITH", {0}},
        TIndexCase{"EightBitNotFolded", {{"a", {"cn=\xe1\xe2z"}}, {"b", {"cn=\xc1\xc2z"}}}, "cn", "\xe1\xe2Z", {0}},
        TIndexCase{"AbsentName", {{"a", {"cn=smith"}}}, "sn", "SMI", {}},
        TIndexCase{"AbsentWindow", {{"a", {"cn=smith"}}}, "cn", "SMX", {}},
        TIndexCase{"RepeatedWindowInPart", {{"a", {"cn=aaaa"}}, {"b", {"cn=aaa"}}, {"c", {"cn=aa"}}}, "cn", "AAAA", {0, 1}},
        TIndexCase{"ShortPartIsEveryEntry", {{"a", {"cn=x"}}, {"b", {}}, {"c", {"sn=y"}}}, "cn", "zz", {0, 1, 2}},
        TIndexCase{"ValueShorterThanWindow", {{"a", {"cn=ab"}}, {"b", {"cn=abc"}}}, "cn", "ABC", {1}},
        TIndexCase{"EntryCountedOnceForRepeats", {{"a", {"cn=abcabcabc"}}}, "cn", "ABCA", {0}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SubstringIndex, RandomSupersetOfHolders)
{
    std::mt19937 rng(11);
    const std::string alphabet = "aAbB=\xe1\xc1 ";
    const std::vector<std::string> names = {"cn", "CN", "sn", "", "a b"};
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    auto text = [&](std::size_t maxLen) {
        std::string s(pick(maxLen + 1), ' ');
        for (char& ch : s) ch = alphabet[pick(alphabet.size())];
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<TEntry> entries(pick(20));
        for (TEntry& e : entries)
            for (std::size_t l = pick(5); l > 0; --l) e.Lines.push_back(names[pick(names.size())] + "=" + text(7));
        const auto list = MakeList(entries);
        const TSubstringIndex index(*list);
        EXPECT_EQ(index.EntryCount(), entries.size());
        for (int q = 0; q < 20; ++q) {
            const std::string name = names[pick(names.size())];
            const std::string part = text(5);
            const std::vector<std::uint32_t> got = index.Candidates(name, part);
            ASSERT_TRUE(std::is_sorted(got.begin(), got.end()));
            ASSERT_EQ(std::adjacent_find(got.begin(), got.end()), got.end());
            ASSERT_TRUE(IsSubset(Holding(*list, name, part), got)) << round << " " << name << " " << part;
        }
    }
}

// ---------------------------------------------------------------- the plan

// Filters are written as nodes: a tiny builder keeps the tables readable.
struct TF {
    int Tag;
    std::string Value;
    std::vector<TF> Children;
};

void Build(TASNList& into, const TF& f)
{
    TASNNode& node = into.Add(f.Tag, f.Value);
    for (const TF& c : f.Children) Build(node.Children, c);
}

TF Sub(std::string type, std::vector<TF> parts) { return TF{0xA4, "", {TF{0x04, std::move(type), {}}, TF{0x30, "", std::move(parts)}}}; }
TF Initial(std::string s) { return TF{0x80, std::move(s), {}}; }
TF Any(std::string s) { return TF{0x81, std::move(s), {}}; }
TF Final(std::string s) { return TF{0x82, std::move(s), {}}; }
TF And(std::vector<TF> c) { return TF{0xA0, "", std::move(c)}; }
TF Or(std::vector<TF> c) { return TF{0xA1, "", std::move(c)}; }
TF Not(std::vector<TF> c) { return TF{0xA2, "", std::move(c)}; }

TF Chain(int tag, int depth, TF leaf)
{
    TF f = std::move(leaf);
    for (int i = 1; i < depth; ++i) f = TF{tag, "", {std::move(f)}};
    return f;
}

struct TWellFormedCase {
    const char* Name;
    TF Filter;
    bool Expected;
};

class WellFormedTable : public ::testing::TestWithParam<TWellFormedCase> {};

TEST_P(WellFormedTable, AgreesWithEvaluation)
{
    TASNList list;
    Build(list, GetParam().Filter);
    EXPECT_EQ(FilterIsWellFormed(list.Items(0)), GetParam().Expected);
    // Accepted filters must evaluate without raising on any entry shape.
    if (GetParam().Expected) {
        for (const TUserInfo& e : {TUserInfo(), TUserInfo({"cn=abc", "mail=x"}), TUserInfo({"cn"})}) {
            EXPECT_NO_THROW(MatchFilter(list.Items(0), e));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WellFormedTable,
    ::testing::Values(
        TWellFormedCase{"Substrings", Sub("cn", {Any("abc")}), true},
        TWellFormedCase{"SubstringsWithoutParts", Sub("cn", {}), true},
        TWellFormedCase{"SubstringsOneChild", TF{0xA4, "", {TF{0x04, "cn", {}}}}, false},
        TWellFormedCase{"SubstringsNoChild", TF{0xA4, "", {}}, false},
        TWellFormedCase{"EmptyAndOr", And({Or({})}), true},
        TWellFormedCase{"NotWithoutChild", Not({}), false},
        TWellFormedCase{"NotUsesFirstChildOnly", Not({Sub("cn", {}), Not({})}), true},
        TWellFormedCase{"NotFirstChildBad", Not({Not({}), Sub("cn", {})}), false},
        TWellFormedCase{"BadUnderOr", Or({Sub("cn", {Any("a")}), TF{0xA4, "", {}}}), false},
        TWellFormedCase{"UnknownTagChildrenIgnored", TF{0xA3, "", {Not({})}}, true},
        TWellFormedCase{"DepthAtBound", Chain(0xA2, kMaxFilterDepth, TF{0xA0, "", {}}), true},
        TWellFormedCase{"DepthPastBound", Chain(0xA2, kMaxFilterDepth + 1, TF{0xA0, "", {}}), false},
        TWellFormedCase{"AndDepthPastBound", Chain(0xA0, kMaxFilterDepth + 1, TF{0x87, "", {}}), false}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TPlanCase {
    const char* Name;
    TF Filter;
    bool All;
    std::vector<std::uint32_t> Entries;
};

class PlanTable : public ::testing::TestWithParam<TPlanCase> {};

// Entry 0 "smith", 1 "jones", 2 "Smithers" (sn too), 3 without cn.
const std::vector<TEntry> kPlanEntries = {
    {"0", {"cn=smith"}}, {"1", {"cn=jones"}}, {"2", {"cn=Smithers", "sn=abc"}}, {"3", {"sn=smith"}}};

TEST_P(PlanTable, Candidates)
{
    const auto list = MakeList(kPlanEntries);
    const TSubstringIndex index(*list);
    TASNList filter;
    Build(filter, GetParam().Filter);
    const TFilterCandidates got = FilterCandidates(filter.Items(0), index);
    EXPECT_EQ(got.All, GetParam().All);
    if (!GetParam().All) {
        EXPECT_EQ(got.Entries, GetParam().Entries);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanTable,
    ::testing::Values(
        TPlanCase{"AnyPart", Sub("cn", {Any("SMITH")}), false, {0, 2}},
        TPlanCase{"TypeTrimmedLikeEvaluation", Sub(" \tcn\x01", {Any("smith")}), false, {0, 2}},
        TPlanCase{"PartsUnite", Sub("cn", {Initial("jon"), Final("ers")}), false, {1, 2}},
        TPlanCase{"EmptyInitialIsAll", Sub("cn", {Initial("")}), true, {}},
        TPlanCase{"EmptyFinalIsAll", Sub("cn", {Final(""), Any("zzz")}), true, {}},
        TPlanCase{"EmptyAnyIsNone", Sub("cn", {Any("")}), false, {}},
        TPlanCase{"TwoOctetsIsAll", Sub("cn", {Any("sm")}), true, {}},
        TPlanCase{"UnknownPartTagIsNone", Sub("cn", {TF{0x83, "smith", {}}, TF{0x04, "", {}}}), false, {}},
        TPlanCase{"NoPartsIsNone", Sub("cn", {}), false, {}},
        TPlanCase{"OrOfTwoAttributes", Or({Sub("cn", {Any("jon")}), Sub("sn", {Any("smi")})}), false, {1, 3}},
        TPlanCase{"OrWithAllIsAll", Or({Sub("cn", {Any("jon")}), Not({Sub("cn", {Any("x")})})}), true, {}},
        TPlanCase{"EmptyOrIsNone", Or({}), false, {}},
        TPlanCase{"AndIntersects", And({Sub("cn", {Any("smi")}), Sub("sn", {Any("abc")})}), false, {2}},
        TPlanCase{"AndSkipsAll", And({Not({Sub("cn", {})}), Sub("sn", {Any("abc")})}), false, {2}},
        TPlanCase{"EmptyAndIsAll", And({}), true, {}},
        TPlanCase{"NotIsAll", Not({Sub("cn", {Any("smith")})}), true, {}},
        TPlanCase{"OtherFilterIsNone", TF{0xA3, "", {TF{0x04, "cn", {}}, TF{0x04, "smith", {}}}}, false, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- the search

// Built as a tree, not decoded: filters deeper than the decoder allows must
// reach the search too.
void MakeRequest(TASNList& request, const TF* filter, int opChildren = 8)
{
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, "\x05");
    TASNNode& op = message.Children.Add(0x63);
    const std::vector<TF> fields = {TF{0x04, "dc=x", {}}, TF{0x0A, "\x02", {}}, TF{0x0A, std::string(1, '\0'), {}},
                                    TF{0x02, std::string(1, '\0'), {}}, TF{0x02, std::string(1, '\0'), {}},
                                    TF{0x01, std::string(1, '\0'), {}}};
    for (int i = 0; i < opChildren && i < 6; ++i) Build(op.Children, fields[static_cast<std::size_t>(i)]);
    if (opChildren > 6 && filter) Build(op.Children, *filter);
    if (opChildren > 7) op.Children.Add(0x30);
}

// The bytes written, or the name of the exception raised (and nothing written).
std::string Outcome(const TASNList& request, const TOptions& options, TSearchScan scan)
{
    TCaptureConnection connection;
    try {
        SearchAnswer(connection, request, options, scan);
    } catch (const std::exception& e) {
        EXPECT_TRUE(connection.Written.empty());
        return std::string("raised ") + typeid(e).name();
    }
    EXPECT_EQ(connection.Written.size(), 1u);
    return connection.Written.empty() ? std::string() : "wrote " + ToHex(connection.Written.front());
}

class SearchIndexTest : public ::testing::Test {
protected:
    void TearDown() override { FreeUserList(); }
    TVESKAOptions Options;

    std::string Both(const TF& filter, std::string* full = nullptr)
    {
        TASNList request;
        MakeRequest(request, &filter);
        const std::string indexed = Outcome(request, Options, TSearchScan::Indexed);
        const std::string scanned = Outcome(request, Options, TSearchScan::Full);
        EXPECT_EQ(indexed, scanned);
        if (full) *full = scanned;
        return indexed;
    }
};

std::vector<std::string> AnswerNames(const std::string& outcome)
{
    std::vector<std::string> names;
    if (outcome.rfind("wrote ", 0) != 0) return names;
    TASNList messages;
    messages.Decode(Hex(outcome.substr(6)));
    for (int i = 0; i < messages.Count(); ++i) {
        const TASNNode& op = messages.Items(i).Children.Items(1);
        if (op.Tag == 0x64) names.push_back(op.Children.Items(0).Value);
    }
    return names;
}

struct TSearchCase {
    const char* Name;
    TF Filter;
    std::vector<std::string> Names;
};

class SearchIndexTable : public SearchIndexTest, public ::testing::WithParamInterface<TSearchCase> {};

const std::vector<TEntry> kPeople = {
    {"Ann", {"cn=Ann Smith", "mail=ann@x", "sn=Smith"}},
    {"Bob", {"CN=bob jones", "Mail=bob@x", "cn=smith again"}},
    {"Cy", {"cn=Cy SMITHERS", "mail=ANN@X"}},  // same mail as Ann: never sent after her
    {"Di", {"cn=di", "sn=smith", "mail=di@x"}},
    {"Ed", {"cn=ed\xe9smith"}},                  // no mail: counts as the empty one
    {"Fay", {"cn=fa"}},                          // also no mail: dropped after Ed
    {"Gus", {"cn", "cn=gus=smith", "mail=g"}},
};

TEST_P(SearchIndexTable, SameAnswerAndExpectedEntries)
{
    auto list = MakeList(kPeople);
    ReplaceUserList(std::move(list));
    EXPECT_EQ(AnswerNames(Both(GetParam().Filter)), GetParam().Names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchIndexTable,
    ::testing::Values(
        TSearchCase{"AnyThreeOctets", Sub("cn", {Any("smi")}), {"Ann", "Ed", "Gus"}},
        TSearchCase{"AnyTwoOctets", Sub("cn", {Any("fa")}), {"Fay"}},
        TSearchCase{"InitialVsAny", Sub("cn", {Initial("smi")}), {}},
        TSearchCase{"Initial", Sub("cn", {Initial("ann")}), {"Ann"}},
        TSearchCase{"Final", Sub("cn", {Final("SMITH")}), {"Ann", "Ed", "Gus"}},
        TSearchCase{"FirstLineOnly", Sub("cn", {Any("again")}), {}},
        TSearchCase{"ValueHoldsEquals", Sub("cn", {Any("s=sm")}), {"Gus"}},
        TSearchCase{"EightBitExact", Sub("cn", {Any("\xe9sm")}), {"Ed"}},
        TSearchCase{"EightBitNotFolded", Sub("cn", {Any("\xc9sm")}), {}},
        TSearchCase{"NotAroundSubstrings", Not({Sub("cn", {Any("smith")})}), {"Bob", "Di", "Fay"}},
        TSearchCase{"OrOfTwoAttributes", Or({Sub("cn", {Any("smith")}), Sub("sn", {Any("smith")})}), {"Ann", "Di", "Ed", "Gus"}},
        TSearchCase{"AndOfTwoAttributes", And({Sub("cn", {Any("ann")}), Sub("sn", {Final("ith")})}), {"Ann"}},
        TSearchCase{"EmptyInitialMatchesAll", Sub("nothere", {Initial("")}), {"Ann", "Bob", "Di", "Ed", "Gus"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SearchIndexTest, MaxResultsCutsTheSameEntries)
{
    ReplaceUserList(MakeList(kPeople));
    for (int max : {-1, 0, 1, 2, 3, 10}) {
        Options.SetValue("MaxResults", TValue(max));
        std::string full;
        Both(Or({Sub("cn", {Any("smith")}), Sub("mail", {Any("@x")})}), &full);
        EXPECT_FALSE(full.empty()) << max;
    }
}

TEST_F(SearchIndexTest, ChangesUnderTheWriteLockDropTheIndex)
{
    ReplaceUserList(MakeList({{"A", {"cn=alpha", "mail=a"}}, {"B", {"cn=beta", "mail=b"}}}));
    const TF zulu = Sub("cn", {Any("zulu")});
    EXPECT_TRUE(AnswerNames(Both(zulu)).empty());
    {
        TUserListWriteLock list;
        // A second cn line is never the value compared; the new entry's is.
        list->AppendLines(0, {"cn=zulu"});
        list->Add("C", std::make_unique<TUserInfo>(std::vector<std::string>{"mail=c"}));
    }
    EXPECT_TRUE(AnswerNames(Both(zulu)).empty());
    {
        TUserListWriteLock list;
        list->AppendLine(2, "cn=Zulu time");
    }
    EXPECT_EQ(AnswerNames(Both(zulu)), std::vector<std::string>{"C"});
    {
        TUserListWriteLock list;
        list->Add("D", std::make_unique<TUserInfo>(std::vector<std::string>{"cn=zulu", "mail=d"}));
    }
    EXPECT_EQ(AnswerNames(Both(zulu)), (std::vector<std::string>{"C", "D"}));
}

TEST_F(SearchIndexTest, MalformedFiltersRaiseLikeTheFullWalk)
{
    ReplaceUserList(MakeList(kPeople));
    // The or's bad second branch is reached only by entries the first misses.
    EXPECT_NE(Both(Or({Sub("cn", {Initial("")}), Not({})})).find("wrote"), std::string::npos);
    EXPECT_NE(Both(Or({Sub("cn", {Any("smith")}), Not({})})).find("raised"), std::string::npos);
    EXPECT_NE(Both(Chain(0xA2, kMaxFilterDepth + 2, Sub("cn", {Any("smith")}))).find("raised"), std::string::npos);
    // No filter element at all: the first entry looked at raises.
    TASNList request;
    MakeRequest(request, nullptr, 6);
    EXPECT_EQ(Outcome(request, Options, TSearchScan::Indexed), Outcome(request, Options, TSearchScan::Full));
}

TEST_F(SearchIndexTest, ConcurrentSearchesShareOneIndex)
{
    std::vector<TEntry> entries;
    for (int i = 0; i < 2000; ++i)
        entries.push_back({"E" + std::to_string(i), {"cn=person" + std::to_string(i), "mail=m" + std::to_string(i)}});
    ReplaceUserList(MakeList(entries));
    TASNList request;
    const TF filter = Sub("cn", {Any("son19")});
    MakeRequest(request, &filter);
    Options.SetValue("MaxResults", TValue(0));
    const std::string expected = Outcome(request, Options, TSearchScan::Full);
    // Fresh list: the threads race to build the index.
    ReplaceUserList(MakeList(entries));
    std::vector<std::string> got(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < got.size(); ++t)
        threads.emplace_back([&, t] {
            TCaptureConnection connection;
            SearchAnswer(connection, request, Options);
            got[t] = "wrote " + ToHex(connection.Written.at(0));
        });
    for (std::thread& t : threads) t.join();
    for (const std::string& g : got) EXPECT_EQ(g, expected);
    EXPECT_EQ(AnswerNames(expected).size(), 111u);  // 19, 190..199, 1900..1999
}

TEST_F(SearchIndexTest, SearchesDuringChangesSeeWholeStates)
{
    ReplaceUserList(MakeList({{"A", {"cn=alpha", "mail=a"}}}));
    Options.SetValue("MaxResults", TValue(0));
    constexpr int kAdds = 300;
    TASNList request;
    const TF filter = Sub("cn", {Any("zulu")});
    MakeRequest(request, &filter);
    std::atomic<bool> done{false};
    std::vector<std::string> failures(3);
    std::vector<std::thread> searchers;
    for (std::size_t t = 0; t < failures.size(); ++t)
        searchers.emplace_back([&, t] {
            std::size_t last = 0;
            while (!done.load()) {
                TCaptureConnection connection;
                SearchAnswer(connection, request, Options);
                const std::vector<std::string> names = AnswerNames("wrote " + ToHex(connection.Written.at(0)));
                // Every added entry matches, so an answer is Z0..Zk, never shorter than before.
                for (std::size_t i = 0; i < names.size(); ++i)
                    if (names[i] != "Z" + std::to_string(i)) failures[t] = "gap at " + std::to_string(i);
                if (names.size() < last) failures[t] = "went back";
                last = names.size();
            }
        });
    for (int k = 0; k < kAdds; ++k) {
        TUserListWriteLock list;
        list->Add("Z" + std::to_string(k),
                  std::make_unique<TUserInfo>(std::vector<std::string>{"cn=Zulu" + std::to_string(k), "mail=z" + std::to_string(k)}));
    }
    done = true;
    for (std::thread& t : searchers) t.join();
    for (const std::string& f : failures) EXPECT_EQ(f, "");
    EXPECT_EQ(AnswerNames(Both(filter)).size(), static_cast<std::size_t>(kAdds));
}

// ---------------------------------------------------------------- differential

class TRandomCase {
public:
    explicit TRandomCase(unsigned seed) : FRng(seed) {}

    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRng); }
    bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }

    std::string Text(std::size_t maxLen)
    {
        static const std::string alphabet = "aAbB=\xe1\xc1 ";
        std::string s(Pick(maxLen + 1), ' ');
        for (char& ch : s) ch = alphabet[Pick(alphabet.size())];
        return s;
    }

    std::string Name()
    {
        static const std::vector<std::string> names = {"cn", "CN", "Cn", "mail", "MAIL", "sn", "", "a b", "\xe1n"};
        return names[Pick(names.size())];
    }

    std::vector<TEntry> Directory()
    {
        std::vector<TEntry> entries(Pick(14));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].Name = "e" + std::to_string(i);
            for (std::size_t l = Pick(6); l > 0; --l) {
                if (Chance(10))
                    entries[i].Lines.push_back(Text(6));  // maybe without "="
                else
                    entries[i].Lines.push_back(Name() + "=" + Text(7));
            }
        }
        return entries;
    }

    std::string Type()
    {
        switch (Pick(4)) {
        case 0: return " " + Name() + "\x01";
        case 1: return "c=n";
        default: return Name();
        }
    }

    TF Part()
    {
        static const int tags[] = {0x80, 0x81, 0x82, 0x80, 0x81, 0x82, 0x83, 0x04};
        const int tag = tags[Pick(std::size(tags))];
        return TF{tag, Chance(15) ? std::string() : Text(Chance(50) ? 3 : 5), {}};
    }

    TF Filter(int depth)
    {
        const std::size_t kind = depth > 4 ? 3 + Pick(3) : Pick(7);
        switch (kind) {
        case 0:
        case 1: {
            TF f{kind == 0 ? 0xA0 : 0xA1, "", {}};
            for (std::size_t n = Pick(4); n > 0; --n) f.Children.push_back(Filter(depth + 1));
            return f;
        }
        case 2: {
            TF f{0xA2, "", {}};
            if (!Chance(5)) f.Children.push_back(Filter(depth + 1));
            if (Chance(10)) f.Children.push_back(TF{0xA2, "", {}});  // never looked at
            return f;
        }
        case 3:
        case 4: {
            std::vector<TF> parts;
            for (std::size_t n = Pick(5); n > 0; --n) parts.push_back(Part());
            TF f = Sub(Type(), std::move(parts));
            if (Chance(4)) f.Children.pop_back();
            return f;
        }
        case 5:
            return TF{static_cast<int>(0xA3 + Pick(6)), "", {TF{0x04, "cn", {}}, TF{0x04, Text(3), {}}}};
        default:
            return Chance(3) ? Chain(0xA2, kMaxFilterDepth - 2 + static_cast<int>(Pick(5)), Filter(depth + 1))
                             : Filter(depth + 1);
        }
    }

private:
    std::mt19937 FRng;
};

TEST_F(SearchIndexTest, RandomDirectoriesAndFiltersAnswerAlike)
{
    int raised = 0, answered = 0, wellFormed = 0;
    for (unsigned seed = 1; seed <= 4000; ++seed) {
        TRandomCase r(seed);
        const std::vector<TEntry> entries = r.Directory();
        const TF filter = r.Filter(0);
        const int maxResults = static_cast<int>(r.Pick(5)) - 1;
        Options.SetValue("MaxResults", TValue(maxResults));
        ReplaceUserList(MakeList(entries));

        std::string full;
        const std::string indexed = Both(filter, &full);
        ASSERT_EQ(indexed, full) << "seed " << seed;
        (indexed.rfind("raised", 0) == 0 ? raised : answered) += 1;

        // Beyond the answer (which dedup and the cut could hide): the plan never
        // leaves out a matching entry, and an accepted filter never raises.
        TASNList tree;
        Build(tree, filter);
        if (!FilterIsWellFormed(tree.Items(0))) continue;
        ++wellFormed;
        const auto list = MakeList(entries);
        const TFilterCandidates plan = FilterCandidates(tree.Items(0), list->SubstringIndex());
        for (int i = 0; i < list->Count(); ++i) {
            bool match = false;
            ASSERT_NO_THROW(match = MatchFilter(tree.Items(0), list->Objects(i))) << "seed " << seed;
            if (match && !plan.All) {
                ASSERT_TRUE(std::binary_search(plan.Entries.begin(), plan.Entries.end(), static_cast<std::uint32_t>(i)))
                    << "seed " << seed << " entry " << i;
            }
        }
    }
    // The generator must reach every kind of outcome for the comparison to mean much.
    EXPECT_GT(raised, 100);
    EXPECT_GT(answered, 1000);
    EXPECT_GT(wellFormed, 1000);
}

}  // namespace
