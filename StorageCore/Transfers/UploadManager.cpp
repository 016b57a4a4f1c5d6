#include "StorageCore/Transfers/UploadManager.h"

#include <QPointer>

#include <algorithm>
#include <atomic>

namespace tw {

namespace {

/// Progress of one attempt as reported from worker threads: the largest count so far and
/// whether a hand-over to the main thread is already pending, so that a burst of reports
/// costs one main-thread step.
struct ProgressMailbox {
    std::atomic<qint64> latest{-1};
    std::atomic<bool> pending{false};
};

} // namespace

UploadManager::UploadManager(std::shared_ptr<StorageProvider> provider, qint64 maxConcurrentUploads,
                             Clock now, QObject* parent)
    : QObject(parent), provider_(std::move(provider)), now_(std::move(now)),
      maxConcurrentUploads_(std::max<qint64>(maxConcurrentUploads, 1)) {}

qsizetype UploadManager::indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < jobs_.size(); ++i)
        if (jobs_[i].id == id)
            return i;
    return -1;
}

void UploadManager::setMaxConcurrentUploads(qint64 limit) {
    if (maxConcurrentUploads_ != limit) {
        maxConcurrentUploads_ = limit;
        Q_EMIT maxConcurrentUploadsChanged();
    }
    pump();
}

QList<QUuid> UploadManager::enqueue(const QList<LocalFile>& files, const QUuid& accountID,
                                    const std::optional<QString>& parentID,
                                    const QString& destinationName) {
    return enqueue(files, UploadTarget{accountID, parentID, {}}, destinationName);
}

QList<QUuid> UploadManager::enqueue(const QList<LocalFile>& files, const UploadTarget& target,
                                    const QString& destinationName) {
    QList<QUuid> ids;
    for (const LocalFile& file : files) {
        UploadJob job;
        job.id = QUuid::createUuid();
        job.file = file;
        job.accountID = target.accountID;
        job.parentID = target.folderID;
        job.destinationName = destinationName;
        job.folderPath = target.folderPath;
        job.createdAt = now_();
        ids.append(job.id);
        jobs_.append(std::move(job));
    }
    if (!ids.isEmpty())
        Q_EMIT jobsChanged();
    pump();
    return ids;
}

void UploadManager::pump() {
    QList<QUuid> queued;
    for (const UploadJob& job : std::as_const(jobs_))
        if (job.state.kind == UploadJob::State::Kind::queued)
            queued.append(job.id);
    for (const QUuid& id : std::as_const(queued)) {
        // Counted afresh for every start: a slot of jobsChanged, run by an earlier start,
        // may have started, cancelled or enqueued jobs meanwhile.
        if (runningTransfers() >= maxConcurrentUploads_)
            break;
        const qsizetype index = indexOf(id);
        if (index < 0 || jobs_[index].state.kind != UploadJob::State::Kind::queued)
            continue;
        start(id);
    }
}

void UploadManager::start(const QUuid& id) {
    const qsizetype index = indexOf(id);
    UploadJob& entry = jobs_[index];
    entry.state = UploadJob::State::uploading();
    entry.bytesSent = 0;
    const UploadJob job = entry;

    const QUuid attempt = QUuid::createUuid();
    auto mailbox = std::make_shared<ProgressMailbox>();
    QPointer<UploadManager> self(this);
    ProgressCallback progress = [mailbox, self, id, attempt](qint64 bytes) {
        qint64 seen = mailbox->latest.load();
        while (bytes > seen && !mailbox->latest.compare_exchange_weak(seen, bytes)) {
        }
        if (mailbox->pending.exchange(true))
            return; // a hand-over is on its way and will carry the newest count
        detail::postToMainThread([mailbox, self, id, attempt] {
            mailbox->pending.store(false);
            const qint64 latest = mailbox->latest.load();
            if (self)
                self->reportProgress(id, attempt, latest);
        });
    };

    TaskHandle task = runTask(
        this,
        [provider = provider_, job, progress = std::move(progress)] {
            return provider->upload(job.accountID, job.file, job.parentID, progress);
        },
        [this, id, attempt](TaskResult<FileItem> outcome) {
            finish(id, attempt, std::move(outcome));
        },
        TaskPool::transfers);
    runs_.insert(id, Run{attempt, task});
    // Observers hear of the start only once the transfer holds its slot, so that one that
    // pumps or cancels at once counts it and can stop it.
    Q_EMIT jobsChanged();
}

void UploadManager::reportProgress(const QUuid& id, const QUuid& attempt, qint64 bytes) {
    const auto run = runs_.constFind(id);
    if (run == runs_.cend() || run->attempt != attempt)
        return; // a report of an attempt that was cancelled or retried since
    const qsizetype index = indexOf(id);
    if (index < 0 || !jobs_[index].isUploading())
        return;
    UploadJob& job = jobs_[index];
    if (job.bytesSent >= bytes)
        return;
    const qint64 clamped = std::min(bytes, job.file.sizeBytes);
    if (clamped == job.bytesSent)
        return;
    job.bytesSent = clamped;
    Q_EMIT jobsChanged();
}

void UploadManager::finish(const QUuid& id, const QUuid& attempt, TaskResult<FileItem> outcome) {
    if (stopping_.remove(attempt)) {
        pump(); // a cancelled transfer has really stopped: its slot is free now
        return;
    }
    const auto run = runs_.constFind(id);
    if (run == runs_.cend() || run->attempt != attempt)
        return;
    runs_.erase(run);

    const qsizetype index = indexOf(id);
    if (index < 0 || !jobs_[index].isUploading()) {
        pump();
        return;
    }
    if (outcome.ok()) {
        UploadJob& job = jobs_[index];
        job.state = UploadJob::State::completed();
        job.bytesSent = job.file.sizeBytes;
        job.result = outcome.value();
        const UploadJob done = job;
        Q_EMIT jobsChanged();
        if (onCompleted_)
            onCompleted_(done, outcome.value());
    } else if (outcome.error().isCancelled()) {
        jobs_[index].state = UploadJob::State::cancelled();
        Q_EMIT jobsChanged();
    } else {
        jobs_[index].state = UploadJob::State::failed(outcome.error());
        const UploadJob failed = jobs_[index];
        Q_EMIT jobsChanged();
        if (onFailed_)
            onFailed_(failed, outcome.error());
    }
    pump();
}

void UploadManager::cancel(const QUuid& id) {
    const qsizetype index = indexOf(id);
    if (index < 0 || !jobs_[index].isActive())
        return;
    jobs_[index].state = UploadJob::State::cancelled();
    Q_EMIT jobsChanged();
    const auto run = runs_.constFind(id);
    if (run != runs_.cend()) {
        run->task.cancel();
        stopping_.insert(run->attempt);
        runs_.erase(run);
    }
    pump();
}

void UploadManager::cancelAll() {
    const QList<UploadJob> snapshot = jobs_;
    for (const UploadJob& job : snapshot)
        if (job.isActive())
            cancel(job.id);
}

void UploadManager::cancelAll(const QUuid& accountID) {
    const QList<UploadJob> snapshot = jobs_;
    for (const UploadJob& job : snapshot)
        if (job.isActive() && job.accountID == accountID)
            cancel(job.id);
}

void UploadManager::retry(const QUuid& id) {
    const qsizetype index = indexOf(id);
    if (index < 0)
        return;
    UploadJob& job = jobs_[index];
    if (job.state.kind != UploadJob::State::Kind::failed &&
        job.state.kind != UploadJob::State::Kind::cancelled)
        return;
    job.state = UploadJob::State::queued();
    job.bytesSent = 0;
    job.retryCount += 1;
    Q_EMIT jobsChanged();
    pump();
}

void UploadManager::dismiss(const QUuid& id) {
    const qsizetype index = indexOf(id);
    if (index < 0 || !jobs_[index].isFinished())
        return;
    jobs_.removeIf([&](const UploadJob& job) { return job.id == id; });
    Q_EMIT jobsChanged();
}

void UploadManager::clearFinished() {
    if (jobs_.removeIf([](const UploadJob& job) { return job.isFinished(); }) > 0)
        Q_EMIT jobsChanged();
}

std::optional<UploadJob> UploadManager::job(const QUuid& id) const {
    const qsizetype index = indexOf(id);
    if (index < 0)
        return std::nullopt;
    return jobs_[index];
}

QList<UploadJob> UploadManager::activeJobs() const {
    QList<UploadJob> active;
    for (const UploadJob& job : jobs_)
        if (job.isActive())
            active.append(job);
    return active;
}

bool UploadManager::hasActiveUploads() const {
    return std::any_of(jobs_.cbegin(), jobs_.cend(),
                       [](const UploadJob& j) { return j.isActive(); });
}

double UploadManager::overallProgress() const {
    qint64 total = 0;
    qint64 done = 0;
    for (const UploadJob& job : jobs_) {
        const auto kind = job.state.kind;
        if (kind == UploadJob::State::Kind::failed || kind == UploadJob::State::Kind::cancelled)
            continue;
        const qint64 size = std::max<qint64>(job.file.sizeBytes, 1);
        total = saturatingAdd(total, size);
        done =
            saturatingAdd(done, kind == UploadJob::State::Kind::completed ? size : job.bytesSent);
    }
    if (total < 1)
        return 0.0;
    return double(done) / double(total);
}

} // namespace tw
