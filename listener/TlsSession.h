// One connection's TLS state over its non-blocking socket. Used by the thread
// that owns the connection only. The library writes to the socket with
// write(2): the process must ignore SIGPIPE (both programs do).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;
class TTlsContext;

class TTlsSession {
public:
    // What a step came to. Want*: try again once the socket is readable or
    // writable. Closed: the peer ended the stream. Reset: the socket failed
    // (reset by the peer and the like). Failed: a TLS error, see ErrorText.
    enum class TStatus { Done, WantRead, WantWrite, Closed, Reset, Failed };

    // The server side of a session on fd (not owned). Raises std::bad_alloc
    // when the library cannot make one.
    TTlsSession(const TTlsContext& context, int fd);
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    TStatus Handshake();
    bool Established() const { return FEstablished; }
    // Decrypted octets into buffer; Done with `got` set, or why none came.
    TStatus Read(char* buffer, std::size_t size, std::size_t& got);
    // Encrypts and sends a prefix of data; Done with `sent` set (at least one
    // octet), or why nothing went.
    TStatus Write(std::string_view data, std::size_t& sent);
    // Decrypted or received octets held inside the session, which the socket
    // will not announce again.
    bool Buffered() const;
    // One try at telling the peer we close; never waits.
    void Close();
    // The reason of the last Failed.
    const std::string& ErrorText() const { return FError; }

private:
    TStatus Status(int result);

    SSL* FSsl;
    bool FEstablished = false;
    std::string FError;
};
