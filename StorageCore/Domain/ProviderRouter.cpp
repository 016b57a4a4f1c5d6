#include "StorageCore/Domain/ProviderRouter.h"

#include <QLoggingCategory>

namespace tw {

Q_LOGGING_CATEGORY(lcRouter, "ProviderRouter")

using Code = StorageError::Code;

ProviderRouter::ProviderRouter(Providers providers) : providers_(std::move(providers)) {}

void ProviderRouter::registerAccount(const QUuid& accountID, ProviderKind kind) {
    std::lock_guard lock(mutex_);
    kinds_.insert(accountID, kind);
}

bool ProviderRouter::supports(ProviderKind kind) const {
    const auto it = providers_.constFind(kind);
    return it != providers_.constEnd() && *it;
}

StorageProvider& ProviderRouter::provider(ProviderKind kind) const {
    const auto it = providers_.constFind(kind);
    if (it == providers_.constEnd() || !*it)
        throw StorageError(Code::notConfigured);
    return **it;
}

StorageProvider& ProviderRouter::provider(const QUuid& accountID) const {
    std::optional<ProviderKind> kind;
    {
        std::lock_guard lock(mutex_);
        const auto it = kinds_.constFind(accountID);
        if (it != kinds_.constEnd())
            kind = *it;
    }
    if (!kind)
        throw StorageError(Code::reauthRequired);
    return provider(*kind);
}

ProviderConnection ProviderRouter::connect(const std::optional<QString>& loginHint) {
    return provider(ProviderKind::googleDrive).connect(ProviderKind::googleDrive, loginHint);
}

ProviderConnection ProviderRouter::connect(ProviderKind kind,
                                           const std::optional<QString>& loginHint) {
    return provider(kind).connect(kind, loginHint);
}

void ProviderRouter::storeCredential(const ProviderCredential& credential, const QUuid& accountID) {
    provider(credential.kind).storeCredential(credential, accountID);
    registerAccount(accountID, credential.kind);
}

void ProviderRouter::removeCredential(const QUuid& accountID, bool revoke) noexcept {
    StorageProvider* backEnd = nullptr;
    try {
        backEnd = &provider(accountID);
    } catch (const StorageError& error) {
        qCDebug(lcRouter) << "removeCredential of an unrouted account:" << error.caseName();
        return;
    }
    backEnd->removeCredential(accountID, revoke);
    std::lock_guard lock(mutex_);
    kinds_.remove(accountID);
}

StorageQuota ProviderRouter::quota(const QUuid& accountID) {
    return provider(accountID).quota(accountID);
}

Page ProviderRouter::listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                                const std::optional<QString>& pageToken) {
    return provider(accountID).listFolder(accountID, parentID, pageToken);
}

Page ProviderRouter::search(const QUuid& accountID, const QString& query,
                            const std::optional<QString>& pageToken) {
    return provider(accountID).search(accountID, query, pageToken);
}

Page ProviderRouter::listCategory(const QUuid& accountID, FileCategory category,
                                  const std::optional<QString>& pageToken) {
    return provider(accountID).listCategory(accountID, category, pageToken);
}

FileItem ProviderRouter::createFolder(const QUuid& accountID, const QString& name,
                                      const std::optional<QString>& parentID) {
    return provider(accountID).createFolder(accountID, name, parentID);
}

FileItem ProviderRouter::rename(const FileRef& ref, const QString& newName) {
    return provider(ref.accountID).rename(ref, newName);
}

FileItem ProviderRouter::move(const FileRef& ref, const std::optional<QString>& from,
                              const QString& to) {
    return provider(ref.accountID).move(ref, from, to);
}

void ProviderRouter::trash(const FileRef& ref) {
    provider(ref.accountID).trash(ref);
}

FileItem ProviderRouter::upload(const QUuid& accountID, const LocalFile& file,
                                const std::optional<QString>& parentID,
                                const ProgressCallback& progress) {
    return provider(accountID).upload(accountID, file, parentID, progress);
}

void ProviderRouter::download(const FileRef& ref, const QUrl& destination,
                              const ProgressCallback& progress) {
    provider(ref.accountID).download(ref, destination, progress);
}

QByteArray ProviderRouter::read(const FileRef& ref, ByteRange range) {
    return provider(ref.accountID).read(ref, range);
}

void ProviderRouter::exportFile(const FileRef& ref, const QString& mimeType,
                                const QUrl& destination) {
    provider(ref.accountID).exportFile(ref, mimeType, destination);
}

std::optional<QByteArray> ProviderRouter::thumbnail(const FileItem& item, int maxPixelSize) {
    return provider(item.ref.accountID).thumbnail(item, maxPixelSize);
}

} // namespace tw
