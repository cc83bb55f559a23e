// Each mail program's lookup answered in both modes over the bench people
// (cn, mail, sn, givenName; every 4000th a Smith): CPU per search, the
// answer's size and its entries.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Search.h"
#include "support/FilterText.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void MakeDirectory(int entries)
{
    auto list = std::make_unique<TUserList>();
    for (int i = 0; i < entries; ++i) {
        const std::string sn = i % 4000 == 0 ? "Smith" : "Surname" + std::to_string(i);
        const std::string given = "Given" + std::to_string(i);
        const std::string cn = given + " " + sn;
        list->Add(cn, std::vector<std::string>{"cn=" + cn, "mail=" + given + "." + sn + "@example.com",
                                               "sn=" + sn, "givenName=" + given});
    }
    list->Seal();
    ReplaceUserList(std::move(list));
}

struct TProgram {
    const char* Name;
    const char* Base;
    int Scope;
    const char* Filter;
};

// A typed "smith" (Given8000 for the lookups by a whole value).
const TProgram kPrograms[] = {
    {"outlook", "", 2, "(&(mail=*)(|(mail=smith*)(|(cn=smith*)(|(sn=smith*)(givenName=smith*)))))"},
    {"kde", "", 2,
     "(&(|(objectclass=person)(objectclass=groupOfNames)(mail=*))(|(cn=smith*)(mail=smith*)(givenName=smith*)(sn=smith*)))"},
    {"apple", "", 2, "(|(givenname=smith)(sn=smith)(cn=smith)(mail=smith))"},
    {"mutt_lbdb", "", 2, "(|(givenname=smith)(sn=smith)(cn=smith))"},
    {"roundcube", "", 2, "(&(objectClass=inetOrgPerson)(|(cn=*smith*)(givenName=*smith*)(sn=*smith*)(mail=*smith*)))"},
    {"claws", "", 2, "(&(|(&(givenName=given8000*)(sn=smith*))(&(givenName=smith*)(sn=given8000*)))(mail=*))"},
    {"thunderbird", "", 2, "(|(cn=*smith*)(mail=*smith*)(givenName=*smith*)(sn=*smith*))"},
    {"mail_equality", "", 2, "(mail=Given8000.Smith@example.com)"},
    {"list_all", "", 2, "(objectclass=*)"},
    {"root_dse", "", 0, "(objectclass=*)"},
    {"read_by_dn", "mail=Given8000.Smith@example.com", 0, "(objectclass=*)"},
};

void BM_MailProgram(benchmark::State& state)
{
    const TProgram& program = kPrograms[state.range(0)];
    const bool standard = state.range(1) != 0;
    MakeDirectory(static_cast<int>(state.range(2)));
    TVESKAOptions options;
    options.SetValue("StandardSearch", TValue(standard));
    TASNList tree;
    tree.Decode(SearchRequestBER("\x02", program.Base, program.Scope, 0, false, program.Filter));
    const TLdapRequest request = DecodeRequest(tree);
    std::string out;
    for (auto _ : state) {
        out.clear();
        SearchAnswerInto(out, request, options);
    }
    state.SetLabel(std::string(program.Name) + (standard ? " standard" : " default"));
    state.counters["answer_bytes"] = static_cast<double>(out.size());
    FreeUserList();
}
BENCHMARK(BM_MailProgram)
    ->ArgsProduct({benchmark::CreateDenseRange(0, static_cast<int>(std::size(kPrograms)) - 1, 1), {0, 1},
                   {100000, 1000000}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
