// veska as a process: its --dir folder (non-ASCII path included), and the
// arguments it answers before any window exists.
#include "support/TestFiles.h"
#include "support/Wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kVeska = std::string(VESKA_BUILD_DIR) + "/ui/veska";
const std::string kUsageLine = "usage: veska [--dir DIR] | --help | --version";

// Starts veska with stdout and stderr going to files in `dir`.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment, const TTempDir& dir)
{
    std::vector<char*> argv{const_cast<char*>(kVeska.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QT_QPA_PLATFORM=", 0) != 0 && entry.rfind("DISPLAY=", 0) != 0 &&
            entry.rfind("WAYLAND_DISPLAY=", 0) != 0)
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = ::open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(dir.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(kVeska.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    return pid;
}

// The exit code, or -1 after a signal or a minute without an end (then killed).
int WaitFor(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 6000; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

int FreePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(s);
    return ntohs(address.sin_port);
}

// No display at all: arguments answered before the toolkit starts need none,
// and anything that tried to open a window would fail loudly.
const std::vector<std::string> kNoDisplay = {"QT_QPA_PLATFORM=xcb"};
const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen"};

// In Args and the expected texts "{tmp}" stands for a scratch folder (with its
// trailing slash) that holds a file "plain-\u00fc.txt".
struct TArgumentCase {
    const char* Name;
    std::vector<std::string> Args;
    std::vector<std::string> Environment;
    int Exit;
    std::string Out;  // stdout starts with this
    std::string Err;  // stderr holds this
};

std::string Fill(std::string text, const std::string& tmp)
{
    for (std::size_t at; (at = text.find("{tmp}")) != std::string::npos;) text.replace(at, 5, tmp);
    return text;
}

const TArgumentCase kArgumentCases[] = {
    {"HelpWithoutDisplay", {"--help"}, kNoDisplay, 0, kUsageLine + "\n", ""},
    {"VersionWithoutDisplay", {"--version"}, kNoDisplay, 0, "veska ", ""},
    {"MissingFolder", {"--dir", "{tmp}fehlt-\xc3\xbc"}, kNoDisplay, 2, "",
     "Program folder not found\n{tmp}fehlt-\xc3\xbc: No such file or directory\n"},
    {"FileForFolder", {"--dir={tmp}plain-\xc3\xbc.txt"}, kNoDisplay, 2, "",
     "Program folder not found\n{tmp}plain-\xc3\xbc.txt: Not a directory\n"},
    {"DirWithoutValue", {"--dir"}, kNoDisplay, 2, "", kUsageLine + "\n"},
    {"EmptyDir", {"--dir", ""}, kNoDisplay, 2, "", kUsageLine + "\n"},
    {"UnknownOption", {"--port", "1"}, kOffscreen, 2, "", kUsageLine + "\n"},
};

class VeskaArguments : public testing::TestWithParam<TArgumentCase> {};

TEST_P(VeskaArguments, ExitAndTexts)
{
    const TArgumentCase& c = GetParam();
    TTempDir tmp("veska-dir");
    tmp.Write("plain-\xc3\xbc.txt", "not a folder");
    std::vector<std::string> args;
    for (const std::string& a : c.Args) args.push_back(Fill(a, tmp.Path()));
    TTempDir streams("veska-out");
    EXPECT_EQ(WaitFor(Spawn(args, c.Environment, streams)), c.Exit) << ReadFile(streams.File("err"));
    const std::string out = ReadFile(streams.File("out"));
    const std::string err = ReadFile(streams.File("err"));
    EXPECT_EQ(out.substr(0, Fill(c.Out, tmp.Path()).size()), Fill(c.Out, tmp.Path()));
    // The toolkit may add notices of its own around ours.
    EXPECT_NE(err.find(Fill(c.Err, tmp.Path())), std::string::npos) << err;
    if (c.Err.empty()) {
        EXPECT_EQ(err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Veska, VeskaArguments, testing::ValuesIn(kArgumentCases),
                         [](const testing::TestParamInfo<TArgumentCase>& info) { return info.param.Name; });

// The folder given with --dir, under a name with "\u00fc" and a blank, is the
// program folder: its VESKA.INI starts the service on its port, and its
// VESKA.LOG receives the log.
TEST(VeskaDir, NonAsciiFolderIsTheProgramFolder)
{
    TTempDir tmp("veska-dir");
    const std::string folder = tmp.Path() + "Pr\xc3\xbc" "fung \xc3\xbc";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const int port = FreePort();
    const std::string ini = "[OPTIONS]\nStartOpt=0\nDefaultPort=" + std::to_string(port) +
                            "\nBindAll=No\nBindSelected=Yes\nIntSelected=127.0.0.1\n"
                            "LogNone=No\nLogSelected=Yes\nLogService=Yes\n";
    {
        std::ofstream out(folder + "/VESKA.INI", std::ios::binary);
        out << ini;
    }
    TTempDir streams("veska-out");
    // Ended whatever happens below.
    struct TRunning {
        pid_t Pid;
        ~TRunning()
        {
            ::kill(Pid, SIGKILL);
            WaitFor(Pid);
        }
    } veska{Spawn({"--dir", folder}, kOffscreen, streams)};

    const std::string log = folder + "/VESKA.LOG";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFile(log).find("Service started ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(ReadFile(log).find("Service started "), std::string::npos) << ReadFile(streams.File("err"));

    // Served on the port its settings name.
    wire::TWireClient client(port);
    client.Send(wire::BindRequest("\x01"));
    EXPECT_EQ(wire::ToHex(client.ReadExactly(wire::BindResponse("\x01").size())),
              wire::ToHex(wire::BindResponse("\x01")));
    // Nothing was written beside the executable instead.
    EXPECT_FALSE(std::ifstream(std::string(VESKA_BUILD_DIR) + "/ui/VESKA.LOG").good());
}

}  // namespace
