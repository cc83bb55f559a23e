// A stand-in for a service manager's notification socket.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

// A datagram socket bound to a path, or to an abstract name when the text
// starts with "@"; NOTIFY_SOCKET names it while the object lives.
class TManagerSocket {
public:
    explicit TManagerSocket(const std::string& name) : FName(name)
    {
        FSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (name.empty() || name.size() >= sizeof address.sun_path) throw std::runtime_error("bad socket name");
        std::memcpy(address.sun_path, name.data(), name.size());
        const bool abstract = name[0] == '@';
        if (abstract) address.sun_path[0] = '\0';
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 0 : 1));
        if (FSocket < 0 || ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) != 0)
            throw std::runtime_error("cannot bind " + name);
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
    }
    ~TManagerSocket()
    {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(FSocket);
        if (FName[0] != '@') ::unlink(FName.c_str());
    }
    TManagerSocket(const TManagerSocket&) = delete;
    TManagerSocket& operator=(const TManagerSocket&) = delete;

    // The next datagram, if one comes within a bounded wait.
    std::optional<std::string> Receive()
    {
        pollfd fd{FSocket, POLLIN, 0};
        if (::poll(&fd, 1, 5000) != 1) return std::nullopt;
        char buffer[512];
        const ssize_t got = ::recv(FSocket, buffer, sizeof buffer, 0);
        if (got < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(got));
    }

private:
    std::string FName;
    int FSocket = -1;
};
