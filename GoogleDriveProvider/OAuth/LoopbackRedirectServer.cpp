#include "GoogleDriveProvider/OAuth/LoopbackRedirectServer.h"

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Domain/StorageError.h"

#include <QLoggingCategory>
#include <QStringDecoder>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <list>
#include <vector>

Q_LOGGING_CATEGORY(lcLoopback, "GoogleDrive.OAuthLoopback")

namespace tw {
namespace {

constexpr qsizetype maxRequestBytes = 16384;
constexpr qsizetype parsedRequestBytes = 8192;
/// After answering, the rest of a request is read and dropped for at most this long, so that
/// closing does not reset the connection before the browser has read the answer.
constexpr auto drainTime = std::chrono::milliseconds(1000);
constexpr qsizetype maxDrainBytes = 65536;

using SteadyClock = std::chrono::steady_clock;

struct Connection {
    int fd = -1;
    QByteArray received;
    SteadyClock::time_point accepted;
    SteadyClock::time_point deadline;
    bool draining = false;
    qsizetype drained = 0;
};

/// A new connection is never closed to admit another before it had this long to send its
/// request line, so a flood of connections cannot push out the browser's before it is read.
constexpr auto admissionGrace = std::chrono::milliseconds(100);

void closeConnection(Connection& connection) {
    if (connection.fd >= 0)
        ::close(connection.fd);
    connection.fd = -1;
}

void sendAll(int fd, const QByteArray& data) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n =
            ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The answer is small; wait briefly for room rather than dropping it.
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 1000) <= 0)
                return;
            continue;
        }
        if (n <= 0)
            return;
        sent += n;
    }
}

} // namespace

LoopbackRedirectServer::LoopbackRedirectServer() : LoopbackRedirectServer(Limits{}) {}

LoopbackRedirectServer::LoopbackRedirectServer(Limits limits) : limits_(limits) {}

LoopbackRedirectServer::~LoopbackRedirectServer() {
    stop();
    if (thread_.joinable())
        thread_.join();
}

QString LoopbackRedirectServer::start(std::optional<QString> expectedState) {
    {
        std::lock_guard lock(mutex_);
        if (started_ || stopped_)
            throw StorageError(StorageError::Code::authorizationFailed);
        started_ = true;
        expectedState_ = std::move(expectedState);
    }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) {
        qCWarning(lcLoopback) << "cannot create the redirect listener, errno" << errno;
        throw StorageError(StorageError::Code::authorizationFailed);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0; // the system chooses
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        wakeFd < 0) {
        qCWarning(lcLoopback) << "cannot listen for the redirect, errno" << errno;
        ::close(listener);
        if (wakeFd >= 0)
            ::close(wakeFd);
        throw StorageError(StorageError::Code::authorizationFailed);
    }
    const QString uri =
        QStringLiteral("http://127.0.0.1:") + QString::number(ntohs(address.sin_port));
    {
        std::lock_guard lock(mutex_);
        redirectURI_ = uri;
        listener_ = listener;
        wakeFd_ = wakeFd;
        if (stopped_) {
            // stop() came while we were setting up: it could not wake a thread yet.
            ::close(listener);
            ::close(wakeFd);
            listener_ = wakeFd_ = -1;
            throw StorageError(StorageError::Code::authorizationFailed);
        }
        thread_ = std::thread([this, listener, wakeFd] { run(listener, wakeFd); });
    }
    return uri;
}

std::optional<QUrl>
LoopbackRedirectServer::waitForCallback(std::optional<SteadyClock::time_point> deadline) {
    std::unique_lock lock(mutex_);
    const bool ready = Cancellation::wait(
        changed_, lock, [this] { return result_ || stopped_; }, deadline);
    if (result_)
        return result_;
    if (ready && stopped_)
        Cancellation::throwCancelled();
    return std::nullopt;
}

void LoopbackRedirectServer::stop() {
    std::lock_guard lock(mutex_);
    if (stopped_)
        return;
    stopped_ = true;
    if (wakeFd_ >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
    changed_.notify_all();
}

QString LoopbackRedirectServer::redirectURI() const {
    std::lock_guard lock(mutex_);
    return redirectURI_;
}

int LoopbackRedirectServer::listeningSocket() const {
    std::lock_guard lock(mutex_);
    return listener_;
}

void LoopbackRedirectServer::deliver(const QUrl& url) {
    std::lock_guard lock(mutex_);
    if (result_)
        return; // the first callback wins
    result_ = url;
    changed_.notify_all();
}

void LoopbackRedirectServer::run(int listener, int wakeFd) {
    pthread_setname_np(pthread_self(), "OAuthLoopback");
    const QString uri = redirectURI();
    std::optional<QString> expectedState;
    {
        std::lock_guard lock(mutex_);
        expectedState = expectedState_;
    }
    std::list<Connection> connections;

    // `complete`: the request line has ended (CR LF arrived, or the peer finished sending).
    const auto answer = [&](Connection& connection, bool complete) {
        const std::optional<QUrl> callback =
            complete ? callbackURL(connection.received, uri) : std::nullopt;
        if (callback && expectedState &&
            PercentEncoding::firstValue(*callback, QStringLiteral("state")) != *expectedState) {
            // Not the answer to this sign-in (another local process, or an old browser tab):
            // answered, and the sign-in keeps waiting for its own.
            qCInfo(lcLoopback) << "ignored a redirect for another sign-in";
            sendAll(connection.fd, response("400 Bad Request", QByteArray()));
        } else if (callback) {
            sendAll(connection.fd, response("200 OK", confirmationPage()));
            deliver(*callback);
        } else {
            sendAll(connection.fd, response("404 Not Found", QByteArray()));
        }
        ::shutdown(connection.fd, SHUT_WR);
        connection.draining = true;
        connection.received.clear();
        connection.deadline = SteadyClock::now() + drainTime;
    };
    // Reads what the connection sent; answers once its request line is complete.
    const auto receive = [&](Connection& connection) {
        char buffer[4096];
        for (;;) {
            const qsizetype room =
                connection.draining
                    ? qsizetype(sizeof buffer)
                    : std::min<qsizetype>(sizeof buffer,
                                          maxRequestBytes - connection.received.size());
            const ssize_t got = ::recv(connection.fd, buffer, size_t(room), 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (got <= 0) {
                // End of the peer's data: answer what arrived, or finish draining.
                if (!connection.draining)
                    answer(connection, !connection.received.isEmpty());
                closeConnection(connection);
                break;
            }
            if (connection.draining) {
                connection.drained += got;
                if (connection.drained > maxDrainBytes) {
                    closeConnection(connection);
                    break;
                }
                continue;
            }
            connection.received.append(buffer, got);
            const bool lineEnded = connection.received.contains("\r\n");
            if (lineEnded || connection.received.size() >= maxRequestBytes) {
                answer(connection, lineEnded);
                break;
            }
        }
    };
    // The connection to close so that a new one can be admitted: the oldest that has not sent
    // its request line and had its grace, else the oldest already answered. `retry` tells when
    // one more may become eligible.
    const auto evictable = [&](SteadyClock::time_point now,
                               std::optional<SteadyClock::time_point>& retry) -> Connection* {
        Connection* best = nullptr;
        for (Connection& connection : connections) {
            if (connection.fd < 0)
                continue;
            if (!connection.draining && connection.accepted + admissionGrace > now) {
                const auto eligible = connection.accepted + admissionGrace;
                retry = retry ? std::min(*retry, eligible) : eligible;
                continue;
            }
            if (!best || (best->draining && !connection.draining) ||
                (best->draining == connection.draining && connection.accepted < best->accepted))
                best = &connection;
        }
        return best;
    };
    const auto removeClosed = [&] {
        connections.remove_if([](const Connection& connection) { return connection.fd < 0; });
    };

    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopped_)
                break;
        }
        auto now = SteadyClock::now();
        auto next = now + std::chrono::seconds(60);
        std::optional<SteadyClock::time_point> retry;
        const bool admitting = int(connections.size()) < limits_.maxConnections ||
                               evictable(now, retry) != nullptr;
        if (!admitting && retry)
            next = std::min(next, *retry);

        std::vector<pollfd> fds;
        fds.push_back({wakeFd, POLLIN, 0});
        fds.push_back({listener, short(admitting ? POLLIN : 0), 0});
        for (const Connection& connection : connections)
            fds.push_back({connection.fd, POLLIN, 0});

        for (const Connection& connection : connections)
            next = std::min(next, connection.deadline);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
        const int ready = ::poll(fds.data(), fds.size(), int(std::max<qint64>(0, wait.count())));
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break; // stop()

        size_t index = 2;
        for (Connection& connection : connections) {
            const short events = index < fds.size() ? fds[index].revents : 0;
            ++index;
            if (events)
                receive(connection);
        }

        now = SteadyClock::now();
        for (Connection& connection : connections) {
            if (connection.fd < 0 || connection.deadline > now)
                continue;
            if (!connection.draining)
                answer(connection, false); // no complete request line in time
            closeConnection(connection);
        }
        removeClosed();

        // New connections: when the server is full, the longest waiting one makes room.
        for (int accepted = 0; (fds[1].revents & POLLIN) && accepted < limits_.maxConnections;
             ++accepted) {
            if (int(connections.size()) >= limits_.maxConnections) {
                std::optional<SteadyClock::time_point> ignored;
                Connection* victim = evictable(SteadyClock::now(), ignored);
                if (!victim)
                    break;
                closeConnection(*victim);
                removeClosed();
            }
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                break;
            const auto at = SteadyClock::now();
            Connection& connection = connections.emplace_back(
                Connection{fd, {}, at, at + limits_.connectionTimeout, false, 0});
            receive(connection); // a request that waited in the backlog is there already
        }
        removeClosed();
    }

    for (Connection& connection : connections)
        closeConnection(connection);
    std::lock_guard lock(mutex_);
    ::close(listener);
    ::close(wakeFd);
    listener_ = -1;
    wakeFd_ = -1;
}

std::optional<QUrl> LoopbackRedirectServer::callbackURL(const QByteArray& request,
                                                        const QString& redirectURI) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(request.left(parsedRequestBytes));
    if (decoder.hasError())
        return std::nullopt;
    const qsizetype lineEnd = text.indexOf(QLatin1String("\r\n"));
    const QString line = lineEnd < 0 ? text : text.left(lineEnd);
    if (line.isEmpty())
        return std::nullopt;
    const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 2 || parts[0] != QLatin1String("GET"))
        return std::nullopt;
    QString target = parts[1];
    if (!target.startsWith(QLatin1String("/?")) && !target.startsWith(QLatin1Char('?')))
        return std::nullopt;
    if (!target.startsWith(QLatin1Char('/')))
        target.prepend(QLatin1Char('/'));
    const QUrl url(redirectURI + target, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    for (const auto& [name, value] : PercentEncoding::decodeQuery(url)) {
        if (name == QLatin1String("code") || name == QLatin1String("error"))
            return url;
    }
    return std::nullopt;
}

QByteArray LoopbackRedirectServer::response(const QByteArray& status, const QByteArray& html) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(html.size()) +
           "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + html;
}

QByteArray LoopbackRedirectServer::confirmationPage() {
    return QByteArrayLiteral(
        "<!doctype html><html><head><meta charset=\"utf-8\"><title>Kelvanor</title>\n"
        "<style>body{font:15px -apple-system,BlinkMacSystemFont,sans-serif;display:grid;"
        "place-items:center;height:100vh;margin:0;color:#1d1d1f;background:#f5f5f7}\n"
        "@media(prefers-color-scheme:dark){body{color:#f5f5f7;background:#1d1d1f}}main{text-"
        "align:center}h1{font-size:22px;font-weight:600}</style>\n"
        "</head><body><main><h1>You're all set.</h1><p>Return to Kelvanor to finish. You can "
        "close this tab.</p></main></body></html>");
}

} // namespace tw
