// Entries as standard searches show them: their DN by rule, one attribute per
// type, base64 values decoded, default object classes; and finding an entry
// by any spelling of its DN.
#include "ldap/DistinguishedName.h"
#include "ldap/StandardEntry.h"
#include "support/SearchFixtures.h"

#include <gtest/gtest.h>

namespace {

const std::vector<TEntry> kStore = {
    {"Ann Lee", {"cn=Ann Lee", "mail=ann@example.com", "dn=cn=Ann Lee, ou=People,dc=example"}},
    {"Bob, Jr.", {"cn=Bob, Jr.", "mail=bob+news@example.com", "mail=bob@example.com", "CN=Bobby"}},
    {"No Mail", {"cn=No Mail", "objectClass=device"}},
    {"", {"description=nameless"}},
    {"Dee", {"cn=Dee", "mail:=ZGVlQGV4YW1wbGUuY29t", "dn:=Y249RMOpZSxkYz1leGFtcGxl"}},
};

struct TDNCase {
    std::string Name;
    int Entry;
    std::string DN;
};

std::ostream& operator<<(std::ostream& out, const TDNCase& c) { return out << c.Name; }

const TDNCase kDNs[] = {
    {"OwnDnLine", 0, "cn=Ann Lee, ou=People,dc=example"},
    {"FirstMailEscaped", 1, "mail=bob\\+news@example.com"},
    {"NoMailNamesByCnAndNumber", 2, "cn=No Mail+entry=2"},
    {"NoNameNoMail", 3, "entry=3"},
    {"Base64DnLine", 4, "cn=D\xC3\xA9" "e,dc=example"},
};

class StoreTest : public testing::Test {
protected:
    static void SetUpTestSuite() { List = MakeList(kStore).release(); }
    static void TearDownTestSuite()
    {
        delete List;
        List = nullptr;
    }
    static TUserList* List;
};
TUserList* StoreTest::List = nullptr;

class StandardDNs : public StoreTest, public testing::WithParamInterface<TDNCase> {};

TEST_P(StandardDNs, DNByRuleAndFoundByIt)
{
    EXPECT_EQ(StandardDN(*List, GetParam().Entry), GetParam().DN);
    EXPECT_EQ(FindEntryByDN(*List, GetParam().DN), GetParam().Entry);
}

INSTANTIATE_TEST_SUITE_P(Rules, StandardDNs, testing::ValuesIn(kDNs),
                         [](const testing::TestParamInfo<TDNCase>& info) { return info.param.Name; });

struct TSpelling {
    std::string Name;
    std::string DN;
    int Found; // -1: none
};

std::ostream& operator<<(std::ostream& out, const TSpelling& c) { return out << c.Name; }

const TSpelling kSpellings[] = {
    {"OtherCaseAndBlanks", " CN = ann lee ,OU=people, DC=Example ", 0},
    {"HexEscapedPlus", "MAIL=bob\\2bnews@EXAMPLE.com", 1},
    {"SecondMailIsNoName", "mail=bob@example.com", -1},
    {"PlusIsAnotherStructure", "cn=No Mail,entry=2", -1},
    {"EntryNumberOutOfRange", "entry=99", -1},
    {"Empty", "", -1},
};

class FindByDN : public StoreTest, public testing::WithParamInterface<TSpelling> {};

TEST_P(FindByDN, FindsTheEntryItNames) { EXPECT_EQ(FindEntryByDN(*List, GetParam().DN), GetParam().Found); }

INSTANTIATE_TEST_SUITE_P(Spellings, FindByDN, testing::ValuesIn(kSpellings),
                         [](const testing::TestParamInfo<TSpelling>& info) { return info.param.Name; });

TEST(StandardAttributes, OnePerTypeAllValuesDecodedDnLeftOutClassesAdded)
{
    const auto list = MakeList(kStore);
    const TStandardAttributes bob = StandardAttributes(*list, 1);
    ASSERT_EQ(bob.size(), 3u);
    EXPECT_EQ(bob[0].Type, "cn");
    EXPECT_EQ(bob[0].Values, (std::vector<std::string>{"Bob, Jr.", "Bobby"}));
    EXPECT_EQ(bob[1].Type, "mail");
    EXPECT_EQ(bob[1].Values, (std::vector<std::string>{"bob+news@example.com", "bob@example.com"}));
    EXPECT_EQ(bob[2].Type, "objectClass");
    EXPECT_EQ(bob[2].Values, (std::vector<std::string>{"top", "person", "organizationalPerson", "inetOrgPerson"}));

    const TStandardAttributes dee = StandardAttributes(*list, 4);
    ASSERT_EQ(dee.size(), 3u);
    EXPECT_EQ(dee[1].Type, "mail");
    EXPECT_EQ(dee[1].Values, (std::vector<std::string>{"dee@example.com"}));

    const TStandardAttributes device = StandardAttributes(*list, 2);
    ASSERT_EQ(device.size(), 2u);
    EXPECT_EQ(device[1].Values, (std::vector<std::string>{"device"}));
}

TEST(StandardAttributes, ValueRepeatedByMergedRecordSentOnce)
{
    const auto list = MakeList({{"Ann Lee", {"cn=Ann Lee", "mail=ann@example.com", "dn=cn=Ann Lee,o=Example",
                                             "mail=Ann@Example.com", "cn=Ann Lee", "title=Head"}}});
    const TStandardAttributes ann = StandardAttributes(*list, 0);
    ASSERT_EQ(ann.size(), 4u);
    EXPECT_EQ(ann[0].Values, (std::vector<std::string>{"Ann Lee"}));
    EXPECT_EQ(ann[1].Values, (std::vector<std::string>{"ann@example.com"}));
}

TEST(DistinguishedNames, EscapeAndNormalize)
{
    EXPECT_EQ(EscapeDNValue(" #a,b+c\"d\\e<f>g;h "), "\\ #a\\,b\\+c\\\"d\\\\e\\<f\\>g\\;h\\ ");
    EXPECT_EQ(EscapeDNValue("#x"), "\\#x");
    EXPECT_EQ(EscapeDNValue(std::string("a\0b", 3)), "a\\00b");
    EXPECT_EQ(NormalizedDN(" cn = a  b ; dc=x "), "CN=A  B,DC=X");
    EXPECT_EQ(NormalizedDN("cn=a\\,b"), NormalizedDN("CN=A\\2Cb"));
    EXPECT_EQ(NormalizedDN("cn=\\ a\\ "), "CN= A ");
}

}  // namespace
