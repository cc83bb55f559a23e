// The server's TLS settings: one certificate (with its chain) and key, read
// from PEM files, shared read-only by every connection of an activation.
#pragma once

#include "listener/Connection.h"

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

// A certificate or key that cannot be used; Cause() names the path and says why.
class ETlsError : public ESocketError {
public:
    using ESocketError::ESocketError;
};

class TTlsContext {
public:
    // Reads the certificate chain and the private key (keyPath empty: the key
    // is in the certificate file). TLS 1.2 and 1.3 only, the library's default
    // secure ciphers, no compression, no renegotiation. Raises ETlsError.
    static std::shared_ptr<const TTlsContext> Load(const std::string& certificatePath, const std::string& keyPath);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    // Thread-safe for making sessions (the library locks its own state).
    SSL_CTX* Handle() const { return FContext; }

private:
    explicit TTlsContext(SSL_CTX* context) : FContext(context) {}
    SSL_CTX* FContext;
};

// Whether users other than the owner and the file's group may read the file.
bool ReadableByOthers(const std::string& path);

// The library's reason for the last failure on this thread ("key values
// mismatch"), or fallback when it gives none; clears the thread's error queue.
std::string TlsErrorText(const std::string& fallback = "unknown TLS error");
