#include "listener/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* const kFailure = "Cannot start on specified port!";

// The file must exist, be a regular file and give its first octet, so that the
// cause names the system's reason rather than a PEM parser's.
void CheckReadable(const std::string& what, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    int error = errno;
    if (file != nullptr) {
        const int first = std::fgetc(file);
        error = std::ferror(file) ? errno : 0;
        std::fclose(file);
        if (error == 0 && first == EOF) throw ETlsError(kFailure, what + " " + path + ": empty file");
    }
    if (file == nullptr || error != 0)
        throw ETlsError(kFailure, what + " " + path + ": " + std::strerror(error));
}

// Whether the file has a PEM private key block ("-----BEGIN ... PRIVATE KEY-----").
bool HoldsPemKey(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string text(1 << 20, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    const std::size_t begin = text.find("-----BEGIN ");
    return begin != std::string::npos && text.find("PRIVATE KEY-----", begin) != std::string::npos;
}

}  // namespace

std::string TlsErrorText(const std::string& fallback) {
    unsigned long code = 0;
    unsigned long last = 0;
    // The earliest error is the one that caused the others.
    while ((code = ERR_get_error()) != 0)
        if (last == 0) last = code;
    if (last == 0) return fallback;
    const char* reason = ERR_reason_error_string(last);
    return reason != nullptr ? reason : fallback;
}

std::shared_ptr<const TTlsContext> TTlsContext::Load(const std::string& certificatePath, const std::string& keyPath) {
    const std::string& key = keyPath.empty() ? certificatePath : keyPath;
    CheckReadable("certificate", certificatePath);
    CheckReadable("key", key);
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) throw ETlsError(kFailure, "TLS: " + TlsErrorText());
    std::shared_ptr<const TTlsContext> result(new TTlsContext(context));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE |
                                     SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Writes resume from the queue's current position, which moves as it grows;
    // idle connections give their record buffers back.
    SSL_CTX_set_mode(context,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    // Fewer reads per record; what it reads beyond a record is looked for
    // (SSL_has_pending) before the loop waits on the socket again.
    SSL_CTX_set_read_ahead(context, 1);
    if (SSL_CTX_use_certificate_chain_file(context, certificatePath.c_str()) != 1)
        throw ETlsError(kFailure, "certificate " + certificatePath + ": " + TlsErrorText());
    if (SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        const std::string reason = TlsErrorText();
        // The library's decoders only say "unsupported" when no key is there.
        if (!HoldsPemKey(key)) throw ETlsError(kFailure, "key " + key + ": no PEM private key in the file (" + reason + ")");
        throw ETlsError(kFailure, "key " + key + ": " + reason);
    }
    if (SSL_CTX_check_private_key(context) != 1)
        throw ETlsError(kFailure, "key " + key + " and certificate " + certificatePath + ": " + TlsErrorText());
    return result;
}

TTlsContext::~TTlsContext() { SSL_CTX_free(FContext); }

bool ReadableByOthers(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IROTH) != 0;
}
