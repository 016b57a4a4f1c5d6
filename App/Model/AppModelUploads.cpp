// Uploads, the saved-files toast and the smart-upload batch.
#include "App/Model/AppModel.h"

#include "App/Model/Panels.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Transfers/LocalFileInspector.h"
#include "StorageCore/Transfers/SmartUploadStore.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "StorageCore/Transfers/UploadRule.h"

#include <QSet>

#include <algorithm>
#include <iterator>
#include <limits>

namespace tw {

namespace {

/// The name a refused item is shown by: its file name, also for a folder URL ending in "/"
/// (whose file name is empty), else its whole path.
QString refusedName(const QUrl& url) {
    QString name = url.fileName();
    if (name.isEmpty())
        name = url.adjusted(QUrl::StripTrailingSlash).fileName();
    if (name.isEmpty())
        name = url.isLocalFile() ? url.toLocalFile() : url.toDisplayString();
    return name;
}

QString quoted(const QString& name) {
    return QStringLiteral("\u201c") + name + QStringLiteral("\u201d");
}

} // namespace

void AppModel::refuse(const QList<std::pair<QUrl, StorageError>>& refused) {
    if (refused.isEmpty())
        return;
    const QString title =
        refused.size() == 1
            ? quoted(refusedName(refused.first().first)) + QStringLiteral(" can't be uploaded.")
            : QString::number(refused.size()) + QStringLiteral(" items can't be uploaded.");
    // Refused items grouped by reason, in the order the reasons first appear. One reason: its
    // explanation. Several: one line per reason naming its items, so no item's reason is lost.
    QList<ErrorPresentation> reasons;
    QList<QStringList> names;
    for (const auto& [url, error] : refused) {
        const ErrorPresentation reason = error.presentation();
        qsizetype at = reasons.indexOf(reason);
        if (at < 0) {
            reasons.append(reason);
            names.append(QStringList());
            at = reasons.size() - 1;
        }
        names[at].append(quoted(refusedName(url)));
    }
    QString message;
    if (reasons.size() == 1) {
        message = reasons.first().message;
    } else {
        QStringList lines;
        for (qsizetype i = 0; i < reasons.size(); ++i)
            lines.append(names.at(i).join(QStringLiteral(", ")) + QStringLiteral(": ") +
                         reasons.at(i).title);
        message = lines.join(QLatin1Char('\n'));
    }
    setNotice(Notice::make(title, message));
}

void AppModel::upload(const QList<QUrl>& urls, const UploadDestination& destination) {
    LocalFileInspector::Inspection inspection = LocalFileInspector::inspectAll(urls);
    QList<LocalFile> files;
    const std::optional<StorageAccount> target = account(destination.accountID);
    // The largest file the destination's service takes (none: any size).
    qint64 limit = std::numeric_limits<qint64>::max();
    if (target)
        limit = ProviderKinds::capabilities(target->provider).maxFileSize.value_or(limit);
    for (const LocalFile& file : inspection.files) {
        if (file.sizeBytes > limit)
            inspection.rejected.append({file.url, StorageError::fileTooLarge(limit)});
        else
            files.append(file);
    }
    if (!files.isEmpty()) {
        // The folder names below the root, as data, for the upload history: the crumbs down
        // to the destination folder when it lies on the shown path.
        QStringList folderPath;
        if (destination.folderID) {
            const QList<FolderCrumb> path = paths_.value(destination.accountID);
            const auto onPath =
                std::find_if(path.begin(), path.end(), [&](const FolderCrumb& crumb) {
                    return crumb.id == *destination.folderID;
                });
            if (onPath != path.end()) {
                for (auto crumb = path.begin(); crumb != std::next(onPath); ++crumb)
                    folderPath.append(crumb->name);
            } else if (const FolderListing* shown =
                           cachedListing(destination.accountID,
                                         path.isEmpty() ? std::nullopt
                                                        : std::optional<QString>(path.last().id))) {
                // A folder row of the shown folder (a drop onto it): the shown path as the
                // listing knows it, then the folder itself.
                for (const FileItem& item : shown->items()) {
                    if (item.isFolder() && item.ref.providerID == *destination.folderID) {
                        for (const FolderCrumb& crumb : path)
                            folderPath.append(crumb.name);
                        folderPath.append(item.name);
                        break;
                    }
                }
            }
        }
        uploads_->enqueue(files, UploadTarget{destination.accountID, destination.folderID, folderPath},
                          destination.displayName);
    }
    refuse(inspection.rejected);
}

void AppModel::chooseFilesToUpload(const UploadDestination& destination) {
    if (!panels_)
        return;
    QPointer<AppModel> self(this);
    panels_->chooseFiles(QStringLiteral("Upload"), QStringLiteral("Upload to ") + destination.displayName,
                         [self, destination](const QList<QUrl>& urls) {
                             if (self && !urls.isEmpty())
                                 self->upload(urls, destination);
                         });
}

void AppModel::uploadCompleted(const UploadJob& job, const FileItem& item) {
    if (FolderListing* cached = cachedListing(job.accountID, job.parentID))
        cached->insert(item);
    // The destination is recorded as data: the job keeps its folder path.
    smartUpload_->recordUpload(job.file, job.target());
    activity_->record(ActivityEvent::Kind::uploaded, account(job.accountID), item.name);
    accounts_->refreshQuota(job.accountID);
    showSavedToast(job);
}

void AppModel::showSavedToast(const UploadJob& job) {
    UploadToast toast{1, job.destinationName};
    if (uploadToast_ && uploadToast_->destination == job.destinationName)
        toast.count = uploadToast_->count + 1;
    uploadToast_ = toast;
    Q_EMIT uploadToastChanged();
    // The toast view announces its new text to assistive technologies when it shows it.
    if (cancelToastDismissal_)
        cancelToastDismissal_();
    QPointer<AppModel> self(this);
    cancelToastDismissal_ = scheduler_(toastDuration, [self] {
        if (!self)
            return;
        self->cancelToastDismissal_ = {};
        if (self->uploadToast_) {
            self->uploadToast_.reset();
            Q_EMIT self->uploadToastChanged();
        }
    });
}

QList<UploadCandidate> AppModel::uploadCandidates() const {
    QList<UploadCandidate> candidates;
    for (const StorageAccount& account : accounts_->accounts())
        candidates.append(UploadCandidate::fromAccount(account));
    return candidates;
}

QString AppModel::displayName(const UploadTarget& target) const {
    const std::optional<StorageAccount> known = account(target.accountID);
    QStringList parts{known ? known->alias : QStringLiteral("Storage")};
    parts.append(target.folderPath);
    return parts.join(QStringLiteral(" \u203a "));
}

SmartUploadItem AppModel::suggested(const LocalFile& file) const {
    const UploadSuggestion suggestion = smartUpload_->suggest(file, uploadCandidates());
    return SmartUploadItem{QUuid::createUuid(), file, suggestion.target, suggestion.reason, false};
}

void AppModel::addToSmartUpload(const QList<QUrl>& urls) {
    const LocalFileInspector::Inspection inspection = LocalFileInspector::inspectAll(urls);
    QSet<QUrl> present;
    for (const SmartUploadItem& item : smartBatch_)
        present.insert(item.file.url);
    QList<SmartUploadItem> batch = smartBatch_;
    bool added = false;
    for (const LocalFile& file : inspection.files) {
        if (present.contains(file.url))
            continue;
        present.insert(file.url);
        batch.append(suggested(file));
        added = true;
    }
    if (added)
        setSmartBatch(batch);
    refuse(inspection.rejected);
}

void AppModel::chooseFilesForSmartUpload() {
    if (!panels_)
        return;
    QPointer<AppModel> self(this);
    panels_->chooseFiles(QStringLiteral("Add"),
                         QStringLiteral("Choose files. Kelvanor will suggest where each one goes."),
                         [self](const QList<QUrl>& urls) {
                             if (self && !urls.isEmpty())
                                 self->addToSmartUpload(urls);
                         });
}

void AppModel::setTarget(const UploadTarget& target, const QUuid& itemID) {
    QList<SmartUploadItem> batch = smartBatch_;
    for (SmartUploadItem& item : batch) {
        if (item.id == itemID) {
            item.target = target;
            item.isManual = true;
            setSmartBatch(batch);
            return;
        }
    }
}

void AppModel::setTargetForAll(const UploadTarget& target) {
    const QList<UploadCandidate> candidates = uploadCandidates();
    const auto candidate = std::find_if(candidates.begin(), candidates.end(),
                                        [&](const UploadCandidate& c) { return c.accountID == target.accountID; });
    if (candidate == candidates.end())
        return;
    QList<SmartUploadItem> batch = smartBatch_;
    for (SmartUploadItem& item : batch) {
        if (candidate->fits(item.file)) {
            item.target = target;
            item.isManual = true;
        }
    }
    setSmartBatch(batch);
}

void AppModel::makeRule(const SmartUploadItem& item) {
    if (!item.target)
        return;
    const QString extension = UploadRule::Match::normalized(FileKinds::pathExtension(item.file.name));
    const UploadRule::Match match =
        !extension.isEmpty()
            ? UploadRule::Match::fileExtension(extension)
            : UploadRule::Match::category(LocalFiles::category(item.file).value_or(FileCategory::documents));
    smartUpload_->addRule(match, *item.target);
    QList<SmartUploadItem> batch = smartBatch_;
    for (SmartUploadItem& entry : batch) {
        if (!entry.isManual)
            entry = suggested(entry.file);
    }
    setSmartBatch(batch);
}

void AppModel::removeFromSmartUpload(const QUuid& itemID) {
    QList<SmartUploadItem> batch = smartBatch_;
    if (batch.removeIf([&](const SmartUploadItem& item) { return item.id == itemID; }) > 0)
        setSmartBatch(batch);
}

void AppModel::startSmartUpload() {
    QList<UploadTarget> order;
    QHash<UploadTarget, QList<LocalFile>> groups;
    QList<SmartUploadItem> remaining;
    for (const SmartUploadItem& item : smartBatch_) {
        if (!item.target) {
            remaining.append(item);
            continue;
        }
        if (!groups.contains(*item.target))
            order.append(*item.target);
        groups[*item.target].append(item.file);
    }
    if (order.isEmpty())
        return;
    for (const UploadTarget& target : order)
        uploads_->enqueue(groups.value(target), target, displayName(target));
    setSmartBatch(remaining);
}

} // namespace tw
