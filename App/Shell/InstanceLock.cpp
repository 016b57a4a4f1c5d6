#include "App/Shell/InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tw {

Q_LOGGING_CATEGORY(lcInstance, "Instance")

namespace {

using Clock = std::chrono::steady_clock;

bool fillAddress(const QByteArray& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

/// Binds and listens on path; -1 on failure.
int listenAt(const QByteArray& path) {
    sockaddr_un address;
    if (!fillAddress(path, address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // Only the lock's holder gets here, so a file at the path is a dead holder's.
    ::unlink(path.constData());
    const mode_t before = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::umask(before);
    if (!bound || ::listen(fd, 16) != 0) {
        qCWarning(lcInstance) << "cannot listen for activations:" << strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : state_(other.state_), lockFd_(other.lockFd_), listener_(other.listener_),
      socketPath_(std::move(other.socketPath_)) {
    other.state_ = State::unavailable;
    other.lockFd_ = -1;
    other.listener_ = -1;
    other.socketPath_.clear();
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        state_ = other.state_;
        lockFd_ = other.lockFd_;
        listener_ = other.listener_;
        socketPath_ = std::move(other.socketPath_);
        other.state_ = State::unavailable;
        other.lockFd_ = -1;
        other.listener_ = -1;
        other.socketPath_.clear();
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    release();
}

void InstanceLock::release() {
    if (listener_ >= 0) {
        ::close(listener_);
        listener_ = -1;
        // Still ours: the lock is released only below.
        if (!socketPath_.isEmpty())
            ::unlink(socketPath_.constData());
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
    state_ = State::unavailable;
}

QByteArray InstanceLock::activationSocketPath(const QString& dataFolder) {
    if (dataFolder.isEmpty())
        return {};
    const QByteArray beside = QFile::encodeName(dataFolder + QStringLiteral("/instance.socket"));
    sockaddr_un probe;
    if (fillAddress(beside, probe))
        return beside;
    const QByteArray key = QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(dataFolder)),
                                                    QCryptographicHash::Sha256)
                               .toHex()
                               .left(32);
    QByteArray base = qgetenv("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QFile::encodeName(QDir::tempPath());
    return base + "/org.tessarow.Kelvanor-" + QByteArray::number(::getuid()) + '-' + key +
           ".socket";
}

InstanceLock InstanceLock::tryAcquire(const QString& dataFolder, bool listen) {
    InstanceLock lock;
    if (dataFolder.isEmpty())
        return lock;
    const QByteArray folder = QFile::encodeName(dataFolder);
    if (!QDir().mkpath(dataFolder)) {
        qCWarning(lcInstance) << "cannot create the data folder; running without the lock";
        return lock;
    }
    // The documents hold e-mail addresses and file names: the owner's eyes only.
    QFile::setPermissions(dataFolder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray path = folder + "/instance.lock";
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        qCWarning(lcInstance) << "cannot open the instance lock:" << strerror(errno);
        return lock;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            lock.state_ = State::heldElsewhere;
        else
            qCWarning(lcInstance) << "cannot take the instance lock:" << strerror(error);
        return lock;
    }
    lock.lockFd_ = fd;
    lock.state_ = State::held;
    if (listen) {
        lock.socketPath_ = activationSocketPath(dataFolder);
        lock.listener_ = listenAt(lock.socketPath_);
        if (lock.listener_ < 0)
            lock.socketPath_.clear();
    }
    return lock;
}

QByteArray InstanceLock::activationMessage() {
    QByteArray message("activate\n");
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const QByteArray value = qgetenv(name);
        // One line each; a value that could break the line is not passed on.
        if (!value.isEmpty() && !value.contains('\n') && value.size() < 1024)
            message += QByteArray("token ") + name + '=' + value + '\n';
    }
    return message;
}

bool InstanceLock::handOver(const QString& dataFolder, const QByteArray& message,
                            std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    sockaddr_un address;
    if (!fillAddress(activationSocketPath(dataFolder), address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool acknowledged = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        // A few hundred bytes fit any socket buffer: the write does not wait for the holder.
        qsizetype sent = 0;
        while (sent < message.size()) {
            const ssize_t n =
                ::send(fd, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            sent += n;
        }
        ::shutdown(fd, SHUT_WR);
        QByteArray reply;
        while (sent == message.size() && !reply.contains('\n')) {
            pollfd waiting{fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, remainingMs(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char buffer[64];
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            reply.append(buffer, n);
        }
        acknowledged = reply.startsWith("ok\n");
    }
    ::close(fd);
    return acknowledged;
}

InstanceLock::Start InstanceLock::claim(const QString& dataFolder, InstanceLock& lock,
                                        std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    const QByteArray message = activationMessage();
    for (;;) {
        lock = tryAcquire(dataFolder);
        if (lock.state() == State::held)
            return Start::primary;
        if (lock.state() == State::unavailable)
            return Start::unguarded;
        if (handOver(dataFolder, message,
                     std::chrono::milliseconds(std::max(remainingMs(deadline), 1))))
            return Start::handedOver;
        if (remainingMs(deadline) == 0)
            return Start::unanswered;
        // The holder has the lock but no socket yet (it is starting), or it just died and the
        // lock is about to be free: look again shortly.
        ::poll(nullptr, 0, std::min(50, remainingMs(deadline)));
    }
}

} // namespace tw
