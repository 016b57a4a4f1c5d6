#include "StorageCore/Persistence/SettingsStore.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QHash>
#include <QList>
#include <QLoggingCategory>

#include <condition_variable>
#include <mutex>
#include <optional>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

struct SettingsStore::State {
    /// A change of one key: its new value, or nullopt for a removal.
    using Change = std::pair<QString, std::optional<QVariant>>;

    State(QString file, QSettings::Format fileFormat)
        : fileName(std::move(file)), format(fileFormat) {}

    const QString fileName;
    const QSettings::Format format;
    mutable std::mutex mutex;
    std::condition_variable changed;
    QHash<QString, QVariant> values;
    /// Changes not yet handed to the worker, in the order they were made.
    QList<Change> queue;
    bool draining = false;

    /// Runs on a worker until nothing is queued. Made here, the QSettings object belongs to
    /// the worker's thread, which runs no event loop: only the explicit sync() writes.
    static void drain(const std::shared_ptr<State>& state) {
        for (;;) {
            QList<Change> batch;
            {
                std::lock_guard lock(state->mutex);
                if (state->queue.isEmpty()) {
                    state->draining = false;
                    state->changed.notify_all();
                    return;
                }
                batch.swap(state->queue);
            }
            // One writer in the process at a time: stores may share a file, and QSettings'
            // reading and writing of files is not meant to run on two threads at once.
            static std::mutex writing;
            std::lock_guard writer(writing);
            QSettings file(state->fileName, state->format);
            for (const Change& change : std::as_const(batch)) {
                if (change.second)
                    file.setValue(change.first, *change.second);
                else
                    file.remove(change.first);
            }
            file.sync();
            if (file.status() != QSettings::NoError)
                qCWarning(lcStore) << "writing the settings" << state->fileName << "failed";
        }
    }

    void enqueue(const std::shared_ptr<State>& self, Change change) {
        bool start = false;
        {
            std::lock_guard lock(mutex);
            if (change.second)
                values.insert(change.first, *change.second);
            else
                values.remove(change.first);
            queue.append(std::move(change));
            if (!draining) {
                draining = true;
                start = true;
            }
        }
        if (start)
            runDetached([self] { drain(self); });
    }

    bool waitUntilIdle(Deadline deadline) {
        std::unique_lock lock(mutex);
        const auto idle = [this] { return queue.isEmpty() && !draining; };
        if (deadline == Deadline::max()) {
            changed.wait(lock, idle);
            return true;
        }
        return changed.wait_until(lock, deadline, idle);
    }
};

namespace {

struct Registry {
    std::mutex mutex;
    QList<std::weak_ptr<SettingsStore::State>> stores;
};

Registry& registry() {
    static Registry* instance = new Registry; // never destroyed: the process ends with _exit
    return *instance;
}

/// The store's state with the file's contents in memory. The reading QSettings object is
/// never changed, so it never writes.
std::shared_ptr<SettingsStore::State> load(const QSettings& file) {
    auto state = std::make_shared<SettingsStore::State>(file.fileName(), file.format());
    const QStringList keys = file.allKeys();
    for (const QString& key : keys)
        state->values.insert(key, file.value(key));
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    all.stores.append(state);
    return state;
}

} // namespace

SettingsStore::SettingsStore() : state_(load(QSettings())) {}

SettingsStore::SettingsStore(const QString& fileName, QSettings::Format format)
    : state_(load(QSettings(fileName, format))) {}

SettingsStore::~SettingsStore() {
    if (!flush(std::chrono::steady_clock::now() + std::chrono::seconds(10)))
        qCWarning(lcStore) << "settings were still being written when their store went away";
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    all.stores.removeIf([this](const std::weak_ptr<State>& entry) {
        const std::shared_ptr<State> state = entry.lock();
        return !state || state == state_;
    });
}

QVariant SettingsStore::value(const QString& key, const QVariant& fallback) const {
    std::lock_guard lock(state_->mutex);
    return state_->values.value(key, fallback);
}

bool SettingsStore::contains(const QString& key) const {
    std::lock_guard lock(state_->mutex);
    return state_->values.contains(key);
}

void SettingsStore::setValue(const QString& key, const QVariant& value) {
    state_->enqueue(state_, {key, value});
}

void SettingsStore::remove(const QString& key) {
    state_->enqueue(state_, {key, std::nullopt});
}

QString SettingsStore::fileName() const {
    return state_->fileName;
}

bool SettingsStore::flush(Deadline deadline) {
    return state_->waitUntilIdle(deadline);
}

bool SettingsStore::flushAll(Deadline deadline) {
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
        flushed = state->waitUntilIdle(deadline) && flushed;
    return flushed;
}

} // namespace tw
