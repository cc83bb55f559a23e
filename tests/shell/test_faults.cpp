// What the service does when its environment fails: every fault is told (with
// its cause), the service goes on where it can, and nothing it holds is lost.
#include "ServiceTestSupport.h"

#include "config/LogFile.h"
#include "config/ProfileFile.h"
#include "support/MainFormProbe.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

using namespace servicetest;
using wire::Hex;
using wire::Tlv;
using wire::ToHex;

namespace {

// Window lines (without their time) and raised errors with their causes.
class TFaultRecorder : public IServiceObserver {
public:
    void LogLineAdded(const std::string& line) override
    {
        std::lock_guard lock(FLock);
        FEvents.push_back(TRecordingPresenter::StripTime(line));
    }
    void ErrorRaised(const TServiceError& error) override
    {
        std::lock_guard lock(FLock);
        FErrors.push_back(error);
    }
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(FLock);
        return FEvents;
    }
    // The fixed texts, in order.
    std::vector<std::string> Errors() const
    {
        std::lock_guard lock(FLock);
        std::vector<std::string> texts;
        for (const TServiceError& e : FErrors) texts.push_back(e.Text);
        return texts;
    }
    // The cause given with the last error of that text.
    std::string DetailOf(const std::string& text) const
    {
        std::lock_guard lock(FLock);
        std::string detail = "<not raised>";
        for (const TServiceError& e : FErrors)
            if (e.Text == text) detail = e.Detail;
        return detail;
    }
    int CountEvents(const std::string& prefix) const
    {
        int n = 0;
        for (const std::string& e : Events()) n += e.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    mutable std::mutex FLock;  // guards both lists
    std::vector<std::string> FEvents;
    std::vector<TServiceError> FErrors;
};

// (cn=*<part>*) for message ID 5.
std::string SearchFor(const std::string& part)
{
    const std::string zero(1, '\0');
    const std::string filter = Tlv(0xA4, Tlv(0x04, "cn") + Tlv(0x30, Tlv(0x81, part)));
    return Tlv(0x30, Tlv(0x02, "\x05") + Tlv(0x63, Tlv(0x04, "") + Tlv(0x0A, "\x02") + Tlv(0x0A, zero) +
                                                      Tlv(0x02, zero) + Tlv(0x02, zero) + Tlv(0x01, zero) + filter +
                                                      Tlv(0x30, "")));
}

// The answer to SearchFor("ann") over kOneEntry.
const std::vector<TEntry> kOneEntry{{"Ann Lee", {"cn=Ann L", "mail=ann@"}}};
const std::string kAnnAnswer = Hex("30 2F 02 01 05 64 2A 04 07 41 6E 6E 20 4C 65 65 30 1F 30 0D 04 02 63 6E 31 07 04 05"
                                   "41 6E 6E 20 4C 30 0E 04 04 6D 61 69 6C 31 06 04 04 61 6E 6E 40"
                                   "30 0C 02 01 05 65 07 0A 01 00 04 00 04 00");

const std::string kDoneOnly = Hex("30 0C 02 01 05 65 07 0A 01 00 04 00 04 00");
// The answer when the directory holds the one record of contacts.ldif.
const std::string kLdifAnswer = Hex("30 2D 02 01 05 64 28 04 05 41 6E 6E 20 4C 30 1F 30 0D 04 02 63 6E 31 07 04 05"
                                    "41 6E 6E 20 4C 30 0E 04 04 6D 61 69 6C 31 06 04 04 61 6E 6E 40") + kDoneOnly;

const std::vector<std::string> kLoopback{"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"};

std::vector<std::string> With(std::vector<std::string> lines, const std::vector<std::string>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

class Faults : public testing::Test {
protected:
    void SetUp() override
    {
        PlaceForm(Form, Dir);
        Form.SetAlwaysStart(true);
    }
    void TearDown() override
    {
        try {
            Form.FormDestroy();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        CloseLogFile();
    }
    int Port() const { return Form.Listener().Binding(0).Port; }
    // One client, one search for (cn=*ann*), the whole answer.
    std::string Ask(std::size_t size = kAnnAnswer.size()) const
    {
        wire::TWireClient client(Port());
        client.Send(SearchFor("ann"));
        return client.ReadExactly(size);
    }

    TProgramDir Dir;
    TFaultRecorder Recorder;
    TMainForm Form{&Recorder};
};

// ---- faults met at start ---------------------------------------------------

struct TStartFault {
    std::string Name;
    // Prepares the program folder; returns the settings lines.
    std::function<std::vector<std::string>(const TProgramDir&)> Prepare;
    TInitOutcome Outcome;
    std::vector<std::string> Errors;  // the fixed texts raised, in order
    std::string Cause;                // the cause given with the last of them ("<dir>": the folder)
    int LogFileEvents;                // "Cannot write log file" events in the window
    std::string Answer;               // to (cn=*ann*) when the service runs
};

std::string Expand(std::string text, const TProgramDir& dir)
{
    const std::string folder = "<dir>";
    for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder))
        text.replace(at, folder.size(), dir.Path());
    return text;
}

// A mail library lacking the n-th of the six names, and an external file with
// one record, which is not read: a library that cannot be opened leaves the
// directory empty.
std::function<std::vector<std::string>(const TProgramDir&)> LibraryWithout(int n)
{
    return [n](const TProgramDir& dir) {
        fs::copy_file(std::string(PARTIAL_API_ROOT) + "partialapi_" + std::to_string(n) + "/API.so", dir.File("API.so"));
        dir.Write("contacts.ldif", "cn: Ann L\nmail: ann@\n");
        return With(kLoopback, {"ExtFile=" + dir.File("contacts.ldif")});
    };
}

class StartFaults : public Faults, public testing::WithParamInterface<TStartFault> {};

TEST_P(StartFaults, ToldWithTheirCauseAndTheServiceGoesOnWhereItCan)
{
    const TStartFault& c = GetParam();
    Dir.WriteIni(c.Prepare(Dir));
    EXPECT_EQ(Form.FormCreate(), c.Outcome);
    EXPECT_EQ(Recorder.Errors(), c.Errors);
    if (!c.Cause.empty()) {
        EXPECT_EQ(Recorder.DetailOf(c.Errors.back()), Expand(c.Cause, Dir));
    }
    EXPECT_EQ(Recorder.CountEvents("Cannot write log file"), c.LogFileEvents);
    EXPECT_EQ(Form.Running(), c.Outcome == TInitOutcome::Started);
    // A service that runs answers from what it could load.
    if (Form.Running()) {
        EXPECT_EQ(ToHex(Ask(c.Answer.size())), ToHex(c.Answer));
    }
}

std::vector<TStartFault> StartCases()
{
    std::vector<TStartFault> cases{
        {"ExternalFileUnreadable",
         [](const TProgramDir& dir) {
             dir.InstallFakeApi("");
             fs::create_directory(dir.File("contacts.ldif"));
             return With(kLoopback, {"ExtFile=" + dir.File("contacts.ldif")});
         },
         TInitOutcome::StartFailed,
         {"Cannot start on specified port!"},
         "Is a directory: <dir>contacts.ldif",
         0,
         ""},
        {"LogFileCannotBeOpened",
         [](const TProgramDir& dir) {
             dir.InstallFakeApi("");
             fs::create_directory(dir.File("VESKA.LOG"));
             dir.Write("contacts.ldif", "cn: Ann L\nmail: ann@\n");
             return With(kLoopback, {"ExtFile=" + dir.File("contacts.ldif"), "LogSelected=Yes", "LogService=Yes"});
         },
         TInitOutcome::Started,
         {"Cannot write log file"},
         "<dir>VESKA.LOG: Is a directory",
         1,
         kLdifAnswer},
    };
    const char* names[] = {"Init", "GetDomainCount", "GetDomainName", "GetUserCount", "LoadUser", "GetUserSetting"};
    for (int n = 1; n <= 6; ++n)
        cases.push_back({std::string("MailLibraryWithout") + names[n - 1], LibraryWithout(n), TInitOutcome::Started,
                         {"Cannot open API"}, "", 0, kDoneOnly});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Faults, StartFaults, testing::ValuesIn(StartCases()),
                         [](const testing::TestParamInfo<TStartFault>& info) { return info.param.Name; });

// ---- faults met while running ----------------------------------------------

TEST_F(Faults, LogOnAFullDeviceDuringSearches_ClientsServedAndTheFailureToldOnce)
{
    fs::create_symlink("/dev/full", Dir.File("VESKA.LOG"));
    Dir.WriteIni(With(kLoopback, {"LogSelected=Yes", "LogRequests=Yes", "LogSession=Yes", "LogErrors=Yes"}));
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    SetDirectory(kOneEntry);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(ToHex(Ask()), ToHex(kAnnAnswer)) << "client " << i;
    EXPECT_EQ(Recorder.CountEvents("Cannot write log file " + Dir.File("VESKA.LOG") + ": No space left on device"), 1);
    EXPECT_EQ(Recorder.Errors(), (std::vector<std::string>{"Cannot open API", "Cannot write log file"}));
    EXPECT_EQ(Recorder.DetailOf("Cannot write log file"), Dir.File("VESKA.LOG") + ": No space left on device");
    // The window kept every event.
    EXPECT_EQ(Recorder.CountEvents("Search Request 127.0.0.1"), 20);
}

TEST_F(Faults, LogFileBackAfterAFailure_WritingResumesAndTheGapIsCounted)
{
    fs::create_symlink("/dev/full", Dir.File("VESKA.LOG"));
    Dir.WriteIni(With(kLoopback, {"LogSelected=Yes", "LogRequests=Yes", "LogErrors=Yes"}));
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    SetDirectory(kOneEntry);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ToHex(Ask()), ToHex(kAnnAnswer));
    // The operator frees the log: the next event writes again.
    fs::remove(Dir.File("VESKA.LOG"));
    ASSERT_EQ(ToHex(Ask()), ToHex(kAnnAnswer));
    Form.StopService();
    std::vector<std::string> file;
    for (const std::string& line : CrLfLines(Dir.File("VESKA.LOG")))
        file.push_back(line.size() > 21 ? line.substr(0, line.size() - 21) : line);
    // Lost: the first request (its line was owed to the full device), the
    // report of the failure, and the next two requests.
    EXPECT_EQ(file, (std::vector<std::string>{"Search Request 127.0.0.1",
                                              "Log file written again " + Dir.File("VESKA.LOG") + ", 4 lines not written"}));
}

struct TImportFault {
    const char* Name;
    std::function<std::string(const TProgramDir&)> Path;
    std::string Reason;
};

class ImportFaults : public Faults, public testing::WithParamInterface<TImportFault> {};

TEST_P(ImportFaults, ErrorRaisedWithThePathAndTheDirectoryKept)
{
    Dir.WriteIni(kLoopback);
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    SetDirectory(kOneEntry);
    const std::string path = GetParam().Path(Dir);
    try {
        Form.Import(path);
        ADD_FAILURE() << "no error raised";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().Reason + ": " + path);
    }
    EXPECT_EQ(Directory(), kOneEntry);
    EXPECT_EQ(ToHex(Ask()), ToHex(kAnnAnswer));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ImportFaults,
    testing::Values(TImportFault{"Missing", [](const TProgramDir& d) { return d.File("absent.ldif"); },
                                 "No such file or directory"},
                    TImportFault{"AFolder",
                                 [](const TProgramDir& d) {
                                     fs::create_directory(d.File("folder.ldif"));
                                     return d.File("folder.ldif");
                                 },
                                 "Is a directory"}),
    [](const testing::TestParamInfo<TImportFault>& info) { return info.param.Name; });

TEST_F(Faults, ReadOnlySettingsFile_UnableToWriteAndTheValuesKept)
{
    Dir.WriteIni(kLoopback);
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    SetDirectory(kOneEntry);
    const std::string before = ReadFile(Dir.File("VESKA.INI"));
    ASSERT_EQ(::chmod(Dir.File("VESKA.INI").c_str(), 0444), 0);
    Form.Settings().SetValue("MaxResults", TValue(7));
    try {
        Form.ApplyNewSettings();
        ADD_FAILURE() << "no error raised";
    } catch (const EProfileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Dir.File("VESKA.INI"));
    }
    EXPECT_EQ(Form.Settings().GetValue("MaxResults").AsInteger(), 7);
    EXPECT_EQ(ReadFile(Dir.File("VESKA.INI")), before);
    EXPECT_TRUE(Form.Running());
    EXPECT_EQ(ToHex(Ask()), ToHex(kAnnAnswer));
}

// ---- stop with clients in every state ----------------------------------------

struct TClientState {
    const char* Name;
    // Brings a connected client into the state (the directory holds kManyEntries).
    std::function<void(wire::TWireClient&)> Enter;
};

std::vector<TEntry> ManyEntries()
{
    std::vector<TEntry> entries;
    for (int i = 0; i < 3000; ++i)
        entries.push_back({"Ann " + std::to_string(i),
                           {"cn=Ann " + std::to_string(i), "mail=ann" + std::to_string(i) + "@",
                            "description=" + std::string(400, 'x')}});
    return entries;
}

class StopWithClients : public Faults, public testing::WithParamInterface<TClientState> {};

TEST_P(StopWithClients, EveryClientEndedAndLoggedAndTheServiceStartsAgain)
{
    constexpr int kClients = 8;
    Dir.WriteIni(With(kLoopback, {"MaxResults=0"}));
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    SetDirectory(ManyEntries());
    std::vector<std::unique_ptr<wire::TWireClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<wire::TWireClient>(Port()));
        GetParam().Enter(*clients.back());
    }
    // Every client is known to the service before it stops.
    for (int waited = 0; Recorder.CountEvents("Connect...") < kClients && waited < 1000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Recorder.CountEvents("Connect..."), kClients);

    ASSERT_NO_THROW(Form.StopService());
    EXPECT_FALSE(Form.Running());
    EXPECT_EQ(Recorder.CountEvents("Disconnect..."), kClients);
    EXPECT_EQ(Recorder.Events().back(), "Service stopped");
    for (auto& client : clients) EXPECT_TRUE(client->PeerClosed());

    Form.StartService();
    SetDirectory(kOneEntry);
    EXPECT_EQ(ToHex(Ask()), ToHex(kAnnAnswer));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StopWithClients,
    testing::Values(
        TClientState{"Idle", [](wire::TWireClient&) {}},
        TClientState{"HalfAMessageSent", [](wire::TWireClient& c) { c.Send(Hex("30 0C 02 01 01 60")); }},
        TClientState{"AnsweredAndIdle",
                     [](wire::TWireClient& c) {
                         c.Send(wire::BindRequest(Hex("01")));
                         c.ReadExactly(14);
                     }},
        TClientState{"NotReadingALargeAnswer", [](wire::TWireClient& c) { c.Send(SearchFor("ann")); }},
        TClientState{"SentAndShutItsSide",
                     [](wire::TWireClient& c) {
                         c.Send(SearchFor("ann"));
                         ::shutdown(c.Socket(), SHUT_WR);
                     }},
        TClientState{"ManyRequestsQueued",
                     [](wire::TWireClient& c) {
                         std::string burst;
                         for (int i = 0; i < 50; ++i) burst += SearchFor("ann 1");
                         c.Send(burst);
                     }}),
    [](const testing::TestParamInfo<TClientState>& info) { return info.param.Name; });

}  // namespace
