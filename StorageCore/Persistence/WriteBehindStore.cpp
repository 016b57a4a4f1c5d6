#include "StorageCore/Persistence/WriteBehindStore.h"

#include "StorageCore/Persistence/BackgroundWriter.h"

#include <QHash>
#include <QLoggingCategory>
#include <QStringList>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

struct WriteBehindStore::State final : BackgroundWriter {
    /// A queued change of one document: its new content, or nullopt for a removal.
    using Change = std::optional<QJsonValue>;

    explicit State(std::shared_ptr<KeyValueStore> store) : below(std::move(store)) {}

    const std::shared_ptr<KeyValueStore> below;
    // Behind the writer's lock:
    /// Documents waiting to be written, in the order they were first queued.
    QStringList order;
    QHash<QString, Change> pending;
    /// The write running on the worker, if any.
    std::optional<std::pair<QString, Change>> writing;

    bool busyWith(const QString& key) const {
        return pending.contains(key) || (writing && writing->first == key);
    }

    void enqueue(const QString& key, Change change) {
        queue([&] {
            if (!pending.contains(key))
                order.append(key);
            pending.insert(key, std::move(change));
        });
    }

    Job takeNext() override {
        writing.reset();
        if (order.isEmpty())
            return {};
        const QString key = order.takeFirst();
        writing.emplace(key, pending.take(key));
        return [below = below, job = *writing] {
            try {
                if (job.second)
                    below->save(*job.second, job.first);
                else
                    below->remove(job.first);
            } catch (const std::exception& error) {
                qCWarning(lcStore)
                    << "writing the document" << job.first << "failed:" << error.what();
            } catch (...) {
                qCWarning(lcStore) << "writing the document" << job.first << "failed";
            }
        };
    }
};

WriteBehindStore::WriteBehindStore(std::shared_ptr<KeyValueStore> below)
    : state_(BackgroundWriter::make<State>(std::move(below))) {}

WriteBehindStore::~WriteBehindStore() {
    if (!state_->flush(std::chrono::steady_clock::now() + std::chrono::seconds(10)))
        qCWarning(lcStore) << "documents were still being written when their store went away";
}

const std::shared_ptr<KeyValueStore>& WriteBehindStore::below() const {
    return state_->below;
}

std::optional<QJsonValue> WriteBehindStore::load(const QString& key) {
    {
        const auto lock = state_->lock();
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
    state_->enqueue(key, value);
}

void WriteBehindStore::remove(const QString& key) {
    state_->enqueue(key, std::nullopt);
}

std::optional<QString> WriteBehindStore::setAside(const QString& key) {
    state_->waitUntil(Deadline::max(), [&] { return !state_->busyWith(key); });
    return state_->below->setAside(key);
}

bool WriteBehindStore::flush(Deadline deadline) {
    return state_->flush(deadline);
}

} // namespace tw
