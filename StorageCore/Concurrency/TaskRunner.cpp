#include "StorageCore/Concurrency/TaskRunner.h"

#include <QThreadPool>

namespace tw {

QThreadPool* threadPool(TaskPool pool) {
    // Created once and never destroyed: nothing joins a worker that is parked on a remote
    // answer when the process exits.
    static QThreadPool* const general = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("tw-general"));
        p->setMaxThreadCount(64);
        p->setExpiryTimeout(30'000);
        return p;
    }();
    static QThreadPool* const transfers = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("tw-transfers"));
        p->setMaxThreadCount(16);
        p->setExpiryTimeout(30'000);
        return p;
    }();
    return pool == TaskPool::transfers ? transfers : general;
}

namespace detail {

void startOnPool(TaskPool pool, std::function<void()> job) {
    threadPool(pool)->start(std::move(job));
}

void postToMainThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace detail
} // namespace tw
