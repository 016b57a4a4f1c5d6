// The loopback redirect server over real sockets, with a raw-socket client.
#include "GoogleDriveProvider/OAuth/LoopbackRedirectServer.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Domain/StorageError.h"
#include "tests/support/ConnectionFlood.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace tw;
using Code = StorageError::Code;
using namespace std::chrono_literals;

namespace {

int portOf(const QString& redirectURI) {
    return QUrl(redirectURI).port();
}

/// A raw TCP client on 127.0.0.1.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }

    bool connected() const { return connected_; }
    void write(const QByteArray& data) {
        ASSERT_EQ(::send(fd_, data.constData(), size_t(data.size()), MSG_NOSIGNAL), data.size());
    }
    void finishWriting() { ::shutdown(fd_, SHUT_WR); }
    /// True when an answer (or the end) arrives within the time.
    bool readable(std::chrono::milliseconds within) {
        pollfd item{fd_, POLLIN, 0};
        return ::poll(&item, 1, int(within.count())) > 0;
    }
    /// Everything until the server closes.
    QByteArray readAll() {
        QByteArray all;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0)
                return all;
            all.append(buffer, got);
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

struct ParsedResponse {
    QByteArray statusLine;
    QList<QByteArray> headers;
    QByteArray body;
    QByteArray header(const QByteArray& name) const {
        for (const QByteArray& line : headers) {
            if (line.toLower().startsWith(name.toLower() + ":"))
                return line.mid(name.size() + 1).trimmed();
        }
        return {};
    }
};

ParsedResponse parse(const QByteArray& raw) {
    ParsedResponse parsed;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return parsed;
    QList<QByteArray> lines = raw.left(end).split('\n');
    parsed.statusLine = lines.takeFirst().trimmed();
    for (const QByteArray& line : lines)
        parsed.headers.append(line.trimmed());
    parsed.body = raw.mid(end + 4);
    return parsed;
}

ParsedResponse roundTrip(int port, const QByteArray& request, bool closeWriting = false) {
    RawClient client(port);
    EXPECT_TRUE(client.connected());
    if (!request.isEmpty())
        client.write(request);
    if (closeWriting)
        client.finishWriting();
    return parse(client.readAll());
}

TEST(LoopbackRedirectServer, AnswersEachRequestAndDeliversOnlyCallbacks) {
    struct Case {
        const char* name;
        QByteArray request;
        bool closeWriting;
        const char* delivered; // target after the redirect URI; nullptr: nothing delivered
    };
    const Case cases[] = {
        {"code and state", "GET /?code=4%2F0Ab&state=xyz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
         false, "/?code=4%2F0Ab&state=xyz"},
        {"target without slash", "GET ?error=access_denied&state=s HTTP/1.1\r\n\r\n", false,
         "/?error=access_denied&state=s"},
        {"runs of spaces", "GET    /?code=c   HTTP/1.1\r\n\r\n", false, "/?code=c"},
        {"line without CR LF, then the end", "GET /?code=c&state=s", true, "/?code=c&state=s"},
        {"path without query", "GET /callback HTTP/1.1\r\n\r\n", false, nullptr},
        {"neither code nor error", "GET /?foo=bar&state=s HTTP/1.1\r\n\r\n", false, nullptr},
        {"POST with a code", "POST /?code=c HTTP/1.1\r\nContent-Length: 0\r\n\r\n", false, nullptr},
        {"path before the query", "GET /cb?code=c HTTP/1.1\r\n\r\n", false, nullptr},
        {"only a method", "GET\r\n\r\n", false, nullptr},
        {"not UTF-8", "GET /?code=\xff\xfe HTTP/1.1\r\n\r\n", false, nullptr},
        {"empty connection", "", true, nullptr},
        {"no line end within 16 KiB", "GET /?code=" + QByteArray(17000, 'a'), false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackRedirectServer server;
        const QString uri = server.start();
        const ParsedResponse response = roundTrip(portOf(uri), c.request, c.closeWriting);
        EXPECT_EQ(response.header("Connection"), QByteArray("close"));
        EXPECT_EQ(response.header("Cache-Control"), QByteArray("no-store"));
        EXPECT_EQ(response.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        EXPECT_EQ(response.header("Content-Length"), QByteArray::number(response.body.size()));
        if (c.delivered) {
            EXPECT_EQ(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
            EXPECT_EQ(response.body, LoopbackRedirectServer::confirmationPage());
            EXPECT_EQ(server.waitForCallback(std::chrono::steady_clock::now()),
                      QUrl(uri + QLatin1String(c.delivered)));
        } else {
            EXPECT_EQ(response.statusLine, QByteArray("HTTP/1.1 404 Not Found"));
            EXPECT_EQ(response.body, QByteArray());
            EXPECT_EQ(server.waitForCallback(std::chrono::steady_clock::now()), std::nullopt);
        }
    }
}

TEST(LoopbackRedirectServer, ListensOnLoopbackOnlyWithCloseOnExec) {
    LoopbackRedirectServer server;
    const QString uri = server.start();
    EXPECT_TRUE(uri.startsWith(QLatin1String("http://127.0.0.1:")));
    EXPECT_GT(portOf(uri), 0);
    EXPECT_EQ(server.redirectURI(), uri);
    const int fd = server.listeningSocket();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(LoopbackRedirectServer::confirmationPage().size(), 490);
}

TEST(LoopbackRedirectServer, ARequestLineSplitAcrossReadsIsStillACallback) {
    LoopbackRedirectServer server;
    const QString uri = server.start();
    RawClient client(portOf(uri));
    client.write("GET /?code=abc&st");
    // No answer may come before the line has ended. A complete request on a later connection
    // is answered after the server has read the earlier bytes (one thread, connections in the
    // order they came): once its answer is here, any early answer would be too.
    EXPECT_EQ(roundTrip(portOf(uri), "GET /other HTTP/1.1\r\n\r\n").statusLine,
              QByteArray("HTTP/1.1 404 Not Found"));
    EXPECT_FALSE(client.readable(0ms));
    client.write("ate=xyz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const ParsedResponse response = parse(client.readAll());
    EXPECT_EQ(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(server.waitForCallback(), QUrl(uri + QStringLiteral("/?code=abc&state=xyz")));
}

TEST(LoopbackRedirectServer, AnIdleConnectionNeitherBlocksOthersNorStaysOpen) {
    LoopbackRedirectServer::Limits limits;
    limits.connectionTimeout = 300ms;
    LoopbackRedirectServer server(limits);
    const QString uri = server.start();
    RawClient idle(portOf(uri)); // a browser's speculative connection that sends nothing
    ASSERT_TRUE(idle.connected());

    const ParsedResponse response = roundTrip(portOf(uri), "GET /?code=c&state=s HTTP/1.1\r\n\r\n");
    EXPECT_EQ(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_TRUE(server.waitForCallback().has_value());
    // Past its time limit the idle connection is answered and closed.
    EXPECT_EQ(parse(idle.readAll()).statusLine, QByteArray("HTTP/1.1 404 Not Found"));
}

TEST(LoopbackRedirectServer, ACallbackWithAnotherStateIsAnsweredAndIgnored) {
    // Another local process answers first, with no state or a wrong one: the wait goes on
    // until the browser's own redirect arrives.
    LoopbackRedirectServer server;
    const QString uri = server.start(QStringLiteral("s-1"));
    for (const QByteArray& forged :
         {QByteArray("GET /?error=access_denied HTTP/1.1\r\n\r\n"),
          QByteArray("GET /?code=forged&state=s-2 HTTP/1.1\r\n\r\n"),
          QByteArray("GET /?code=forged&state=s-1x HTTP/1.1\r\n\r\n")}) {
        SCOPED_TRACE(forged.constData());
        EXPECT_EQ(roundTrip(portOf(uri), forged).statusLine,
                  QByteArray("HTTP/1.1 400 Bad Request"));
        EXPECT_EQ(server.waitForCallback(std::chrono::steady_clock::now()), std::nullopt);
    }
    EXPECT_EQ(roundTrip(portOf(uri), "GET /?code=real&state=s-1 HTTP/1.1\r\n\r\n").statusLine,
              QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(server.waitForCallback(), QUrl(uri + QStringLiteral("/?code=real&state=s-1")));
}

TEST(LoopbackRedirectServer, ConnectionsReopenedAsSoonAsCutNeverKeepTheBrowserOut) {
    // Ten sign-ins, each with 40 idle connections that connect again as soon as the server
    // cuts them (more than it holds): the browser's redirect, sent after they are all open,
    // is answered and delivered every time.
    for (int attempt = 0; attempt < 10; ++attempt) {
        SCOPED_TRACE(attempt);
        LoopbackRedirectServer server;
        const QString uri = server.start(QStringLiteral("s"));
        test::ConnectionFlood flood({.port = portOf(uri), .connections = 40, .reconnect = true});
        const ParsedResponse response =
            roundTrip(portOf(uri), "GET /?code=c&state=s HTTP/1.1\r\n\r\n");
        EXPECT_EQ(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
        EXPECT_EQ(server.waitForCallback(std::chrono::steady_clock::now() + 20s),
                  QUrl(uri + QStringLiteral("/?code=c&state=s")));
    }
}

TEST(LoopbackRedirectServer, TheFirstCallbackWinsAndSurvivesStop) {
    LoopbackRedirectServer server;
    const QString uri = server.start();
    // Delivered before anyone waits: kept for the waiter.
    EXPECT_EQ(roundTrip(portOf(uri), "GET /?code=first HTTP/1.1\r\n\r\n").statusLine,
              QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(roundTrip(portOf(uri), "GET /?code=second HTTP/1.1\r\n\r\n").statusLine,
              QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(server.waitForCallback(), QUrl(uri + QStringLiteral("/?code=first")));
    server.stop();
    server.stop();
    EXPECT_EQ(server.waitForCallback(), QUrl(uri + QStringLiteral("/?code=first")));
}

TEST(LoopbackRedirectServer, StopEndsAPendingOrLaterWaitWithCancellation) {
    LoopbackRedirectServer server;
    const QString uri = server.start();
    std::optional<Code> pending;
    std::thread waiter([&] {
        try {
            server.waitForCallback();
        } catch (const StorageError& error) {
            pending = error.code();
        }
    });
    // The waiter may or may not have parked yet: either way stop() must end its wait.
    server.stop();
    waiter.join();
    EXPECT_EQ(pending, Code::cancelled);
    try {
        server.waitForCallback();
        ADD_FAILURE() << "expected cancelled";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::cancelled);
    }
}

TEST(LoopbackRedirectServer, WaitsEndAtTheDeadlineOrWhenTheTaskIsCancelled) {
    LoopbackRedirectServer server;
    server.start();
    EXPECT_EQ(server.waitForCallback(std::chrono::steady_clock::now() + 50ms), std::nullopt);

    std::stop_source source;
    std::optional<Code> result;
    std::thread waiter([&] {
        Cancellation::Scope scope(source.get_token());
        try {
            server.waitForCallback();
        } catch (const StorageError& error) {
            result = error.code();
        }
    });
    source.request_stop();
    waiter.join();
    EXPECT_EQ(result, Code::cancelled);
}

TEST(LoopbackRedirectServer, AStoppedServerRefusesConnections) {
    int port = 0;
    {
        LoopbackRedirectServer server;
        port = portOf(server.start());
        server.stop();
    } // the destructor waits for the thread, which closes the listener
    RawClient client(port);
    EXPECT_FALSE(client.connected());
}

} // namespace
