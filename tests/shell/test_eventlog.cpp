// The event log: window list, file switches, file lifetime, failures and
// concurrent events.
#include "config/LogFile.h"
#include "shell/MainForm.h"
#include "support/TestFiles.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::regex kWindowLine(R"((.*) (0[1-9]|1[0-2])/(0[1-9]|[12]\d|3[01]) (0[1-9]|1[0-2]):[0-5]\d (AM|PM))");
const std::regex kFileLine(
    R"((.*) (0[1-9]|1[0-2])/(0[1-9]|[12]\d|3[01])/\d\d (0[1-9]|1[0-2]):[0-5]\d:[0-5]\d (AM|PM))");

// The message part of a line, or "<bad line>" when the format does not match.
std::string MessageOf(const std::string& line, const std::regex& format)
{
    std::smatch m;
    return std::regex_match(line, m, format) ? m[1].str() : "<bad line: " + line + ">";
}

// Records the presenter calls; thread-safe as the contract asks.
class TRecordingPresenter : public IServiceObserver {
public:
    void ErrorRaised(const TServiceError& error) override { Add(FBoxes, error.Text); }
    void CaptionChanged(const std::string& text) override { Add(FCaptions, text); }
    void LogLineAdded(const std::string& line) override { Add(FLines, line); }

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(FLock);
        return FLines;
    }

private:
    void Add(std::vector<std::string>& to, const std::string& s)
    {
        std::lock_guard lock(FLock);
        to.push_back(s);
    }
    mutable std::mutex FLock;  // guards the three lists
    std::vector<std::string> FLines, FBoxes, FCaptions;
};

// The log file is process-wide: every test leaves it closed.
class EventLog : public testing::Test {
protected:
    void TearDown() override
    {
        try {
            CloseLogFile();
        } catch (const EInOutError&) {
        }
    }

    static void Switches(TVESKAOptions& o, bool selected, bool service, bool session, bool requests, bool errors)
    {
        o.SetValue("LogSelected", TValue(selected));
        o.SetValue("LogService", TValue(service));
        o.SetValue("LogSession", TValue(session));
        o.SetValue("LogRequests", TValue(requests));
        o.SetValue("LogErrors", TValue(errors));
    }

    TTempDir FDir;
};

TEST_F(EventLog, HundredAndFirstEventDropsTheOldestLine)
{
    TRecordingPresenter presenter;
    TMainForm form(&presenter);
    EXPECT_EQ(form.Snapshot().Log.ItemIndex, -1);
    for (int i = 0; i <= 100; ++i) {
        form.LogEvent(TEventKind::DirectoryLoading, "event " + std::to_string(i));
        const TWindowLogSnapshot log = form.Snapshot().Log;
        ASSERT_EQ(log.Lines.size(), static_cast<std::size_t>(std::min(i + 1, 100)));
        ASSERT_EQ(log.ItemIndex, static_cast<int>(log.Lines.size()) - 1);
        ASSERT_EQ(MessageOf(log.Lines.back(), kWindowLine), "event " + std::to_string(i));
    }
    const TWindowLogSnapshot log = form.Snapshot().Log;
    EXPECT_EQ(MessageOf(log.Lines.front(), kWindowLine), "event 1");
    EXPECT_EQ(presenter.Lines().size(), 101u);
    EXPECT_EQ(presenter.Lines().back(), log.Lines.back());
}

TEST_F(EventLog, LineFormatsForAFixedTime)
{
    const TLocalTime at{2024, 3, 15, 14, 5, 9, 0};
    EXPECT_EQ(WindowLogLine("Connect...10.0.0.7", at), "Connect...10.0.0.7 03/15 02:05 PM");

    const std::string path = FDir.File("VESKA.LOG");
    OpenLogFile(path);
    TVESKAOptions options;
    Switches(options, true, false, false, true, false);
    options.WriteLog(5, "Search Request 10.0.0.7", at);
    options.WriteLog(5, "Search Request 10.0.0.8", TLocalTime{2009, 1, 2, 0, 7, 1, 0});
    EXPECT_EQ(ReadFile(path),
              "Search Request 10.0.0.7 03/15/24 02:05:09 PM\r\n"
              "Search Request 10.0.0.8 01/02/09 12:07:01 AM\r\n");
}

struct TSwitchCase {
    const char* Name;
    bool Selected, Service, Session, Requests, Errors;
    std::vector<std::string> Expected;  // file messages in order
};

class FileSwitches : public EventLog, public testing::WithParamInterface<TSwitchCase> {};

TEST_P(FileSwitches, FileGetsOnlyTheEnabledEvents)
{
    const TSwitchCase& c = GetParam();
    const std::string path = FDir.File("VESKA.LOG");
    TMainForm form;
    Switches(form.Settings(), c.Selected, c.Service, c.Session, c.Requests, c.Errors);
    OpenLogFile(path);
    // Every event the system raises, in the order of one short session.
    form.LogEvent(TEventKind::DirectoryLoading, "Loading domain example.com");
    form.LogEvent(TEventKind::ServiceStart, "Service started");
    form.LogEvent(TEventKind::SessionBegin, "Connect...10.0.0.7");
    form.LogEvent(TEventKind::Request, "Search Request 10.0.0.7");
    form.LogEvent(TEventKind::SessionEnd, "Disconnect...");
    form.LogEvent(TEventKind::ServiceStop, "Service stopped");
    CloseLogFile();

    std::vector<std::string> messages;
    for (const std::string& line : CrLfLines(path)) messages.push_back(MessageOf(line, kFileLine));
    EXPECT_EQ(messages, c.Expected);
    // The window shows every event whatever the switches.
    EXPECT_EQ(form.Snapshot().Log.Lines.size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(
    EventLog, FileSwitches,
    testing::Values(
        TSwitchCase{"NotSelected", false, true, true, true, true, {}},
        TSwitchCase{"SelectedAlone", true, false, false, false, false, {}},
        TSwitchCase{"RequestsAlone", true, false, false, true, false, {"Search Request 10.0.0.7"}},
        TSwitchCase{"ErrorsAlone", true, false, false, false, true, {}},
        TSwitchCase{"ServiceAlone", true, true, false, false, false, {"Service started", "Service stopped"}},
        TSwitchCase{"SessionAlone", true, false, true, false, false, {"Connect...10.0.0.7", "Disconnect..."}},
        TSwitchCase{"Everything",
                    true,
                    true,
                    true,
                    true,
                    true,
                    {"Service started", "Connect...10.0.0.7", "Search Request 10.0.0.7", "Disconnect...",
                     "Service stopped"}}),
    [](const testing::TestParamInfo<TSwitchCase>& info) { return info.param.Name; });

TEST_F(EventLog, LevelSixOnlyByLogErrorsAndUnknownLevelsNever)
{
    const std::string path = FDir.File("VESKA.LOG");
    TVESKAOptions options;
    OpenLogFile(path);
    Switches(options, true, true, true, true, false);
    options.WriteLog(6, "error A");
    Switches(options, true, false, false, false, true);
    options.WriteLog(6, "error B");
    Switches(options, true, true, true, true, true);
    options.WriteLog(0, "level 0");
    options.WriteLog(7, "level 7");
    options.WriteLog(255, "level 255");
    std::vector<std::string> messages;
    for (const std::string& line : CrLfLines(path)) messages.push_back(MessageOf(line, kFileLine));
    EXPECT_EQ(messages, std::vector<std::string>{"error B"});
}

TEST_F(EventLog, NothingWrittenWhileTheFileIsClosed)
{
    const std::string path = FDir.File("VESKA.LOG");
    TMainForm form;
    Switches(form.Settings(), true, true, true, true, true);
    form.LogEvent(TEventKind::ServiceStart, "Service started");
    EXPECT_FALSE(fs::exists(path));
    OpenLogFile(path);
    CloseLogFile();
    form.LogEvent(TEventKind::ServiceStop, "Service stopped");
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(EventLog, FileCreatedWhenMissingThenAppendedAcrossOpenAndClose)
{
    const std::string path = FDir.File("VESKA.LOG");
    TMainForm form;
    Switches(form.Settings(), true, true, false, false, false);
    EXPECT_FALSE(LogFileOpen());
    OpenLogFile(path);
    EXPECT_TRUE(LogFileOpen());
    EXPECT_TRUE(fs::exists(path));
    form.LogEvent(TEventKind::ServiceStart, "Service started");
    form.LogEvent(TEventKind::ServiceStop, "Service stopped");
    CloseLogFile();
    EXPECT_FALSE(LogFileOpen());
    OpenLogFile(path);
    form.LogEvent(TEventKind::ServiceStart, "Service started");
    CloseLogFile();
    CloseLogFile();  // a second close does nothing

    std::vector<std::string> messages;
    for (const std::string& line : CrLfLines(path)) messages.push_back(MessageOf(line, kFileLine));
    EXPECT_EQ(messages, (std::vector<std::string>{"Service started", "Service stopped", "Service started"}));
}

TEST_F(EventLog, ExistingContentIsKept)
{
    const std::string path = FDir.File("VESKA.LOG");
    {
        std::ofstream out(path, std::ios::binary);
        out << "older line\r\n";
    }
    TVESKAOptions options;
    Switches(options, true, true, false, false, false);
    OpenLogFile(path);
    options.WriteLog(1, "Service started", TLocalTime{2024, 3, 15, 14, 5, 9, 0});
    EXPECT_EQ(ReadFile(path), "older line\r\nService started 03/15/24 02:05:09 PM\r\n");
}

TEST_F(EventLog, OpenFailureIsReturnedAndTheFileStaysInUse)
{
    const std::string path = FDir.File("missing-folder/VESKA.LOG");
    const TLogFileNotice notice = OpenLogFile(path);
    EXPECT_EQ(notice.Kind, TLogFileNotice::Failed);
    EXPECT_EQ(notice.ErrorCode, ENOENT);
    EXPECT_EQ(notice.Reason, std::strerror(ENOENT));
    EXPECT_EQ(notice.Path, path);
    // Every later line tries the path again.
    EXPECT_TRUE(LogFileOpen());
}

TEST_F(EventLog, WriteFailureNeverRaisesOutOfLogEventAndTheWindowLineStays)
{
    TMainForm form;
    Switches(form.Settings(), true, true, false, false, false);
    EXPECT_FALSE(OpenLogFile("/dev/full"));
    EXPECT_NO_THROW(form.LogEvent(TEventKind::ServiceStart, "Service started"));
    const TWindowLogSnapshot log = form.Snapshot().Log;
    ASSERT_GE(log.Lines.size(), 1u);
    EXPECT_EQ(MessageOf(log.Lines[0], kWindowLine), "Service started");
    EXPECT_TRUE(LogFileOpen());
    EXPECT_NO_THROW(form.LogEvent(TEventKind::SessionBegin, "Connect...10.0.0.7"));
    EXPECT_NO_THROW(form.LogEvent(TEventKind::ServiceStop, "Service stopped"));
    // Nor does the lock stay taken after the failure.
    EXPECT_GE(form.Snapshot().Log.Lines.size(), 3u);
}

TEST_F(EventLog, EventsFromEightThreadsStayWholeAndInOneOrder)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 60;
    const std::string path = FDir.File("VESKA.LOG");
    TRecordingPresenter presenter;
    TMainForm form(&presenter);
    Switches(form.Settings(), true, false, false, true, false);
    OpenLogFile(path);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&form, t] {
            for (int i = 0; i < kEach; ++i)
                form.LogEvent(TEventKind::Request, "Search Request 10.0.0." + std::to_string(t) + " #" + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    CloseLogFile();

    std::vector<std::string> fileMessages;
    for (const std::string& line : CrLfLines(path)) fileMessages.push_back(MessageOf(line, kFileLine));
    ASSERT_EQ(fileMessages.size(), static_cast<std::size_t>(kThreads * kEach));

    // Each thread's events appear once each, in the order it raised them.
    std::map<std::string, int> next;
    const std::regex message(R"(Search Request (10\.0\.0\.\d) #(\d+))");
    for (const std::string& m : fileMessages) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(m, parts, message)) << m;
        EXPECT_EQ(std::stoi(parts[2].str()), next[parts[1].str()]++) << m;
    }

    // The presenter saw the window lines in the file's order...
    const std::vector<std::string> shown = presenter.Lines();
    ASSERT_EQ(shown.size(), fileMessages.size());
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(MessageOf(shown[i], kWindowLine), fileMessages[i]) << i;
    // ...and the window keeps the last hundred of them.
    const TWindowLogSnapshot log = form.Snapshot().Log;
    ASSERT_EQ(log.Lines.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(MessageOf(log.Lines[i], kWindowLine), fileMessages[fileMessages.size() - 100 + i]) << i;
}

// Waits (bounded) until the window log holds n lines.
bool WaitForLines(const TMainForm& form, std::size_t n)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (form.Snapshot().Log.Lines.size() < n) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST_F(EventLog, ConnectAndDisconnectOfARealClient)
{
    const std::string path = FDir.File("VESKA.LOG");
    TMainForm form;
    Switches(form.Settings(), true, false, true, false, false);
    OpenLogFile(path);
    const int port = wire::StartLdapServer(form.Listener());
    {
        wire::TWireClient client(port);
        ASSERT_TRUE(WaitForLines(form, 1));
        client.Close();
        ASSERT_TRUE(WaitForLines(form, 2));
    }
    form.Listener().SetActive(false);
    CloseLogFile();

    const TWindowLogSnapshot log = form.Snapshot().Log;
    ASSERT_EQ(log.Lines.size(), 2u);
    EXPECT_EQ(MessageOf(log.Lines[0], kWindowLine), "Connect...127.0.0.1");
    EXPECT_EQ(MessageOf(log.Lines[1], kWindowLine), "Disconnect...");
    std::vector<std::string> messages;
    for (const std::string& line : CrLfLines(path)) messages.push_back(MessageOf(line, kFileLine));
    EXPECT_EQ(messages, (std::vector<std::string>{"Connect...127.0.0.1", "Disconnect..."}));
}

TEST_F(EventLog, StoppingWithAClientConnectedLogsItsDisconnect)
{
    TMainForm form;
    const int port = wire::StartLdapServer(form.Listener());
    wire::TWireClient client(port);
    ASSERT_TRUE(WaitForLines(form, 1));
    form.Listener().SetActive(false);
    const TWindowLogSnapshot log = form.Snapshot().Log;
    ASSERT_EQ(log.Lines.size(), 2u);
    EXPECT_EQ(MessageOf(log.Lines[1], kWindowLine), "Disconnect...");
}

}  // namespace
