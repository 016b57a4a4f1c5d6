#include "StorageCore/Persistence/WriteBehindStore.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QStringList>

#include <condition_variable>
#include <mutex>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

struct WriteBehindStore::State {
    /// A queued change of one document: its new content, or nullopt for a removal.
    using Change = std::optional<QJsonValue>;

    explicit State(std::shared_ptr<KeyValueStore> store) : below(std::move(store)) {}

    const std::shared_ptr<KeyValueStore> below;
    std::mutex mutex;
    std::condition_variable changed;
    /// Documents waiting to be written, in the order they were first queued.
    QStringList order;
    QHash<QString, Change> pending;
    /// The write running on the worker, if any.
    std::optional<std::pair<QString, Change>> writing;
    bool draining = false;

    bool idle() const { return order.isEmpty() && !writing && !draining; }
    bool busyWith(const QString& key) const {
        return pending.contains(key) || (writing && writing->first == key);
    }

    /// Runs on a worker until nothing is queued.
    static void drain(const std::shared_ptr<State>& state) {
        for (;;) {
            std::pair<QString, Change> job;
            {
                std::lock_guard lock(state->mutex);
                if (state->order.isEmpty()) {
                    state->draining = false;
                    state->changed.notify_all();
                    return;
                }
                job.first = state->order.takeFirst();
                job.second = state->pending.take(job.first);
                state->writing = job;
            }
            try {
                if (job.second)
                    state->below->save(*job.second, job.first);
                else
                    state->below->remove(job.first);
            } catch (const std::exception& error) {
                qCWarning(lcStore)
                    << "writing the document" << job.first << "failed:" << error.what();
            } catch (...) {
                qCWarning(lcStore) << "writing the document" << job.first << "failed";
            }
            std::lock_guard lock(state->mutex);
            state->writing.reset();
            state->changed.notify_all();
        }
    }

    void enqueue(const std::shared_ptr<State>& self, const QString& key, Change change) {
        bool start = false;
        {
            std::lock_guard lock(mutex);
            if (!pending.contains(key))
                order.append(key);
            pending.insert(key, std::move(change));
            if (!draining) {
                draining = true;
                start = true;
            }
        }
        if (start)
            runDetached([self] { drain(self); });
    }

    bool waitUntil(Deadline deadline, const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        if (deadline == Deadline::max()) {
            changed.wait(lock, done);
            return true;
        }
        return changed.wait_until(lock, deadline, done);
    }
};

namespace {

struct Registry {
    std::mutex mutex;
    QList<std::weak_ptr<WriteBehindStore::State>> stores;
};

Registry& registry() {
    static Registry* instance = new Registry; // never destroyed: the process ends with _exit
    return *instance;
}

} // namespace

WriteBehindStore::WriteBehindStore(std::shared_ptr<KeyValueStore> below)
    : state_(std::make_shared<State>(std::move(below))) {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    all.stores.append(state_);
}

WriteBehindStore::~WriteBehindStore() {
    if (!flush(std::chrono::steady_clock::now() + std::chrono::seconds(10)))
        qCWarning(lcStore) << "documents were still being written when their store went away";
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    all.stores.removeIf([this](const std::weak_ptr<State>& entry) {
        const std::shared_ptr<State> state = entry.lock();
        return !state || state == state_;
    });
}

const std::shared_ptr<KeyValueStore>& WriteBehindStore::below() const {
    return state_->below;
}

std::optional<QJsonValue> WriteBehindStore::load(const QString& key) {
    {
        std::lock_guard lock(state_->mutex);
        const auto it = state_->pending.constFind(key);
        if (it != state_->pending.constEnd())
            return *it;
        if (state_->writing && state_->writing->first == key)
            return state_->writing->second;
    }
    return state_->below->load(key);
}

void WriteBehindStore::save(const QJsonValue& value, const QString& key) {
    if (!value.isArray() && !value.isObject())
        throw StoreError(QStringLiteral("%1: only objects and arrays are stored").arg(key));
    state_->enqueue(state_, key, value);
}

void WriteBehindStore::remove(const QString& key) {
    state_->enqueue(state_, key, std::nullopt);
}

std::optional<QString> WriteBehindStore::setAside(const QString& key) {
    state_->waitUntil(Deadline::max(), [&] { return !state_->busyWith(key); });
    return state_->below->setAside(key);
}

bool WriteBehindStore::flush(Deadline deadline) {
    return state_->waitUntil(deadline, [this] { return state_->idle(); });
}

bool WriteBehindStore::flushAll(Deadline deadline) {
    QList<std::shared_ptr<State>> stores;
    {
        Registry& all = registry();
        std::lock_guard lock(all.mutex);
        for (const std::weak_ptr<State>& entry : std::as_const(all.stores)) {
            if (std::shared_ptr<State> state = entry.lock())
                stores.append(std::move(state));
        }
    }
    bool flushed = true;
    for (const std::shared_ptr<State>& state : std::as_const(stores))
        flushed = state->waitUntil(deadline, [&state] { return state->idle(); }) && flushed;
    return flushed;
}

} // namespace tw
