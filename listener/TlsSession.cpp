#include "listener/TlsSession.h"

#include "listener/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

TTlsSession::TTlsSession(const TTlsContext& context, int fd) : FSsl(SSL_new(context.Handle())) {
    if (FSsl == nullptr || SSL_set_fd(FSsl, fd) != 1) {
        SSL_free(FSsl);
        ERR_clear_error();
        throw std::bad_alloc();
    }
    SSL_set_accept_state(FSsl);
}

TTlsSession::~TTlsSession() { SSL_free(FSsl); }

TTlsSession::TStatus TTlsSession::Status(int result) {
    const int error = SSL_get_error(FSsl, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return TStatus::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return TStatus::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return TStatus::Closed;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0) {
            // The peer went away without a word, or the socket failed.
            const int system = errno;
            ERR_clear_error();
            if (system == 0) return TStatus::Closed;
            FError = std::strerror(system);
            return TStatus::Reset;
        }
        [[fallthrough]];
    default:
        FError = TlsErrorText("TLS error " + std::to_string(error));
        return TStatus::Failed;
    }
}

TTlsSession::TStatus TTlsSession::Handshake() {
    errno = 0;
    const int result = SSL_do_handshake(FSsl);
    if (result == 1) {
        FEstablished = true;
        return TStatus::Done;
    }
    return Status(result);
}

TTlsSession::TStatus TTlsSession::Read(char* buffer, std::size_t size, std::size_t& got) {
    errno = 0;
    const int result = SSL_read(FSsl, buffer, static_cast<int>(size > INT_MAX ? INT_MAX : size));
    if (result > 0) {
        got = static_cast<std::size_t>(result);
        return TStatus::Done;
    }
    return Status(result);
}

TTlsSession::TStatus TTlsSession::Write(std::string_view data, std::size_t& sent) {
    errno = 0;
    const int result = SSL_write(FSsl, data.data(), static_cast<int>(data.size() > INT_MAX ? INT_MAX : data.size()));
    if (result > 0) {
        sent = static_cast<std::size_t>(result);
        return TStatus::Done;
    }
    return Status(result);
}

bool TTlsSession::Buffered() const { return SSL_has_pending(FSsl) == 1; }

void TTlsSession::Close() {
    if (FEstablished) SSL_shutdown(FSsl);
    ERR_clear_error();
}
