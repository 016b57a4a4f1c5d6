#include "GoogleDriveProvider/HTTP/FileMove.h"

#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Persistence/PartialFile.h"


#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tw {
namespace {

/// Copies source into a partial file beside destination (keeping source's mode) and renames
/// it over destination.
bool copyAndRename(const QByteArray& source, const QString& destination) {
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    bool ok = false;
    struct stat info {};
    if (::fstat(in, &info) == 0) {
        try {
            PartialFile out(destination);
            out.setFinalMode(unsigned(info.st_mode & 07777));
            ok = true;
            char buffer[64 * 1024];
            while (ok) {
                const ssize_t got = ::read(in, buffer, sizeof buffer);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0) {
                    ok = got == 0;
                    break;
                }
                ok = out.write(buffer, got);
            }
            ok = ok && out.commit();
        } catch (const StorageError&) {
            ok = false;
        }
    }
    ::close(in);
    if (ok)
        ::unlink(source.constData());
    return ok;
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
    return copyAndRename(from, destination);
}

} // namespace tw
