#pragma once

#include "App/DesignSystem/RowChanges.h"
#include "StorageCore/Transfers/UploadJob.h"

#include <QPointer>

namespace tw {

class UploadManager;

/// The upload queue's jobs as a list, newest first, optionally only the active (queued or
/// uploading) or only the finished ones. Rows follow the queue: jobs that come or go are
/// inserted or removed as ranges, and only the rows of jobs whose state or progress changed
/// are marked changed. For assistive technologies a row is named by its file and destination
/// and described by its status.
class UploadJobListModel : public RowChangingListModel {
    Q_OBJECT
public:
    enum class Filter { all, active, finished };
    enum Role { JobRole = Qt::UserRole + 1 };

    UploadJobListModel(UploadManager* manager, Filter filter, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    /// The job shown in row; the row must exist.
    const UploadJob& job(int row) const { return jobs_.at(row); }
    /// The row that shows the job with id, or -1.
    int rowOf(const QUuid& id) const;

private:
    void refresh();
    bool includes(const UploadJob& job) const;

    QPointer<UploadManager> manager_;
    Filter filter_;
    QList<UploadJob> jobs_; // newest first
};

} // namespace tw
