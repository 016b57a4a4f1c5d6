#include "GoogleDriveProvider/HTTP/ReadableFile.h"

#include "StorageCore/Domain/StorageError.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tw {

std::shared_ptr<const ReadableFile> ReadableFile::open(const QString& path) {
    if (path.isEmpty())
        throw StorageError(StorageError::Code::localFileUnreadable);
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (descriptor < 0)
        throw StorageError(StorageError::Code::localFileUnreadable);
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        throw StorageError(StorageError::Code::localFileUnreadable);
    }
    // The whole file is read once, front to back: the kernel may read ahead generously.
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::shared_ptr<const ReadableFile>(new ReadableFile(descriptor, qint64(info.st_size),
                                                                qint64(info.st_mtim.tv_sec),
                                                                qint64(info.st_mtim.tv_nsec)));
}

ReadableFile::ReadableFile(int descriptor, qint64 size, qint64 modifiedSeconds,
                           qint64 modifiedNanoseconds)
    : descriptor_(descriptor), size_(size), modifiedSeconds_(modifiedSeconds),
      modifiedNanoseconds_(modifiedNanoseconds) {}

ReadableFile::~ReadableFile() {
    ::close(descriptor_);
}

qint64 ReadableFile::currentSize() const {
    struct stat info {};
    if (::fstat(descriptor_, &info) != 0)
        return -1;
    return qint64(info.st_size);
}

bool ReadableFile::changedSinceOpened() const {
    struct stat info {};
    if (::fstat(descriptor_, &info) != 0)
        return true;
    return qint64(info.st_size) != size_ || qint64(info.st_mtim.tv_sec) != modifiedSeconds_ ||
           qint64(info.st_mtim.tv_nsec) != modifiedNanoseconds_;
}

} // namespace tw
