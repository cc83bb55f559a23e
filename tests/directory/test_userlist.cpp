// The entry store: attribute lookup and the mail index behind IndexOfMail.
#include "directory/UserList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::unique_ptr<TUserList> MakeList(const std::vector<Lines>& entries)
{
    auto list = std::make_unique<TUserList>();
    for (const auto& lines : entries)
        list->Add("", std::make_unique<TUserInfo>(lines));
    return list;
}

struct MailCase {
    const char* Name;
    std::vector<Lines> Entries;
    std::string Address;
    int Expected;
};

const std::vector<MailCase> kMailCases = {
    {"CaseOfNameAndValue", {{"Mail=Sales"}}, "sales", 0},
    {"UpperCaseAddress", {{"mail=sales@x.org"}}, "SALES@X.ORG", 0},
    {"BlankAfterEquals", {{"mail= sales"}}, "sales", -1},
    {"BlankBeforeEquals", {{"mail =sales"}}, "sales", -1},
    {"TrailingBlankInLine", {{"mail=sales "}}, "sales", -1},
    {"AddressWithBlankMatchesExactly", {{"mail= sales"}}, " sales", 0},
    {"SecondMailLine", {{"cn=A", "mail=a", "mail=b"}}, "B", 0},
    {"OtherAttributeSameValue", {{"cn=sales", "email=sales"}}, "sales", -1},
    {"HighestOfTwo", {{"mail=x"}, {"mail=x"}}, "x", 1},
    {"HighestSkipsNonMatching", {{"mail=x"}, {"mail=y"}, {"MAIL=X"}, {"mail=z"}}, "x", 2},
    {"EmptyAddressFindsEmptyMail", {{"cn=x"}, {"mail="}, {"mail=a"}}, "", 1},
    {"EmptyAddressNothingElse", {{"cn=x"}, {"mail"}, {"mail=a"}}, "", -1},
    {"NonAsciiExact", {{"mail=\xC4@x"}}, "\xE4@x", -1},
    {"NonAsciiSame", {{"mail=\xC4@x"}}, "\xC4@x", 0},
    {"AddressWithEquals", {{"mail=a=b"}}, "A=B", 0},
    {"PrefixIsNotMatch", {{"mail=sales2"}}, "sales", -1},
    {"LineWithoutEquals", {{"mailsales"}}, "sales", -1},
};

class IndexOfMailTable : public ::testing::TestWithParam<MailCase> {};

TEST_P(IndexOfMailTable, Finds)
{
    const auto& c = GetParam();
    EXPECT_EQ(MakeList(c.Entries)->IndexOfMail(c.Address), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Store, IndexOfMailTable, ::testing::ValuesIn(kMailCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct ValueCase {
    const char* Name;
    Lines Entry;
    std::string Attribute;
    std::string Expected;
};

const std::vector<ValueCase> kValueCases = {
    {"FirstOfSeveral", {"cn=A", "mail=x", "mail=y"}, "MAIL", "x"},
    {"Absent", {"cn=A"}, "mail", ""},
    {"LineWithoutEqualsPassedOver", {"mail", "mail=z"}, "mail", "z"},
    {"LineWithoutEqualsNeverMatches", {"cn"}, "cn", ""},
    {"ValueKeepsEquals", {"dn=cn=A,o=B"}, "dn", "cn=A,o=B"},
    {"BlankBelongsToName", {"cn =A"}, "cn", ""},
    {"BlankNameMatches", {"cn =A"}, "CN ", "A"},
    {"EmptyValueOfFirstLine", {"cn=", "cn=B"}, "cn", ""},
    {"UpperCaseLine", {"CN=Ann"}, "cn", "Ann"},
    {"EmptyName", {"=v"}, "", "v"},
    {"NonAsciiNameExact", {"\xC4x=1"}, "\xE4x", ""},
    {"NameIsWholePrefix", {"cname=x"}, "cn", ""},
};

class ValueOfTable : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueOfTable, Reads)
{
    const auto& c = GetParam();
    EXPECT_EQ(TUserInfo(c.Entry).ValueOf(c.Attribute), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Store, ValueOfTable, ::testing::ValuesIn(kValueCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct DistinctCase {
    const char* Name;
    std::vector<Lines> Entries;
    Lines AppendedToFirst; // after the first answer was asked for
    bool Expected;
};

const std::vector<DistinctCase> kDistinctCases = {
    {"DifferentAddresses", {{"mail=a"}, {"mail=b"}, {"cn=c", "MAIL=c"}}, {}, true},
    {"SameAddressOtherCase", {{"mail=a@x"}, {"cn=b", "Mail=A@X"}}, {}, false},
    {"OneEntryWithoutMail", {{"cn=a"}, {"mail=b"}}, {}, true},
    {"TwoEntriesWithoutMail", {{"cn=a"}, {"mail=b"}, {"sn=c"}}, {}, false},
    {"OneEntryTwiceTheSameAddress", {{"mail=a", "mail=A"}, {"mail=b"}}, {}, true},
    {"SecondLineOfOneIsFirstOfAnother", {{"mail=a", "mail=b"}, {"mail=b"}}, {}, false},
    {"AddressAddedLaterIsAnothers", {{"mail=a"}, {"mail=b"}}, {"mail=B"}, false},
};

class MailValuesDistinctTable : public ::testing::TestWithParam<DistinctCase> {};

TEST_P(MailValuesDistinctTable, Tells)
{
    const auto& c = GetParam();
    auto list = MakeList(c.Entries);
    if (!c.AppendedToFirst.empty()) {
        ASSERT_TRUE(list->MailValuesDistinct());
        list->AppendLines(0, c.AppendedToFirst);
    }
    EXPECT_EQ(list->MailValuesDistinct(), c.Expected);
    // What it promises: no two entries with the same upper-cased first mail value.
    if (c.Expected) {
        std::vector<std::string_view> values;
        for (int i = 0; i < list->Count(); ++i)
            values.push_back(list->Columns().Value(list->MailFoldedId(), static_cast<std::uint32_t>(i)));
        std::sort(values.begin(), values.end());
        EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end());
    }
}

INSTANTIATE_TEST_SUITE_P(Store, MailValuesDistinctTable, ::testing::ValuesIn(kDistinctCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(UserList, IndexFollowsLinesAddedLater)
{
    auto list = MakeList({{"cn=A", "mail=a"}, {"cn=B", "mail=b"}, {"cn=C"}});
    ASSERT_EQ(list->IndexOfMail("a"), 0);

    // An earlier entry gaining b does not hide the higher one.
    list->AppendLines(0, {"MAIL=B"});
    EXPECT_EQ(list->IndexOfMail("b"), 1);

    // A later entry gaining a takes over.
    list->AppendLine(2, "Mail=A");
    EXPECT_EQ(list->IndexOfMail("a"), 2);

    // A new mail on an earlier entry is found there.
    list->AppendLines(0, {"cn=again", "mail=c"});
    EXPECT_EQ(list->IndexOfMail("c"), 0);

    // A new item holding a becomes the highest.
    list->Add("D", std::make_unique<TUserInfo>(Lines{"mail=A"}));
    EXPECT_EQ(list->IndexOfMail("a"), 3);
    EXPECT_EQ(list->Objects(0).Attributes.Count(), 5);
}

// The index against a plain scan over a long run of mixed operations.
int ScanIndexOfMail(const TUserList& list, const std::string& address)
{
    const std::string target = UpperASCII("MAIL=" + address);
    int result = -1;
    for (int i = 0; i < list.Count(); ++i) {
        for (const auto& line : list.Objects(i).Attributes.Lines()) {
            if (UpperASCII(line) == target) {
                result = i;
                break;
            }
        }
    }
    return result;
}

TEST(UserList, IndexAgreesWithScanAfterManyChanges)
{
    std::mt19937 random(12345);
    const std::vector<std::string> mails = {"a", "A", "b", "", " a", "c=d", "C=D"};
    const std::vector<std::string> names = {"mail=", "MAIL=", "Mail =", "mail:", "cn="};
    auto pick = [&random](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
    };
    TUserList list;
    for (int step = 0; step < 2000; ++step) {
        const std::string line = pick(names) + pick(mails);
        const int target = list.Count() == 0 ? 0 : static_cast<int>(random() % list.Count());
        if (list.Count() == 0 || random() % 3 == 0)
            list.Add("e", std::make_unique<TUserInfo>(Lines{line}));
        else if (random() % 2 == 0)
            list.AppendLine(target, line);
        else
            list.AppendLines(target, {line, pick(names) + pick(mails)});
        if (step % 50 == 0) {
            for (const auto& m : mails)
                ASSERT_EQ(list.IndexOfMail(m), ScanIndexOfMail(list, m)) << "step " << step;
        }
    }
    for (const auto& m : mails)
        EXPECT_EQ(list.IndexOfMail(m), ScanIndexOfMail(list, m));
}

TEST(UserList, ItemsKeepOrderAndDuplicateNames)
{
    TUserList list;
    EXPECT_EQ(list.Add("Ann", std::make_unique<TUserInfo>(Lines{"mail=a"})), 0);
    EXPECT_EQ(list.Add("Ann", std::make_unique<TUserInfo>(Lines{"mail=b"})), 1);
    EXPECT_EQ(list.Add("", nullptr), 2);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Names(0), "Ann");
    EXPECT_EQ(list.Names(1), "Ann");
    EXPECT_EQ(list.Objects(1).Attributes.Strings(0), "mail=b");
    EXPECT_EQ(list.Names(2), "");
    EXPECT_EQ(list.Objects(2).Attributes.Count(), 0);
}

TEST(UserList, OutOfRangeRaises)
{
    auto list = MakeList({{"cn=A"}});
    EXPECT_THROW(list->Names(1), EDirectoryIndexError);
    EXPECT_THROW(list->Objects(-1), EDirectoryIndexError);
    EXPECT_THROW(list->AppendLine(1, "mail=x"), EDirectoryIndexError);
    EXPECT_THROW(list->AppendLines(-1, {"mail=x"}), std::out_of_range);
    EXPECT_THROW(list->Objects(0).Attributes.Strings(1), EDirectoryIndexError);
    EXPECT_EQ(list->IndexOfMail("x"), -1) << "a refused append must not reach the index";
}

TEST(AttributeLines, CopyOperationsOnThemselves)
{
    TUserInfo info(Lines{"cn=A", "mail=a"});
    info.Attributes.AddStrings(info.Attributes.Lines());
    EXPECT_EQ(info.Attributes.Lines(), (Lines{"cn=A", "mail=a", "cn=A", "mail=a"}));
    info.Attributes.Assign(info.Attributes.Lines());
    EXPECT_EQ(info.Attributes.Count(), 4);
    info.Attributes.Assign({"x=1"});
    EXPECT_EQ(info.Attributes.Lines(), Lines{"x=1"});
}

TEST(UpperASCII, OnlyLettersAtoZ)
{
    EXPECT_EQ(UpperASCII("abz@{}`\xE4\xC4" "AZ09"), "ABZ@{}`\xE4\xC4" "AZ09");
    EXPECT_TRUE(SameTextASCII("Mail=", "MAIL="));
    EXPECT_FALSE(SameTextASCII("\xE4", "\xC4"));
    EXPECT_FALSE(SameTextASCII("mail", "mail="));
}

} // namespace
