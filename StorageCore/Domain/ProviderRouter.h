#pragma once

#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Domain/StorageProvider.h"

#include <QHash>
#include <QUuid>

#include <memory>
#include <mutex>

namespace tw {

/// The one StorageProvider the rest of the system holds: every call goes, unchanged, to the
/// back end that serves the account concerned. Which kind serves which account is an
/// in-memory map filled by registerAccount() at start-up and by every successful
/// storeCredential(); removeCredential() forgets the account.
///
/// Thread-safe. The back-end map never changes after construction and is read without a
/// lock; the account map has its own mutex, held only for one look-up or change, never across
/// a back-end call (so a back end may call into the router again).
class ProviderRouter final : public StorageProvider {
public:
    using Providers = QHash<ProviderKind, std::shared_ptr<StorageProvider>>;

    explicit ProviderRouter(Providers providers);

    /// Records which kind serves the account; replaces an earlier kind.
    void registerAccount(const QUuid& accountID, ProviderKind kind);
    /// True when a back end of this kind exists.
    bool supports(ProviderKind kind) const;

    // ---- StorageProvider ------------------------------------------------------------------
    /// Always the Google Drive back end, asked for the kind googleDrive.
    ProviderConnection connect(const std::optional<QString>& loginHint) override;
    ProviderConnection connect(ProviderKind kind, const std::optional<QString>& loginHint) override;
    /// Registers the account once its back end has stored the credential.
    void storeCredential(const ProviderCredential& credential, const QUuid& accountID) override;
    /// An unregistered account is ignored; a known one is forgotten after its back end returns.
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
    /// The back end of a kind; throws notConfigured when there is none.
    StorageProvider& provider(ProviderKind kind) const;
    /// The back end of an account; throws reauthRequired for an unregistered account.
    StorageProvider& provider(const QUuid& accountID) const;

    const Providers providers_;
    mutable std::mutex mutex_; // guards kinds_ only
    QHash<QUuid, ProviderKind> kinds_;
};

} // namespace tw
