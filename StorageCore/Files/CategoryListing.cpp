#include "StorageCore/Files/CategoryListing.h"

#include <QSet>

namespace tw {

struct CategoryListing::Batch {
    int pending = 0;
    Kept kept; // in arrival order
    QList<TaskHandle> tasks;
    std::function<void(Kept)> done;
};

CategoryListing::CategoryListing(FileCategory category, std::shared_ptr<StorageProvider> provider,
                                 ErrorHandler onError, QObject* parent)
    : QObject(parent), category_(category), provider_(std::move(provider)),
      onError_(std::move(onError)) {}

CategoryListing::~CategoryListing() {
    cancelBatch(firstBatch_);
    cancelBatch(nextBatch_);
}

// ---- page batches ---------------------------------------------------------------------------

void CategoryListing::cancelBatch(const std::shared_ptr<Batch>& batch) {
    if (batch)
        for (const TaskHandle& task : std::as_const(batch->tasks))
            task.cancel();
}

std::shared_ptr<CategoryListing::Batch>
CategoryListing::startBatch(const QList<QPair<QUuid, std::optional<QString>>>& pairs,
                            std::function<void(Kept)> done) {
    auto batch = std::make_shared<Batch>();
    batch->pending = int(pairs.size());
    batch->done = std::move(done);
    for (const auto& [account, token] : pairs) {
        batch->tasks.append(runTask(
            this,
            [provider = provider_, account, category = category_, token] {
                return provider->listCategory(account, category, token);
            },
            [this, batch, account](TaskResult<Page> result) {
                answerArrived(batch, account, std::move(result));
            }));
    }
    return batch;
}

void CategoryListing::answerArrived(const std::shared_ptr<Batch>& batch, const QUuid& account,
                                    TaskResult<Page> result) {
    if (batch != firstBatch_ && batch != nextBatch_)
        return; // an older generation's batch, or abandoned
    if (result.ok()) {
        errors_.remove(account);
        Q_EMIT errorsChanged(); // an entry change notifies on every call
        if (result.value().nextPageToken)
            tokens_.insert(account, *result.value().nextPageToken);
        else
            tokens_.remove(account);
        Q_EMIT tokensChanged();
        batch->kept.append({account, std::move(result.value().items)});
    } else {
        tokens_.remove(account);
        Q_EMIT tokensChanged();
        const StorageError& error = result.error();
        if (!error.isCancelled()) {
            errors_.insert(account, error);
            Q_EMIT errorsChanged();
            if (onError_)
                onError_(error, account);
        }
    }
    if (--batch->pending == 0 && (batch == firstBatch_ || batch == nextBatch_))
        batch->done(std::move(batch->kept));
}

// ---- loading --------------------------------------------------------------------------------

void CategoryListing::load(const QList<QUuid>& accounts) {
    ++generation_;
    Q_EMIT generationChanged();

    // Answers of the previous generation are dropped; a batch of it no longer counts as
    // running, so this generation can page.
    cancelBatch(firstBatch_);
    cancelBatch(nextBatch_);
    firstBatch_.reset();
    nextBatch_.reset();
    setLoadingMore(false);
    filling_ = false;
    fillCalls_ = 0;
    loadRunning_ = true;

    if (accountIDs_ != accounts) {
        accountIDs_ = accounts;
        Q_EMIT accountIDsChanged();
    }
    if (phase_ != Phase::loading)
        settledPhase_ = phase_;
    setPhase(Phase::loading);
    if (!errors_.isEmpty()) {
        errors_.clear();
        Q_EMIT errorsChanged();
    }
    if (!tokens_.isEmpty()) {
        tokens_.clear();
        Q_EMIT tokensChanged();
    }

    QList<QPair<QUuid, std::optional<QString>>> pairs;
    for (const QUuid& account : accounts)
        pairs.append({account, std::nullopt});
    firstBatch_ = startBatch(pairs, [this](Kept kept) { firstPagesDone(std::move(kept)); });
    if (pairs.isEmpty())
        firstPagesDone({});
}

void CategoryListing::firstPagesDone(Kept kept) {
    firstBatch_.reset();
    QList<FileItem> all;
    for (auto& [account, items] : kept)
        all.append(std::move(items));
    setItemsSorted(std::move(all));
    setPhase(Phase::loaded);
    settledPhase_ = Phase::loaded;
    filling_ = true;
    continueFilling();
}

bool CategoryListing::loadMore() {
    if (phase_ != Phase::loaded || isLoadingMore_ || tokens_.isEmpty())
        return false;
    setLoadingMore(true);
    QList<QPair<QUuid, std::optional<QString>>> pairs;
    for (auto it = tokens_.cbegin(); it != tokens_.cend(); ++it)
        pairs.append({it.key(), it.value()});
    nextBatch_ = startBatch(pairs, [this](Kept kept) { nextPagesDone(std::move(kept)); });
    return true;
}

void CategoryListing::nextPagesDone(Kept kept) {
    nextBatch_.reset();
    QSet<FileRef> listed;
    listed.reserve(items_.size());
    for (const FileItem& item : std::as_const(items_))
        listed.insert(item.ref);
    QList<FileItem> merged = items_;
    const qsizetype before = merged.size();
    for (auto& [account, items] : kept)
        for (FileItem& item : items)
            if (!listed.contains(item.ref))
                merged.append(std::move(item));
    if (merged.size() != before)
        setItemsSorted(std::move(merged));
    setLoadingMore(false);
    continueFilling();
}

void CategoryListing::continueFilling() {
    if (!filling_)
        return;
    if (items_.size() < fillTarget && hasMore() && fillCalls_ < maxFillCalls && loadMore()) {
        ++fillCalls_;
        return;
    }
    // Enough items, no further page, the calls used up, or a call that could not start:
    // filling on would only spin.
    filling_ = false;
    finishLoad();
}

void CategoryListing::finishLoad() {
    if (!loadRunning_)
        return;
    if (firstBatch_)
        return;
    loadRunning_ = false;
    Q_EMIT loadFinished();
}

void CategoryListing::cancel() {
    if (firstBatch_) {
        cancelBatch(firstBatch_);
        firstBatch_.reset();
        setPhase(settledPhase_);
    }
    if (nextBatch_) {
        cancelBatch(nextBatch_);
        nextBatch_.reset();
        setLoadingMore(false);
    }
    filling_ = false;
    finishLoad();
}

void CategoryListing::remove(const FileRef& ref) {
    items_.removeIf([&](const FileItem& item) { return item.ref == ref; });
    Q_EMIT itemsChanged();
}

// ---- observable fields ----------------------------------------------------------------------

void CategoryListing::setItemsSorted(QList<FileItem> items) {
    sortNewestFirst(items, order_);
    if (items_ == items)
        return;
    items_ = std::move(items);
    Q_EMIT itemsChanged();
}

void CategoryListing::setPhase(Phase phase) {
    if (phase_ == phase)
        return;
    phase_ = phase;
    Q_EMIT phaseChanged();
}

void CategoryListing::setLoadingMore(bool loading) {
    if (isLoadingMore_ == loading)
        return;
    isLoadingMore_ = loading;
    Q_EMIT isLoadingMoreChanged();
}

} // namespace tw
