#include "StorageCore/Persistence/BackgroundWriter.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QList>
#include <QLoggingCategory>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

namespace {

struct Registry {
    std::mutex mutex;
    QList<std::weak_ptr<BackgroundWriter>> writers;
};

Registry& registry() {
    static Registry* instance = new Registry; // never destroyed: the process ends with _exit
    return *instance;
}

} // namespace

void BackgroundWriter::enroll(const std::weak_ptr<BackgroundWriter>& writer) {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    all.writers.append(writer);
}

BackgroundWriter::~BackgroundWriter() {
    // This writer's entry has expired by now; so has any other whose writer is gone.
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    all.writers.removeIf(
        [](const std::weak_ptr<BackgroundWriter>& entry) { return entry.expired(); });
}

void BackgroundWriter::startDrain() {
    runDetached([self = shared_from_this()] { self->drain(); });
}

void BackgroundWriter::drain() {
    for (;;) {
        Job job;
        {
            std::lock_guard guard(mutex_);
            job = takeNext();
            if (!job)
                draining_ = false;
        }
        changed_.notify_all();
        if (!job)
            return;
        try {
            job();
        } catch (const std::exception& error) {
            qCWarning(lcStore) << "a background write failed:" << error.what();
        } catch (...) {
            qCWarning(lcStore) << "a background write failed";
        }
    }
}

bool BackgroundWriter::waitUntil(Deadline deadline, const std::function<bool()>& done) {
    std::unique_lock guard(mutex_);
    if (deadline == Deadline::max()) {
        changed_.wait(guard, done);
        return true;
    }
    return changed_.wait_until(guard, deadline, done);
}

bool BackgroundWriter::flush(Deadline deadline) {
    return waitUntil(deadline, [this] { return !draining_; });
}

bool BackgroundWriter::flushAll(Deadline deadline) {
    QList<std::shared_ptr<BackgroundWriter>> writers;
    {
        Registry& all = registry();
        std::lock_guard lock(all.mutex);
        for (const std::weak_ptr<BackgroundWriter>& entry : std::as_const(all.writers)) {
            if (std::shared_ptr<BackgroundWriter> writer = entry.lock())
                writers.append(std::move(writer));
        }
    }
    bool flushed = true;
    for (const std::shared_ptr<BackgroundWriter>& writer : std::as_const(writers))
        flushed = writer->flush(deadline) && flushed;
    return flushed;
}

} // namespace tw
