// Import merging into the compact store: lines land after the entry's own in
// file order, the mail index and the value columns follow, and a state that a
// search still holds never changes.
#include "directory/LDIF.h"
#include "directory/PublishedDirectory.h"
#include "support/SearchFixtures.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<TEntry> Entries(const TUserList& list)
{
    std::vector<TEntry> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back({list.Names(i), list.Objects(i).Attributes.Lines()});
    return out;
}

// The upper-cased first value of a name for every entry.
std::vector<std::string> Column(const TUserList& list, const std::string& upperName)
{
    std::vector<std::string> out;
    const std::int64_t column = list.FindFolded(upperName);
    for (int i = 0; i < list.Count(); ++i)
        out.emplace_back(column < 0 ? std::string_view() : list.Columns().Value(static_cast<std::uint32_t>(column), i));
    return out;
}

struct TMergeCase {
    const char* Name;
    std::vector<TEntry> Before;
    std::vector<std::string> Imports;  // LDIF texts, imported in turn
    std::vector<TEntry> After;
    std::vector<std::string> CnColumn;
    std::vector<std::string> SnColumn;
    std::vector<std::pair<std::string, int>> Mails;  // address, IndexOfMail
};

class ImportMerge : public ::testing::TestWithParam<TMergeCase> {
protected:
    void TearDown() override { FreeUserList(); }
};

TEST_P(ImportMerge, IntoTheCompactStore)
{
    const TMergeCase& c = GetParam();
    SetDirectory(c.Before);
    const TUserListReadLock before;  // a search running across the imports
    TTempDir dir;
    for (std::size_t i = 0; i < c.Imports.size(); ++i) {
        const std::string name = "import" + std::to_string(i) + ".ldf";
        dir.Write(name, c.Imports[i]);
        ImportLDIF(dir.File(name));
    }
    const TUserListReadLock after;
    ASSERT_TRUE(after);
    EXPECT_EQ(Entries(*after.get()), c.After);
    EXPECT_EQ(Column(*after.get(), "CN"), c.CnColumn);
    EXPECT_EQ(Column(*after.get(), "SN"), c.SnColumn);
    for (const auto& [address, index] : c.Mails) EXPECT_EQ(after->IndexOfMail(address), index) << address;
    ASSERT_TRUE(before);
    EXPECT_EQ(Entries(*before.get()), c.Before) << "the state a search holds stays as it was";
}

const std::vector<TEntry> kAnnBob = {{"Ann", {"cn=Ann", "mail=ann@x"}}, {"Bob", {"cn=Bob", "mail=bob@x"}}};

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportMerge,
    ::testing::Values(
        TMergeCase{"LinesGoAfterTheEntrysOwn",
                   kAnnBob,
                   {"cn: Ann B\nmail: ANN@x\nsn: Lee\n"},
                   {{"Ann", {"cn=Ann", "mail=ann@x", "cn=Ann B", "mail=ANN@x", "sn=Lee"}}, {"Bob", {"cn=Bob", "mail=bob@x"}}},
                   {"ANN", "BOB"},
                   {"LEE", ""},
                   {{"ann@X", 0}, {"bob@x", 1}}},
        TMergeCase{"NewAddressMakesAnEntry",
                   kAnnBob,
                   {"cn: Cy\nmail: cy@x\n"},
                   {kAnnBob[0], kAnnBob[1], {"Cy", {"cn=Cy", "mail=cy@x"}}},
                   {"ANN", "BOB", "CY"},
                   {"", "", ""},
                   {{"cy@x", 2}}},
        TMergeCase{"TwoRecordsOfOneFileMakeOneEntry",
                   {},
                   {"cn: Di\nmail: di@x\n\ncn: Di 2\nmail: DI@X\nsn: Two\n"},
                   {{"Di", {"cn=Di", "mail=di@x", "cn=Di 2", "mail=DI@X", "sn=Two"}}},
                   {"DI"},
                   {"TWO"},
                   {{"di@x", 0}}},
        TMergeCase{"LastHolderOfTheAddressTakesTheLines",
                   {{"A", {"mail=m"}}, {"B", {"cn=B", "mail=M"}}},
                   {"sn: s\nmail: m\n"},
                   {{"A", {"mail=m"}}, {"B", {"cn=B", "mail=M", "sn=s", "mail=m"}}},
                   {"", "B"},
                   {"", "S"},
                   {{"m", 1}}},
        TMergeCase{"NoMailMergesIntoTheEmptyMail",
                   {{"E", {"cn=E", "mail="}}, {"F", {"cn=F", "mail=f"}}},
                   {"cn: G\nsn: g\n"},
                   {{"E", {"cn=E", "mail=", "cn=G", "sn=g"}}, {"F", {"cn=F", "mail=f"}}},
                   {"E", "F"},
                   {"G", ""},
                   {{"", 0}, {"f", 1}}},
        TMergeCase{"MergesOverSeveralImportsKeepTheirOrder",
                   kAnnBob,
                   {"mail: bob@x\nsn: one\n", "mail: BOB@x\nsn: two\n\nmail: ann@x\ncn: later\n", "mail: bob@X\nsn: three\n"},
                   {{"Ann", {"cn=Ann", "mail=ann@x", "mail=ann@x", "cn=later"}},
                    {"Bob", {"cn=Bob", "mail=bob@x", "mail=bob@x", "sn=one", "mail=BOB@x", "sn=two", "mail=bob@X", "sn=three"}}},
                   {"ANN", "BOB"},
                   {"", "ONE"},
                   {{"ann@x", 0}, {"bob@x", 1}}},
        TMergeCase{"NameTakenFromALineOrStoredApart",
                   {},
                   {"cn: \ncn: Real Name\nmail: r@x\n\nmail: n@x\n\ndn: cn=Q\ncn: Q\nmail: q@x\n"},
                   {{"Real Name", {"cn=", "cn=Real Name", "mail=r@x"}}, {"", {"mail=n@x"}}, {"Q", {"dn=cn=Q", "cn=Q", "mail=q@x"}}},
                   {"", "", "Q"},
                   {"", "", ""},
                   {{"r@x", 0}, {"n@x", 1}, {"q@x", 2}, {"cn=q", -1}}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CompactStore, CloneSharesNothingItChanges)
{
    TUserList list;
    list.Add("A", {"cn=A", "mail=a"});
    list.Seal();
    const auto copy = list.Clone();
    copy->AppendLine(0, "sn=x");
    copy->Add("B", {"cn=B"});
    EXPECT_EQ(Entries(list), (std::vector<TEntry>{{"A", {"cn=A", "mail=a"}}}));
    EXPECT_EQ(Entries(*copy), (std::vector<TEntry>{{"A", {"cn=A", "mail=a", "sn=x"}}, {"B", {"cn=B"}}}));
    EXPECT_FALSE(list.Changed());
    EXPECT_TRUE(copy->Changed());
    EXPECT_EQ(Column(list, "SN"), std::vector<std::string>{""});
    EXPECT_EQ(Column(*copy, "SN"), (std::vector<std::string>{"X", ""}));
}

TEST(CompactStore, LongLinesAndManyEntriesRoundTrip)
{
    // Lines longer than a block, and enough entries to need many blocks.
    TUserList list;
    std::vector<TEntry> expected;
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::string> lines = {"cn=n" + std::to_string(i), "mail=m" + std::to_string(i)};
        if (i % 1000 == 7) lines.push_back("description=" + std::string(3 << 20, static_cast<char>('a' + i % 26)));
        list.Add("n" + std::to_string(i), lines);
        expected.push_back({"n" + std::to_string(i), lines});
    }
    EXPECT_EQ(Entries(list), expected);
    EXPECT_EQ(list.IndexOfMail("M2999"), 2999);
}

}  // namespace
