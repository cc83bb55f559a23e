// Connection figures of a running veskad: idle connections and their memory,
// connect/close rates, a client that never reads a large answer, and the stop
// with thousands of connections open. Prints figures; never fails.
//
//   bench_connections [PATH_TO_VESKAD PATH_TO_API_SO [IDLE_CONNECTIONS]]
//
// Without arguments it runs the veskad and the reference library of its own
// build. The directory is 10,000 entries of an LDIF file; API.so is copied into
// the program folder beside a mail.db that holds the tables and no users (a
// library with no domains, such as bench/empty_api.c, does as well).
#include "ldap/Framing.h"
#include "ldap/LDAPASN.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef VESKA_BUILT_VESKAD
#define VESKA_BUILT_VESKAD "veskad"
#define VESKA_BUILT_API "API.so"
#define VESKA_SOURCE_DIR "."
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEntries = 10000;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long RssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int Threads(pid_t pid) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
        ++n;
    return n;
}

int Descriptors(pid_t pid) {
    int n = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end; !error && it != end;
         it.increment(error))
        ++n;
    return n;
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int Connect(int port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return;
        done += static_cast<std::size_t>(sent);
    }
}

std::string Bind(int id) {
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, std::string(1, static_cast<char>(id)));
    TASNNode& bind = message.Children.Add(0x60);
    bind.Children.Add(0x02, "\x03");
    bind.Children.Add(0x04);
    bind.Children.Add(0x80);
    return request.Encode();
}

// (cn=*part*)
std::string Search(const std::string& part) {
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, "\x02");
    TASNNode& search = message.Children.Add(0x63);
    search.Children.Add(0x04, "o=Bench");
    search.Children.Add(0x0A, "\x02");
    search.Children.Add(0x0A, std::string_view("\x00", 1));
    search.Children.Add(0x02, std::string_view("\x00", 1));
    search.Children.Add(0x02, std::string_view("\x00", 1));
    search.Children.Add(0x01, std::string_view("\x00", 1));
    TASNNode& filter = search.Children.Add(0xA4);
    filter.Children.Add(0x04, "cn");
    filter.Children.Add(0x30).Children.Add(0x81, part);
    search.Children.Add(0x30);
    return request.Encode();
}

// Reads answers until a SearchResultDone or BindResponse; the number of entries, or -1.
int ReadAnswer(int fd, int timeoutMs = 10000) {
    std::string pending;
    int entries = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (Clock::now() < deadline) {
        while (auto size = FrameSize(pending, 1u << 30)) {
            const std::size_t header = 2 + (static_cast<unsigned char>(pending[1]) >= 0x80 ? pending[1] & 0x7F : 0);
            std::size_t at = header;
            at += 2 + static_cast<unsigned char>(pending[at + 1]);  // message ID (short form)
            const auto tag = static_cast<unsigned char>(pending[at]);
            pending.erase(0, *size);
            if (tag == 0x64) ++entries;
            if (tag == 0x65 || tag == 0x61) return entries;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return -1;
        pending.append(buffer, static_cast<std::size_t>(got));
    }
    return -1;
}

struct TDaemon {
    pid_t Pid = -1;
    int Port = 0;
    std::string Dir;
};

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

TDaemon StartDaemon(const std::string& veskad, const std::string& api) {
    TDaemon daemon;
    char pattern[] = "/tmp/bench_connections.XXXXXX";
    daemon.Dir = ::mkdtemp(pattern);
    std::filesystem::copy_file(api, daemon.Dir + "/API.so");
    // The reference library opens mail.db; empty tables mean no mail-server users.
    const std::string schema = std::string(VESKA_SOURCE_DIR) + "/api/schema.sql";
    const std::string makeDatabase = "sqlite3 '" + daemon.Dir + "/mail.db' < '" + schema + "'";
    if (std::system(makeDatabase.c_str()) != 0)
        std::fprintf(stderr, "could not run: %s (a library that needs no mail.db still works)\n",
                     makeDatabase.c_str());
    {
        std::ofstream ldif(daemon.Dir + "/bench.ldif");
        for (int i = 0; i < kEntries; ++i)
            ldif << "dn: cn=User " << i << ",o=Bench\ncn: User " << i << "\nmail: user" << i
                 << "@bench.example\nsn: Surname" << i << "\ngivenName: Given" << i << "\n\n";
    }
    daemon.Port = FreePort();
    {
        std::ofstream ini(daemon.Dir + "/VESKA.INI");
        ini << "[OPTIONS]\nStartOpt=0\nDefaultPort=" << daemon.Port << "\nExtFile=" << daemon.Dir
            << "/bench.ldif\nLogSelected=No\nBindSelected=Yes\nIntSelected=127.0.0.1\nMaxResults=0\n";
    }
    daemon.Pid = ::fork();
    if (daemon.Pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(veskad.c_str(), veskad.c_str(), "--dir", daemon.Dir.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 600; ++i) {
        const int fd = Connect(daemon.Port);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return daemon;
}

void StopDaemon(TDaemon& daemon) {
    if (daemon.Pid > 0) {
        ::kill(daemon.Pid, SIGTERM);
        ::waitpid(daemon.Pid, nullptr, 0);
    }
    std::filesystem::remove_all(daemon.Dir);
}

double SearchMs(int port, const std::string& part, int* entries) {
    const int fd = Connect(port);
    const auto start = Clock::now();
    SendAll(fd, Search(part));
    *entries = ReadAnswer(fd);
    const double ms = MsSince(start);
    ::close(fd);
    return ms;
}

void Settle(pid_t pid, int connections) {
    // Until the daemon holds the connections (or two seconds pass).
    for (int i = 0; i < 200 && Descriptors(pid) < connections; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 || (argc > 1 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: %s [PATH_TO_VESKAD PATH_TO_API_SO [IDLE_CONNECTIONS]]\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string veskad = argc > 2 ? argv[1] : VESKA_BUILT_VESKAD;
    const std::string api = argc > 2 ? argv[2] : VESKA_BUILT_API;
    const int idle = argc > 3 ? std::atoi(argv[3]) : 10000;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::printf("descriptor limit (hard) %lu; %u cores\n", static_cast<unsigned long>(limit.rlim_max),
                std::thread::hardware_concurrency());

    TDaemon daemon = StartDaemon(veskad, api);
    std::printf("veskad pid %d on port %d: RSS %ld KiB, %d threads after start (%d entries)\n", daemon.Pid,
                daemon.Port, RssKiB(daemon.Pid), Threads(daemon.Pid), kEntries);

    // 1,000 connect/close in a row.
    {
        const auto start = Clock::now();
        for (int i = 0; i < 1000; ++i) {
            const int fd = Connect(daemon.Port);
            if (fd >= 0) ::close(fd);
        }
        std::printf("1000 connect/close in a row: %.1f ms\n", MsSince(start));
    }

    // 1,000 simultaneous connects, each answered a bind.
    {
        std::vector<int> fds;
        const auto start = Clock::now();
        const sockaddr_in address = Loopback(daemon.Port);
        for (int i = 0; i < 1000; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            fds.push_back(fd);
        }
        int answered = 0;
        for (const int fd : fds) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 5000);
            ::fcntl(fd, F_SETFL, 0);
            SendAll(fd, Bind(1));
        }
        for (const int fd : fds) answered += ReadAnswer(fd, 5000) == 0 ? 1 : 0;
        std::printf("1000 simultaneous connects: %d answered a bind within %.1f ms\n", answered, MsSince(start));
        for (const int fd : fds) ::close(fd);
    }

    // Idle connections and a search meanwhile.
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long before = RssKiB(daemon.Pid);
        std::vector<int> fds;
        const auto start = Clock::now();
        for (int i = 0; i < idle; ++i) {
            const int fd = Connect(daemon.Port);
            if (fd < 0) break;
            fds.push_back(fd);
        }
        const double connectMs = MsSince(start);
        Settle(daemon.Pid, static_cast<int>(fds.size()));
        std::printf("%zu idle connections (opened in %.0f ms): RSS %ld KiB (%ld KiB before), %d threads\n",
                    fds.size(), connectMs, RssKiB(daemon.Pid), before, Threads(daemon.Pid));
        std::vector<double> times;
        int entries = 0;
        for (int i = 0; i < 21; ++i) times.push_back(SearchMs(daemon.Port, "User 4242", &entries));
        std::sort(times.begin(), times.end());
        std::printf("  a search meanwhile (%d entry): median %.2f ms, worst %.2f ms of 21\n", entries, times[10],
                    times.back());

        // Stop with them all open (plus some that never read a large answer).
        std::vector<int> stuck;
        for (int i = 0; i < 20; ++i) {
            stuck.push_back(Connect(daemon.Port, 4096));
            SendAll(stuck.back(), Search("User"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto stop = Clock::now();
        ::kill(daemon.Pid, SIGTERM);
        ::waitpid(daemon.Pid, nullptr, 0);
        std::printf("SIGTERM with %zu connections open: exited after %.1f ms\n", fds.size() + stuck.size(),
                    MsSince(stop));
        daemon.Pid = -1;
        for (const int fd : fds) ::close(fd);
        for (const int fd : stuck) ::close(fd);
    }
    StopDaemon(daemon);

    // Clients that never read a 10,000-entry answer.
    {
        TDaemon fresh = StartDaemon(veskad, api);
        int entries = 0;
        const double ms = SearchMs(fresh.Port, "User", &entries);
        std::printf("a %d-entry search read at once: %.1f ms\n", entries, ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const long before = RssKiB(fresh.Pid);
        constexpr int kStuck = 20;
        std::vector<int> fds;
        for (int i = 0; i < kStuck; ++i) {
            fds.push_back(Connect(fresh.Port, 4096));
            SendAll(fds.back(), Search("User"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        const long during = RssKiB(fresh.Pid);
        std::printf("%d clients never reading a %d-entry answer: RSS %ld KiB -> %ld KiB (%.0f KiB per client)\n",
                    kStuck, kEntries, before, during, static_cast<double>(during - before) / kStuck);
        for (const int fd : fds) {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        std::printf("  after they reset: RSS %ld KiB\n", RssKiB(fresh.Pid));
        StopDaemon(fresh);
    }
    return 0;
}
