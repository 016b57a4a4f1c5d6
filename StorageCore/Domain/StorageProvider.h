#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QByteArray>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

namespace tw {

/// Called from any thread with the number of bytes transferred so far.
using ProgressCallback = std::function<void(qint64)>;

/// Half-open byte range [lower, upper).
struct ByteRange {
    qint64 lower = 0;
    qint64 upper = 0;

    qint64 length() const { return upper - lower; }
    bool operator==(const ByteRange&) const = default;
};

/// The contract every storage back end fulfils. Every operation blocks until its answer is
/// ready and must never run on the main thread: engines call it from tasks (see
/// Concurrency/TaskRunner.h), whose stop token the implementation honours through
/// Cancellation. Failures are thrown as StorageError only.
class StorageProvider {
public:
    virtual ~StorageProvider() = default;

    /// Interactive sign-in of this back end's service.
    virtual ProviderConnection connect(const std::optional<QString>& loginHint) = 0;
    /// Sign-in for a given kind; a back end ignores the kind, the router dispatches by it.
    virtual ProviderConnection connect(ProviderKind kind, const std::optional<QString>& loginHint) {
        (void)kind;
        return connect(loginHint);
    }
    virtual void storeCredential(const ProviderCredential& credential, const QUuid& accountID) = 0;
    /// Never throws: every failure inside is swallowed.
    virtual void removeCredential(const QUuid& accountID, bool revoke) noexcept = 0;
    virtual StorageQuota quota(const QUuid& accountID) = 0;
    virtual Page listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                            const std::optional<QString>& pageToken) = 0;
    virtual Page search(const QUuid& accountID, const QString& query,
                        const std::optional<QString>& pageToken) = 0;
    virtual Page listCategory(const QUuid& accountID, FileCategory category,
                              const std::optional<QString>& pageToken) = 0;
    virtual FileItem createFolder(const QUuid& accountID, const QString& name,
                                  const std::optional<QString>& parentID) = 0;
    virtual FileItem rename(const FileRef& ref, const QString& newName) = 0;
    virtual FileItem move(const FileRef& ref, const std::optional<QString>& from,
                          const QString& to) = 0;
    virtual void trash(const FileRef& ref) = 0;
    virtual FileItem upload(const QUuid& accountID, const LocalFile& file,
                            const std::optional<QString>& parentID,
                            const ProgressCallback& progress) = 0;
    virtual void download(const FileRef& ref, const QUrl& destination,
                          const ProgressCallback& progress) = 0;
    /// Exactly the bytes of [range.lower, range.upper), never more. An empty range
    /// (lower == upper) gives empty bytes without contacting the service.
    virtual QByteArray read(const FileRef& ref, ByteRange range) = 0;
    /// Converts a provider-native document ("export" in the service's words).
    virtual void exportFile(const FileRef& ref, const QString& mimeType,
                            const QUrl& destination) = 0;
    virtual std::optional<QByteArray> thumbnail(const FileItem& item, int maxPixelSize) = 0;
};

} // namespace tw
