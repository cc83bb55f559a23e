#include "listener/Connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

TConnection::TConnection(int fd, std::string peerIP, TOutputBudget& budget)
    : FSocket(fd), FPeerIP(std::move(peerIP)), FOutput(budget), FLastProgress(TClock::now()) {}

TConnection::~TConnection() { CloseSocket(); }

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
