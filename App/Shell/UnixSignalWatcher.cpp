#include "App/Shell/UnixSignalWatcher.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tw {
namespace {

Q_LOGGING_CATEGORY(lcSignals, "Signals")

// The write end the handler uses; -1 while no watcher is installed.
std::atomic<int> g_writeEnd{-1};
int g_readEnd = -1;

extern "C" void forwardSignal(int number) {
    const int saved = errno;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // A full pipe drops the byte: the signals already queued are enough to quit.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> numbers, QObject* parent)
    : QObject(parent), signals_(numbers) {
    if (g_writeEnd.load() >= 0) {
        qCWarning(lcSignals) << "a signal watcher is installed already";
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcSignals) << "no pipe for signals:" << strerror(errno);
        return;
    }
    g_readEnd = fds[0];
    g_writeEnd.store(fds[1]);
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : signals_)
        ::sigaction(number, &action, nullptr);
    notifier_ = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UnixSignalWatcher::drain);
}

UnixSignalWatcher::~UnixSignalWatcher() {
    if (!notifier_)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : signals_)
        ::sigaction(number, &action, nullptr);
    const int writeEnd = g_writeEnd.exchange(-1);
    delete notifier_;
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void UnixSignalWatcher::drain() {
    unsigned char buffer[64];
    for (;;) {
        const ssize_t n = ::read(g_readEnd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            Q_EMIT received(int(buffer[i]));
    }
}

} // namespace tw
