#include "GoogleDriveProvider/HTTP/FileMove.h"

#include "StorageCore/Persistence/PartialFile.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tw {
namespace {

bool writeAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

/// Copies source into a new file beside destination and renames it over destination.
bool copyAndRename(const QByteArray& source, const QByteArray& destination) {
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat info {};
    if (::fstat(in, &info) != 0) {
        ::close(in);
        return false;
    }
    const QString directory = QFileInfo(QString::fromLocal8Bit(destination)).absolutePath();
    const QByteArray temporary =
        (directory + QStringLiteral("/.") +
         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".part"))
            .toLocal8Bit();
    const int out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                           info.st_mode & 07777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[64 * 1024];
    while (ok) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        ok = writeAll(out, buffer, got);
    }
    ::close(in);
    if (::close(out) != 0)
        ok = false;
    if (ok && ::rename(temporary.constData(), destination.constData()) == 0) {
        ::unlink(source.constData());
        return true;
    }
    ::unlink(temporary.constData());
    return false;
}

} // namespace

void applyDefaultFileMode(const QString& path) {
    ::chmod(path.toLocal8Bit().constData(), mode_t(PartialFile::defaultFileMode()));
}

bool moveFileReplacing(const QString& source, const QString& destination) {
    const QByteArray from = source.toLocal8Bit();
    const QByteArray to = destination.toLocal8Bit();
    if (::rename(from.constData(), to.constData()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    return copyAndRename(from, to);
}

} // namespace tw
