#include "support/Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace wire {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string Hex(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) throw std::invalid_argument("odd hex digit count");
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) throw std::invalid_argument("not a hex pair: " + std::string(text.substr(i, 2)));
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::string ToHex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        if (!out.empty()) out.push_back(' ');
        const auto u = static_cast<unsigned char>(c);
        out.push_back(digits[u >> 4]);
        out.push_back(digits[u & 15]);
    }
    return out;
}

TWireClient::TWireClient(int port, const std::string& host) {
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FSocket < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        Close();
        throw std::runtime_error("bad address " + host);
    }
    if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        Close();
        throw std::runtime_error("connect: " + std::string(std::strerror(error)));
    }
}

TWireClient::~TWireClient() { Close(); }

void TWireClient::Close() {
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
}

void TWireClient::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(FSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("send: " + std::string(std::strerror(errno)));
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string TWireClient::ReadExactly(std::size_t n, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    while (out.size() < n) {
        pollfd p{FSocket, POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[65536];
        const std::size_t want = std::min(sizeof buffer, n - out.size());
        const ssize_t got = ::recv(FSocket, buffer, want, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

bool TWireClient::PeerClosed(int timeoutMs, std::string* received) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{FSocket, POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[65536];
        const ssize_t got = ::recv(FSocket, buffer, sizeof buffer, 0);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno == ECONNRESET || errno == EPIPE;
        }
        if (received != nullptr) received->append(buffer, static_cast<std::size_t>(got));
    }
}

int StartLdapServer(TTCPServer& server, TSearchBranch search) {
    server.OnExecute = [search = std::move(search)](TConnection& connection) {
        SrvExecuteMessage(connection, search);
    };
    server.SetActive(false);
    server.ClearBindings();
    server.AddBinding("127.0.0.1", 0);
    server.SetActive(true);
    return server.Binding(0).Port;
}

std::string BindRequest(std::string_view messageIDOctets, std::string_view name) {
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, messageIDOctets);
    TASNNode& bind = message.Children.Add(0x60);
    bind.Children.Add(0x02, std::string_view("\x03", 1));
    bind.Children.Add(0x04, name);
    bind.Children.Add(0x80, "");
    return request.Encode();
}

std::string BindResponse(std::string_view messageIDOctets) {
    std::string out;
    out.push_back(0x30);
    out.push_back(static_cast<char>(11 + messageIDOctets.size()));
    out.push_back(0x02);
    out.push_back(static_cast<char>(messageIDOctets.size()));
    out += messageIDOctets;
    out += Hex("61 07 0A 01 00 04 00 04 00");
    return out;
}

std::string Tlv(int tag, std::string_view content)
{
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string octets;
        for (std::size_t v = n; v != 0; v >>= 8) octets.insert(octets.begin(), static_cast<char>(v & 0xFF));
        out += static_cast<char>(0x80 | octets.size());
        out += octets;
    }
    out += content;
    return out;
}

}  // namespace wire
