#pragma once

#include <QString>

#include <memory>

namespace tw {

/// A local file opened once for reading. Every slice of an upload is read from this one
/// descriptor, so a file replaced by rename while it is sent (as editors save) still gives the
/// bytes of the file that was opened, never a mix of the two.
class ReadableFile {
public:
    /// Opens the file; throws StorageError localFileUnreadable when it cannot be opened or is
    /// no regular file.
    static std::shared_ptr<const ReadableFile> open(const QString& path);

    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    int descriptor() const { return descriptor_; }
    /// The size when it was opened.
    qint64 openedSize() const { return size_; }
    /// The current size of the opened file (not of whatever its path names now); -1 when it
    /// cannot be read.
    qint64 currentSize() const;
    /// Whether the opened file was written to since it was opened (its size or modification
    /// time moved): its bytes may then no longer be the ones that were partly sent.
    bool changedSinceOpened() const;

private:
    ReadableFile(int descriptor, qint64 size, qint64 modifiedSeconds, qint64 modifiedNanoseconds);

    int descriptor_;
    qint64 size_;
    qint64 modifiedSeconds_;
    qint64 modifiedNanoseconds_;
};

} // namespace tw
