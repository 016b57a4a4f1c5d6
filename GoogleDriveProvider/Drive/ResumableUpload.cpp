#include "GoogleDriveProvider/Drive/ResumableUpload.h"

#include "GoogleDriveProvider/Drive/DriveAPI.h"
#include "GoogleDriveProvider/Drive/DriveModels.h"
#include "GoogleDriveProvider/Drive/GoogleDriveProvider.h"
#include "StorageCore/Concurrency/Cancellation.h"

namespace tw {

namespace {

using Code = StorageError::Code;

bool acceptsUploadReply(int status, const QByteArray&) {
    return status == 308 || (status >= 200 && status <= 299);
}

bool isRecoverable(const StorageError& error) {
    return error.code() == Code::server || error.code() == Code::network ||
           error.code() == Code::rateLimited;
}

} // namespace

ResumableUpload::ResumableUpload(GoogleDriveProvider& provider, QUuid accountID, LocalFile file,
                                 std::optional<QString> parentID, ProgressCallback progress)
    : provider_(provider), accountID_(accountID), file_(std::move(file)),
      parentID_(std::move(parentID)), progress_(std::move(progress)) {}

FileItem ResumableUpload::run() {
    // Opened once: every chunk of every attempt reads this descriptor, so the bytes sent are
    // those of the file as it was when the upload began, even if it is replaced meanwhile.
    source_ = ReadableFile::open(file_.url.isLocalFile() ? file_.url.toLocalFile() : QString());
    try {
        return attempt();
    } catch (const StorageError& error) {
        if (error.code() != Code::notFound)
            throw;
    }
    // The session expired or vanished: one new attempt from the beginning, never a third.
    return attempt();
}

void ResumableUpload::report(qint64 bytes) const {
    if (progress_)
        progress_(bytes);
}

FileItem ResumableUpload::completed(FileItem item) {
    if (!source_->changedSinceOpened())
        return item;
    // Written to while its last chunk was sent: the copy on Drive may mix two versions. It
    // goes to the trash (quietly: the upload fails either way) and the upload fails.
    try {
        Cancellation::Scope uninterrupted{std::stop_token()};
        provider_.trash(item.ref);
    } catch (...) {
    }
    throw StorageError(Code::localFileUnreadable);
}

qint64 ResumableUpload::checkedOffset(qint64 offset) const {
    const qint64 declared = file_.sizeBytes;
    if (offset < 0 || (declared > 0 ? offset >= declared : offset > 0))
        throw StorageError(Code::invalidResponse);
    return offset;
}

QUrl ResumableUpload::initiate() {
    const HTTPReply reply =
        provider_.performRaw(DriveAPI::initiateResumableUpload(file_, parentID_), accountID_, true);
    const auto location = reply.response.headers.value("Location");
    if (!location || location->trimmed().isEmpty())
        throw StorageError(Code::invalidResponse);
    const QUrl url = QUrl::fromEncoded(location->trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        throw StorageError(Code::invalidResponse);
    return url;
}

ResumableUpload::Status ResumableUpload::queryStatus(const QUrl& sessionURL) {
    const HTTPReply reply =
        provider_.performRaw(DriveAPI::uploadStatus(sessionURL, file_.sizeBytes), accountID_, true,
                             std::nullopt, {}, &acceptsUploadReply);
    if (reply.response.statusCode == 308)
        return ResumeAt{DriveAPI::nextOffset(reply.response.headers.value("Range"))};
    const auto created = DriveFile::decode(reply.body);
    if (!created)
        throw StorageError(Code::invalidResponse);
    return created->item(accountID_);
}

FileItem ResumableUpload::attempt() {
    const QUrl sessionURL = initiate();

    const qint64 declared = file_.sizeBytes;
    const qint64 chunkSize = provider_.uploadChunkSize();
    const int maxRetries = provider_.maxRetries();
    report(0);
    qint64 offset = 0;
    int failures = 0;
    bool askedAfterWholeClaim = false;

    while (true) {
        Cancellation::checkpoint();
        // Never more than the declared size: a file that grew after it was inspected still
        // yields a well-formed Content-Range.
        const qint64 length = std::min(chunkSize, declared - offset);
        if (declared > 0 && source_->currentSize() < offset + length)
            throw StorageError(Code::localFileUnreadable); // shorter than declared
        // Written to in place since the upload began: what was sent already may no longer
        // match the rest, and a mixed file must never be reported as uploaded.
        if (source_->changedSinceOpened())
            throw StorageError(Code::localFileUnreadable);

        try {
            const qint64 chunkStart = offset;
            const HTTPReply reply = provider_.performRaw(
                DriveAPI::uploadChunk(sessionURL, offset, length, declared), accountID_, false,
                HTTPBody::fromFile(source_, offset, length),
                [this, chunkStart](qint64 sent) { report(chunkStart + sent); },
                &acceptsUploadReply);

            if (reply.response.statusCode == 308) {
                qint64 claimed = DriveAPI::nextOffset(reply.response.headers.value("Range"));
                if (declared > 0 && claimed >= declared) {
                    // The session claims the whole file yet made none: its answer may have
                    // crossed the file's completion. Its status decides, once; a second
                    // claim without the file is an invalid response.
                    if (askedAfterWholeClaim)
                        throw StorageError(Code::invalidResponse);
                    askedAfterWholeClaim = true;
                    const Status status = queryStatus(sessionURL);
                    if (const FileItem* item = std::get_if<FileItem>(&status))
                        return completed(*item);
                    claimed = std::get<ResumeAt>(status).offset;
                }
                const qint64 next = checkedOffset(claimed);
                report(next);
                if (next > offset) {
                    offset = next;
                    failures = 0;
                    continue;
                }
                // The server kept nothing of the chunk: a failure like any other, so a session
                // that never moves ends instead of looping for ever.
                offset = next;
                if (failures >= maxRetries)
                    throw StorageError(Code::invalidResponse);
                ++failures;
                provider_.backoff(failures);
                continue;
            }
            const auto created = DriveFile::decode(reply.body);
            if (!created)
                throw StorageError(Code::invalidResponse);
            FileItem item = completed(created->item(accountID_));
            report(declared);
            return item;
        } catch (const StorageError& error) {
            if (!isRecoverable(error) || failures >= maxRetries)
                throw;
            provider_.backoff(failures + 1);
            const Status status = queryStatus(sessionURL);
            if (const FileItem* item = std::get_if<FileItem>(&status))
                return completed(*item);
            const qint64 next = checkedOffset(std::get<ResumeAt>(status).offset);
            report(next);
            ++failures;
            offset = next;
        }
    }
}

} // namespace tw
