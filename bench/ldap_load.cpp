// ldap_load: a closed-loop LDAP search load. N connections each bind once,
// then keep exactly one search outstanding; a finished answer sends the next.
// Prints searches/s and the latency percentiles of the measured window.
//
//   c++ -O2 -std=c++20 -pthread -o ldap_load bench/ldap_load.cpp
//   ldap_load -p PORT [-H 127.0.0.1] [-c 8] [-t 1] [-d 10] [-w 1] [-f FILTER]
//             [-b BASE] [-a cn,mail] [-z 0] [-n MAX] [-T 5] [--lowat] [--json]
//             [--dump] [--tag key=value]...
//
// Stand-alone on purpose (no project library, no libldap): deploy and bench
// scripts build it with one compiler call on any machine.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// ------------------------------------------------------------------ BER out

void PutLength(std::string& out, std::size_t length)
{
    if (length < 0x80) {
        out += static_cast<char>(length);
        return;
    }
    char octets[sizeof(std::size_t)];
    int n = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8)
        octets[n++] = static_cast<char>(rest & 0xFF);
    out += static_cast<char>(0x80 | n);
    while (n > 0)
        out += octets[--n];
}

std::string Element(int tag, std::string_view content)
{
    std::string out(1, static_cast<char>(tag));
    PutLength(out, content.size());
    out.append(content);
    return out;
}

std::string Integer(int tag, long long value)
{
    // Two's complement, shortest form.
    std::string octets;
    for (;;) {
        octets.insert(octets.begin(), static_cast<char>(value & 0xFF));
        const long long rest = value >> 8;
        const bool sign = (octets.front() & 0x80) != 0;
        if ((rest == 0 && !sign) || (rest == -1 && sign))
            break;
        value = rest;
    }
    return Element(tag, octets);
}

// ------------------------------------------------------- filter text -> BER

class TFilterParser {
public:
    explicit TFilterParser(std::string_view text) : FText(text) {}
    std::string Parse()
    {
        std::string out = Filter(0);
        if (FAt != FText.size())
            Fail("text after the filter");
        return out;
    }

private:
    [[noreturn]] void Fail(const std::string& why) const
    {
        throw std::runtime_error("filter: " + why + " at offset " + std::to_string(FAt));
    }
    char Peek() const { return FAt < FText.size() ? FText[FAt] : '\0'; }
    void Expect(char c)
    {
        if (Peek() != c)
            Fail(std::string("expected '") + c + "'");
        ++FAt;
    }

    std::string Filter(int depth)
    {
        if (depth > 32)
            Fail("nested too deeply");
        Expect('(');
        std::string out;
        const char c = Peek();
        if (c == '&' || c == '|') {
            ++FAt;
            std::string items;
            while (Peek() == '(')
                items += Filter(depth + 1);
            if (items.empty())
                Fail("empty set");
            out = Element(c == '&' ? 0xA0 : 0xA1, items);
        } else if (c == '!') {
            ++FAt;
            out = Element(0xA2, Filter(depth + 1));
        } else {
            out = Item();
        }
        Expect(')');
        return out;
    }

    // One value up to the next unescaped '*' or ')'.
    std::string Value()
    {
        std::string value;
        for (;;) {
            const char c = Peek();
            if (c == '\0')
                Fail("unterminated value");
            if (c == '*' || c == ')')
                return value;
            if (c == '(')
                Fail("'(' in a value");
            ++FAt;
            if (c != '\\') {
                value += c;
                continue;
            }
            if (FAt + 2 > FText.size())
                Fail("short escape");
            const std::string hex(FText.substr(FAt, 2));
            char* end = nullptr;
            const long octet = std::strtol(hex.c_str(), &end, 16);
            if (end != hex.c_str() + 2)
                Fail("bad escape");
            value += static_cast<char>(octet);
            FAt += 2;
        }
    }

    std::string Item()
    {
        const std::size_t start = FAt;
        while (FAt < FText.size() && std::strchr("=<>~()*:", FText[FAt]) == nullptr)
            ++FAt;
        const std::string attribute(FText.substr(start, FAt - start));
        if (attribute.empty())
            Fail("missing attribute");
        int tag = 0xA3; // equality
        if (Peek() == '>' || Peek() == '<' || Peek() == '~') {
            tag = Peek() == '>' ? 0xA5 : Peek() == '<' ? 0xA6 : 0xA8;
            ++FAt;
        } else if (Peek() == ':') {
            Fail("extensible match is not supported");
        }
        Expect('=');
        const std::string type = Element(0x04, attribute);
        if (tag != 0xA3)
            return Element(tag, type + Element(0x04, Value()));
        // Equality, presence or substrings.
        std::vector<std::string> parts{Value()};
        while (Peek() == '*') {
            ++FAt;
            parts.push_back(Value());
        }
        if (parts.size() == 1)
            return Element(0xA3, type + Element(0x04, parts[0]));
        if (parts.size() == 2 && parts[0].empty() && parts[1].empty())
            return Element(0x87, attribute);
        std::string items;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].empty())
                continue;
            const int kind = i == 0 ? 0x80 : i + 1 == parts.size() ? 0x82 : 0x81;
            items += Element(kind, parts[i]);
        }
        return Element(0xA4, type + Element(0x30, items));
    }

    std::string_view FText;
    std::size_t FAt = 0;
};

// ----------------------------------------------------------------- BER in

struct TElement {
    int Tag = 0;
    std::string_view Content;
    std::size_t Size = 0; // header and content
};

// The first element of data; nullopt while incomplete. Throws on a length
// no message of ours can have.
std::optional<TElement> ReadElement(std::string_view data)
{
    if (data.size() < 2)
        return std::nullopt;
    const auto octet = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    std::size_t header = 2;
    std::size_t length = octet(1);
    if (length & 0x80) {
        const std::size_t n = length & 0x7F;
        if (n == 0 || n > 4)
            throw std::runtime_error("unsupported length form");
        if (data.size() < 2 + n)
            return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < n; ++i)
            length = (length << 8) | octet(2 + i);
        header += n;
    }
    if (data.size() < header + length)
        return std::nullopt;
    return TElement{octet(0), data.substr(header, length), header + length};
}

TElement MustRead(std::string_view& data)
{
    const std::optional<TElement> element = ReadElement(data);
    if (!element)
        throw std::runtime_error("truncated element");
    data.remove_prefix(element->Size);
    return *element;
}

long long IntegerValue(std::string_view content)
{
    if (content.empty() || content.size() > 8)
        throw std::runtime_error("bad integer");
    long long value = static_cast<signed char>(content[0]);
    for (std::size_t i = 1; i < content.size(); ++i)
        value = (value << 8) | static_cast<unsigned char>(content[i]);
    return value;
}

// ------------------------------------------------------------ latencies

// Log-linear buckets over nanoseconds: exact below 64, then 32 per octave
// (about 3 % wide).
class THistogram {
public:
    static constexpr int kSub = 32;
    static constexpr int kBuckets = 64 + 58 * kSub;

    void Add(std::uint64_t ns)
    {
        ++FCounts[Index(ns)];
        ++FTotal;
        FMax = std::max(FMax, ns);
    }
    void Merge(const THistogram& other)
    {
        for (int i = 0; i < kBuckets; ++i)
            FCounts[i] += other.FCounts[i];
        FTotal += other.FTotal;
        FMax = std::max(FMax, other.FMax);
    }
    std::uint64_t Total() const { return FTotal; }
    std::uint64_t Max() const { return FMax; }
    // The value below which the fraction q of the samples lie (bucket middle).
    std::uint64_t Quantile(double q) const
    {
        if (FTotal == 0)
            return 0;
        const auto rank = static_cast<std::uint64_t>(q * static_cast<double>(FTotal - 1)) + 1;
        std::uint64_t seen = 0;
        for (int i = 0; i < kBuckets; ++i) {
            seen += FCounts[i];
            if (seen >= rank)
                return std::min(Middle(i), FMax);
        }
        return FMax;
    }

private:
    static int Index(std::uint64_t v)
    {
        if (v < 64)
            return static_cast<int>(v);
        const int shift = 64 - __builtin_clzll(v) - 6; // v >> shift in [32, 63]
        const int index = 64 + (shift - 1) * kSub + static_cast<int>((v >> shift) - kSub);
        return std::min(index, kBuckets - 1);
    }
    static std::uint64_t Middle(int index)
    {
        if (index < 64)
            return static_cast<std::uint64_t>(index);
        const int shift = (index - 64) / kSub + 1;
        const std::uint64_t low = static_cast<std::uint64_t>((index - 64) % kSub + kSub) << shift;
        return low + (std::uint64_t{1} << shift) / 2;
    }

    std::uint64_t FCounts[kBuckets] = {};
    std::uint64_t FTotal = 0;
    std::uint64_t FMax = 0;
};

// ------------------------------------------------------------- settings

struct TSettings {
    std::string Host = "127.0.0.1";
    int Port = 0;
    int Connections = 1;
    int Threads = 1;
    double Duration = 10;
    double Warmup = 1;
    double Timeout = 5;
    long long MaxSearches = 0; // 0: no cap
    std::string Filter = "(objectClass=*)";
    std::string Base;
    std::vector<std::string> Attributes;
    int SizeLimit = 0;
    bool LowWater = false;
    bool Json = false;
    bool Dump = false;
    std::string CaptureFile;
    std::vector<std::pair<std::string, std::string>> Tags;
};

void Usage(FILE* to)
{
    std::fputs("usage: ldap_load -p PORT [options]\n"
               "  -H HOST      IPv4 address of the server [127.0.0.1]\n"
               "  -c N         connections [1]            -t N  threads [1, at most N]\n"
               "  -d S         measured seconds [10]      -w S  warm-up seconds [1]\n"
               "  -f FILTER    search filter, text form [(objectClass=*)]\n"
               "  -b BASE      base DN [\"\"]              -a A,B  attributes asked for\n"
               "  -z N         size limit sent [0]        -T S  seconds before a search times out [5]\n"
               "  -n N         stop after N answered searches (warm-up included)\n"
               "  --lowat      wake once per answer (SO_RCVLOWAT at the last answer's size);\n"
               "               an answer shorter than the one before is seen after about 2 ms\n"
               "  --json       one JSON line instead of text\n"
               "  --dump       entry names and attributes of the answers on stderr\n"
               "  --capture F  the octets of the first whole answer (every message after the\n"
               "               bind's) written to F\n"
               "  --tag K=V    extra field for the JSON line\n"
               "exit status 0 when at least one search was answered and nothing failed\n",
               to);
}

TSettings ParseArguments(int argc, char** argv)
{
    TSettings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-H")
            s.Host = value();
        else if (arg == "-p")
            s.Port = std::stoi(value());
        else if (arg == "-c")
            s.Connections = std::stoi(value());
        else if (arg == "-t")
            s.Threads = std::stoi(value());
        else if (arg == "-d")
            s.Duration = std::stod(value());
        else if (arg == "-w")
            s.Warmup = std::stod(value());
        else if (arg == "-T")
            s.Timeout = std::stod(value());
        else if (arg == "-n")
            s.MaxSearches = std::stoll(value());
        else if (arg == "-f")
            s.Filter = value();
        else if (arg == "-b")
            s.Base = value();
        else if (arg == "-z")
            s.SizeLimit = std::stoi(value());
        else if (arg == "-a") {
            const std::string list = value();
            std::size_t from = 0;
            while (from <= list.size()) {
                const std::size_t comma = std::min(list.find(',', from), list.size());
                if (comma > from)
                    s.Attributes.push_back(list.substr(from, comma - from));
                from = comma + 1;
            }
        } else if (arg == "--lowat")
            s.LowWater = true;
        else if (arg == "--json")
            s.Json = true;
        else if (arg == "--dump")
            s.Dump = true;
        else if (arg == "--capture")
            s.CaptureFile = value();
        else if (arg == "--tag") {
            const std::string tag = value();
            const std::size_t eq = tag.find('=');
            if (eq == std::string::npos)
                throw std::runtime_error("--tag wants KEY=VALUE");
            s.Tags.emplace_back(tag.substr(0, eq), tag.substr(eq + 1));
        } else if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            std::exit(0);
        } else {
            throw std::runtime_error("unknown option " + arg);
        }
    }
    if (s.Port <= 0 || s.Port > 65535)
        throw std::runtime_error("-p PORT is required");
    if (s.Connections < 1 || s.Connections > 10000)
        throw std::runtime_error("-c must be 1 to 10000");
    s.Threads = std::clamp(s.Threads, 1, std::min(s.Connections, 64));
    if (s.Duration <= 0 || s.Duration > 3600 || s.Warmup < 0 || s.Timeout <= 0)
        throw std::runtime_error("bad -d, -w or -T");
    return s;
}

// ------------------------------------------------------------ the load

struct TShared {
    const TSettings* Settings = nullptr;
    sockaddr_in Address{};
    std::string SearchBody; // the protocolOp, encoded once
    TClock::time_point MeasureFrom, MeasureUntil;
    std::atomic<long long> Started{0};  // searches sent, against -n
    std::atomic<long long> Answered{0}; // searches answered, against -n
    std::atomic<bool> Stop{false};
    std::atomic<bool> Captured{false};
};

struct TCounters {
    THistogram Latency;
    std::uint64_t Searches = 0; // answered inside the window
    std::uint64_t Entries = 0;
    std::uint64_t EntriesMin = UINT64_MAX, EntriesMax = 0;
    std::uint64_t ConnErrors = 0, ProtoErrors = 0, Timeouts = 0, ResultErrors = 0, Reconnects = 0;
    std::uint64_t Answers = 0; // all answered searches, warm-up included
};

enum class TState { Connecting, Binding, Searching, Idle };

struct TLink {
    int Fd = -1;
    TState State = TState::Idle;
    int MessageID = 0;
    TClock::time_point SentAt;
    std::string In;
    std::uint64_t Entries = 0;
    std::size_t AnswerSize = 0;     // octets of the answer so far
    std::size_t LastAnswerSize = 0; // octets of the previous answer
    int LowWater = 1;
    bool EverConnected = false;
    TClock::time_point RetryAt;
    std::string Capture; // the answer so far, with --capture
};

class TWorker {
public:
    TWorker(TShared& shared, int connections) : FShared(shared), FLinks(static_cast<std::size_t>(connections)) {}

    void Run()
    {
        FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (FEpoll < 0)
            throw std::runtime_error("epoll_create1 failed");
        for (TLink& link : FLinks)
            Open(link);
        epoll_event events[64];
        while (!FShared.Stop.load(std::memory_order_relaxed)) {
            const TClock::time_point now = TClock::now();
            if (now >= FShared.MeasureUntil)
                break;
            const int wait = FShared.Settings->LowWater ? 2 : 50;
            const int n = ::epoll_wait(FEpoll, events, 64, wait);
            for (int i = 0; i < n; ++i)
                OnEvent(FLinks[events[i].data.u32], events[i].events);
            Check(TClock::now(), n == 0);
        }
        for (TLink& link : FLinks)
            if (link.Fd >= 0)
                ::close(link.Fd);
        ::close(FEpoll);
    }

    TCounters Counters;

private:
    std::uint32_t IndexOf(const TLink& link) const { return static_cast<std::uint32_t>(&link - FLinks.data()); }

    void Open(TLink& link)
    {
        const bool everConnected = link.EverConnected;
        link = TLink{};
        link.EverConnected = everConnected;
        link.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (link.Fd < 0) {
            Failed(link, Counters.ConnErrors);
            return;
        }
        const int on = 1;
        ::setsockopt(link.Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const int rc = ::connect(link.Fd, reinterpret_cast<const sockaddr*>(&FShared.Address), sizeof FShared.Address);
        if (rc != 0 && errno != EINPROGRESS) {
            Failed(link, Counters.ConnErrors);
            return;
        }
        link.State = TState::Connecting;
        link.SentAt = TClock::now();
        epoll_event interest{EPOLLOUT | EPOLLIN, {.u32 = IndexOf(link)}};
        ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, link.Fd, &interest);
    }

    // Counts the failure; the connection is made again after a pause.
    void Failed(TLink& link, std::uint64_t& counter)
    {
        ++counter;
        if (link.Fd >= 0)
            ::close(link.Fd);
        link.Fd = -1;
        link.State = TState::Idle;
        link.RetryAt = TClock::now() + std::chrono::milliseconds(20);
    }

    bool SendAll(TLink& link, const std::string& data)
    {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t sent = ::send(link.Fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (sent > 0) {
                done += static_cast<std::size_t>(sent);
                continue;
            }
            if (sent < 0 && errno == EINTR)
                continue;
            return false; // a request this small always fits an idle socket
        }
        return true;
    }

    void SendBind(TLink& link)
    {
        link.MessageID = 1;
        const std::string bind = Element(0x30, Integer(0x02, 1) + Element(0x60, Integer(0x02, 3) + Element(0x04, "") +
                                                                               Element(0x80, "")));
        link.State = TState::Binding;
        if (!SendAll(link, bind))
            Failed(link, Counters.ConnErrors);
    }

    void SendSearch(TLink& link)
    {
        if (const long long cap = FShared.Settings->MaxSearches; cap > 0) {
            if (FShared.Started.fetch_add(1, std::memory_order_relaxed) >= cap) {
                link.State = TState::Idle;
                link.RetryAt = TClock::time_point::max();
                return;
            }
        }
        link.MessageID = link.MessageID >= 0x7FFFFFFF ? 2 : link.MessageID + 1;
        link.State = TState::Searching;
        link.Entries = 0;
        link.AnswerSize = 0;
        SetLowWater(link, link.LastAnswerSize);
        link.SentAt = TClock::now();
        if (!SendAll(link, Element(0x30, Integer(0x02, link.MessageID) + FShared.SearchBody)))
            Failed(link, Counters.ConnErrors);
    }

    void SetLowWater(TLink& link, std::size_t octets)
    {
        if (!FShared.Settings->LowWater)
            return;
        const int want = static_cast<int>(std::clamp<std::size_t>(octets, 1, 1 << 20));
        if (want == link.LowWater)
            return;
        ::setsockopt(link.Fd, SOL_SOCKET, SO_RCVLOWAT, &want, sizeof want);
        link.LowWater = want;
    }

    void OnEvent(TLink& link, std::uint32_t events)
    {
        if (link.Fd < 0)
            return;
        if (link.State == TState::Connecting) {
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(link.Fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (error != 0 || (events & (EPOLLERR | EPOLLHUP)) != 0) {
                Failed(link, Counters.ConnErrors);
                return;
            }
            if ((events & EPOLLOUT) == 0)
                return;
            epoll_event interest{EPOLLIN, {.u32 = IndexOf(link)}};
            ::epoll_ctl(FEpoll, EPOLL_CTL_MOD, link.Fd, &interest);
            if (link.EverConnected)
                ++Counters.Reconnects;
            link.EverConnected = true;
            SendBind(link);
            return;
        }
        Receive(link);
    }

    void Receive(TLink& link)
    {
        char buffer[256 * 1024];
        for (;;) {
            const ssize_t got = ::recv(link.Fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) {
                link.In.append(buffer, static_cast<std::size_t>(got));
                link.AnswerSize += static_cast<std::size_t>(got);
                if (static_cast<std::size_t>(got) == sizeof buffer)
                    continue;
                break;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            Failed(link, Counters.ConnErrors); // closed or reset
            return;
        }
        try {
            Messages(link);
        } catch (const std::exception& e) {
            if (FShared.Settings->Dump)
                std::fprintf(stderr, "ldap_load: %s\n", e.what());
            Failed(link, Counters.ProtoErrors);
            return;
        }
        // Wake again once the rest of an answer the size of the last may be in.
        if (link.Fd >= 0 && link.State == TState::Searching)
            SetLowWater(link, link.LastAnswerSize > link.AnswerSize ? link.LastAnswerSize - link.AnswerSize : 1);
    }

    void Messages(TLink& link)
    {
        std::size_t used = 0;
        for (;;) {
            std::string_view rest = std::string_view(link.In).substr(used);
            const std::optional<TElement> message = ReadElement(rest);
            if (!message)
                break;
            used += message->Size;
            if (message->Tag != 0x30)
                throw std::runtime_error("message is not a sequence");
            std::string_view content = message->Content;
            const TElement id = MustRead(content);
            const TElement op = MustRead(content);
            if (id.Tag != 0x02 || IntegerValue(id.Content) != link.MessageID)
                throw std::runtime_error("unexpected message ID");
            if (link.State == TState::Binding && op.Tag == 0x61) {
                if (ResultCode(op) != 0)
                    throw std::runtime_error("bind refused");
                SendSearch(link);
                if (link.Fd < 0 || link.State != TState::Searching)
                    return;
                continue;
            }
            if (link.State != TState::Searching)
                throw std::runtime_error("message while no request is outstanding");
            if (!FShared.Settings->CaptureFile.empty() && !FShared.Captured.load())
                link.Capture.append(rest.substr(0, message->Size));
            if (op.Tag == 0x64) {
                ++link.Entries;
                if (FShared.Settings->Dump)
                    DumpEntry(op);
            } else if (op.Tag == 0x65) {
                Done(link, ResultCode(op));
                if (link.Fd < 0 || link.State != TState::Searching) {
                    link.In.erase(0, used);
                    return;
                }
            } else if (op.Tag != 0x73) {
                throw std::runtime_error("unexpected operation in a search answer");
            }
        }
        link.In.erase(0, used);
    }

    static long long ResultCode(const TElement& op)
    {
        std::string_view content = op.Content;
        const TElement code = MustRead(content);
        if (code.Tag != 0x0A)
            throw std::runtime_error("result without a code");
        return IntegerValue(code.Content);
    }

    static void DumpEntry(const TElement& op)
    {
        std::string_view content = op.Content;
        const TElement name = MustRead(content);
        std::fprintf(stderr, "dn: %.*s\n", static_cast<int>(name.Content.size()), name.Content.data());
        TElement attributes = MustRead(content);
        std::string_view list = attributes.Content;
        while (!list.empty()) {
            std::string_view attribute = MustRead(list).Content;
            const TElement type = MustRead(attribute);
            std::string_view values = MustRead(attribute).Content;
            while (!values.empty()) {
                const TElement value = MustRead(values);
                std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(type.Content.size()), type.Content.data(),
                             static_cast<int>(value.Content.size()), value.Content.data());
            }
        }
        std::fputc('\n', stderr);
    }

    void Done(TLink& link, long long resultCode)
    {
        const TClock::time_point now = TClock::now();
        ++Counters.Answers;
        if (resultCode != 0)
            ++Counters.ResultErrors;
        if (now >= FShared.MeasureFrom && now < FShared.MeasureUntil && resultCode == 0) {
            ++Counters.Searches;
            Counters.Latency.Add(static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - link.SentAt).count()));
            Counters.Entries += link.Entries;
            Counters.EntriesMin = std::min(Counters.EntriesMin, link.Entries);
            Counters.EntriesMax = std::max(Counters.EntriesMax, link.Entries);
        }
        link.LastAnswerSize = link.AnswerSize;
        if (!link.Capture.empty() && !FShared.Captured.exchange(true))
            Save(FShared.Settings->CaptureFile, link.Capture);
        link.Capture.clear();
        if (const long long cap = FShared.Settings->MaxSearches;
            cap > 0 && FShared.Answered.fetch_add(1, std::memory_order_relaxed) + 1 >= cap) {
            FShared.Stop = true;
            link.State = TState::Idle;
            link.RetryAt = TClock::time_point::max();
            return;
        }
        SendSearch(link);
    }

    static void Save(const std::string& path, const std::string& octets)
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(octets.data(), 1, octets.size(), file) != octets.size() ||
            std::fclose(file) != 0)
            throw std::runtime_error("cannot write " + path);
    }

    // Timeouts, reconnects, and answers a raised low-water mark keeps hidden.
    void Check(TClock::time_point now, bool idle)
    {
        const auto timeout = std::chrono::duration_cast<TClock::duration>(
            std::chrono::duration<double>(FShared.Settings->Timeout));
        if (!idle && now - FLastCheck < std::chrono::milliseconds(2))
            return;
        FLastCheck = now;
        for (TLink& link : FLinks) {
            if (link.Fd < 0) {
                if (link.State == TState::Idle && now >= link.RetryAt)
                    Open(link);
                continue;
            }
            if (link.State == TState::Idle)
                continue;
            if (now - link.SentAt >= timeout) {
                Failed(link, Counters.Timeouts);
                continue;
            }
            if (link.State == TState::Searching && link.LowWater > 1 &&
                now - link.SentAt >= std::chrono::milliseconds(2)) {
                int available = 0;
                if (::ioctl(link.Fd, FIONREAD, &available) == 0 && available > 0) {
                    SetLowWater(link, 1);
                    Receive(link);
                }
            }
        }
    }

    TShared& FShared;
    std::vector<TLink> FLinks;
    int FEpoll = -1;
    TClock::time_point FLastCheck;
};

std::string SearchBody(const TSettings& s)
{
    std::string attributes;
    for (const std::string& a : s.Attributes)
        attributes += Element(0x04, a);
    const std::string content = Element(0x04, s.Base) + Integer(0x0A, 2) /* subtree */ +
                                Integer(0x0A, 0) /* never deref */ + Integer(0x02, s.SizeLimit) +
                                Integer(0x02, 0) + Element(0x01, std::string(1, '\0')) +
                                TFilterParser(s.Filter).Parse() + Element(0x30, attributes);
    return Element(0x63, content);
}

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string JsonText(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv)
{
    TSettings settings;
    TShared shared;
    try {
        settings = ParseArguments(argc, argv);
        shared.SearchBody = SearchBody(settings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ldap_load: %s\n", e.what());
        Usage(stderr);
        return 2;
    }
    shared.Settings = &settings;
    shared.Address.sin_family = AF_INET;
    shared.Address.sin_port = htons(static_cast<std::uint16_t>(settings.Port));
    if (::inet_pton(AF_INET, settings.Host.c_str(), &shared.Address.sin_addr) != 1) {
        std::fprintf(stderr, "ldap_load: -H wants an IPv4 address\n");
        return 2;
    }
    const auto seconds = [](double s) {
        return std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(s));
    };
    const TClock::time_point start = TClock::now();
    shared.MeasureFrom = start + seconds(settings.Warmup);
    shared.MeasureUntil = shared.MeasureFrom + seconds(settings.Duration);
    const double cpuBefore = CpuSeconds();

    std::vector<std::unique_ptr<TWorker>> workers;
    for (int t = 0; t < settings.Threads; ++t) {
        const int share = settings.Connections / settings.Threads + (t < settings.Connections % settings.Threads);
        workers.push_back(std::make_unique<TWorker>(shared, share));
    }
    std::vector<std::thread> threads;
    std::atomic<bool> failed{false};
    for (auto& worker : workers)
        threads.emplace_back([&worker, &failed] {
            try {
                worker->Run();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "ldap_load: %s\n", e.what());
                failed = true;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const TClock::time_point end = TClock::now();
    const double cpu = CpuSeconds() - cpuBefore;

    TCounters all;
    for (const auto& worker : workers) {
        const TCounters& c = worker->Counters;
        all.Latency.Merge(c.Latency);
        all.Searches += c.Searches;
        all.Entries += c.Entries;
        all.EntriesMin = std::min(all.EntriesMin, c.EntriesMin);
        all.EntriesMax = std::max(all.EntriesMax, c.EntriesMax);
        all.ConnErrors += c.ConnErrors;
        all.ProtoErrors += c.ProtoErrors;
        all.Timeouts += c.Timeouts;
        all.ResultErrors += c.ResultErrors;
        all.Reconnects += c.Reconnects;
        all.Answers += c.Answers;
    }
    // A run cut short by -n is measured over the time it took.
    const double window = std::chrono::duration<double>(std::min(end, shared.MeasureUntil) -
                                                         std::min(std::max(start, shared.MeasureFrom), end))
                              .count();
    const double rate = window > 0 ? static_cast<double>(all.Searches) / window : 0;
    const double elapsed = std::chrono::duration<double>(end - start).count();
    const std::uint64_t errors = all.ConnErrors + all.ProtoErrors + all.Timeouts + all.ResultErrors;
    const auto us = [](std::uint64_t ns) { return static_cast<long long>((ns + 500) / 1000); };
    if (all.EntriesMin == UINT64_MAX)
        all.EntriesMin = 0;

    if (settings.Json) {
        std::string line = "{";
        for (const auto& [key, value] : settings.Tags)
            line += JsonText(key) + ":" + JsonText(value) + ",";
        char numbers[1024];
        std::snprintf(numbers, sizeof numbers,
                      "\"conns\":%d,\"threads\":%d,\"duration_s\":%.3f,\"searches\":%llu,\"searches_per_s\":%.1f,"
                      "\"entries_per_s\":%.1f,\"p50_us\":%lld,\"p90_us\":%lld,\"p99_us\":%lld,\"p999_us\":%lld,"
                      "\"max_us\":%lld,\"entries_per_search_min\":%llu,\"entries_per_search_max\":%llu,"
                      "\"errors\":%llu,\"conn_errors\":%llu,\"proto_errors\":%llu,\"timeouts\":%llu,"
                      "\"result_errors\":%llu,\"reconnects\":%llu,\"loadgen_cpu_pct\":%.1f}",
                      settings.Connections, settings.Threads, window, static_cast<unsigned long long>(all.Searches),
                      rate, window > 0 ? static_cast<double>(all.Entries) / window : 0,
                      us(all.Latency.Quantile(0.50)), us(all.Latency.Quantile(0.90)),
                      us(all.Latency.Quantile(0.99)), us(all.Latency.Quantile(0.999)), us(all.Latency.Max()),
                      static_cast<unsigned long long>(all.EntriesMin), static_cast<unsigned long long>(all.EntriesMax),
                      static_cast<unsigned long long>(errors), static_cast<unsigned long long>(all.ConnErrors),
                      static_cast<unsigned long long>(all.ProtoErrors), static_cast<unsigned long long>(all.Timeouts),
                      static_cast<unsigned long long>(all.ResultErrors),
                      static_cast<unsigned long long>(all.Reconnects), elapsed > 0 ? 100 * cpu / elapsed : 0);
        line += numbers;
        std::printf("%s\n", line.c_str());
    } else {
        std::printf("%d connections, %.1f s: %.0f searches/s, p50 %lld us, p99 %lld us, max %lld us, "
                    "entries/search %llu..%llu, errors %llu (connection %llu, protocol %llu, timeouts %llu, "
                    "result %llu), reconnects %llu, load tool CPU %.0f %%\n",
                    settings.Connections, window, rate, us(all.Latency.Quantile(0.50)),
                    us(all.Latency.Quantile(0.99)), us(all.Latency.Max()),
                    static_cast<unsigned long long>(all.EntriesMin), static_cast<unsigned long long>(all.EntriesMax),
                    static_cast<unsigned long long>(errors), static_cast<unsigned long long>(all.ConnErrors),
                    static_cast<unsigned long long>(all.ProtoErrors), static_cast<unsigned long long>(all.Timeouts),
                    static_cast<unsigned long long>(all.ResultErrors),
                    static_cast<unsigned long long>(all.Reconnects), elapsed > 0 ? 100 * cpu / elapsed : 0);
    }
    std::fflush(stdout);
    return failed || errors != 0 || all.Answers == 0 ? 1 : 0;
}
