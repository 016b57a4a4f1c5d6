#include "StorageCore/Persistence/SettingsStore.h"

#include "StorageCore/Persistence/BackgroundWriter.h"

#include <QHash>
#include <QList>
#include <QLoggingCategory>

#include <optional>
#include <utility>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

struct SettingsStore::State final : BackgroundWriter {
    /// A change of one key: its new value, or nullopt for a removal.
    using Change = std::pair<QString, std::optional<QVariant>>;

    State(QString file, QSettings::Format fileFormat)
        : fileName(std::move(file)), format(fileFormat) {}

    /// The state of a store with the file's contents in memory. The reading QSettings object
    /// is never changed, so it never writes.
    static std::shared_ptr<State> load(const QSettings& file) {
        auto state = BackgroundWriter::make<State>(file.fileName(), file.format());
        const QStringList keys = file.allKeys();
        for (const QString& key : keys)
            state->values.insert(key, file.value(key));
        return state;
    }

    const QString fileName;
    const QSettings::Format format;
    // Behind the writer's lock:
    QHash<QString, QVariant> values;
    /// Changes not yet handed to the worker, in the order they were made.
    QList<Change> changes;

    void enqueue(Change change) {
        queue([&] {
            if (change.second)
                values.insert(change.first, *change.second);
            else
                values.remove(change.first);
            changes.append(std::move(change));
        });
    }

    /// Everything queued, as one batch.
    Job takeNext() override {
        if (changes.isEmpty())
            return {};
        return [this, batch = std::exchange(changes, {})] { write(batch); };
    }

    /// Runs on a worker. Made here, the QSettings object belongs to the worker's thread, which
    /// runs no event loop: only the explicit sync() writes.
    void write(const QList<Change>& batch) const {
        // One writer in the process at a time: stores may share a file, and QSettings'
        // reading and writing of files is not meant to run on two threads at once.
        static std::mutex writing;
        std::lock_guard writer(writing);
        QSettings file(fileName, format);
        for (const Change& change : batch) {
            if (change.second)
                file.setValue(change.first, *change.second);
            else
                file.remove(change.first);
        }
        file.sync();
        if (file.status() != QSettings::NoError)
            qCWarning(lcStore) << "writing the settings" << fileName << "failed";
    }
};

SettingsStore::SettingsStore() : state_(State::load(QSettings())) {}

SettingsStore::SettingsStore(const QString& fileName, QSettings::Format format)
    : state_(State::load(QSettings(fileName, format))) {}

SettingsStore::~SettingsStore() {
    if (!state_->flush(std::chrono::steady_clock::now() + std::chrono::seconds(10)))
        qCWarning(lcStore) << "settings were still being written when their store went away";
}

QVariant SettingsStore::value(const QString& key, const QVariant& fallback) const {
    const auto lock = state_->lock();
    return state_->values.value(key, fallback);
}

bool SettingsStore::contains(const QString& key) const {
    const auto lock = state_->lock();
    return state_->values.contains(key);
}

void SettingsStore::setValue(const QString& key, const QVariant& value) {
    state_->enqueue({key, value});
}

void SettingsStore::remove(const QString& key) {
    state_->enqueue({key, std::nullopt});
}

QString SettingsStore::fileName() const {
    return state_->fileName;
}

bool SettingsStore::flush(Deadline deadline) {
    return state_->flush(deadline);
}

} // namespace tw
