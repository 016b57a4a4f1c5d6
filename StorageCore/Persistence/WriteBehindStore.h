#pragma once

#include "StorageCore/Persistence/KeyValueStore.h"

#include <chrono>
#include <memory>

namespace tw {

/// A KeyValueStore whose saves and removals return at once: a worker of the task facility
/// writes them to the store below (a JSONDirectoryStore, whose every write ends with
/// fdatasync), so the caller's thread never waits for the disk.
///
/// - One writer at a time per store, so the documents are written in the order they were
///   first queued and each document's writes keep their order.
/// - Bursts coalesce: only the newest pending content of a document is written.
/// - A load of a document with a pending (or running) write answers that content.
/// - What a write leaves on disk is the store below's business (for JSON files: the previous
///   or the new document, whole, whenever the process dies).
/// - A write that fails is logged ("Persistence") and dropped; the caller's copy stays in
///   memory and its next save writes again. Values that are no object or array are refused
///   at once (StoreError), as the JSON store refuses them.
/// - flush() and BackgroundWriter::flushAll() (at quit) wait for what is pending; the
///   destructor flushes too.
class WriteBehindStore final : public KeyValueStore {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    explicit WriteBehindStore(std::shared_ptr<KeyValueStore> below);
    /// Waits for the pending writes (at most 10 s).
    ~WriteBehindStore() override;

    std::optional<QJsonValue> load(const QString& key) override;
    void save(const QJsonValue& value, const QString& key) override;
    void remove(const QString& key) override;
    /// Waits until no write of key is pending, then sets the document aside below.
    std::optional<QString> setAside(const QString& key) override;

    /// Waits until nothing is pending or running, or the deadline passes; true when nothing is.
    bool flush(Deadline deadline = Deadline::max());

    const std::shared_ptr<KeyValueStore>& below() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tw
