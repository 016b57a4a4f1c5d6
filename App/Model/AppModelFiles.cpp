// Navigation, folder listings, file operations, preview loaders, copies and other
// applications.
#include "App/Model/AppModel.h"

#include "App/Model/ApplicationLauncher.h"
#include "App/Model/Panels.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Files/FileSearch.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Files/LocalFileName.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tw {

namespace {

/// Copies source over destination through a temporary file beside it: the destination is
/// replaced only by a complete copy, and a failure leaves an existing file untouched.
void copyReplacing(const QString& source, const QString& destination) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw StorageError(StorageError::Code::localFileUnreadable);
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        throw StorageError(StorageError::Code::localWriteFailed);
    QByteArray buffer;
    while (!in.atEnd()) {
        Cancellation::checkpoint();
        buffer = in.read(1 << 20);
        if (buffer.isEmpty() && in.error() != QFile::NoError)
            throw StorageError(StorageError::Code::localFileUnreadable);
        if (out.write(buffer) != buffer.size())
            throw StorageError(StorageError::Code::localWriteFailed);
    }
    if (!out.commit())
        throw StorageError(StorageError::Code::localWriteFailed);
}

} // namespace

// ---- navigation ----------------------------------------------------------------------------

void AppModel::open(const FileItem& folder) {
    QList<FolderCrumb> path = paths_.value(folder.ref.accountID);
    path.append(FolderCrumb{folder.ref.providerID, folder.name});
    setPath(folder.ref.accountID, path);
}

void AppModel::goUp(const QUuid& accountID) {
    QList<FolderCrumb> path = paths_.value(accountID);
    if (path.isEmpty())
        return;
    path.removeLast();
    setPath(accountID, path);
}

void AppModel::navigate(const QUuid& accountID, int depth) {
    QList<FolderCrumb> path = paths_.value(accountID);
    path = path.mid(0, std::clamp<qsizetype>(depth, 0, path.size()));
    setPath(accountID, path);
}

QString AppModel::listingKey(const QUuid& accountID, const std::optional<QString>& folderID) {
    return json::encodeUuid(accountID) + QLatin1Char('/') + folderID.value_or(QStringLiteral("root"));
}

FolderListing* AppModel::cachedListing(const QUuid& accountID,
                                       const std::optional<QString>& folderID) const {
    return listings_.value(listingKey(accountID, folderID));
}

FolderListing* AppModel::listing(const QUuid& accountID, const std::optional<QString>& folderID) {
    const QString key = listingKey(accountID, folderID);
    if (FolderListing* cached = listings_.value(key))
        return cached;
    QPointer<AppModel> self(this);
    auto* created = new FolderListing(
        accountID, folderID, provider_,
        [self, accountID](const StorageError& error) {
            if (self && error.code() == StorageError::Code::reauthRequired)
                self->accounts_->markReauthRequired(accountID);
        },
        this);
    listings_.insert(key, created);
    // Whoever is handed a listing finds it loading: a window showing a file of a folder whose
    // listing a reconnect replaced must see the file again, and windows start no loads.
    if (account(accountID))
        created->load();
    return created;
}

void AppModel::invalidateListings(const QUuid& accountID) {
    const QString prefix = json::encodeUuid(accountID) + QLatin1Char('/');
    for (auto it = listings_.begin(); it != listings_.end();) {
        if (it.key().startsWith(prefix)) {
            // Views may still hold it: it goes when they are done with it.
            it.value()->cancel();
            it.value()->deleteLater();
            it = listings_.erase(it);
        } else {
            ++it;
        }
    }
}

UploadDestination AppModel::destination(const QUuid& accountID,
                                        const std::optional<QString>& folderID) const {
    const std::optional<StorageAccount> known = account(accountID);
    QStringList parts{known ? known->alias : QStringLiteral("Storage")};
    if (folderID) {
        const QList<FolderCrumb> path = paths_.value(accountID);
        const auto end = std::find_if(path.begin(), path.end(),
                                      [&](const FolderCrumb& crumb) { return crumb.id == *folderID; });
        if (end != path.end()) {
            for (auto it = path.begin(); it != end + 1; ++it)
                parts.append(it->name);
        }
    }
    return UploadDestination{accountID, folderID, parts.join(QStringLiteral(" \u203a "))};
}

// ---- file operations -----------------------------------------------------------------------

void AppModel::createFolder(const QString& name, const UploadDestination& destination) {
    std::shared_ptr<ProviderRouter> router = provider_;
    QPointer<AppModel> self(this);
    runTask(
        this,
        [router, name, destination] {
            return router->createFolder(destination.accountID, name, destination.folderID);
        },
        [self, destination](TaskResult<FileItem> result) {
            if (!result.ok()) {
                self->report(result.error(), destination.accountID);
                return;
            }
            if (FolderListing* cached = self->cachedListing(destination.accountID, destination.folderID))
                cached->insert(result.value());
            self->activity_->record(ActivityEvent::Kind::createdFolder,
                                    self->account(destination.accountID), result.value().name);
        });
}

void AppModel::rename(const FileItem& item, const QString& name, const std::optional<QString>& folderID) {
    if (name == item.name)
        return;
    std::shared_ptr<ProviderRouter> router = provider_;
    const FileRef ref = item.ref;
    QPointer<AppModel> self(this);
    runTask(
        this, [router, ref, name] { return router->rename(ref, name); },
        [self, ref, folderID](TaskResult<FileItem> result) {
            if (!result.ok()) {
                self->report(result.error(), ref.accountID);
                return;
            }
            if (FolderListing* cached = self->cachedListing(ref.accountID, folderID))
                cached->replace(result.value());
            self->activity_->record(ActivityEvent::Kind::renamed, self->account(ref.accountID),
                                    result.value().name);
        });
}

void AppModel::trash(const FileItem& item, const std::optional<QString>& folderID) {
    std::shared_ptr<ProviderRouter> router = provider_;
    const FileRef ref = item.ref;
    const QString name = item.name;
    QPointer<AppModel> self(this);
    runTask(
        this, [router, ref] { router->trash(ref); },
        [self, ref, name, folderID](TaskResult<std::monostate> result) {
            if (!result.ok()) {
                self->report(result.error(), ref.accountID);
                return;
            }
            if (FolderListing* cached = self->cachedListing(ref.accountID, folderID))
                cached->remove(ref);
            self->search_->remove(ref);
            self->activity_->record(ActivityEvent::Kind::trashed, self->account(ref.accountID), name);
            self->accounts_->refreshQuota(ref.accountID);
        });
}

// ---- previews, copies, other applications --------------------------------------------------

std::shared_ptr<PreviewLoader> AppModel::previewLoader(const FileItem& item) {
    if (const std::shared_ptr<PreviewLoader>& cached = previewLoaders_.value(item.ref);
        cached && cached->item().modifiedAt == item.modifiedAt)
        return cached;
    QPointer<AppModel> self(this);
    const QUuid accountID = item.ref.accountID;
    // No parent: the last holder deletes it (views, the model's list, a copy running).
    auto loader = std::make_shared<PreviewLoader>(
        item, provider_, previewCache_, [self, accountID](const StorageError& error) {
            if (self && error.code() == StorageError::Code::reauthRequired)
                self->accounts_->markReauthRequired(accountID);
        });
    previewLoaders_.insert(item.ref, loader);
    previewLoaderOrder_.removeAll(item.ref);
    previewLoaderOrder_.append(item.ref);
    if (previewLoaderOrder_.size() > previewLoaderLimit) {
        // Views that still hold it keep using it; the model only stops handing it out.
        previewLoaders_.remove(previewLoaderOrder_.takeFirst());
    }
    return loader;
}

void AppModel::saveCopy(const FileItem& item) {
    if (!panels_)
        return;
    // A remote name is never a path here: only its last component, made safe, is proposed.
    const QString proposed = item.isProviderNativeDocument()
                                 ? LocalFileName::safe(item.name, QStringLiteral(".pdf"))
                                 : LocalFileName::safe(item.name);
    QPointer<AppModel> self(this);
    panels_->chooseSaveLocation(proposed, [self, item](const QUrl& destination) {
        if (self)
            self->saveCopy(item, destination);
    });
}

std::optional<QString> AppModel::checkedSaveTarget(const QUrl& answer) {
    if (std::optional<QString> path = LocalFileName::saveTarget(answer))
        return path;
    const QString shown = answer.isLocalFile() ? answer.toLocalFile() : answer.toDisplayString();
    setNotice(Notice::make(QStringLiteral("The file can't be saved there."),
                           QStringLiteral("\u201c") + shown +
                               QStringLiteral("\u201d isn't a file name in a folder on this "
                                              "computer. Choose a folder and a file name.")));
    return std::nullopt;
}

void AppModel::saveCopy(const FileItem& item, const QUrl& destination, std::function<void()> onDone) {
    const std::optional<QString> checked = checkedSaveTarget(destination);
    if (!checked) {
        if (onDone)
            onDone();
        return;
    }
    // The preview's copy when it is ready, kept (with the cache's hold) until copied.
    std::optional<PreviewContent> ready;
    if (const std::shared_ptr<PreviewLoader>& loader = previewLoaders_.value(item.ref)) {
        const PreviewLoader::Phase& phase = loader->phase();
        if (phase.isReady() && phase.content() && phase.content()->isLocalFile() &&
            QFileInfo::exists(phase.content()->localFileURL().toLocalFile()))
            ready = phase.content();
    }
    std::shared_ptr<ProviderRouter> router = provider_;
    const QString target = *checked;
    QPointer<AppModel> self(this);
    runTask(
        this,
        [router, item, ready, target] {
            if (ready) {
                copyReplacing(ready->localFileURL().toLocalFile(), target);
            } else if (item.isProviderNativeDocument()) {
                router->exportFile(item.ref, QStringLiteral("application/pdf"), QUrl::fromLocalFile(target));
            } else {
                router->download(item.ref, QUrl::fromLocalFile(target), [](qint64) {});
            }
        },
        [self, item, onDone](TaskResult<std::monostate> result) {
            if (result.ok())
                self->activity_->record(ActivityEvent::Kind::downloaded, self->account(item.ref.accountID),
                                        item.name);
            else
                self->report(result.error(), item.ref.accountID);
            if (onDone)
                onDone();
        },
        TaskPool::transfers);
}

void AppModel::openWith(const FileItem& item) {
    if (!panels_)
        return;
    QPointer<AppModel> self(this);
    panels_->chooseApplication(
        item, QStringLiteral("Choose an app to open \u201c") + item.name + QStringLiteral("\u201d."),
        [self, item](const QString& applicationID) {
            if (self && !applicationID.isEmpty())
                self->openWith(item, applicationID);
        });
}

void AppModel::openWith(const FileItem& item, const QString& applicationID) {
    const std::shared_ptr<PreviewLoader> loader = previewLoader(item);
    QPointer<AppModel> self(this);
    // The answer comes to the model, not the loader: the loader may leave the model's list
    // (a clear, a disconnect, thirty other previews) before the copy is ready.
    loader->localCopy(
        [self, item, applicationID](TaskResult<QUrl> result) {
            if (!self)
                return;
            if (!result.ok()) {
                self->report(result.error(), item.ref.accountID);
                return;
            }
            if (!self->launcher_)
                return;
            try {
                self->launcher_->launch(applicationID, result.value());
            } catch (const LaunchError& error) {
                self->setNotice(
                    Notice::make(QStringLiteral("The application couldn't open \u201c") +
                                     item.name + QStringLiteral("\u201d."),
                                 QString::fromStdString(error.what())));
            }
        },
        this);
}

void AppModel::clearPreviewCache(std::function<void()> onDone) {
    // Open previews keep their loaders and the cache keeps the files they hold.
    previewLoaders_.clear();
    previewLoaderOrder_.clear();
    if (!previewCache_) {
        if (onDone)
            onDone();
        return;
    }
    std::shared_ptr<PreviewCache> cache = previewCache_;
    runTask(
        this, [cache] { cache->clear(); },
        [onDone](TaskResult<std::monostate>) {
            if (onDone)
                onDone();
        });
}

} // namespace tw
