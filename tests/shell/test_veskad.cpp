// veskad as a process: arguments, exit codes, what goes to stdout and stderr,
// and the signals. Also its console presenter on its own.
#include "ServiceTestSupport.h"

#include "shell/ConsolePresenter.h"
#include "support/Wire.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

using namespace servicetest;

namespace {

// One veskad process with its stdout and stderr captured. Every wait is
// bounded so that a broken daemon fails the test instead of hanging it.
class TDaemon {
public:
    explicit TDaemon(const std::vector<std::string>& args)
    {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        // Everything the child needs is made before the fork: it only calls
        // async-signal-safe functions.
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(VESKAD_PATH));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> env{"TZ=UTC"};
        for (char** e = environ; *e != nullptr; ++e)
            if (std::string(*e).rfind("TZ=", 0) != 0) env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::execve(VESKAD_PATH, argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        FOut = out[0];
        FErr = err[0];
    }
    ~TDaemon()
    {
        if (FPid > 0 && !FReaped) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FOut);
        ::close(FErr);
    }
    TDaemon(const TDaemon&) = delete;
    TDaemon& operator=(const TDaemon&) = delete;

    void Signal(int signal) { ::kill(FPid, signal); }

    // Reads both streams until stdout holds a line starting with prefix, the
    // streams end or timeoutMs passed.
    bool WaitForLine(const std::string& prefix, int timeoutMs = 20000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (const std::string& line : OutLines())
                if (line.rfind(prefix, 0) == 0) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Pump(static_cast<int>(left.count()))) return false;
        }
    }
    // Reads until both streams end, then reaps the process; its exit code (-1 on a timeout or signal).
    int Wait(int timeoutMs = 30000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!(FOutDone && FErrDone)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Pump(static_cast<int>(left.count()))) return -1;
        }
        int status = 0;
        for (int i = 0; i < 3000; ++i) {
            const pid_t r = ::waitpid(FPid, &status, WNOHANG);
            if (r == FPid) {
                FReaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    std::vector<std::string> OutLines() const { return Split(FOutText); }
    std::vector<std::string> ErrLines() const { return Split(FErrText); }
    const std::string& OutText() const { return FOutText; }

private:
    // One poll round over the streams still open; false once both ended or
    // nothing came in time.
    bool Pump(int timeoutMs)
    {
        if (FOutDone && FErrDone) return false;
        pollfd fds[2] = {{FOutDone ? -1 : FOut, POLLIN, 0}, {FErrDone ? -1 : FErr, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0)
                (i == 0 ? FOutText : FErrText).append(buffer, static_cast<std::size_t>(got));
            else
                (i == 0 ? FOutDone : FErrDone) = true;
        }
        return true;
    }
    static std::vector<std::string> Split(const std::string& text)
    {
        std::vector<std::string> lines;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 1;
        }
        return lines;
    }

    pid_t FPid = -1;
    bool FReaped = false;
    int FOut = -1;
    int FErr = -1;
    bool FOutDone = false;
    bool FErrDone = false;
    std::string FOutText;
    std::string FErrText;
};

const std::regex kConsoleLine(R"(.* (0[1-9]|1[0-2])/(0[1-9]|[12]\d|3[01]) (0[1-9]|1[0-2]):[0-5]\d (AM|PM))");

std::string Message(const std::string& line) { return TRecordingPresenter::StripTime(line); }

class Veskad : public ::testing::Test {
protected:
    TProgramDir Dir;
};

TEST_F(Veskad, HelpGoesToStdoutWithSuccess)
{
    TDaemon daemon({"--help"});
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_NE(daemon.OutText().find("usage: veskad [--dir DIR]"), std::string::npos);
    EXPECT_TRUE(daemon.ErrLines().empty());
}

struct TBadArgs {
    const char* Label;
    std::vector<std::string> Args;
};

class BadArguments : public ::testing::TestWithParam<TBadArgs> {};

TEST_P(BadArguments, UsageOnStderrAndExit2)
{
    TDaemon daemon(GetParam().Args);
    EXPECT_EQ(daemon.Wait(), 2);
    EXPECT_TRUE(daemon.OutLines().empty());
    ASSERT_FALSE(daemon.ErrLines().empty());
    EXPECT_EQ(daemon.ErrLines()[0], "usage: veskad [--dir DIR]");
}

INSTANTIATE_TEST_SUITE_P(Args, BadArguments,
                         ::testing::Values(TBadArgs{"Unknown", {"--port", "1"}}, TBadArgs{"DirWithoutValue", {"--dir"}},
                                           TBadArgs{"EmptyDir", {"--dir", ""}}, TBadArgs{"Positional", {"x"}}),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST_F(Veskad, SettingsThatFailToLoadExit1WithTheirText)
{
    Dir.WriteIni({"DefaultPort=abc"});
    TDaemon daemon({"--dir", Dir.Path()});
    EXPECT_EQ(daemon.Wait(), 1);
    EXPECT_EQ(daemon.ErrLines(), std::vector<std::string>{"'abc' is not a valid integer value"});
    EXPECT_TRUE(daemon.OutLines().empty());
}

TEST_F(Veskad, BusyPortExit1)
{
    TBusyPort busy;
    Dir.InstallFakeApi("");
    Dir.WriteIni({"DefaultPort=" + std::to_string(busy.Port()), "BindSelected=Yes", "IntSelected=127.0.0.1"});
    TDaemon daemon({"--dir", Dir.Path()});
    EXPECT_EQ(daemon.Wait(), 1);
    EXPECT_EQ(daemon.ErrLines(), std::vector<std::string>{"Cannot start on specified port!"});
    EXPECT_TRUE(daemon.OutLines().empty());
}

TEST_F(Veskad, StartsWhateverStartOptSaysServesAndStopsOnTerm)
{
    Dir.InstallFakeApi("domain\tdom\nuser\t1\t0\t0\tAnn Lee\tann\n");
    // The folder is given without its trailing slash.
    std::string folder = Dir.Path();
    folder.pop_back();
    Dir.WriteIni({"StartOpt=2", "DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1", "LogSelected=Yes",
                  "LogService=Yes"});
    TDaemon daemon({"--dir", folder});
    ASSERT_TRUE(daemon.WaitForLine("Service started "));
    EXPECT_TRUE(fs::exists(Dir.File("VESKA.LOG")));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    std::vector<std::string> messages;
    for (const std::string& line : daemon.OutLines()) {
        EXPECT_TRUE(std::regex_match(line, kConsoleLine)) << line;
        messages.push_back(Message(line));
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"Loading domain dom", "Service started", "Service stopped"}));
    EXPECT_TRUE(daemon.ErrLines().empty());
}

TEST_F(Veskad, ApiFailureIsOneStderrLineAndTheStartGoesOn)
{
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    TDaemon daemon({"--dir", Dir.Path()});
    ASSERT_TRUE(daemon.WaitForLine("Service started "));
    daemon.Signal(SIGINT);
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_EQ(daemon.ErrLines(), std::vector<std::string>{"Cannot open API"});
}

TEST_F(Veskad, HangupRebuildsTheDirectory)
{
    Dir.InstallFakeApi("domain\tfirst\n");
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    TDaemon daemon({"--dir", Dir.Path()});
    ASSERT_TRUE(daemon.WaitForLine("Service started "));
    Dir.InstallFakeApi("domain\tsecond\n");
    daemon.Signal(SIGHUP);
    ASSERT_TRUE(daemon.WaitForLine("Loading domain second "));
    ASSERT_TRUE(daemon.WaitForLine("Service started "));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    std::vector<std::string> messages;
    for (const std::string& line : daemon.OutLines()) messages.push_back(Message(line));
    EXPECT_EQ(messages, (std::vector<std::string>{"Loading domain first", "Service started", "Service stopped",
                                                  "Loading domain second", "Service started", "Service stopped"}));
}

// ---- the console presenter ---------------------------------------------------------

std::string Contents(std::FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
}

TEST(ConsolePresenter, OneLinePerEventOnItsStream)
{
    std::FILE* lines = std::tmpfile();
    std::FILE* messages = std::tmpfile();
    ASSERT_TRUE(lines && messages);
    {
        TConsolePresenter console(lines, messages);
        console.LogLineAdded("Connect...10.0.0.7 03/15 02:05 PM");
        console.LogLineAdded("Loading domain a\nb\r 03/15 02:05 PM");
        console.ErrorRaised({"Cannot open API", ""});
        console.CaptionChanged("VESKA 1.1");
        console.StateChanged(TStateChange::Statistics);
        console.StateChanged(TStateChange::Status);
        EXPECT_FALSE(console.Closed());
        console.CloseRequested();
        EXPECT_TRUE(console.Closed());
    }
    EXPECT_EQ(Contents(lines), "Connect...10.0.0.7 03/15 02:05 PM\nLoading domain a b  03/15 02:05 PM\n");
    EXPECT_EQ(Contents(messages), "Cannot open API\n");
    std::fclose(lines);
    std::fclose(messages);
}

}  // namespace
