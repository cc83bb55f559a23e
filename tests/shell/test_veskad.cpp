// veskad as a process: arguments, exit codes, what goes to stdout and stderr,
// and the signals. Also its console presenter on its own.
#include "ServiceTestSupport.h"

#include "shell/ConsolePresenter.h"
#include "support/NotifySocket.h"
#include "support/Wire.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <grp.h>
#include <sys/stat.h>
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
    // asUser: when not -1, the child takes this user and group id before it
    // runs veskad (which needs root to do).
    explicit TDaemon(const std::vector<std::string>& args, uid_t asUser = static_cast<uid_t>(-1))
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
            if (asUser != static_cast<uid_t>(-1) && (::setgroups(0, nullptr) != 0 || ::setgid(asUser) != 0 || ::setuid(asUser) != 0))
                ::_exit(126);
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
    EXPECT_NE(daemon.OutText().find("usage: veskad [--dir DIR] | --help | --version"), std::string::npos);
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
    EXPECT_EQ(daemon.ErrLines()[0], "usage: veskad [--dir DIR] | --help | --version");
}

INSTANTIATE_TEST_SUITE_P(Args, BadArguments,
                         ::testing::Values(TBadArgs{"Unknown", {"--port", "1"}}, TBadArgs{"DirWithoutValue", {"--dir"}},
                                           TBadArgs{"EmptyDir", {"--dir", ""}}, TBadArgs{"Positional", {"x"}}),
                         [](const auto& info) { return std::string(info.param.Label); });

// ---- what veskad says and how it ends: one row per message ---------------------

// In the texts, "{dir}" stands for the program folder (with its trailing slash)
// and "{busy}" for a port another socket holds on 127.0.0.1.
struct TOutcome {
    const char* Label;
    void (*Prepare)(const TProgramDir&, int busyPort);
    std::vector<std::string> Args;
    // Rows that serve get this signal once "Service started" shows; 0: not serving.
    int Stop;
    int Exit;
    std::vector<std::string> Err;
    std::vector<std::string> Out;  // checked for rows that do not serve
};

std::string Fill(std::string text, const TProgramDir& dir, int busyPort)
{
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"{dir}", dir.Path()}, {"{busy}", std::to_string(busyPort)}})
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    return text;
}

std::vector<std::string> Fill(const std::vector<std::string>& texts, const TProgramDir& dir, int busyPort)
{
    std::vector<std::string> filled;
    for (const std::string& text : texts) filled.push_back(Fill(text, dir, busyPort));
    return filled;
}

class Outcomes : public ::testing::TestWithParam<TOutcome> {
protected:
    TProgramDir Dir;
    TBusyPort Busy;
};

TEST_P(Outcomes, MessagesCausesAndExitCode)
{
    const TOutcome& c = GetParam();
    if (c.Prepare != nullptr) c.Prepare(Dir, Busy.Port());
    TDaemon daemon(Fill(c.Args, Dir, Busy.Port()));
    if (c.Stop != 0) {
        ASSERT_TRUE(daemon.WaitForLine("Service started ")) << daemon.OutText();
        daemon.Signal(c.Stop);
    }
    EXPECT_EQ(daemon.Wait(), c.Exit);
    EXPECT_EQ(daemon.ErrLines(), Fill(c.Err, Dir, Busy.Port()));
    if (c.Stop == 0) {
        EXPECT_EQ(daemon.OutLines(), c.Out);
    }
}

void Loopback(const TProgramDir& dir, const std::string& port, const std::string& extra = "")
{
    std::vector<std::string> lines{"DefaultPort=" + port, "BindSelected=Yes", "IntSelected=127.0.0.1"};
    if (!extra.empty()) lines.push_back(extra);
    dir.WriteIni(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Veskad, Outcomes,
    ::testing::Values(
        TOutcome{"Version", nullptr, {"--version"}, 0, 0, {}, {"veskad " VESKA_VERSION}},
        TOutcome{"DirMissing", nullptr, {"--dir", "{dir}missing"}, 0, 2,
                 {"Program folder not found", "{dir}missing: No such file or directory"}, {}},
        TOutcome{"DirIsAFile", [](const TProgramDir& d, int) { d.Write("file", ""); }, {"--dir", "{dir}file"}, 0, 2,
                 {"Program folder not found", "{dir}file: Not a directory"}, {}},
        TOutcome{"SettingNotAnInteger", [](const TProgramDir& d, int) { d.WriteIni({"DefaultPort=abc"}); },
                 {"--dir", "{dir}"}, 0, 1,
                 {"'abc' is not a valid integer value", "key DefaultPort in {dir}VESKA.INI"}, {}},
        TOutcome{"BusyPort",
                 [](const TProgramDir& d, int busy) {
                     d.InstallFakeApi("");
                     Loopback(d, std::to_string(busy));
                 },
                 {"--dir", "{dir}"}, 0, 1,
                 {"Cannot start on specified port!", "127.0.0.1:{busy}: Address already in use"}, {}},
        TOutcome{"PortOutOfRange",
                 [](const TProgramDir& d, int) {
                     d.InstallFakeApi("");
                     Loopback(d, "70000");
                 },
                 {"--dir", "{dir}"}, 0, 1,
                 {"Cannot start on specified port!", "127.0.0.1:70000: port out of range (0 to 65535)"}, {}},
        TOutcome{"AddressNotOnThisHost",
                 [](const TProgramDir& d, int) {
                     d.InstallFakeApi("");
                     d.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=192.0.2.1"});
                 },
                 {"--dir", "{dir}"}, 0, 1,
                 {"Cannot start on specified port!",
                  "192.0.2.1:0: Cannot assign requested address (the address is not one of this host's)"},
                 {}},
        TOutcome{"ExternalFileMissing",
                 [](const TProgramDir& d, int) {
                     d.InstallFakeApi("");
                     Loopback(d, "0", "ExtFile=" + d.File("none.ldif"));
                 },
                 {"--dir", "{dir}"}, 0, 1,
                 {"Cannot start on specified port!", "No such file or directory: {dir}none.ldif"}, {}},
        TOutcome{"ApiMissing", [](const TProgramDir& d, int) { Loopback(d, "0"); }, {"--dir", "{dir}"}, SIGINT, 0,
                 {"Cannot open API", "{dir}API.so: cannot open shared object file: No such file or directory"}, {}},
        TOutcome{"ApiLacksAFunction",
                 [](const TProgramDir& d, int) {
                     fs::copy_file(std::string(FAKE_API_MISSING_DIR) + "API.so", d.File("API.so"));
                     Loopback(d, "0");
                 },
                 {"--dir", "{dir}"}, SIGTERM, 0, {"Cannot open API", "{dir}API.so: missing function GetUserSetting"}, {}},
        TOutcome{"ApiInitFails",
                 [](const TProgramDir& d, int) {
                     d.InstallFakeApi("init\t3\n");
                     Loopback(d, "0");
                 },
                 {"--dir", "{dir}"}, SIGTERM, 0, {"Cannot open API", "{dir}API.so: Init(\"{dir}\") returned 3"}, {}}),
    [](const auto& info) { return std::string(info.param.Label); });

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

// Under a service manager that waits for readiness: ready once listening,
// reloading around a SIGHUP restart, stopping at the end.
TEST_F(Veskad, TellsTheServiceManagerItsState)
{
    Dir.InstallFakeApi("domain\tdom\n");
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    TManagerSocket manager(Dir.File("notify"));
    TDaemon daemon({"--dir", Dir.Path()});
    EXPECT_EQ(manager.Receive(), "READY=1");
    daemon.Signal(SIGHUP);
    EXPECT_EQ(manager.Receive(), "RELOADING=1");
    EXPECT_EQ(manager.Receive(), "READY=1");
    daemon.Signal(SIGTERM);
    EXPECT_EQ(manager.Receive(), "STOPPING=1");
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_TRUE(daemon.ErrLines().empty());
}

// The privilege hint needs a bind that the system refuses for want of privilege:
// as root, veskad runs as nobody for this.
TEST_F(Veskad, PortBelow1024WithoutPrivilegeSaysWhatIsMissing)
{
    int unprivilegedStart = 1024;
    if (std::FILE* f = std::fopen("/proc/sys/net/ipv4/ip_unprivileged_port_start", "r")) {
        if (std::fscanf(f, "%d", &unprivilegedStart) != 1) unprivilegedStart = 1024;
        std::fclose(f);
    }
    if (unprivilegedStart <= 1) GTEST_SKIP() << "this system lets anyone bind port 1";
    const uid_t nobody = 65534;
    const bool root = ::geteuid() == 0;
    Dir.WriteIni({"DefaultPort=1", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    // The folder and its settings must be readable by the user veskad runs as.
    ASSERT_EQ(::chmod(Dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(Dir.File("VESKA.INI").c_str(), 0644), 0);
    TDaemon daemon({"--dir", Dir.Path()}, root ? nobody : static_cast<uid_t>(-1));
    EXPECT_EQ(daemon.Wait(), 1);
    const std::vector<std::string> err = daemon.ErrLines();
    ASSERT_EQ(err.size(), 4u) << daemon.OutText();
    EXPECT_EQ(err[0], "Cannot open API");
    EXPECT_EQ(err[2], "Cannot start on specified port!");
    EXPECT_EQ(err[3], "127.0.0.1:1: Permission denied (ports below 1024 need root or the CAP_NET_BIND_SERVICE capability)");
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
