// The fake Drive server itself: it must keep up with the connections the suites open at once,
// or a request waits for an idle kept-alive connection to time out and a test passes slowly
// (or a stall-based test waits for the wrong reason).
#include "tests/support/FakeDriveServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace tw::test;

namespace {

/// A plain client connection that sends one kept-alive request and reads the answer's header.
class Connection {
public:
    explicit Connection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = fd_ >= 0 &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Connection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// The status line of the answer, or "" when none came within the time limit (well under
    /// the server's 5-second keep-alive time-out, after which a waiting request would be let in).
    std::string statusLine(std::chrono::milliseconds limit) {
        if (!connected_)
            return {};
        const std::string request = "GET /drive/v3/about HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                    "Connection: keep-alive\r\n\r\n";
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return {};
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string answer;
        while (answer.find("\r\n") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
                return {};
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return {};
            answer.append(buffer, size_t(n));
        }
        return answer.substr(0, answer.find("\r\n"));
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST(FakeDriveServer, ServesAsManyKeptAliveConnectionsAsTheSuitesOpen) {
    FakeDriveServer server;
    // Every connection stays open and idle after its answer, holding a worker, as the HTTP
    // client's pool of reused connections does; the last one still gets its answer at once.
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < FakeDriveServer::concurrentConnections; ++i) {
        connections.push_back(std::make_unique<Connection>(server.port()));
        const std::string status = connections.back()->statusLine(std::chrono::seconds(3));
        ASSERT_EQ(status.rfind("HTTP/1.1 ", 0), 0u) << "connection " << i + 1 << " unanswered";
    }
}

} // namespace
