#pragma once

#include "GoogleDriveProvider/HTTP/ReadableFile.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageProvider.h"

#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>
#include <variant>

namespace tw {

class GoogleDriveProvider;

/// Uploads one local file into a Drive folder through a resumable upload session: opens the
/// session, sends the file in chunks of the provider's chunk size (each streamed from the file,
/// never the whole file in memory), follows the server's account of the bytes it holds, and
/// after a temporary failure backs off, asks the session where to go on and resumes. An
/// expired session (notFound) starts the whole upload once more with a new session.
class ResumableUpload {
public:
    ResumableUpload(GoogleDriveProvider& provider, QUuid accountID, LocalFile file,
                    std::optional<QString> parentID, ProgressCallback progress);

    /// Blocks until the file is uploaded; returns the created file.
    FileItem run();

private:
    struct ResumeAt {
        qint64 offset;
    };
    using Status = std::variant<FileItem, ResumeAt>;

    FileItem attempt();
    QUrl initiate();
    Status queryStatus(const QUrl& sessionURL);
    void report(qint64 bytes) const;
    /// The created file, unless the local file was written to since it was opened: then the
    /// copy goes to the trash and the upload fails with localFileUnreadable.
    FileItem completed(FileItem item);
    /// The next offset of a 308, refusing one at or past the declared size of a non-empty
    /// file (the server claims more than there is).
    qint64 checkedOffset(qint64 offset) const;

    GoogleDriveProvider& provider_;
    QUuid accountID_;
    LocalFile file_;
    std::optional<QString> parentID_;
    ProgressCallback progress_;
    std::shared_ptr<const ReadableFile> source_;
};

} // namespace tw
