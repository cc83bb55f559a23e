#include "listener/Connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

TConnection::TConnection(int fd, std::string peerIP, TOutputBudget& budget, int stopFd)
    : FSocket(fd), FPeerIP(std::move(peerIP)), FStopFd(stopFd), FOutput(budget), FLastProgress(TClock::now()) {}

TConnection::~TConnection() { CloseSocket(); }

std::string TConnection::ReadAll() {
    std::string data(kReadChunk, '\0');
    for (;;) {
        if (FSocket < 0) return {};
        pollfd wait[2] = {{FSocket, POLLIN, 0}, {FStopFd, POLLIN, 0}};
        if (::poll(wait, FStopFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            const int error = errno;
            FConnected = false;
            throw ESocketError(std::string("Socket error on read: ") + std::strerror(error));
        }
        if (FStopFd >= 0 && wait[1].revents != 0) {
            FConnected = false;
            return {};
        }
        if (FTls) {
            std::size_t got = 0;
            switch (FTls->Read(data.data(), data.size(), got)) {
            case TTlsSession::TStatus::Done:
                data.resize(got);
                return data;
            case TTlsSession::TStatus::WantRead:
            case TTlsSession::TStatus::WantWrite:
                continue;
            case TTlsSession::TStatus::Closed:
                FConnected = false;
                return {};
            case TTlsSession::TStatus::Failed:
            case TTlsSession::TStatus::Reset:
                FConnected = false;
                throw ESocketError("Socket error on read: " + FTls->ErrorText());
            }
        }
        const ssize_t received = ::recv(FSocket, data.data(), data.size(), MSG_DONTWAIT);
        if (received > 0) {
            data.resize(static_cast<std::size_t>(received));
            return data;
        }
        if (received == 0) {
            FConnected = false;
            return {};
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        const int error = errno;
        FConnected = false;
        throw ESocketError(std::string("Socket error on read: ") + std::strerror(error));
    }
}

void TConnection::Write(std::string_view data) {
    if (!FConnected || FSocket < 0) throw ESocketError("Socket error on write: connection closed");
    if (data.size() >= TOutputQueue::kLargeBuffer) FLargeAnswer = true;
    if (FOutput.Size() == 0) {
        FLastProgress = TClock::now();
        FMovedSinceProgress = 0;
    }
    FOutput.Append(data);
    if (!Flush()) throw ESocketError("Socket error on write: connection lost");
}

void TConnection::WriteAnswer(std::unique_ptr<IAnswerSource> answer) {
    if (!FConnected || FSocket < 0) throw ESocketError("Socket error on write: connection closed");
    if (FOutput.Size() == 0) {
        FLastProgress = TClock::now();
        FMovedSinceProgress = 0;
    }
    FOutput.SetSource(std::move(answer));
    if (!Flush()) throw ESocketError("Socket error on write: connection lost");
}

bool TConnection::Flush() {
    if (FTls) return FlushTls();
    for (;;) {
        // Refill below half the share, so that a drained socket finds the
        // next pieces ready and a slow one holds no more than the share.
        if (FOutput.HasSource() && FOutput.Size() < FOutput.ShareLowWater()) FOutput.Refill();
        const std::string_view unsent = FOutput.Unsent();
        if (unsent.empty()) return true;
        const ssize_t sent = ::send(FSocket, unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            FOutput.Consume(static_cast<std::size_t>(sent));
            FMovedSinceProgress += static_cast<std::size_t>(sent);
            if (FMovedSinceProgress >= kProgressOctets || FOutput.Size() == 0) {
                FLastProgress = TClock::now();
                FMovedSinceProgress = 0;
            }
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        FConnected = false;
        return false;
    }
}

bool TConnection::FlushTls() {
    for (;;) {
        if (FOutput.HasSource() && FOutput.Size() < FOutput.ShareLowWater()) FOutput.Refill();
        const std::string_view unsent = FOutput.Unsent();
        if (unsent.empty()) return true;
        std::size_t sent = 0;
        switch (FTls->Write(unsent, sent)) {
        case TTlsSession::TStatus::Done:
            FOutput.Consume(sent);
            FMovedSinceProgress += sent;
            if (FMovedSinceProgress >= kProgressOctets || FOutput.Size() == 0) {
                FLastProgress = TClock::now();
                FMovedSinceProgress = 0;
            }
            continue;
        case TTlsSession::TStatus::WantRead:
        case TTlsSession::TStatus::WantWrite:
            return true;
        default:
            FConnected = false;
            return false;
        }
    }
}

std::string TConnection::PeerIP() const { return FPeerIP; }

std::string& TConnection::Pending() { return FPending; }

void TConnection::Disconnect() {
    std::lock_guard lock(FSocketLock);
    FConnected = false;
    if (FSocket >= 0) ::shutdown(FSocket, SHUT_RDWR);
}

bool TConnection::Connected() const { return FConnected; }

void TConnection::CloseSocket() {
    std::lock_guard lock(FSocketLock);
    FConnected = false;
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
}
