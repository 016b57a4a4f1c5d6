#include "App/Uploads/UploadJobListModel.h"

#include "App/Uploads/UploadRowDelegate.h"
#include "StorageCore/Transfers/UploadManager.h"

namespace tw {

UploadJobListModel::UploadJobListModel(UploadManager* manager, Filter filter, QObject* parent)
    : RowChangingListModel(parent), manager_(manager), filter_(filter) {
    connect(manager, &UploadManager::jobsChanged, this, &UploadJobListModel::refresh);
    refresh();
}

bool UploadJobListModel::includes(const UploadJob& job) const {
    switch (filter_) {
    case Filter::all:
        return true;
    case Filter::active:
        return job.isActive();
    case Filter::finished:
        return job.isFinished();
    }
    return true;
}

void UploadJobListModel::refresh() {
    QList<UploadJob> next;
    if (manager_) {
        const auto& jobs = manager_->jobs();
        for (auto it = jobs.crbegin(); it != jobs.crend(); ++it) {
            if (includes(*it))
                next.append(*it);
        }
    }
    applyRows(jobs_, std::move(next), [](const UploadJob& job) { return job.id; });
}

int UploadJobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(jobs_.size());
}

QVariant UploadJobListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= jobs_.size())
        return {};
    const UploadJob& job = jobs_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return job.file.name;
    case Qt::AccessibleTextRole:
        return job.file.name + QStringLiteral(", to ") + job.destinationName;
    case Qt::AccessibleDescriptionRole:
        return UploadRowDelegate::statusText(job);
    default:
        return {};
    }
}

int UploadJobListModel::rowOf(const QUuid& id) const {
    for (qsizetype i = 0; i < jobs_.size(); ++i) {
        if (jobs_[i].id == id)
            return int(i);
    }
    return -1;
}

} // namespace tw
