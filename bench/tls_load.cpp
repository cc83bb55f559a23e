// tls_load: LDAP searches over TLS, closed loop. Each of N connections does
// its TLS handshake (LDAPS, or StartTLS with --starttls), binds once, then
// keeps exactly one search outstanding. With --handshakes each connection
// instead connects, completes a handshake and closes, again and again.
// Prints one JSON line: searches/s (or handshakes/s) and latency percentiles.
//
//   c++ -O2 -std=c++20 -pthread -o tls_load bench/tls_load.cpp -lssl -lcrypto
//   tls_load -p PORT [-H 127.0.0.1] [-c 1] [-d 10] [-w 1] [-b BASE]
//            [-s SUBSTRING] [--starttls] [--handshakes] [--tls12]
//
// The filter is (|(cn=*S*)(mail=*S*)) with S = -s (default smith), asking for
// cn, mail, sn and givenName. One thread per connection, blocking sockets:
// the same client for every server measured. The certificate is not
// verified (the servers run on this machine's loopback with a test one).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

struct TOptions {
    std::string Host = "127.0.0.1";
    int Port = 0;
    int Connections = 1;
    double Seconds = 10;
    double Warmup = 1;
    std::string Base;
    std::string Substring = "smith";
    bool StartTls = false;
    bool Handshakes = false;
    bool Tls12 = false;
};

std::string Element(int tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else if (n < 0x100) {
        out += '\x81';
        out += static_cast<char>(n);
    } else {
        out += '\x82';
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n & 0xff);
    }
    return out + content;
}

std::string Message(int id, const std::string& operation) {
    return Element(0x30, Element(0x02, std::string(1, static_cast<char>(id))) + operation);
}

std::string SearchRequest(const TOptions& o, int id) {
    const auto any = [&](const std::string& type) {
        return Element(0xA4, Element(0x04, type) + Element(0x30, Element(0x81, o.Substring)));
    };
    std::string attributes;
    for (const char* a : {"cn", "mail", "sn", "givenName"}) attributes += Element(0x04, a);
    return Message(id, Element(0x63, Element(0x04, o.Base) + Element(0x0A, "\x02") + Element(0x0A, std::string(1, '\0')) +
                                         Element(0x02, std::string(1, '\0')) + Element(0x02, std::string(1, '\0')) +
                                         Element(0x01, std::string(1, '\0')) + Element(0xA1, any("cn") + any("mail")) +
                                         Element(0x30, attributes)));
}

const std::string kBind = Message(1, Element(0x60, Element(0x02, "\x03") + Element(0x04, "") + Element(0x80, "")));
const std::string kStartTls = Message(1, Element(0x77, Element(0x80, "1.3.6.1.4.1.1466.20037")));

// Reads whole messages until one with the operation tag `until`; false on failure.
template <typename Read>
bool ReadUntil(Read&& read, std::string& buffer, int until, int& entries) {
    for (;;) {
        while (buffer.size() >= 2) {
            const auto first = static_cast<unsigned char>(buffer[1]);
            std::size_t head = 2, length = first;
            if (first & 0x80) {
                head += first & 0x7f;
                if (buffer.size() < head) break;
                length = 0;
                for (std::size_t i = 2; i < head; ++i) length = length << 8 | static_cast<unsigned char>(buffer[i]);
            }
            if (buffer.size() < head + length) break;
            // The operation follows the message ID (short form).
            const std::size_t idAt = head;
            const std::size_t opAt = idAt + 2 + static_cast<unsigned char>(buffer[idAt + 1]);
            const int tag = opAt < buffer.size() ? static_cast<unsigned char>(buffer[opAt]) : -1;
            buffer.erase(0, head + length);
            if (tag == 0x64) ++entries;
            if (tag == until) return true;
        }
        char chunk[65536];
        const int got = read(chunk, sizeof chunk);
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

int Connect(const TOptions& o) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(o.Port));
    inet_pton(AF_INET, o.Host.c_str(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// A TLS session on a fresh connection (after StartTLS when asked); null on failure.
SSL* Open(const TOptions& o, SSL_CTX* context, int& fd) {
    fd = Connect(o);
    if (fd < 0) return nullptr;
    if (o.StartTls) {
        std::string buffer;
        int entries = 0;
        if (::send(fd, kStartTls.data(), kStartTls.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kStartTls.size()) ||
            !ReadUntil([fd](char* b, int n) { return static_cast<int>(::recv(fd, b, static_cast<std::size_t>(n), 0)); },
                       buffer, 0x78, entries)) {
            ::close(fd);
            return nullptr;
        }
    }
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    if (SSL_connect(ssl) != 1) {
        SSL_free(ssl);
        ::close(fd);
        ERR_clear_error();
        return nullptr;
    }
    return ssl;
}

struct TWorker {
    std::vector<std::uint32_t> Micros;  // of the measured window
    std::uint64_t Done = 0, Entries = 0, Errors = 0;
};

void Run(const TOptions& o, SSL_CTX* context, const std::atomic<int>& phase, TWorker& w) {
    // phase: 0 warm-up, 1 measuring, 2 over
    if (o.Handshakes) {
        while (phase.load() < 2) {
            const auto start = TClock::now();
            int fd = -1;
            SSL* ssl = Open(o, context, fd);
            if (ssl == nullptr) {
                ++w.Errors;
                continue;
            }
            SSL_shutdown(ssl);
            SSL_free(ssl);
            ::close(fd);
            if (phase.load() == 1) {
                ++w.Done;
                w.Micros.push_back(static_cast<std::uint32_t>(
                    std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - start).count()));
            }
        }
        return;
    }
    int fd = -1;
    SSL* ssl = Open(o, context, fd);
    if (ssl == nullptr) {
        ++w.Errors;
        return;
    }
    auto read = [ssl](char* b, int n) { return SSL_read(ssl, b, n); };
    std::string buffer;
    int entries = 0;
    if (SSL_write(ssl, kBind.data(), static_cast<int>(kBind.size())) <= 0 || !ReadUntil(read, buffer, 0x61, entries)) {
        ++w.Errors;
        return;
    }
    const std::string search = SearchRequest(o, 2);
    while (phase.load() < 2) {
        const auto start = TClock::now();
        entries = 0;
        if (SSL_write(ssl, search.data(), static_cast<int>(search.size())) <= 0 || !ReadUntil(read, buffer, 0x65, entries)) {
            ++w.Errors;
            break;
        }
        if (phase.load() == 1) {
            ++w.Done;
            w.Entries += static_cast<std::uint64_t>(entries);
            w.Micros.push_back(static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - start).count()));
        }
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ::close(fd);
}

bool Parse(int argc, char** argv, TOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "-p" && value) o.Port = std::atoi(argv[++i]);
        else if (a == "-H" && value) o.Host = argv[++i];
        else if (a == "-c" && value) o.Connections = std::clamp(std::atoi(argv[++i]), 1, 1024);
        else if (a == "-d" && value) o.Seconds = std::clamp(std::atof(argv[++i]), 0.5, 600.0);
        else if (a == "-w" && value) o.Warmup = std::clamp(std::atof(argv[++i]), 0.0, 60.0);
        else if (a == "-b" && value) o.Base = argv[++i];
        else if (a == "-s" && value) o.Substring = argv[++i];
        else if (a == "--starttls") o.StartTls = true;
        else if (a == "--handshakes") o.Handshakes = true;
        else if (a == "--tls12") o.Tls12 = true;
        else return false;
    }
    return o.Port > 0 && o.Port < 65536;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: tls_load -p PORT [-H HOST] [-c N] [-d S] [-w S] [-b BASE] [-s SUB] "
                             "[--starttls] [--handshakes] [--tls12]\n");
        return 2;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    // No session reuse: every handshake is a full one.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    if (o.Tls12) SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);

    std::atomic<int> phase{0};
    std::vector<TWorker> workers(static_cast<std::size_t>(o.Connections));
    std::vector<std::thread> threads;
    for (auto& w : workers) threads.emplace_back([&, wp = &w] { Run(o, context, phase, *wp); });
    std::this_thread::sleep_for(std::chrono::duration<double>(o.Warmup));
    phase = 1;
    const auto start = TClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(o.Seconds));
    phase = 2;
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    for (auto& t : threads) t.join();

    std::vector<std::uint32_t> all;
    std::uint64_t done = 0, entries = 0, errors = 0;
    for (const auto& w : workers) {
        all.insert(all.end(), w.Micros.begin(), w.Micros.end());
        done += w.Done;
        entries += w.Entries;
        errors += w.Errors;
    }
    std::sort(all.begin(), all.end());
    const auto pct = [&](double p) {
        return all.empty() ? 0u : all[std::min(all.size() - 1, static_cast<std::size_t>(p * static_cast<double>(all.size())))];
    };
    std::printf("{\"mode\":\"%s\",\"connections\":%d,\"per_s\":%.1f,\"entries_per_op\":%.2f,\"p50_us\":%u,"
                "\"p99_us\":%u,\"max_us\":%u,\"errors\":%llu}\n",
                o.Handshakes ? "handshakes" : o.StartTls ? "starttls" : "ldaps", o.Connections,
                static_cast<double>(done) / elapsed, done ? static_cast<double>(entries) / static_cast<double>(done) : 0.0,
                pct(0.50), pct(0.99), all.empty() ? 0u : all.back(), static_cast<unsigned long long>(errors));
    SSL_CTX_free(context);
    return errors == 0 && done > 0 ? 0 : 1;
}
