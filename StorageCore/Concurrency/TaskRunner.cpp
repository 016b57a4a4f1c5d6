#include "StorageCore/Concurrency/TaskRunner.h"

#include <QThreadPool>

#include <shared_mutex>

#if defined(__SANITIZE_THREAD__)
#include <QEvent>

#include <deque>
#include <mutex>
#endif

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
namespace {

// The application that results are posted to. Workers are never joined, so a task may end
// while the application is being destroyed: the pointer is forgotten, under the lock, as the
// first step of that destruction (a post routine), and posting holds the lock shared.
std::shared_mutex& applicationMutex() {
    static std::shared_mutex mutex;
    return mutex;
}

QCoreApplication* g_application = nullptr;

void forgetApplication() {
    std::unique_lock lock(applicationMutex());
    g_application = nullptr;
}

void trackApplication() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    {
        std::shared_lock lock(applicationMutex());
        if (g_application == app)
            return;
    }
    std::unique_lock lock(applicationMutex());
    if (g_application == app)
        return;
    g_application = app;
    qAddPostRoutine(forgetApplication);
}

/// Calls post(application) while the application is alive; drops the call otherwise.
template <typename Post> bool withApplication(Post post) {
    std::shared_lock lock(applicationMutex());
    if (!g_application)
        return false;
    post(g_application);
    return true;
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// Qt hands jobs and events between threads under futex-based locks that ThreadSanitizer
// cannot see, so every value a task passes over would be reported as a race. Under TSan the
// hand-over goes through a std::mutex as well: jobs take it once before they run, and
// results travel to the main thread in a queue under it, announced by a plain event whose
// receiver takes the mutex before it touches anything. Not compiled into other builds.
namespace {

std::mutex& handOffMutex() {
    static std::mutex mutex;
    return mutex;
}

class MainThreadQueue : public QObject {
public:
    static constexpr QEvent::Type drainEvent = QEvent::Type(QEvent::User + 731);

    void post(std::function<void()> fn) {
        QEvent* event = new QEvent(drainEvent);
        {
            std::lock_guard lock(handOffMutex());
            queue_.push_back(std::move(fn));
        }
        QCoreApplication::postEvent(this, event);
    }

    bool event(QEvent* event) override {
        std::function<void()> fn;
        bool drain = false;
        {
            std::lock_guard lock(handOffMutex());
            drain = event->type() == drainEvent;
            if (drain && !queue_.empty()) {
                fn = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (!drain)
            return QObject::event(event);
        if (fn)
            fn();
        return true;
    }

private:
    std::deque<std::function<void()>> queue_;
};

MainThreadQueue* mainThreadQueue(QCoreApplication* app) {
    static MainThreadQueue* const queue = [app] {
        auto* q = new MainThreadQueue;
        q->moveToThread(app->thread());
        return q;
    }();
    return queue;
}

} // namespace

void startOnPool(TaskPool pool, std::function<void()> job) {
    std::function<void()> locked = [job = std::move(job)]() mutable {
        { std::lock_guard lock(handOffMutex()); }
        job();
    };
    { std::lock_guard lock(handOffMutex()); } // everything written so far is handed over
    trackApplication();
    threadPool(pool)->start(std::move(locked));
}

bool postToMainThread(std::function<void()> fn) {
    return withApplication([&](QCoreApplication* app) { mainThreadQueue(app)->post(std::move(fn)); });
}

#else

void startOnPool(TaskPool pool, std::function<void()> job) {
    trackApplication();
    threadPool(pool)->start(std::move(job));
}

bool postToMainThread(std::function<void()> fn) {
    return withApplication([&](QCoreApplication* app) {
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
    });
}

#endif

} // namespace detail
} // namespace tw
