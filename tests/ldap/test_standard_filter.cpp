// Filters as standard searches read them, against one small store: every
// row is checked entry by entry, by the compiled form over the value
// columns, and against the index plan (which may only over-approximate).
#include "ldap/FilterTree.h"
#include "ldap/StandardEntry.h"
#include "ldap/StandardFilter.h"
#include "ldap/StandardMatch.h"
#include "ldap/StandardPlan.h"
#include "support/FilterText.h"
#include "support/SearchFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::vector<TEntry> kStore = {
    {"Ann Lee", {"cn=Ann Lee", "sn=Lee", "givenName=Ann", "mail=ann@example.com"}},
    {"John Smith",
     {"cn=John Smith", "sn=Smith", "givenName=John", "mail=john@example.com", "cn=Johnny", "mail=js@example.org"}},
    {"Zoe", {"cn=Zoe", "mail=zoe@x.test", "objectClass=groupOfNames"}},
    // "cn:: SsO2cmc=" in the LDIF file: Jörg in UTF-8.
    {"Joerg", {"cn:=SsO2cmc=", "mail=joerg@x.test"}},
    {"Nomail", {"cn=Nomail", "description=no address"}},
};

struct TFilterCase {
    std::string Name;
    std::string Filter;
    std::vector<std::string> Selected; // entry names, store order
};

std::ostream& operator<<(std::ostream& out, const TFilterCase& c) { return out << c.Name; }

const TFilterCase kCases[] = {
    {"EqualityIsTheWholeValueInAnyCase", "(mail=JOHN@example.com)", {"John Smith"}},
    {"EqualityTestsEveryValue", "(mail=js@example.org)", {"John Smith"}},
    {"EqualityIsNoPrefixMatch", "(cn=john)", {}},
    {"EqualityOnLaterCnValue", "(cn=johnny)", {"John Smith"}},
    {"EqualityOnBase64Value", "(cn=J\\C3\\B6rg)", {"Joerg"}},
    {"ApproxIsEquality", "(cn~=ann lee)", {"Ann Lee"}},
    {"PresenceOfMail", "(mail=*)", {"Ann Lee", "John Smith", "Zoe", "Joerg"}},
    {"PresenceOfBase64Attribute", "(cn=*)", {"Ann Lee", "John Smith", "Zoe", "Joerg", "Nomail"}},
    {"PresenceOfObjectClassEverywhere", "(objectClass=*)", {"Ann Lee", "John Smith", "Zoe", "Joerg", "Nomail"}},
    {"DefaultObjectClass", "(objectclass=inetOrgPerson)", {"Ann Lee", "John Smith", "Joerg", "Nomail"}},
    {"OwnObjectClassReplacesDefaults", "(objectClass=groupOfNames)", {"Zoe"}},
    {"GreaterOrEqualUpperCased", "(sn>=m)", {"John Smith"}},
    {"LessOrEqualUpperCased", "(sn<=m)", {"Ann Lee"}},
    {"SubstringsInOrder", "(cn=j*n*h)", {"John Smith"}},
    {"SubstringsOutOfOrder", "(cn=*smith*john*)", {}},
    {"FinalNeverOverlapsInitial", "(cn=ann*nn)", {}},
    {"AnyOnLaterValue", "(mail=*example.org)", {"John Smith"}},
    {"ExtensibleSelectsNothing", "(cn:caseExactMatch:=Ann Lee)", {}},
    {"DnIsNoAttribute", "(dn=*)", {}},
    {"NotOfPresence", "(!(mail=*))", {"Nomail"}},
    {"Outlook", "(&(mail=*)(|(mail=john*)(|(cn=john*)(|(sn=john*)(givenName=john*)))))", {"John Smith"}},
    {"Kde",
     "(&(|(objectclass=person)(objectclass=groupOfNames)(mail=*))(|(cn=john*)(mail=john*)(givenName=john*)(sn=john*)))",
     {"John Smith"}},
    {"Apple", "(|(givenname=john)(sn=john)(cn=john)(mail=john))", {"John Smith"}},
    {"MuttLbdb", "(|(givenname=ann)(sn=ann)(cn=ann))", {"Ann Lee"}},
    {"Roundcube", "(&(objectClass=inetOrgPerson)(|(cn=*john*)(givenName=*john*)(sn=*john*)(mail=*john*)))",
     {"John Smith"}},
    {"ClawsTwoWords", "(&(|(&(givenName=john*)(sn=smith*))(&(givenName=smith*)(sn=john*)))(mail=*))", {"John Smith"}},
    {"ThunderbirdAutocomplete", "(|(cn=*lee*)(mail=*lee*)(givenName=*lee*)(sn=*lee*))", {"Ann Lee"}},
};

class StandardFilterTable : public testing::TestWithParam<TFilterCase> {
protected:
    static void SetUpTestSuite() { List = MakeList(kStore).release(); }
    static void TearDownTestSuite()
    {
        delete List;
        List = nullptr;
    }
    static TUserList* List;
};
TUserList* StandardFilterTable::List = nullptr;

TEST_P(StandardFilterTable, SelectsTheseEntries)
{
    TASNList element;
    element.Decode(FilterBER(GetParam().Filter));
    const TSearchFilter filter = DecodeFilter(element.Items(0));
    ASSERT_FALSE(filter.ContainsInvalid);

    std::vector<std::string> plain, compiled;
    const TStandardFilter compiledFilter(filter.Root, *List);
    for (int i = 0; i < List->Count(); ++i) {
        if (MatchStandard(filter.Root, StandardAttributes(*List, i))) plain.push_back(List->Names(i));
        if (compiledFilter.Matches(static_cast<std::uint32_t>(i))) compiled.push_back(List->Names(i));
    }
    EXPECT_EQ(plain, GetParam().Selected) << "entry by entry";
    EXPECT_EQ(compiled, GetParam().Selected) << "over the value columns";

    const TFilterCandidates plan = StandardCandidates(filter.Root, *List);
    if (!plan.All)
        for (const std::string& name : GetParam().Selected) {
            const auto at = std::find_if(kStore.begin(), kStore.end(), [&](const TEntry& e) { return e.Name == name; });
            const auto index = static_cast<std::uint32_t>(at - kStore.begin());
            EXPECT_TRUE(std::binary_search(plan.Entries.begin(), plan.Entries.end(), index))
                << "the plan drops " << name;
        }
}

INSTANTIATE_TEST_SUITE_P(Rows, StandardFilterTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TFilterCase>& info) { return info.param.Name; });

}  // namespace
