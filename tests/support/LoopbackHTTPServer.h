#pragma once

#include <httplib.h>

#include <QString>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
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

/// Ends the connection that carried `request` (to the server listening on `serverPort` in this
/// process) without a byte of answer, as a server does that acted on a request and went away
/// before answering it. The handler's own answer then goes nowhere. False when the
/// connection was not found.
inline bool closeWithoutAnswer(const httplib::Request& request, int serverPort) {
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return false;
    bool found = false;
    while (dirent* entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == ::dirfd(fds))
            continue;
        sockaddr_in local{}, peer{};
        socklen_t localLength = sizeof(local), peerLength = sizeof(peer);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
            local.sin_family != AF_INET)
            continue;
        if (ntohs(local.sin_port) == serverPort && ntohs(peer.sin_port) == request.remote_port) {
            ::shutdown(fd, SHUT_RDWR);
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

} // namespace tw::test
