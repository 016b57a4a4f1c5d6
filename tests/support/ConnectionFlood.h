#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

namespace tw::test {

/// A hostile local process without the server's secret: many connections to a loopback port
/// that send nothing, or a byte now and then, and (optionally) connect again as soon as the
/// server cuts them. Every connection is made before the constructor returns, so a client that
/// connects afterwards queues behind all of them. Stops and closes everything when destroyed.
class ConnectionFlood {
public:
    struct Options {
        int port = 0;
        int connections = 0;
        /// Connect again at once when the server closes a connection.
        bool reconnect = false;
        /// When set, every connection sends the next byte of `drip` at this interval.
        std::chrono::milliseconds byteInterval{0};
        QByteArray drip = "GET / HTTP/1.1\r\nX-Slow: ";
    };

    explicit ConnectionFlood(Options options) : options_(std::move(options)) {
        if (options_.drip.isEmpty())
            options_.drip = Options().drip;
        stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        for (int i = 0; i < options_.connections; ++i)
            sockets_.push_back({connect(true), 0});
        thread_ = std::thread([this] { run(); });
    }
    ~ConnectionFlood() {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
        thread_.join();
        for (const Socket& socket : sockets_)
            if (socket.fd >= 0)
                ::close(socket.fd);
        ::close(stop_);
    }
    ConnectionFlood(const ConnectionFlood&) = delete;
    ConnectionFlood& operator=(const ConnectionFlood&) = delete;

    /// Connections the server closed so far.
    int cuts() const { return cuts_.load(); }

    /// Raises the soft limit of open descriptors to at least `wanted` (up to the hard limit);
    /// false when it stays lower.
    static bool allowDescriptors(rlim_t wanted) {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return false;
        if (limit.rlim_cur >= wanted)
            return true;
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= wanted;
    }

    /// Descriptors this process holds for connections whose own end is on `port` (the
    /// connections a server listening there accepted; its listening socket not counted).
    static int acceptedDescriptors(int port) {
        std::set<QByteArray> inodes;
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray ownPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 10 || !fields[1].endsWith(':' + ownPort) || fields[3] == "0A")
                continue;
            inodes.insert("socket:[" + fields[9] + ']');
        }
        int count = 0;
        if (DIR* dir = ::opendir("/proc/self/fd")) {
            while (const dirent* entry = ::readdir(dir)) {
                char target[64] = {};
                const QByteArray link = QByteArray("/proc/self/fd/") + entry->d_name;
                if (::readlink(link.constData(), target, sizeof target - 1) > 0 &&
                    inodes.count(QByteArray(target)))
                    ++count;
            }
            ::closedir(dir);
        }
        return count;
    }

    /// Descriptors this process holds.
    static int openDescriptors() {
        int count = 0;
        if (DIR* dir = ::opendir("/proc/self/fd")) {
            while (const dirent* entry = ::readdir(dir))
                count += entry->d_name[0] != '.' ? 1 : 0;
            ::closedir(dir);
            --count; // the directory's own descriptor
        }
        return count;
    }

private:
    struct Socket {
        int fd = -1;
        qsizetype dripped = 0;
    };

    int connect(bool blocking) const {
        const int fd =
            ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(options_.port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        [[maybe_unused]] const int result =
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (blocking)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        return fd;
    }

    void run() {
        const bool dripping = options_.byteInterval.count() > 0;
        auto nextDrip = std::chrono::steady_clock::now() + options_.byteInterval;
        std::vector<pollfd> fds;
        for (;;) {
            fds.clear();
            fds.push_back({stop_, POLLIN, 0});
            for (const Socket& socket : sockets_)
                fds.push_back({socket.fd, short(socket.fd >= 0 ? POLLRDHUP : 0), 0});
            int timeout = -1;
            if (dripping) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                    nextDrip - std::chrono::steady_clock::now());
                timeout = int(std::max<qint64>(0, wait.count()));
            }
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                return;
            for (size_t i = 0; i < sockets_.size(); ++i) {
                Socket& socket = sockets_[i];
                if (socket.fd < 0 || !(fds[i + 1].revents & (POLLRDHUP | POLLHUP | POLLERR)))
                    continue;
                ++cuts_;
                ::close(socket.fd);
                socket = {options_.reconnect ? connect(false) : -1, 0};
            }
            if (dripping && std::chrono::steady_clock::now() >= nextDrip) {
                nextDrip += options_.byteInterval;
                for (Socket& socket : sockets_) {
                    if (socket.fd < 0)
                        continue;
                    const char byte = options_.drip[socket.dripped++ % options_.drip.size()];
                    [[maybe_unused]] const ssize_t sent = ::send(socket.fd, &byte, 1, MSG_NOSIGNAL);
                }
            }
        }
    }

    Options options_;
    int stop_ = -1;
    std::vector<Socket> sockets_; // used by the thread once it runs
    std::atomic<int> cuts_{0};
    std::thread thread_;
};

} // namespace tw::test
