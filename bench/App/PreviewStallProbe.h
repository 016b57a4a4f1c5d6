#pragma once
// Shared by the image and PDF preview benchmarks: the main thread's longest stall, measured as
// the longest gap between two turns of a 2 ms timer (whatever held the thread meanwhile: an
// event handler, a direct call made by the benchmark, a lock), also counted in the thread's own
// CPU time (without what the shared machine gave other processes meanwhile), and the
// process's resident set and its high-water mark from /proc.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <functional>

namespace tw::bench {

class StallProbe {
public:
    StallProbe() {
        timer_.setInterval(2);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }

    /// Starts a new measurement.
    void start() {
        longestMs_ = 0;
        lastMs_ = 0;
        longestCpuMs_ = 0;
        lastCpuMs_ = threadCpuMs();
        clock_.start();
        timer_.start();
    }
    void stop() {
        tick();
        timer_.stop();
    }
    /// The longest gap so far, less the timer's own interval.
    double longestStallMs() const { return std::max(0.0, longestMs_ - timer_.interval()); }
    /// The most CPU time the main thread spent between two turns.
    double longestStallCpuMs() const { return longestCpuMs_; }

    /// Serves the event loop (the probe's timer included) until `done` holds or the time is up.
    static bool runUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
        if (done())
            return true;
        QEventLoop loop;
        QTimer check;
        check.setInterval(1);
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        check.start();
        loop.exec();
        return done();
    }

    /// VmRSS or VmHWM of this process in MiB; -1 when /proc cannot tell.
    static double residentMiB() { return statusField("VmRSS:"); }
    static double peakResidentMiB() { return statusField("VmHWM:"); }
    /// Restarts the high-water mark at the present resident set.
    static void resetPeak() {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
    }

private:
    void tick() {
        const double now = clock_.nsecsElapsed() / 1e6;
        longestMs_ = std::max(longestMs_, now - lastMs_);
        lastMs_ = now;
        const double cpu = threadCpuMs();
        longestCpuMs_ = std::max(longestCpuMs_, cpu - lastCpuMs_);
        lastCpuMs_ = cpu;
    }
    static double threadCpuMs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
    static double statusField(const char* name) {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(name))
                return line.mid(int(qstrlen(name))).trimmed().split(' ').first().toDouble() /
                       1024.0;
        }
        return -1;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    double lastMs_ = 0;
    double longestMs_ = 0;
    double lastCpuMs_ = 0;
    double longestCpuMs_ = 0;
};

} // namespace tw::bench
