#include "StorageCore/Transfers/LocalFileInspector.h"

#include <QFile>
#include <QMimeDatabase>

#include <sys/stat.h>
#include <unistd.h>

namespace tw::LocalFileInspector {

using Code = StorageError::Code;

LocalFile inspect(const QUrl& url) {
    if (!url.isLocalFile())
        throw StorageError(Code::localFileUnreadable);
    const QString path = url.toLocalFile();
    const QByteArray nativePath = QFile::encodeName(path);
    // One stat (following links, as opening the file would) gives kind and size together.
    struct stat status {};
    if (::stat(nativePath.constData(), &status) != 0)
        throw StorageError(Code::localFileUnreadable);
    if (S_ISDIR(status.st_mode))
        throw StorageError(Code::folderUploadUnsupported);
    if (!S_ISREG(status.st_mode))
        throw StorageError(Code::localFileUnreadable);
    if (::access(nativePath.constData(), R_OK) != 0)
        throw StorageError(Code::localFileUnreadable);

    LocalFile file;
    file.url = url;
    file.name = url.fileName();
    file.sizeBytes = qint64(status.st_size);
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    file.mimeType = type.isValid() && !type.isDefault()
                        ? type.name()
                        : QStringLiteral("application/octet-stream");
    return file;
}

Inspection inspectAll(const QList<QUrl>& urls) {
    Inspection result;
    for (const QUrl& url : urls) {
        try {
            result.files.append(inspect(url));
        } catch (...) {
            result.rejected.append({url, StorageError::current()});
        }
    }
    return result;
}

} // namespace tw::LocalFileInspector
