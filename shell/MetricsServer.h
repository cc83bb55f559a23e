// The metrics endpoint: GET /metrics over HTTP on an address and port of its
// own, served by one thread of its own, so that a slow or hostile scraper
// holds up nothing but itself. Everything else gets 404.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class EMetricsError : public std::runtime_error {
public:
    EMetricsError(const std::string& text, std::string cause) : std::runtime_error(text), FCause(std::move(cause)) {}
    const std::string& Cause() const { return FCause; }

private:
    std::string FCause;
};

class TMetricsServer {
public:
    // render gives the body of each answer; it runs on the server's thread.
    explicit TMetricsServer(std::function<std::string()> render);
    ~TMetricsServer();
    TMetricsServer(const TMetricsServer&) = delete;
    TMetricsServer& operator=(const TMetricsServer&) = delete;

    // Listens on address:port (IPv4 text) and serves; raises EMetricsError
    // "Cannot serve metrics" with "address:port: reason" and serves nothing
    // when it cannot bind. A running server is stopped first.
    void Start(const std::string& address, int port);
    void Stop();
    bool Running() const;
    const std::string& Address() const { return FAddress; }
    int Port() const { return FPort; }

private:
    struct TImpl;
    std::function<std::string()> FRender;
    std::unique_ptr<TImpl> FImpl;
    std::string FAddress;
    int FPort = 0;
};
