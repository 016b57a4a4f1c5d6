#pragma once

// Whether another thread of this process is blocked in a wait, read from the kernel
// (/proc/self/task/<tid>/stat). Tests use it to know that a thread has reached the lock or
// the shared result it must wait on, instead of sleeping for a while and hoping it has.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tw::test {

/// The kernel's id of the calling thread.
inline pid_t currentThreadID() {
    return pid_t(::syscall(SYS_gettid));
}

/// Is the thread asleep in the kernel (a futex wait: a mutex, a condition variable)?
inline bool isParked(pid_t tid) {
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')'); // the name may hold spaces and parentheses
    return end >= 0 && end + 2 < line.size() && (line[end + 2] == 'S' || line[end + 2] == 'D');
}

/// Waits until the thread is seen parked several times in a row, or `orElse()` holds; false
/// after the time limit. Any thread may wait (no events are handled meanwhile).
template <typename OrElse>
bool waitUntilParked(pid_t tid, OrElse orElse, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int seen = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (orElse())
            return true;
        seen = isParked(tid) ? seen + 1 : 0;
        if (seen >= 3)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // a poll, not a guess
    }
    return false;
}

inline bool waitUntilParked(pid_t tid, int timeoutMs = 5000) {
    return waitUntilParked(tid, [] { return false; }, timeoutMs);
}

} // namespace tw::test
