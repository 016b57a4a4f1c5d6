#include "App/Shell/ActivationListener.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcInstance)

namespace {
constexpr qsizetype kMessageLimit = 4096;
constexpr int kSilenceLimitMs = 5000;
} // namespace

struct ActivationListener::Connection {
    QSocketNotifier* notifier = nullptr;
    QTimer* timer = nullptr;
    QByteArray received;
};

ActivationListener::ActivationListener(int listener, QObject* parent)
    : QObject(parent), listener_(listener) {
    if (listener_ < 0)
        return;
    auto* notifier = new QSocketNotifier(listener_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ActivationListener::acceptPending);
    listenerNotifier_ = notifier;
    qCInfo(lcInstance) << "serving the activations of later starts";
}

ActivationListener::~ActivationListener() {
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        delete it.value()->notifier;
        delete it.value()->timer;
        ::close(it.key());
        delete it.value();
    }
}

void ActivationListener::acceptPending() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: nothing more waits
        }
        ucred peer{};
        socklen_t size = sizeof(peer);
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::getuid()) {
            ::close(fd);
            continue;
        }
        auto* connection = new Connection;
        connection->notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        connect(connection->notifier, &QSocketNotifier::activated, this,
                [this, fd] { readFrom(fd); });
        connection->timer = new QTimer;
        connection->timer->setSingleShot(true);
        connect(connection->timer, &QTimer::timeout, this, [this, fd] { drop(fd); });
        connection->timer->start(kSilenceLimitMs);
        connections_.insert(fd, connection);
    }
}

void ActivationListener::readFrom(int fd) {
    Connection* connection = connections_.value(fd);
    if (!connection)
        return;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return; // EAGAIN: the rest comes later
        if (n > 0) {
            connection->received.append(buffer, n);
            if (connection->received.size() > kMessageLimit) {
                drop(fd);
                return;
            }
            continue;
        }
        break; // the other side closed its half: the message is complete
    }
    QHash<QByteArray, QByteArray> tokens;
    const bool activate = parse(connection->received, &tokens);
    if (activate) {
        static const char reply[] = "ok\n";
        (void)::send(fd, reply, sizeof(reply) - 1, MSG_NOSIGNAL);
    }
    drop(fd);
    if (activate) {
        qCInfo(lcInstance) << "a later start asked for the application";
        Q_EMIT activationRequested(tokens);
    }
}

void ActivationListener::drop(int fd) {
    Connection* connection = connections_.take(fd);
    if (!connection)
        return;
    connection->notifier->setEnabled(false);
    connection->notifier->deleteLater();
    connection->timer->stop();
    connection->timer->deleteLater();
    ::close(fd);
    delete connection;
}

bool ActivationListener::parse(const QByteArray& message, QHash<QByteArray, QByteArray>* tokens) {
    const QList<QByteArray> lines = message.split('\n');
    if (lines.isEmpty() || lines.first() != "activate")
        return false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (!line.startsWith("token "))
            continue;
        const QByteArray pair = line.mid(6);
        const qsizetype equals = pair.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray name = pair.left(equals);
        if (name == "XDG_ACTIVATION_TOKEN" || name == "DESKTOP_STARTUP_ID")
            tokens->insert(name, pair.mid(equals + 1));
    }
    return true;
}

} // namespace tw
