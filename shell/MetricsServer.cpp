#include "shell/MetricsServer.h"

#include <httplib.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

struct TMetricsServer::TImpl {
    httplib::Server Server;
    std::thread Thread;
};

TMetricsServer::TMetricsServer(std::function<std::string()> render) : FRender(std::move(render)) {}

TMetricsServer::~TMetricsServer() { Stop(); }

bool TMetricsServer::Running() const { return FImpl != nullptr; }

void TMetricsServer::Start(const std::string& address, int port)
{
    Stop();
    const std::string where = address + ":" + std::to_string(port);
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        throw EMetricsError("Cannot serve metrics", where + ": not an IPv4 address");
    if (port <= 0 || port > 65535) throw EMetricsError("Cannot serve metrics", where + ": port out of range (1 to 65535)");

    auto impl = std::make_unique<TImpl>();
    httplib::Server& server = impl->Server;
    // One worker: scrapes are rare and small; nobody else waits for them.
    server.new_task_queue = [] { return new httplib::ThreadPool(1); };
    server.set_keep_alive_max_count(10);
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(2, 0);
    server.set_write_timeout(2, 0);
    server.set_payload_max_length(4096);
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(FRender(), "text/plain; version=0.0.4; charset=utf-8");
    });
    errno = 0;
    if (!server.bind_to_port(address, port)) {
        const int error = errno;
        throw EMetricsError("Cannot serve metrics",
                            where + ": " + (error != 0 ? std::strerror(error) : "cannot listen"));
    }
    impl->Thread = std::thread([&server] { server.listen_after_bind(); });
    // A stop before the thread runs its loop would be missed: wait for it.
    for (int i = 0; i < 2000 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server.is_running()) {
        server.stop();
        impl->Thread.join();
        throw EMetricsError("Cannot serve metrics", where + ": the server did not start");
    }
    FImpl = std::move(impl);
    FAddress = address;
    FPort = port;
}

void TMetricsServer::Stop()
{
    if (!FImpl) return;
    FImpl->Server.stop();
    if (FImpl->Thread.joinable()) FImpl->Thread.join();
    FImpl.reset();
}
