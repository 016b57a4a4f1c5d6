#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Domain/StorageProvider.h"

#include <QHash>
#include <QStringList>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

namespace tw::test {

/// A scriptable in-memory back end: items and contents per account, page size, scripted
/// failures, delays, gates that hold a call until the test releases it, and a call log.
/// Page tokens are "offset:<n>". Thread-safe; every wait honours cancellation.
class FakeStorageProvider : public StorageProvider {
public:
    enum class Op {
        connect, storeCredential, removeCredential, quota, listFolder, search, listCategory,
        createFolder, rename, move, trash, upload, download, read, exportFile, thumbnail
    };
    static QString opName(Op op);

    /// Holds one call: entered() resolves when the call arrives, release() lets it go on.
    struct Gate {
        Completion<std::monostate> entered;
        Completion<std::monostate> released;
        void release() { released.resolve({}); }
        /// Blocks the calling (test) thread until the call has arrived.
        bool waitEntered(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
            return entered.waitFor(timeout).has_value();
        }
    };

    // ---- content --------------------------------------------------------------------------
    /// Adds an item under its first parent id (none = the root) with optional content.
    void addItem(const FileItem& item, const QByteArray& content = {});
    /// Adds n files named "<prefix><i>.txt" under parent; returns them.
    QList<FileItem> addFiles(const QUuid& account, const std::optional<QString>& parent, int n,
                             const QString& prefix = QStringLiteral("file"));
    void removeItem(const FileRef& ref);
    void setPageSize(int size);
    void setQuota(const QUuid& account, const StorageQuota& quota);
    void setConnection(const ProviderConnection& connection);
    void setThumbnail(const FileRef& ref, const QByteArray& data);
    /// Accounts that are not known fail with reauthRequired once this is on.
    void setRequireCredentials(bool require);

    // ---- scripting ------------------------------------------------------------------------
    void failNext(Op op, const StorageError& error, int times = 1);
    void failAlways(Op op, const std::optional<StorageError>& error);
    void setDelay(Op op, std::chrono::milliseconds delay);
    /// The next call of op waits at the returned gate.
    std::shared_ptr<Gate> gateNext(Op op);

    // ---- call log -------------------------------------------------------------------------
    QStringList calls() const;
    int callCount(Op op) const;
    QHash<QUuid, ProviderCredential> storedCredentials() const;
    void clearCalls();

    // ---- StorageProvider ------------------------------------------------------------------
    using StorageProvider::connect;
    ProviderConnection connect(const std::optional<QString>& loginHint) override;
    void storeCredential(const ProviderCredential& credential, const QUuid& accountID) override;
    void removeCredential(const QUuid& accountID, bool revoke) noexcept override;
    StorageQuota quota(const QUuid& accountID) override;
    Page listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                    const std::optional<QString>& pageToken) override;
    Page search(const QUuid& accountID, const QString& query,
                const std::optional<QString>& pageToken) override;
    Page listCategory(const QUuid& accountID, FileCategory category,
                      const std::optional<QString>& pageToken) override;
    FileItem createFolder(const QUuid& accountID, const QString& name,
                          const std::optional<QString>& parentID) override;
    FileItem rename(const FileRef& ref, const QString& newName) override;
    FileItem move(const FileRef& ref, const std::optional<QString>& from,
                  const QString& to) override;
    void trash(const FileRef& ref) override;
    FileItem upload(const QUuid& accountID, const LocalFile& file,
                    const std::optional<QString>& parentID,
                    const ProgressCallback& progress) override;
    void download(const FileRef& ref, const QUrl& destination,
                  const ProgressCallback& progress) override;
    QByteArray read(const FileRef& ref, ByteRange range) override;
    void exportFile(const FileRef& ref, const QString& mimeType, const QUrl& destination) override;
    std::optional<QByteArray> thumbnail(const FileItem& item, int maxPixelSize) override;

private:
    struct Entry {
        FileItem item;
        QByteArray content;
    };
    /// Logs the call, applies gate, delay and scripted failure, then checks cancellation.
    void enter(Op op, const QString& description, const std::optional<QUuid>& account = {});
    Page pageOf(const QList<FileItem>& all, const std::optional<QString>& token) const;
    QList<FileItem> children(const QUuid& account, const std::optional<QString>& parent) const;
    Entry& entryLocked(const FileRef& ref);

    mutable std::mutex mutex_;
    QList<Entry> entries_; // in insertion order
    QHash<QUuid, StorageQuota> quotas_;
    QHash<QUuid, ProviderCredential> credentials_;
    QHash<FileRef, QByteArray> thumbnails_;
    std::optional<ProviderConnection> connection_;
    int pageSize_ = 100;
    bool requireCredentials_ = false;
    int nextId_ = 1;
    QHash<int, std::deque<StorageError>> failNext_;
    QHash<int, StorageError> failAlways_;
    QHash<int, std::chrono::milliseconds> delays_;
    QHash<int, std::deque<std::shared_ptr<Gate>>> gates_;
    QStringList calls_;
    QHash<int, int> counts_;
};

} // namespace tw::test
