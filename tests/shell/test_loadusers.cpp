// The directory build from the mail library (the fake one of the build) and
// the external LDIF file.
#include "ServiceTestSupport.h"

#include "config/LogFile.h"
#include "directory/LoadUsers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace servicetest;

namespace {

// What LoadUsers reported, in order.
class TRecordingHost : public ILoadUsersHost {
public:
    void LogEvent(TEventKind kind, const std::string& message) override
    {
        Calls.push_back("log " + std::to_string(EventLevel(kind)) + " " + message);
    }
    void MessageBox(const std::string& text, const std::string& detail) override
    {
        Calls.push_back("box " + text);
        Details.push_back(detail);
    }
    void SetDomainCount(int32_t count) override
    {
        Domains = count;
        Calls.push_back("domains " + std::to_string(count));
    }
    void SetUserCount(int32_t count) override
    {
        Users = count;
        Calls.push_back("users " + std::to_string(count));
    }
    void UpdateStatistics() override { Calls.push_back("update"); }

    std::vector<std::string> Calls;
    std::vector<std::string> Details;  // the causes that came with the boxes
    int32_t Domains = -1;
    int32_t Users = -1;
};

std::string User(const std::string& name, const std::string& mailboxes, const std::string& state = "0",
                 const std::string& hidden = "0", const std::string& load = "1")
{
    return "user\t" + load + "\t" + state + "\t" + hidden + "\t" + name + "\t" + mailboxes + "\n";
}

class LoadUsersTest : public ::testing::Test {
protected:
    void TearDown() override { FreeUserList(); }
    TProgramDir Dir;
    TRecordingHost Host;
};

// ---- mailboxes of one user -------------------------------------------------

struct TMailboxCase {
    const char* Label;
    const char* Name;
    const char* Mailboxes;
    std::vector<TEntry> Expected;
};

class MailboxTable : public LoadUsersTest, public ::testing::WithParamInterface<TMailboxCase> {};

TEST_P(MailboxTable, EntriesOfOneUser)
{
    const TMailboxCase& c = GetParam();
    Dir.InstallFakeApi("domain\tdom\n" + User(c.Name, c.Mailboxes));
    LoadUsers(Host, Dir.Path(), "");
    EXPECT_EQ(Directory(), c.Expected);
    EXPECT_EQ(Host.Users, static_cast<int32_t>(c.Expected.size()));
    EXPECT_EQ(Host.Domains, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Mailboxes, MailboxTable,
    ::testing::Values(
        TMailboxCase{"TwoMailboxesNameCut", "Front Desk;Reception", "desk;info",
                     {{"Front Desk", {"cn=Front Desk", "mail=desk@dom"}},
                      {"Front Desk", {"cn=Front Desk", "mail=info@dom"}}}},
        TMailboxCase{"TrailingSeparator", "Ann", "desk;", {{"Ann", {"cn=Ann", "mail=desk@dom"}}}},
        TMailboxCase{"LeadingSeparator", "Ann", ";x",
                     {{"Ann", {"cn=Ann", "mail=@dom"}}, {"Ann", {"cn=Ann", "mail=x@dom"}}}},
        TMailboxCase{"DoubleSeparator", "Ann", "a;;b",
                     {{"Ann", {"cn=Ann", "mail=a@dom"}},
                      {"Ann", {"cn=Ann", "mail=@dom"}},
                      {"Ann", {"cn=Ann", "mail=b@dom"}}}},
        TMailboxCase{"EmptyList", "Ann", "", {}},
        TMailboxCase{"NameWithoutSeparator", "Bob Stone", "bob", {{"Bob Stone", {"cn=Bob Stone", "mail=bob@dom"}}}},
        TMailboxCase{"EmptyName", ";only comment", "z", {{"", {"cn=", "mail=z@dom"}}}},
        TMailboxCase{"ThreeMailboxes", "Cy", "a;b;c",
                     {{"Cy", {"cn=Cy", "mail=a@dom"}}, {"Cy", {"cn=Cy", "mail=b@dom"}}, {"Cy", {"cn=Cy", "mail=c@dom"}}}}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- which users are published ------------------------------------------------

struct TPublishCase {
    const char* Label;
    const char* Load;
    const char* State;
    const char* Hidden;
    bool Published;
};

class PublishTable : public LoadUsersTest, public ::testing::WithParamInterface<TPublishCase> {};

TEST_P(PublishTable, StateHiddenAndLoadResult)
{
    const TPublishCase& c = GetParam();
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "ann", c.State, c.Hidden, c.Load));
    LoadUsers(Host, Dir.Path(), "");
    const std::vector<TEntry> expected =
        c.Published ? std::vector<TEntry>{{"Ann", {"cn=Ann", "mail=ann@dom"}}} : std::vector<TEntry>{};
    EXPECT_EQ(Directory(), expected);
    EXPECT_EQ(Host.Users, c.Published ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Users, PublishTable,
    ::testing::Values(TPublishCase{"State0", "1", "0", "0", true}, TPublishCase{"State1", "1", "1", "0", true},
                      TPublishCase{"State2", "1", "2", "0", false},
                      TPublishCase{"StateAllOnes", "1", "0xFFFFFFFF", "0", false},
                      TPublishCase{"StateNegative", "1", "-5", "0", false},
                      TPublishCase{"StateLarge", "1", "0x7FFFFFFF", "0", false},
                      TPublishCase{"Hidden1", "1", "0", "1", false}, TPublishCase{"Hidden255", "1", "0", "255", false},
                      TPublishCase{"LoadZero", "0", "0", "0", false}, TPublishCase{"LoadNegative", "-1", "0", "0", false},
                      TPublishCase{"LoadLarge", "7", "1", "0", true}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- order, counters, events ---------------------------------------------------------

TEST_F(LoadUsersTest, DomainByDomainUserByUserAndTheCallOrder)
{
    Dir.InstallFakeApi("domain\tone.org\n" + User("A", "a1;a2") + User("Skip", "s", "2") + User("B", "b") +
                       "domain\ttwo.org\n" + User("C", "c"));
    LoadUsers(Host, Dir.Path(), "");
    const std::vector<TEntry> expected{{"A", {"cn=A", "mail=a1@one.org"}},
                                       {"A", {"cn=A", "mail=a2@one.org"}},
                                       {"B", {"cn=B", "mail=b@one.org"}},
                                       {"C", {"cn=C", "mail=c@two.org"}}};
    EXPECT_EQ(Directory(), expected);
    const std::vector<std::string> calls{"domains 0", "users 0", "domains 1", "log 0 Loading domain one.org",
                                         "domains 2", "log 0 Loading domain two.org", "users 4", "update"};
    EXPECT_EQ(Host.Calls, calls);
}

TEST_F(LoadUsersTest, NoDomainsStillReadsTheExternalFile)
{
    Dir.InstallFakeApi("");
    Dir.Write("ext.ldif", "dn: cn=X\ncn: X\nmail: x@ext\n\n");
    LoadUsers(Host, Dir.Path(), Dir.File("ext.ldif"));
    ASSERT_EQ(Directory().size(), 1u);
    EXPECT_EQ(Directory()[0].Name, "X");
    EXPECT_EQ(Host.Domains, 0);
    EXPECT_EQ(Host.Users, 1);
    for (const std::string& call : Host.Calls) EXPECT_EQ(call.find("Loading domain"), std::string::npos) << call;
}

TEST_F(LoadUsersTest, UsersCountsEntriesNotUsersAndMergedRecordsAddNothing)
{
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "a;b;c"));
    // The first record merges into the entry of a@dom; the second is new.
    Dir.Write("ext.ldif", "dn: cn=Ann\nmail: a@dom\ntitle: Boss\n\ndn: cn=Zed\ncn: Zed\nmail: zed@else\n\n");
    LoadUsers(Host, Dir.Path(), Dir.File("ext.ldif"));
    EXPECT_EQ(Host.Users, 4);
    const std::vector<TEntry> dir = Directory();
    ASSERT_EQ(dir.size(), 4u);
    EXPECT_EQ(dir[3].Name, "Zed");
    EXPECT_GT(dir[0].Lines.size(), 2u) << "merged lines belong to the mail-server entry";
}

TEST_F(LoadUsersTest, ExternalFileIsRelativeToTheCurrentDirectory)
{
    Dir.InstallFakeApi("");
    Dir.Write("rel.ldif", "dn: cn=R\nmail: r@x\n\n");
    const fs::path before = fs::current_path();
    fs::current_path(Dir.Path());
    EXPECT_NO_THROW(LoadUsers(Host, Dir.Path(), "rel.ldif"));
    fs::current_path(before);
    EXPECT_EQ(Host.Users, 1);
}

TEST_F(LoadUsersTest, UnreadableExternalFileKeepsWhatWasBuiltAndRaises)
{
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "ann"));
    EXPECT_ANY_THROW(LoadUsers(Host, Dir.Path(), Dir.File("absent.ldif")));
    EXPECT_EQ(Directory(), (std::vector<TEntry>{{"Ann", {"cn=Ann", "mail=ann@dom"}}}));
    EXPECT_EQ(Host.Domains, 1);
    EXPECT_EQ(Host.Users, 0) << "the user count is not taken after a failure";
    EXPECT_EQ(std::count(Host.Calls.begin(), Host.Calls.end(), "update"), 0);
}

TEST_F(LoadUsersTest, ExternalFileThatIsAFolderRaises)
{
    Dir.InstallFakeApi("");
    fs::create_directory(Dir.File("folder.ldif"));
    EXPECT_ANY_THROW(LoadUsers(Host, Dir.Path(), Dir.File("folder.ldif")));
    EXPECT_FALSE(DirectoryAbsent()) << "a failed build still leaves a directory";
    EXPECT_TRUE(Directory().empty());
}

struct TApiFailure {
    const char* Label;
    bool Library;      // install the full fake (else nothing, or the one lacking a name)
    bool MissingName;  // the fake without GetUserSetting
    const char* FakeApiTxt;
};

class ApiFailureTable : public LoadUsersTest, public ::testing::WithParamInterface<TApiFailure> {};

TEST_P(ApiFailureTable, CannotOpenApi)
{
    const TApiFailure& c = GetParam();
    if (c.Library) Dir.InstallFakeApi(c.FakeApiTxt);
    if (c.MissingName) {
        fs::copy_file(std::string(FAKE_API_MISSING_DIR) + "API.so", Dir.File("API.so"));
        Dir.Write("fakeapi.txt", c.FakeApiTxt);
    }
    Dir.Write("ext.ldif", "dn: cn=X\nmail: x@ext\n\n");
    // A directory left from before is discarded all the same.
    {
        auto old = std::make_unique<TUserList>();
        old->Add("old", std::make_unique<TUserInfo>(std::vector<std::string>{"mail=old@x"}));
        ReplaceUserList(std::move(old));
    }
    LoadUsers(Host, Dir.Path(), Dir.File("ext.ldif"));
    EXPECT_FALSE(DirectoryAbsent());
    EXPECT_TRUE(Directory().empty()) << "the external file is not read";
    EXPECT_EQ(Host.Calls, (std::vector<std::string>{"domains 0", "users 0", "box Cannot open API"}));
}

INSTANTIATE_TEST_SUITE_P(
    Library, ApiFailureTable,
    ::testing::Values(TApiFailure{"Missing", false, false, ""},
                      TApiFailure{"InitFails", true, false, "init\t3\ndomain\tdom\nuser\t1\t0\t0\tA\ta\n"},
                      TApiFailure{"InitNegative", true, false, "init\t-1\n"},
                      TApiFailure{"LacksAName", false, true, "domain\tdom\n"}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(LoadUsersTest, NoFakeApiTxtFailsInit)
{
    fs::copy_file(std::string(FAKE_API_DIR) + "API.so", Dir.File("API.so"));
    LoadUsers(Host, Dir.Path(), "");
    EXPECT_EQ(Host.Calls.back(), "box Cannot open API");
}

TEST_F(LoadUsersTest, OverlongLengthsFromTheLibraryStayInsideTheBuffer)
{
    const std::string longName(3000, 'n');
    Dir.InstallFakeApi("overlong\ndomain\tdom\n" + User(longName, "box"));
    LoadUsers(Host, Dir.Path(), "");
    const std::vector<TEntry> dir = Directory();
    ASSERT_EQ(dir.size(), 1u);
    // The buffer holds 2048 bytes: the name is cut there, never read past it.
    EXPECT_EQ(dir[0].Name, std::string(2048, 'n'));
}

// ---- through the main form -----------------------------------------------------------

class FormLoadUsers : public ::testing::Test {
protected:
    void SetUp() override { PlaceForm(Form, Dir); }
    void TearDown() override
    {
        Form.FormDestroy();
        CloseLogFile();
    }
    TProgramDir Dir;
    TRecordingPresenter Presenter;
    TMainForm Form{&Presenter};
};

TEST_F(FormLoadUsers, LoadingDomainInTheWindowNeverInTheFile)
{
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "ann") + "domain\tother\n");
    Dir.WriteIni({"StartOpt=2", "DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1", "LogSelected=Yes",
                  "LogService=Yes", "LogSession=Yes", "LogRequests=Yes", "LogErrors=Yes"});
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Stopped);
    Form.StartService();
    Form.StopService();
    const std::vector<std::string> events = Presenter.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "Loading domain dom"), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "Loading domain other"), events.end());
    const std::string file = ReadFile(Dir.File("VESKA.LOG"));
    EXPECT_NE(file.find("Service started"), std::string::npos);
    EXPECT_EQ(file.find("Loading domain"), std::string::npos);
    EXPECT_EQ(TMainFormProbe::DomainCount(Form).load(), 2);
    EXPECT_EQ(TMainFormProbe::UserCount(Form).load(), 1);
    EXPECT_EQ(Panels(Form).StatDomains, "2");
    EXPECT_EQ(Panels(Form).StatUsers, "1");
}

TEST_F(FormLoadUsers, SecondStartRebuildsAndDropsImportedEntries)
{
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "ann"));
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    Dir.Write("import.ldif", "dn: cn=Imported\nmail: imp@x\n\n");
    Form.FormCreate();
    Form.StartService();
    Form.Import(Dir.File("import.ldif"));
    ASSERT_EQ(Directory().size(), 2u);
    EXPECT_EQ(TMainFormProbe::UserCount(Form).load(), 1) << "an import leaves the counters alone";
    // The library changed meanwhile: the rebuild sees that too.
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "ann") + User("Bo", "bo"));
    Form.StopService();
    Form.StartService();
    EXPECT_EQ(Directory(), (std::vector<TEntry>{{"Ann", {"cn=Ann", "mail=ann@dom"}}, {"Bo", {"cn=Bo", "mail=bo@dom"}}}));
    EXPECT_EQ(TMainFormProbe::UserCount(Form).load(), 2);
}

TEST_F(FormLoadUsers, ApiFailureLeavesZeroCountersAndAMessage)
{
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    Form.FormCreate();
    TMainFormProbe::DomainCount(Form) = 9;
    TMainFormProbe::UserCount(Form) = 9;
    Form.StartService();
    EXPECT_EQ(Presenter.Messages(), std::vector<std::string>{"Cannot open API"});
    EXPECT_EQ(TMainFormProbe::DomainCount(Form).load(), 0);
    EXPECT_EQ(TMainFormProbe::UserCount(Form).load(), 0);
    EXPECT_TRUE(Form.Listener().Active());
}

TEST_F(FormLoadUsers, ExportWritesTheDirectory)
{
    Dir.InstallFakeApi("domain\tdom\n" + User("Ann", "ann"));
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    Form.FormCreate();
    Form.StartService();
    Form.Export(Dir.File("out.ldif"));
    const std::string text = ReadFile(Dir.File("out.ldif"));
    EXPECT_NE(text.find("ann@dom"), std::string::npos) << text;
}

}  // namespace
