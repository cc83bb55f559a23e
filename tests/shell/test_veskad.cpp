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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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
    // Reads both streams until stdout holds count lines starting with prefix,
    // the streams end or timeoutMs passed.
    bool WaitForLines(const std::string& prefix, std::size_t count, int timeoutMs = 60000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::size_t seen = 0;
            for (const std::string& line : OutLines()) seen += line.rfind(prefix, 0) == 0 ? 1 : 0;
            if (seen >= count) return true;
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

// A reload in place: the directory is rebuilt, the service is not stopped.
TEST_F(Veskad, HangupRebuildsTheDirectory)
{
    Dir.InstallFakeApi("domain\tfirst\n");
    Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"});
    TDaemon daemon({"--dir", Dir.Path()});
    ASSERT_TRUE(daemon.WaitForLine("Service started "));
    Dir.InstallFakeApi("domain\tsecond\n");
    daemon.Signal(SIGHUP);
    ASSERT_TRUE(daemon.WaitForLine("Loading domain second "));
    ASSERT_TRUE(daemon.WaitForLine("Directory reloaded: "));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    std::vector<std::string> messages;
    for (const std::string& line : daemon.OutLines()) messages.push_back(Message(line));
    EXPECT_EQ(messages, (std::vector<std::string>{"Loading domain first", "Service started", "Loading domain second",
                                                  "Directory reloaded: 0 entries", "Service stopped"}));
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

// ---------------------------------------------------------------- operations
// The service kept alive for operators: reload in place under load, a failed
// reload, the automatic refresh, a rewritten LDIF file, the metrics and the
// watchdog, each as one row run against a veskad process.

namespace {

// A port nobody listens on (released just before use).
int FreeLoopbackPort() { return TBusyPort().Port(); }

std::string OpsSubstrings(const std::string& type, const std::string& part)
{
    return wire::Tlv(0xA4, wire::Tlv(0x04, type) + wire::Tlv(0x30, wire::Tlv(0x80, part)));
}

std::string OpsSearch(char messageID, const std::string& filter)
{
    using wire::Tlv;
    const std::string operation = Tlv(0x04, "") + Tlv(0x0A, std::string(1, '\2')) + Tlv(0x0A, std::string(1, '\0')) +
                                  Tlv(0x02, std::string(1, '\0')) + Tlv(0x02, std::string(1, '\0')) +
                                  Tlv(0x01, std::string(1, '\0')) + filter + Tlv(0x30, "");
    return Tlv(0x30, Tlv(0x02, std::string(1, messageID)) + Tlv(0x63, operation));
}

// What one search brought back: the entry names, and whether a success
// SearchResultDone ended it (false: the connection closed or went silent).
struct TOpsAnswer {
    std::vector<std::string> Names;
    bool Done = false;
};

TOpsAnswer OpsAsk(wire::TWireClient& client, const std::string& filter)
{
    client.Send(OpsSearch(1, filter));
    TOpsAnswer answer;
    for (;;) {
        std::string head = client.ReadExactly(2);
        if (head.size() < 2) return answer;
        std::size_t length = static_cast<unsigned char>(head[1]);
        if (length & 0x80) {
            const std::string octets = client.ReadExactly(length & 0x7F);
            length = 0;
            for (char c : octets) length = (length << 8) | static_cast<unsigned char>(c);
            head += octets;
        }
        const std::string content = client.ReadExactly(length);
        if (content.size() < length) return answer;
        TASNList decoded;
        decoded.Decode(head + content);
        const TASNNode& operation = decoded.Items(0).Children.Items(1);
        if (operation.Tag == 0x64) answer.Names.push_back(operation.Children.Items(0).Value);
        if (operation.Tag == 0x65) {
            answer.Done = operation.Children.Items(0).Value == std::string(1, '\0');
            return answer;
        }
    }
}

const std::string kEveryone = wire::Tlv(0xA0, "");

// The body of GET path at 127.0.0.1:port ("" when no 200 came).
std::string HttpGet(int port, const std::string& path)
{
    wire::TWireClient client(port);
    client.Send("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    std::string received;
    client.PeerClosed(5000, &received);
    if (received.rfind("HTTP/1.1 200", 0) != 0 && received.rfind("HTTP/1.0 200", 0) != 0) return {};
    const std::size_t body = received.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : received.substr(body + 4);
}

// promtool's verdict on a metrics text: its exit code and what it said.
std::pair<int, std::string> PromtoolCheck(const TProgramDir& dir, const std::string& text)
{
    dir.Write("metrics.txt", text);
    const std::string command = "promtool check metrics < " + dir.File("metrics.txt") + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, "popen failed"};
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) said += buffer;
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

bool HavePromtool() { return std::system("command -v promtool >/dev/null 2>&1") == 0; }

// The value of an unlabelled sample in a metrics text, or -1.
double MetricValue(const std::string& text, const std::string& name)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(name + " ", 0) == 0) return std::stod(line.substr(name.size() + 1));
    return -1;
}

// Environment for the daemon of one row, set while the row runs.
class TScopedEnv {
public:
    TScopedEnv(const std::string& name, const std::string& value) : FName(name) { ::setenv(name.c_str(), value.c_str(), 1); }
    ~TScopedEnv() { ::unsetenv(FName.c_str()); }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string FName;
};

// Writes a file whole under another name, then renames it into place, the
// way careful writers replace a file.
void ReplaceFile(const TProgramDir& dir, const std::string& name, const std::string& text)
{
    dir.Write(name + ".new", text);
    fs::rename(dir.File(name + ".new"), dir.File(name));
}

// What a row's run gets: the started daemon, its folder, its ports, and the
// stand-in service manager socket when the row asked for one.
struct TOpsCaseContext {
    TDaemon& Daemon;
    const TProgramDir& Dir;
    int LdapPort;
    int MetricsPort;
    TManagerSocket* Manager;
};

struct TOpsCase {
    const char* Label;
    std::string FakeApi;
    std::vector<std::string> Ini;  // besides the port, binding and metrics port
    std::string Ldif;              // ext.ldif, when not empty (ExtFile names it)
    std::vector<std::pair<std::string, std::string>> Env;
    bool ManagerSocket;
    std::function<void(TOpsCaseContext&)> Run;
};

class Operations : public ::testing::TestWithParam<TOpsCase> {
protected:
    TProgramDir Dir;
};

const std::string kAnn = "domain\tex.org\nuser\t1\t0\t0\tAnn Lee\tann\n";
const std::string kAnnAndBob = kAnn + "user\t1\t0\t0\tBob Ray\tbob\n";
const std::string kCarolLdif = "dn: Carol\ncn: Carol\nmail: carol@ex.org\n\n";

} // namespace

TEST_P(Operations, Row)
{
    const TOpsCase& row = GetParam();
    Dir.InstallFakeApi(row.FakeApi);
    const int ldapPort = FreeLoopbackPort();
    const int metricsPort = FreeLoopbackPort();
    std::vector<std::string> ini{"DefaultPort=" + std::to_string(ldapPort), "BindSelected=Yes", "IntSelected=127.0.0.1",
                                 "MetricsPort=" + std::to_string(metricsPort)};
    if (!row.Ldif.empty()) {
        Dir.Write("ext.ldif", row.Ldif);
        ini.push_back("ExtFile=" + Dir.File("ext.ldif"));
    }
    ini.insert(ini.end(), row.Ini.begin(), row.Ini.end());
    Dir.WriteIni(ini);
    std::vector<std::unique_ptr<TScopedEnv>> env;
    for (const auto& [name, value] : row.Env) env.push_back(std::make_unique<TScopedEnv>(name, value));
    std::unique_ptr<TManagerSocket> manager;
    if (row.ManagerSocket) manager = std::make_unique<TManagerSocket>(Dir.File("notify"));
    TDaemon daemon({"--dir", Dir.Path()});
    ASSERT_TRUE(daemon.WaitForLine("Service started ")) << daemon.OutText();
    TOpsCaseContext context{daemon, Dir, ldapPort, metricsPort, manager.get()};
    row.Run(context);
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Veskad, Operations,
    ::testing::Values(
        TOpsCase{"TwentyHangupsWhileEightClientsSearch", kAnnAndBob, {}, kCarolLdif, {}, false,
                   [](TOpsCaseContext& run) {
                       TDaemon& daemon = run.Daemon;
                       const int ldapPort = run.LdapPort;
                       constexpr int kClients = 8;
                       std::atomic<bool> stop{false};
                       std::atomic<int> searches{0};
                       std::atomic<int> failed{0};
                       std::atomic<int> closed{0};
                       std::vector<std::thread> clients;
                       for (int c = 0; c < kClients; ++c)
                           clients.emplace_back([&] {
                               wire::TWireClient client(ldapPort);
                               while (!stop) {
                                   const TOpsAnswer answer = OpsAsk(client, kEveryone);
                                   ++searches;
                                   if (!answer.Done || answer.Names.size() != 3) ++failed;
                                   if (!answer.Done) {
                                       ++closed;
                                       return;
                                   }
                                   std::this_thread::sleep_for(std::chrono::milliseconds(5));
                               }
                               if (client.PeerClosed(0)) ++closed;
                           });
                       for (std::size_t hup = 1; hup <= 20; ++hup) {
                           daemon.Signal(SIGHUP);
                           EXPECT_TRUE(daemon.WaitForLines("Directory reloaded: 3 entries ", hup)) << "hangup " << hup;
                       }
                       stop = true;
                       for (std::thread& t : clients) t.join();
                       EXPECT_GT(searches.load(), kClients);
                       EXPECT_EQ(failed.load(), 0);
                       EXPECT_EQ(closed.load(), 0);
                   }},
        TOpsCase{"FailingReloadKeepsTheOldAnswers", kAnn, {}, kCarolLdif, {}, false,
                   [](TOpsCaseContext& run) {
                       TDaemon& daemon = run.Daemon;
                       const TProgramDir& dir = run.Dir;
                       wire::TWireClient client(run.LdapPort);
                       EXPECT_EQ(OpsAsk(client, kEveryone).Names, (std::vector<std::string>{"Ann Lee", "Carol"}));
                       fs::remove(dir.File("ext.ldif"));
                       dir.Write("fakeapi.txt", kAnnAndBob);
                       daemon.Signal(SIGHUP);
                       ASSERT_TRUE(daemon.WaitForLine("Directory reload failed: "));
                       const TOpsAnswer after = OpsAsk(client, kEveryone);
                       EXPECT_TRUE(after.Done);
                       EXPECT_EQ(after.Names, (std::vector<std::string>{"Ann Lee", "Carol"}));
                       std::vector<std::string> failures;
                       for (const std::string& line : daemon.OutLines())
                           if (line.rfind("Directory reload failed: ", 0) == 0) failures.push_back(Message(line));
                       EXPECT_EQ(failures, (std::vector<std::string>{"Directory reload failed: No such file or directory: " +
                                                                     dir.File("ext.ldif")}));
                   }},
        TOpsCase{"NewMailboxAppearsAfterARefresh", kAnn, {"RefreshMinutes=1"}, "", {{"VESKA_TEST_REFRESH_MS", "200"}},
                   false,
                   [](TOpsCaseContext& run) {
                       TDaemon& daemon = run.Daemon;
                       const TProgramDir& dir = run.Dir;
                       wire::TWireClient client(run.LdapPort);
                       EXPECT_EQ(OpsAsk(client, kEveryone).Names, (std::vector<std::string>{"Ann Lee"}));
                       dir.Write("fakeapi.txt", kAnnAndBob);
                       ASSERT_TRUE(daemon.WaitForLine("Directory reloaded: 2 entries "));
                       EXPECT_EQ(OpsAsk(client, OpsSubstrings("mail", "bob")).Names, (std::vector<std::string>{"Bob Ray"}));
                   }},
        TOpsCase{"LdifRewriteIsPickedUp", kAnn, {}, kCarolLdif, {}, false,
                   [](TOpsCaseContext& run) {
                       TDaemon& daemon = run.Daemon;
                       const TProgramDir& dir = run.Dir;
                       wire::TWireClient client(run.LdapPort);
                       ReplaceFile(dir, "ext.ldif", kCarolLdif + "dn: Dave\ncn: Dave\nmail: dave@ex.org\n\n");
                       ASSERT_TRUE(daemon.WaitForLine("Directory reloaded: 3 entries "));
                       EXPECT_EQ(OpsAsk(client, OpsSubstrings("mail", "dave")).Names, (std::vector<std::string>{"Dave"}));
                       // Rewritten in place this time: truncated, written, closed.
                       dir.Write("ext.ldif", "dn: Erin\ncn: Erin\nmail: erin@ex.org\n\n");
                       ASSERT_TRUE(daemon.WaitForLine("Directory reloaded: 2 entries "));
                       EXPECT_EQ(OpsAsk(client, kEveryone).Names, (std::vector<std::string>{"Ann Lee", "Erin"}));
                   }},
        TOpsCase{"MetricsAreScrapedAndPassPromtool", kAnnAndBob, {}, "", {}, false,
                   [](TOpsCaseContext& run) {
                       const int metricsPort = run.MetricsPort;
                       {
                           wire::TWireClient client(run.LdapPort);
                           EXPECT_EQ(OpsAsk(client, OpsSubstrings("mail", "ann")).Names,
                                     (std::vector<std::string>{"Ann Lee"}));
                       }
                       const std::string text = HttpGet(metricsPort, "/metrics");
                       ASSERT_FALSE(text.empty());
                       EXPECT_EQ(MetricValue(text, "veska_searches_total"), 1);
                       EXPECT_EQ(MetricValue(text, "veska_entries_sent_total"), 1);
                       EXPECT_EQ(MetricValue(text, "veska_search_duration_seconds_count"), 1);
                       EXPECT_EQ(MetricValue(text, "veska_directory_entries"), 2);
                       EXPECT_EQ(MetricValue(text, "veska_directory_domains"), 1);
                       EXPECT_EQ(MetricValue(text, "veska_directory_users"), 2);
                       EXPECT_EQ(MetricValue(text, "veska_connections_accepted_total"), 1);
                       EXPECT_GT(MetricValue(text, "veska_process_resident_memory_bytes"), 0);
                       EXPECT_GT(MetricValue(text, "veska_process_open_fds"), 0);
                       EXPECT_EQ(HttpGet(metricsPort, "/other"), "");
                       if (!HavePromtool()) GTEST_SKIP() << "promtool (package prometheus) is not installed";
                       const auto [code, said] = PromtoolCheck(run.Dir, text);
                       EXPECT_EQ(code, 0) << said;
                   }},
        TOpsCase{"WatchdogPingsAndTellsTheStatusOnAStandInSocket", kAnnAndBob, {}, "", {{"WATCHDOG_USEC", "300000"}},
                   true,
                   [](TOpsCaseContext& run) {
                       EXPECT_EQ(run.Manager->Receive(), "READY=1");
                       std::vector<std::string> seen;
                       for (int i = 0; i < 4; ++i) seen.push_back(run.Manager->Receive().value_or("<none>"));
                       EXPECT_NE(std::find(seen.begin(), seen.end(), "STATUS=2 entries, 0 connections open"), seen.end());
                       EXPECT_GE(std::count(seen.begin(), seen.end(), "WATCHDOG=1"), 2);
                   }}),
    [](const auto& info) { return std::string(info.param.Label); });
