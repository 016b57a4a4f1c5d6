#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Transfers/UploadJob.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>

namespace tw {

/// The queue of uploads from the local disk: starts jobs in list order while fewer than
/// maxConcurrentUploads transfers run, reports progress as byte counts, and lets the user
/// cancel, retry and dismiss jobs. Never retries by itself. Main thread only; the uploads
/// run on the transfer pool.
///
/// A transfer occupies its slot until its task has really ended: a cancelled job shows as
/// cancelled at once, but the next job starts only when the cancelled transfer has stopped,
/// so no more than the limit ever run at the same moment.
class UploadManager : public QObject {
    Q_OBJECT

public:
    using CompletedHandler = std::function<void(const UploadJob&, const FileItem&)>;
    using FailedHandler = std::function<void(const UploadJob&, const StorageError&)>;

    /// A limit below 1 is stored as 1.
    UploadManager(std::shared_ptr<StorageProvider> provider, qint64 maxConcurrentUploads, Clock now,
                  QObject* parent = nullptr);

    /// Every job not dismissed, in the order enqueued.
    const QList<UploadJob>& jobs() const { return jobs_; }
    qint64 maxConcurrentUploads() const { return maxConcurrentUploads_; }
    /// Stored as given (0 stops further starts); then starts what the new limit allows.
    /// Lowering it stops nothing that runs.
    void setMaxConcurrentUploads(qint64 limit);

    /// Told of each completed upload (on the main thread, before the next jobs start).
    void setOnCompleted(CompletedHandler handler) { onCompleted_ = std::move(handler); }
    /// Told of each failed upload; never of a cancellation.
    void setOnFailed(FailedHandler handler) { onFailed_ = std::move(handler); }

    /// Appends one queued job per file and starts what the limit allows; returns the new
    /// jobs' ids in file order.
    QList<QUuid> enqueue(const QList<LocalFile>& files, const QUuid& accountID,
                         const std::optional<QString>& parentID, const QString& destinationName);
    /// As above, with the destination's folder path kept on the jobs (UploadJob::target()).
    QList<QUuid> enqueue(const QList<LocalFile>& files, const UploadTarget& target,
                         const QString& destinationName);

    /// A queued or uploading job becomes cancelled at once; its transfer is asked to stop.
    void cancel(const QUuid& id);
    void cancelAll();
    void cancelAll(const QUuid& accountID);
    /// A failed or cancelled job goes back into the queue, keeping its place.
    void retry(const QUuid& id);
    /// Removes a finished job.
    void dismiss(const QUuid& id);
    /// Removes every finished job.
    void clearFinished();

    std::optional<UploadJob> job(const QUuid& id) const;
    QList<UploadJob> activeJobs() const;
    bool hasActiveUploads() const;
    /// Bytes done over bytes to do, over queued, uploading and completed jobs (an empty file
    /// counts as 1 byte); 0 when there is none.
    double overallProgress() const;
    /// Transfers whose task is still running, cancelled ones that are still stopping included.
    int runningTransfers() const { return int(runs_.size() + stopping_.size()); }

Q_SIGNALS:
    void jobsChanged();
    void maxConcurrentUploadsChanged();

private:
    struct Run {
        QUuid attempt;
        TaskHandle task;
    };

    qsizetype indexOf(const QUuid& id) const;
    void pump();
    void start(const QUuid& id);
    void reportProgress(const QUuid& id, const QUuid& attempt, qint64 bytes);
    void finish(const QUuid& id, const QUuid& attempt, TaskResult<FileItem> outcome);

    const std::shared_ptr<StorageProvider> provider_;
    const Clock now_;
    QList<UploadJob> jobs_;
    qint64 maxConcurrentUploads_;
    CompletedHandler onCompleted_;
    FailedHandler onFailed_;
    QHash<QUuid, Run> runs_; // job id → its current attempt
    QSet<QUuid> stopping_;   // attempts cancelled whose task has not ended yet
};

} // namespace tw
