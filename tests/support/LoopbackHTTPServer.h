#pragma once

#include <httplib.h>

#include <QString>

#include <stdexcept>
#include <string>
#include <thread>

namespace tw::test {

/// A cpp-httplib server on a loopback address at a port the system picks. Add routes to
/// `http` first, then start(); the destructor stops it and waits for its thread.
class LoopbackHTTPServer {
public:
    explicit LoopbackHTTPServer(std::string host = "127.0.0.1") : host_(std::move(host)) {
        // Headers and body go out as separate writes: without this, a kept-alive connection
        // waits for the client's delayed acknowledgement between them.
        http.set_tcp_nodelay(true);
    }
    ~LoopbackHTTPServer() { stop(); }

    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    /// Binds (connections queue from here on) and serves on a thread of its own.
    void start() {
        port_ = http.bind_to_any_port(host_);
        if (port_ <= 0)
            throw std::runtime_error("cannot bind the loopback test server");
        thread_ = std::thread([this] { http.listen_after_bind(); });
        // stop() only ends a loop that is running: wait until it is.
        while (!http.is_running())
            std::this_thread::yield();
    }

    void stop() {
        if (thread_.joinable()) {
            http.stop();
            thread_.join();
        }
    }

    int port() const { return port_; }
    /// "http://<host>:<port>".
    QString origin() const {
        return QStringLiteral("http://%1:%2").arg(QString::fromStdString(host_)).arg(port_);
    }
    QString url(const QString& path) const { return origin() + path; }

    httplib::Server http;

private:
    std::string host_;
    int port_ = 0;
    std::thread thread_;
};

} // namespace tw::test
