// The service lifecycle: start-up, start, stop, restart, their partial
// failures, the log file and the statistics they leave behind.
#include "ServiceTestSupport.h"

#include "config/LogFile.h"
#include "support/Wire.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

using namespace servicetest;

namespace {

const std::vector<std::string> kLoopback{"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"};

std::vector<std::string> With(std::vector<std::string> lines, const std::vector<std::string>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

int Count(const std::vector<std::string>& list, const std::string& item)
{
    return static_cast<int>(std::count(list.begin(), list.end(), item));
}

// Lines of VESKA.LOG without their time (" mm/dd/yy hh:mm:ss AM", 21 characters).
std::vector<std::string> LogFileMessages(const std::string& path)
{
    std::vector<std::string> lines;
    for (const std::string& line : CrLfLines(path))
        lines.push_back(line.size() >= 21 ? line.substr(0, line.size() - 21) : "<short: " + line + ">");
    return lines;
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { PlaceForm(Form, Dir); }
    void TearDown() override
    {
        try {
            Form.FormDestroy();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        CloseLogFile();
    }
    TProgramDir Dir;
    TRecordingPresenter Presenter;
    TMainForm Form{&Presenter};
};

// ---- start-up --------------------------------------------------------------

struct TStartOptCase {
    const char* Label;
    std::vector<std::string> Ini;
    bool AlwaysStart;
    TInitOutcome Outcome;
};

class StartUp : public Lifecycle, public ::testing::WithParamInterface<TStartOptCase> {};

TEST_P(StartUp, StartOptDecides)
{
    const TStartOptCase& c = GetParam();
    Dir.WriteIni(c.Ini);
    Form.SetAlwaysStart(c.AlwaysStart);
    EXPECT_EQ(Form.FormCreate(), c.Outcome);
    const bool started = c.Outcome == TInitOutcome::Started;
    EXPECT_EQ(Form.Listener().Active(), started);
    EXPECT_EQ(Presenter.Closes(), 0);
    const std::vector<std::string> events = Presenter.Events();
    EXPECT_EQ(Count(events, "Service started"), started ? 1 : 0);
    EXPECT_EQ(Panels(Form).Status, started ? "Started" : "");
    // Without a library in the folder every start says so.
    EXPECT_EQ(Presenter.Messages(), started ? std::vector<std::string>{"Cannot open API"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Service, StartUp,
    ::testing::Values(TStartOptCase{"Opt0", With(kLoopback, {"StartOpt=0"}), false, TInitOutcome::Started},
                      TStartOptCase{"Opt1", With(kLoopback, {"StartOpt=1"}), false, TInitOutcome::Started},
                      TStartOptCase{"Opt2", With(kLoopback, {"StartOpt=2"}), false, TInitOutcome::Stopped},
                      TStartOptCase{"DefaultIsManual", kLoopback, false, TInitOutcome::Stopped},
                      TStartOptCase{"ForcedOverOpt2", With(kLoopback, {"StartOpt=2"}), true, TInitOutcome::Started},
                      TStartOptCase{"ForcedDefaults", kLoopback, true, TInitOutcome::Started}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(Lifecycle, NoSettingsFileLeavesDefaultsAndStaysStopped)
{
    EXPECT_EQ(Form.FormCreate(), TInitOutcome::Stopped);
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_EQ(Form.Listener().DefaultPort(), 389);
    EXPECT_TRUE(Presenter.Messages().empty());
    EXPECT_EQ(Panels(Form), TStatisticsTexts{}) << "nothing shown before the first start";
}

TEST_F(Lifecycle, StartUpMarksTheDirectoryAbsent)
{
    auto list = std::make_unique<TUserList>();
    list->Add("left", nullptr);
    ReplaceUserList(std::move(list));
    Form.FormCreate();
    EXPECT_TRUE(DirectoryAbsent());
}

TEST_F(Lifecycle, SettingsThatFailToLoadAreShownAndNothingElseHappens)
{
    Dir.WriteIni({"StartOpt=0", "DefaultPort=12x"});
    EXPECT_EQ(Form.FormCreate(), TInitOutcome::SettingsError);
    const std::vector<std::string> messages = Presenter.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("12x"), std::string::npos) << messages[0];
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_EQ(Form.Listener().DefaultPort(), 389) << "the port step is skipped";
    EXPECT_EQ(Presenter.Closes(), 0);
}

TEST_F(Lifecycle, PortIsTakenFromTheSettings)
{
    Dir.WriteIni({"DefaultPort=10389"});
    Form.FormCreate();
    EXPECT_EQ(Form.Listener().DefaultPort(), 10389);
}

TEST_F(Lifecycle, BusyPortAtAutomaticStartEndsTheProgram)
{
    TBusyPort busy;
    Dir.WriteIni({"StartOpt=0", "DefaultPort=" + std::to_string(busy.Port()), "BindSelected=Yes",
                  "IntSelected=127.0.0.1"});
    EXPECT_EQ(Form.FormCreate(), TInitOutcome::StartFailed);
    EXPECT_EQ(Presenter.Messages(), (std::vector<std::string>{"Cannot open API", "Cannot start on specified port!"}));
    EXPECT_EQ(Presenter.Closes(), 1);
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_EQ(Count(Presenter.Events(), "Service started"), 0);
}

TEST_F(Lifecycle, UnreadableExternalFileAtAutomaticStartGivesThePortMessage)
{
    Dir.InstallFakeApi("");
    Dir.WriteIni(With(kLoopback, {"StartOpt=1", "ExtFile=" + Dir.File("absent.ldif")}));
    EXPECT_EQ(Form.FormCreate(), TInitOutcome::StartFailed);
    EXPECT_EQ(Presenter.Messages().back(), "Cannot start on specified port!");
    EXPECT_EQ(Presenter.Closes(), 1);
}

// ---- caption -----------------------------------------------------------------

struct TCaptionCase {
    const char* Path;
    const char* Caption;
};

class Caption : public ::testing::TestWithParam<TCaptionCase> {};

TEST_P(Caption, UpperCasedBaseNameWithoutExtension)
{
    TRecordingPresenter presenter;
    TMainForm form(&presenter);
    form.SetExecutablePath(GetParam().Path);
    form.FormCreate();
    EXPECT_EQ(presenter.Captions(), std::vector<std::string>{GetParam().Caption});
    EXPECT_EQ(form.ProgramDir(), "/x/");
    form.FormDestroy();
}

INSTANTIATE_TEST_SUITE_P(Names, Caption,
                         ::testing::Values(TCaptionCase{"/x/veska", "VESKA 1.1"},
                                           TCaptionCase{"/x/ldap-test.exe", "LDAP-TEST 1.1"},
                                           TCaptionCase{"/x/veska.exe", "VESKA 1.1"},
                                           TCaptionCase{"/x/My.Server.bin", "MY.SERVER 1.1"},
                                           TCaptionCase{"/x/\xe9t\xe9", "\xe9T\xe9 1.1"}),
                         [](const auto& info) {
                             const std::string_view path = info.param.Path;
                             return testnames::Readable(path.substr(path.rfind('/') + 1));
                         });

TEST(ProgramFolder, DefaultsToTheRunningExecutable)
{
    TMainForm form;
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(form.ExecutablePath(), exe);
    EXPECT_EQ(form.ProgramDir(), fs::path(exe).parent_path().string() + "/");
    EXPECT_EQ(form.CaptionText(), "TEST_LIFECYCLE 1.1");
}

TEST(ProgramFolder, OverrideKeepsTheCaptionAndGainsASlash)
{
    TMainForm form;
    form.SetExecutablePath("/opt/veska/veskad");
    form.SetProgramDir("/srv/ldap");
    EXPECT_EQ(form.ProgramDir(), "/srv/ldap/");
    EXPECT_EQ(form.CaptionText(), "VESKAD 1.1");
}

// ---- start and stop ------------------------------------------------------------

TEST_F(Lifecycle, StatisticsAfterAStartOnAllInterfaces)
{
    Dir.WriteIni({"DefaultPort=0"});
    Form.FormCreate();
    TMainFormProbe::RequestCount(Form) = 5;
    Form.StartService();
    const TStatisticsTexts stats = Panels(Form);
    EXPECT_EQ(stats.StatBinding, "All");
    EXPECT_EQ(stats.StatPort, "0");
    EXPECT_EQ(stats.StatRequests, "0");
    EXPECT_EQ(stats.StatDomains, "0") << "the library could not be opened";
    EXPECT_EQ(stats.StatUsers, "0");
    EXPECT_EQ(stats.Status, "Started");
    EXPECT_TRUE(std::regex_match(stats.StatStart,
                                 std::regex(R"((0[1-9]|1[0-2])/\d\d/\d{4} (0[1-9]|1[0-2]):\d\d:\d\d (AM|PM))")))
        << stats.StatStart;
}

TEST_F(Lifecycle, StatisticsShowTheLastSelectedAddress)
{
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1,127.0.0.2"});
    Form.FormCreate();
    Form.StartService();
    EXPECT_EQ(Panels(Form).StatBinding, "127.0.0.2");
    EXPECT_EQ(Form.Listener().BindingCount(), 2);
}

TEST_F(Lifecycle, BindSelectedWithAnEmptyListListensEverywhere)
{
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected="});
    Form.FormCreate();
    Form.StartService();
    EXPECT_EQ(Panels(Form).StatBinding, "All");
}

TEST_F(Lifecycle, StartWhileRunningAndStopWhileStoppedDoNothing)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    Form.StopService();
    EXPECT_TRUE(Presenter.Events().empty());
    EXPECT_EQ(Panels(Form).Status, "");

    Form.StartService();
    const std::vector<std::string> afterStart = Presenter.Events();
    const TStatisticsTexts stats = Panels(Form);
    const int port = Form.Listener().Binding(0).Port;
    TMainFormProbe::RequestCount(Form) = 3;
    Form.StartService();
    EXPECT_EQ(Presenter.Events(), afterStart);
    EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), 3) << "no reset";
    EXPECT_EQ(Panels(Form), stats);
    EXPECT_EQ(Form.Listener().Binding(0).Port, port) << "no rebind";
    EXPECT_EQ(Presenter.Messages().size(), 1u) << "no reload";

    Form.StopService();
    const std::vector<std::string> afterStop = Presenter.Events();
    Form.StopService();
    EXPECT_EQ(Presenter.Events(), afterStop);
    EXPECT_EQ(Count(afterStop, "Service stopped"), 1);
}

TEST_F(Lifecycle, StopKeepsThePanelsAndSaysStopped)
{
    Dir.InstallFakeApi("domain\td\nuser\t1\t0\t0\tA\ta;b\n");
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    Form.StartService();
    TMainFormProbe::RequestCount(Form) = 4;
    TMainFormProbe::UpdateStatistics(Form);
    TStatisticsTexts expected = Panels(Form);
    Form.StopService();
    expected.Status = "Stopped";
    EXPECT_EQ(Panels(Form), expected);
    EXPECT_EQ(expected.StatUsers, "2");
}

TEST_F(Lifecycle, BusyPortOnALaterStartLeavesEverythingButTheDirectory)
{
    Dir.InstallFakeApi("domain\tfirst\nuser\t1\t0\t0\tA\ta\n");
    Dir.WriteIni(With(kLoopback, {"LogSelected=Yes", "LogService=Yes"}));
    Form.FormCreate();
    Form.StartService();
    TMainFormProbe::RequestCount(Form) = 7;
    Form.StopService();
    const TStatisticsTexts before = Panels(Form);
    const std::string logBefore = ReadFile(Dir.File("VESKA.LOG"));
    const std::size_t eventsBefore = Presenter.Events().size();

    TBusyPort busy;
    Form.Listener().SetDefaultPort(busy.Port());
    Dir.InstallFakeApi("domain\tsecond\nuser\t1\t0\t0\tB\tb\n");
    EXPECT_THROW(Form.StartService(), ESocketError);

    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_EQ(Directory(), (std::vector<TEntry>{{"B", {"cn=B", "mail=b@second"}}})) << "rebuilt all the same";
    const std::vector<std::string> events = Presenter.Events();
    EXPECT_EQ(std::vector<std::string>(events.begin() + static_cast<long>(eventsBefore), events.end()),
              std::vector<std::string>{"Loading domain second"});
    const TStatisticsTexts after = Panels(Form);
    EXPECT_EQ(after.Status, "Stopped");
    EXPECT_EQ(after.StatStart, before.StatStart);
    EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), 7);
    EXPECT_EQ(after.StatRequests, "7") << "the directory build refreshed the panels with the old count";
    EXPECT_EQ(after.StatUsers, "1");
    EXPECT_FALSE(LogFileOpen());
    EXPECT_EQ(ReadFile(Dir.File("VESKA.LOG")), logBefore);
}

TEST_F(Lifecycle, UnreadableExternalFileFailsTheStartBeforeActivation)
{
    Dir.InstallFakeApi("domain\td\nuser\t1\t0\t0\tA\ta\n");
    Dir.WriteIni(With(kLoopback, {"ExtFile=" + Dir.File("absent.ldif"), "LogSelected=Yes", "LogService=Yes"}));
    Form.FormCreate();
    EXPECT_ANY_THROW(Form.StartService());
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_EQ(Form.Listener().BindingCount(), 0) << "the bindings step was not reached";
    EXPECT_EQ(Panels(Form).Status, "");
    EXPECT_EQ(Panels(Form).StatUsers, "") << "no statistics refresh";
    EXPECT_EQ(TMainFormProbe::DomainCount(Form).load(), 1);
    EXPECT_EQ(Directory().size(), 1u) << "the entries built before the failure stay";
    EXPECT_EQ(Count(Presenter.Events(), "Service started"), 0);
    EXPECT_FALSE(fs::exists(Dir.File("VESKA.LOG")));
}

TEST_F(Lifecycle, LogFileOpenedAtStartAndClosedAtStop)
{
    Dir.WriteIni(With(kLoopback, {"LogSelected=Yes", "LogService=Yes"}));
    Form.FormCreate();
    Form.StartService();
    EXPECT_TRUE(LogFileOpen());
    EXPECT_EQ(LogFileMessages(Dir.File("VESKA.LOG")), std::vector<std::string>{"Service started"});
    Form.StopService();
    EXPECT_FALSE(LogFileOpen());
    // Nothing reaches the file between a stop and the next start.
    Form.LogEvent(TEventKind::ServiceStart, "between");
    Form.StartService();
    Form.StopService();
    EXPECT_EQ(LogFileMessages(Dir.File("VESKA.LOG")),
              (std::vector<std::string>{"Service started", "Service stopped", "Service started", "Service stopped"}));
}

TEST_F(Lifecycle, WithoutLogSelectedNoFileIsMade)
{
    Dir.WriteIni(With(kLoopback, {"LogSelected=No", "LogService=Yes"}));
    Form.FormCreate();
    Form.StartService();
    Form.StopService();
    EXPECT_FALSE(fs::exists(Dir.File("VESKA.LOG")));
}

TEST_F(Lifecycle, LogFileThatCannotBeOpenedLeavesTheServiceRunningAndAnnounced)
{
    fs::create_directory(Dir.File("VESKA.LOG"));
    Dir.WriteIni(With(kLoopback, {"LogSelected=Yes", "LogService=Yes"}));
    Form.FormCreate();
    EXPECT_NO_THROW(Form.StartService());
    EXPECT_TRUE(Form.Listener().Active());
    EXPECT_EQ(Panels(Form).Status, "Started");
    EXPECT_EQ(Panels(Form).StatRequests, "0");
    // The file stays in use: each later event tries it again.
    EXPECT_TRUE(LogFileOpen());
    EXPECT_EQ(Count(Presenter.Events(), "Service started"), 1);
}

TEST_F(Lifecycle, LogFileThatCannotBeOpenedAtAutomaticStartStillStarts)
{
    fs::create_directory(Dir.File("VESKA.LOG"));
    Dir.WriteIni(With(kLoopback, {"StartOpt=0", "LogSelected=Yes"}));
    EXPECT_EQ(Form.FormCreate(), TInitOutcome::Started);
    EXPECT_EQ(Count(Presenter.Messages(), "Cannot start on specified port!"), 0);
    EXPECT_EQ(Presenter.Closes(), 0);
    EXPECT_TRUE(Form.Listener().Active());
}

TEST_F(Lifecycle, RestartRereadsBindingsAndLoggingButNotThePort)
{
    Dir.WriteIni({"DefaultPort=0", "BindSelected=No"});
    Form.FormCreate();
    Form.StartService();
    EXPECT_EQ(Panels(Form).StatBinding, "All");
    EXPECT_FALSE(LogFileOpen());

    Form.Settings().SetValue("BindSelected", TValue(true));
    Form.Settings().SetValue("IntSelected", TValue(std::string("127.0.0.1")));
    Form.Settings().SetValue("LogSelected", TValue(true));
    Form.Settings().SetValue("LogService", TValue(true));
    Form.Settings().SetValue("DefaultPort", TValue(1));
    TMainFormProbe::RequestCount(Form) = 9;
    Form.RestartService();

    EXPECT_TRUE(Form.Listener().Active());
    EXPECT_EQ(Panels(Form).StatBinding, "127.0.0.1");
    EXPECT_EQ(Form.Listener().DefaultPort(), 0);
    EXPECT_EQ(Panels(Form).StatPort, "0");
    EXPECT_EQ(TMainFormProbe::RequestCount(Form).load(), 0);
    EXPECT_TRUE(LogFileOpen());
    EXPECT_EQ(LogFileMessages(Dir.File("VESKA.LOG")), std::vector<std::string>{"Service started"});

    // Logging turned off: the next restart closes the file; the switch is
    // read afresh, so the stop itself is no longer written.
    Form.Settings().SetValue("LogSelected", TValue(false));
    Form.RestartService();
    EXPECT_FALSE(LogFileOpen());
    EXPECT_EQ(LogFileMessages(Dir.File("VESKA.LOG")), std::vector<std::string>{"Service started"});
}

TEST_F(Lifecycle, RestartWhileStoppedDoesNothing)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    Form.RestartService();
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_TRUE(Presenter.Events().empty());
}

TEST_F(Lifecycle, StopWithAClientConnectedLogsItsDisconnect)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    Form.StartService();
    wire::TWireClient client(Form.Listener().Binding(0).Port);
    ASSERT_TRUE(Presenter.WaitForEvent("Connect...127.0.0.1"));
    Form.StopService();
    const std::vector<std::string> events = Presenter.Events();
    const auto disconnect = std::find(events.begin(), events.end(), "Disconnect...");
    const auto stopped = std::find(events.begin(), events.end(), "Service stopped");
    ASSERT_NE(disconnect, events.end());
    ASSERT_NE(stopped, events.end());
    EXPECT_LT(disconnect, stopped) << "the connection ends before the stop is logged";
    EXPECT_TRUE(client.PeerClosed());
}

TEST_F(Lifecycle, StopThatTimesOutKeepsTheServiceRunning)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    // A handler that ignores the disconnect until the test lets it go.
    std::mutex lock;
    std::condition_variable released;
    bool release = false;
    std::atomic<bool> entered{false};
    Form.Listener().OnExecute = [&](TConnection&) {
        entered = true;
        std::unique_lock hold(lock);
        released.wait(hold, [&] { return release; });
    };
    Form.StartService();
    wire::TWireClient client(Form.Listener().Binding(0).Port);
    // Execute runs once a whole message is pending.
    client.Send(wire::BindRequest(wire::Hex("01")));
    for (int i = 0; i < 1000 && !entered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(entered);

    EXPECT_THROW(Form.StopService(), ESocketError);
    EXPECT_TRUE(Form.Listener().Active());
    EXPECT_EQ(Count(Presenter.Events(), "Service stopped"), 0);
    EXPECT_EQ(Panels(Form).Status, "Started");

    {
        std::lock_guard hold(lock);
        release = true;
    }
    released.notify_all();
    Form.StopService();
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_EQ(Count(Presenter.Events(), "Service stopped"), 1);
}

TEST_F(Lifecycle, FormDestroyStopsAndFreesTheDirectory)
{
    Dir.InstallFakeApi("domain\td\nuser\t1\t0\t0\tA\ta\n");
    Dir.WriteIni(With(kLoopback, {"StartOpt=0"}));
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    EXPECT_FALSE(DirectoryAbsent());
    Form.FormDestroy();
    EXPECT_FALSE(Form.Listener().Active());
    EXPECT_TRUE(DirectoryAbsent());
    EXPECT_EQ(Presenter.Events().back(), "Service stopped");
}

TEST_F(Lifecycle, ServesLdapOnceStarted)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    Form.StartService();
    wire::TWireClient client(Form.Listener().Binding(0).Port);
    client.Send(wire::BindRequest(wire::Hex("01")));
    const std::string expected = wire::BindResponse(wire::Hex("01"));
    EXPECT_EQ(wire::ToHex(client.ReadExactly(expected.size())), wire::ToHex(expected));
}

}  // namespace
