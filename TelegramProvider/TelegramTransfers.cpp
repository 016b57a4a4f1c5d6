// Moving bytes between this computer and a Telegram account: uploads as document messages,
// whole-file downloads, byte-range reads and thumbnails, all through TDLib's file manager.
#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Domain/ProviderKind.h"
#include "StorageCore/Persistence/PartialFile.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <filesystem>

#include <sys/stat.h>

namespace tw {

namespace {

/// Removes a file observer when the operation ends, whatever the outcome.
class ObserverGuard {
public:
    ObserverGuard(TelegramSession& session, std::optional<quint64> token)
        : session_(session), token_(token) {}
    ~ObserverGuard() {
        if (token_)
            session_.removeFileObserver(*token_);
    }
    ObserverGuard(const ObserverGuard&) = delete;
    ObserverGuard& operator=(const ObserverGuard&) = delete;

private:
    TelegramSession& session_;
    std::optional<quint64> token_;
};

TelegramSession::FileObserver progressObserver(const ProgressCallback& progress,
                                               const QString& object, const QString& field) {
    return [progress, object, field](const TDObject& file) {
        if (!progress)
            return;
        if (const auto part = file.object(object)) {
            if (const auto bytes = part->integer(field))
                progress(*bytes);
        }
    };
}

/// The local path of a "file" object; empty when TDLib has none.
QString localPath(const TDObject& file) {
    if (const auto local = file.object(QStringLiteral("local")))
        return local->string(QStringLiteral("path")).value_or(QString());
    return {};
}

bool isInside(const QString& path, const QString& directory) {
    const QString file = QFileInfo(path).canonicalFilePath();
    const QString folder = QFileInfo(directory).canonicalFilePath();
    return !file.isEmpty() && !folder.isEmpty() && file.startsWith(folder + QLatin1Char('/'));
}

constexpr qint64 copyChunk = 4 * 1024 * 1024;

/// What tells one version of a local file from another: the file its path names (device and
/// inode: an editor's save by rename makes a new one), its size and its last modification.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;
    bool operator==(const FileVersion&) const = default;
};

std::optional<FileVersion> versionOf(const QString& path) {
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileVersion{info.st_dev, info.st_ino, qint64(info.st_size), qint64(info.st_mtim.tv_sec),
                       qint64(info.st_mtim.tv_nsec)};
}

} // namespace

bool TelegramStorageProvider::saveDownload(const QString& source, const QString& destination) {
    std::error_code error;
    if (std::filesystem::equivalent(QFile::encodeName(source).toStdString(),
                                    QFile::encodeName(destination).toStdString(), error))
        return false; // TDLib keeps the file right there already (an upload from this path)
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        throw StorageError(StorageError::Code::localWriteFailed);
    // A partial file beside the destination, renamed over it only once complete (with the
    // user's usual mode): the file that is there stays intact when anything fails, and one
    // left by a killed process is removed at the next start.
    PartialFile output(destination); // deleted when not committed
    QByteArray buffer;
    while (true) {
        Cancellation::checkpoint();
        buffer = input.read(copyChunk);
        if (buffer.isEmpty()) {
            if (input.error() != QFileDevice::NoError)
                throw StorageError(StorageError::Code::localWriteFailed);
            break;
        }
        if (!output.write(buffer.constData(), buffer.size()))
            throw StorageError(StorageError::Code::localWriteFailed);
    }
    if (!output.commit())
        throw StorageError(StorageError::Code::localWriteFailed);
    return true;
}

// MARK: Upload

FileItem TelegramStorageProvider::upload(const QUuid& accountID, const LocalFile& file,
                                         const std::optional<QString>& parentID,
                                         const ProgressCallback& progress) {
    if (file.sizeBytes > telegramMaxFileSize)
        throw StorageError::fileTooLarge(telegramMaxFileSize);
    auto session = this->session(accountID);

    qint64 chatID = 0;
    if (!parentID) {
        const auto saved = session->savedChatID();
        if (!saved)
            throw StorageError(StorageError::Code::reauthRequired);
        chatID = *saved;
    } else {
        const auto folder = TelegramIDs::chatID(*parentID, TelegramIDs::ownedPrefix);
        if (!ProviderKinds::isWritable(ProviderKind::telegram, parentID) || !folder ||
            !folderMap(*session).contains(*folder))
            throw StorageError(StorageError::Code::permissionDenied);
        chatID = *folder;
    }

    // TDLib reads the file by its path while it uploads, so a file replaced or written to
    // meanwhile could reach Telegram as a mix of two versions. The version seen now is
    // compared with the one there once the message is sent.
    const QString path = file.url.isLocalFile() ? file.url.toLocalFile() : QString();
    const std::optional<FileVersion> before = versionOf(path);
    if (!before)
        throw StorageError(StorageError::Code::localFileUnreadable);

    // TDLib answers "sendMessage" at once with the temporary message. Its id is needed to stop
    // the upload, so the reply is awaited even when the task is cancelled meanwhile.
    TDObject temporary;
    {
        Cancellation::Scope uninterrupted{std::stop_token()};
        temporary = request(
            *session, QStringLiteral("sendMessage"),
            {{QStringLiteral("chat_id"), chatID},
             {QStringLiteral("input_message_content"),
              QJsonObject{{QStringLiteral("@type"), QStringLiteral("inputMessageDocument")},
                          {QStringLiteral("document"),
                           QJsonObject{{QStringLiteral("@type"), QStringLiteral("inputFileLocal")},
                                       {QStringLiteral("path"), path}}},
                          {QStringLiteral("disable_content_type_detection"), true}}}});
    }
    const auto temporaryID = temporary.integer(QStringLiteral("id"));
    if (!temporaryID)
        throw StorageError(StorageError::Code::invalidResponse);

    std::optional<quint64> observer;
    if (const auto mapped = TelegramMapper::item(temporary, accountID, parentID))
        observer = session->addFileObserver(
            mapped->second.fileID,
            progressObserver(progress, QStringLiteral("remote"), QStringLiteral("uploaded_size")));
    ObserverGuard guard(*session, observer);

    TDObject final;
    try {
        final = session->waitForSend(chatID, *temporaryID);
    } catch (const TDError& error) {
        throw error.storageError();
    } catch (const StorageError& error) {
        if (error.isCancelled()) {
            // Stops the upload in TDLib; the answer does not matter.
            session->client()->post(
                TDObject(QStringLiteral("deleteMessages"),
                         {{QStringLiteral("chat_id"), chatID},
                          {QStringLiteral("message_ids"), QJsonArray{*temporaryID}},
                          {QStringLiteral("revoke"), true}}));
        }
        throw;
    }
    if (versionOf(path) != before) {
        // The file changed while TDLib read it: the sent copy may mix versions. It is deleted
        // again (for everyone) and the upload fails rather than report it done.
        if (const auto sentID = final.integer(QStringLiteral("id")))
            session->client()->post(TDObject(QStringLiteral("deleteMessages"),
                                             {{QStringLiteral("chat_id"), chatID},
                                              {QStringLiteral("message_ids"), QJsonArray{*sentID}},
                                              {QStringLiteral("revoke"), true}}));
        throw StorageError(StorageError::Code::localFileUnreadable);
    }
    if (progress)
        progress(file.sizeBytes);
    const auto mapped = TelegramMapper::item(final, accountID, parentID);
    if (!mapped)
        throw StorageError(StorageError::Code::invalidResponse);
    session->setFileHandles(mapped->first.ref.providerID, mapped->second);
    return mapped->first;
}

// MARK: Download

void TelegramStorageProvider::download(const FileRef& ref, const QUrl& destination,
                                       const ProgressCallback& progress) {
    auto session = this->session(ref.accountID);
    const TelegramFileHandles handles = fileHandles(ref, *session);
    ObserverGuard guard(
        *session, session->addFileObserver(handles.fileID,
                                           progressObserver(progress, QStringLiteral("local"),
                                                            QStringLiteral("downloaded_size"))));
    session->beginFileUse(handles.fileID);
    bool copied = false;
    QString path;
    try {
        TDObject file;
        try {
            file = request(*session, QStringLiteral("downloadFile"),
                           {{QStringLiteral("file_id"), handles.fileID},
                            {QStringLiteral("priority"), 1},
                            {QStringLiteral("offset"), 0},
                            {QStringLiteral("limit"), 0},
                            {QStringLiteral("synchronous"), true}});
        } catch (const StorageError& error) {
            if (error.isCancelled() || Cancellation::isCancelled()) {
                session->client()->post(TDObject(QStringLiteral("cancelDownloadFile"),
                                                 {{QStringLiteral("file_id"), handles.fileID},
                                                  {QStringLiteral("only_if_pending"), false}}));
                Cancellation::throwCancelled();
            }
            throw;
        }
        Cancellation::checkpoint();
        path = localPath(file);
        if (path.isEmpty())
            throw StorageError(StorageError::Code::invalidResponse);
        copied = saveDownload(path, destination.toLocalFile());
    } catch (...) {
        session->endFileUse(handles.fileID);
        throw;
    }

    // TDLib's copy is not needed any more, unless another transfer or read still uses it. Only
    // files in the session's own folder are ever deleted (TDLib reports the user's original
    // for a file uploaded from this computer), and never one that is the destination itself.
    const bool own = copied && isInside(path, session->filesDirectory());
    if (session->endFileUse(handles.fileID, own)) {
        try {
            Cancellation::Scope uninterrupted{std::stop_token()};
            session->client()->send(TDObject(QStringLiteral("deleteFile"),
                                             {{QStringLiteral("file_id"), handles.fileID}}),
                                    std::chrono::steady_clock::now() + limits_.close);
        } catch (...) {
        }
        session->finishFileDeletion(handles.fileID);
    }
}

// MARK: Ranged reads and thumbnails

QByteArray TelegramStorageProvider::read(const FileRef& ref, ByteRange range) {
    if (range.upper <= range.lower)
        return {};
    auto session = this->session(ref.accountID);
    const TelegramFileHandles handles = fileHandles(ref, *session);
    const qint64 end = handles.size > 0 && handles.size < range.upper ? handles.size : range.upper;
    if (range.lower >= end)
        return {};
    const qint64 count = end - range.lower;

    session->beginFileUse(handles.fileID);
    struct Use {
        TelegramSession& session;
        qint64 fileID;
        ~Use() { session.endFileUse(fileID); }
    } use{*session, handles.fileID};

    request(*session, QStringLiteral("downloadFile"),
            {{QStringLiteral("file_id"), handles.fileID},
             {QStringLiteral("priority"), 16},
             {QStringLiteral("offset"), range.lower},
             {QStringLiteral("limit"), count},
             {QStringLiteral("synchronous"), true}});
    const TDObject part = request(*session, QStringLiteral("readFilePart"),
                                  {{QStringLiteral("file_id"), handles.fileID},
                                   {QStringLiteral("offset"), range.lower},
                                   {QStringLiteral("count"), count}});
    const auto data = part.bytes(QStringLiteral("data"));
    if (!data)
        throw StorageError(StorageError::Code::invalidResponse);
    return *data;
}

std::optional<QByteArray> TelegramStorageProvider::thumbnail(const FileItem& item, int) {
    auto session = this->session(item.ref.accountID);
    const TelegramFileHandles handles = fileHandles(item.ref, *session);
    if (!handles.thumbnailFileID)
        return std::nullopt;
    const TDObject file = request(*session, QStringLiteral("downloadFile"),
                                  {{QStringLiteral("file_id"), *handles.thumbnailFileID},
                                   {QStringLiteral("priority"), 8},
                                   {QStringLiteral("offset"), 0},
                                   {QStringLiteral("limit"), 0},
                                   {QStringLiteral("synchronous"), true}});
    const QString path = localPath(file);
    if (path.isEmpty())
        return std::nullopt;
    QFile thumbnail(path);
    if (!thumbnail.open(QIODevice::ReadOnly))
        return std::nullopt;
    return thumbnail.readAll();
}

} // namespace tw
