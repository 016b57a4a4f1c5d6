#pragma once

#include "StorageCore/Persistence/KeyValueStore.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace tw {

/// KeyValueStore over one directory: the document of key k is the file "k.json" in it,
/// indented, with the members of every object in key order (so equal values give
/// byte-identical files), written atomically through a PartialFile (a reader sees the old or
/// the new file, never a part) with mode 0600. No state and no lock; callers order their own use of
/// a key.
class JSONDirectoryStore final : public KeyValueStore {
public:
    /// Wraps the folder; touches nothing on disk.
    explicit JSONDirectoryStore(QString directory);

    /// The store under "Tessarow" in the user's data folder (XDG data home); the data folder
    /// is created when missing, "Tessarow" itself by the first save, and what a killed process
    /// left there is removed (removeLeftovers()). Throws StoreError when the system names no
    /// writable data folder.
    static JSONDirectoryStore applicationSupport();
    /// The start-up fallback: a store in a private (0700) folder of its own inside the
    /// temporary directory, removed at exit. Throws StoreError when none can be made.
    static JSONDirectoryStore temporaryFallback();

    const QString& directory() const { return directory_; }
    /// The file that holds key.
    QString filePath(const QString& key) const;

    std::optional<QJsonValue> load(const QString& key) override;
    void save(const QJsonValue& value, const QString& key) override;
    void remove(const QString& key) override;
    /// Renames "k.json" to "k.json.unreadable-<UTC date and time>" (with "-2", "-3"… when
    /// that name is taken).
    std::optional<QString> setAside(const QString& key) override;
    /// Deletes the partial files of saves that a killed process left in the folder (each save
    /// writes a PartialFile beside the document), and named temporaries of QSaveFile
    /// ("k.json.XXXXXX"), except those a live save holds locked; returns how many went.
    int removeLeftovers();

    /// Called with the key on the writing thread just before each save is made durable
    /// (fdatasync), for tests that check which thread that is; none by default.
    static void setSyncObserver(std::function<void(const QString& key)> observer);

private:
    QString directory_;
};

} // namespace tw
