#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tw {

/// A file being written beside its destination: a hidden name of ours in the destination's
/// own folder (".kelvanor-<UPPER-CASE UUID>.part"), private (0600) and locked (flock) for as
/// long as this object holds it. commit() gives it the user's usual mode (0666 less the umask)
/// and renames it over the destination in one step, so the destination is never seen half
/// written or at 0600, and a large file is never copied across file systems. An object that
/// is not committed deletes its file.
///
/// Before the file is made, its folder is recorded in a small journal in the data folder, so
/// that the next start removes what a killed process left (removeLeftovers()): only files of
/// our own naming, and only those that no live process holds locked.
class PartialFile {
public:
    /// Makes the file in destination's folder. Throws StorageError localWriteFailed.
    explicit PartialFile(QString destination);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const QString& path() const { return path_; }
    const QString& destination() const { return destination_; }
    /// The open descriptor (write only); -1 once committed or discarded.
    int handle() const { return fd_; }
    /// The mode the file gets on commit instead of the user's usual one (0600 for documents
    /// that are the user's eyes only).
    void setFinalMode(unsigned mode) { finalMode_ = mode; }
    /// Writes all of data; false when the disk refuses.
    bool write(const char* data, qint64 size);
    /// Flushes, sets the user's usual mode and renames the file over the destination; false
    /// (and the file deleted, the destination untouched) when any step fails.
    bool commit();
    /// Deletes the file now.
    void discard();

    /// True for names of our partial files (".kelvanor-<UPPER-CASE UUID>.part").
    static bool isPartialName(const QString& fileName);
    /// The journal of folders that held partial files: "partial-folders" in the data folder,
    /// unless tests set another.
    static QString journalPath();
    static void setJournalPath(const QString& path);
    /// Removes, in every folder of the journal, the partial files that no process holds, and
    /// keeps in the journal the folders that still exist; returns how many files went.
    static int removeLeftovers();
    /// The same for one folder.
    static int removeLeftoversIn(const QString& folder);
    /// The mode a new file of the user gets: 0666 less the process's umask.
    static unsigned defaultFileMode();

private:
    QString destination_;
    QString path_;
    int fd_ = -1;
    std::optional<unsigned> finalMode_;
};

/// Deletes the file at path when no process holds it locked (flock), checking under the lock
/// that the name still refers to the file that was locked. True when it was deleted.
bool removeIfUnlocked(const QString& path);

} // namespace tw
