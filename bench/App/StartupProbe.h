#pragma once
// Shared by the start-up benchmark's two child programs (the application and the bare Qt
// program): once the watched window has painted for the first time, print "painted"; after
// an idle second, print "rss <kB>" (the resident set from /proc) and leave at once.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace tw::bench {

class StartupProbe : public QObject {
public:
    explicit StartupProbe(QWidget* window, int idleMs = 1000) : QObject(window), idleMs_(idleMs) {
        window->installEventFilter(this);
    }

    static long residentKilobytes() {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLong();
        }
        return -1;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted_) {
            painted_ = true;
            // Reported once this paint has been delivered.
            QTimer::singleShot(0, this, [this] {
                std::fputs("painted\n", stdout);
                std::fflush(stdout);
                QTimer::singleShot(idleMs_, this, [] {
                    std::fprintf(stdout, "rss %ld\n", residentKilobytes());
                    std::fflush(stdout);
                    _exit(0);
                });
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int idleMs_;
    bool painted_ = false;
};

} // namespace tw::bench
