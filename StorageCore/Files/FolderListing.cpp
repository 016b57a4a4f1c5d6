#include "StorageCore/Files/FolderListing.h"

#include <QSet>

#include <algorithm>

namespace tw {

FolderListing::FolderListing(const QUuid& accountID, const std::optional<QString>& folderID,
                             std::shared_ptr<StorageProvider> provider, ErrorHandler onError,
                             QObject* parent)
    : QObject(parent), accountID_(accountID), folderID_(folderID), provider_(std::move(provider)),
      onError_(std::move(onError)) {}

FolderListing::~FolderListing() {
    firstPageTask_.cancel();
    nextPageTask_.cancel();
}

// ---- loading ------------------------------------------------------------------------------

void FolderListing::load() {
    ++generation_;
    Q_EMIT generationChanged();

    // The answers of the previous generation would be dropped anyway: stop their requests.
    // A next-page request of that generation no longer counts as running, so the new
    // generation can page (its flag would otherwise stay set for good).
    firstPageTask_.cancel();
    nextPageTask_.cancel();
    nextPageSerial_ = 0;
    backgroundPaging_ = false;
    loadRunning_ = true;
    setLoadingMore(false);

    if (phase_.kind != Phase::Kind::loading)
        settledPhase_ = phase_;
    setPhase(Phase::loading());
    setLoadMoreError(std::nullopt);

    const quint64 serial = ++serials_;
    firstPageSerial_ = serial;
    firstPageTask_ = runTask(
        this,
        [provider = provider_, account = accountID_, folder = folderID_] {
            return provider->listFolder(account, folder, std::nullopt);
        },
        [this, serial](TaskResult<Page> result) { applyFirstPage(serial, std::move(result)); });
}

void FolderListing::applyFirstPage(quint64 serial, TaskResult<Page> result) {
    if (serial != firstPageSerial_)
        return; // a newer load, or the caller abandoned this one
    firstPageSerial_ = 0;
    firstPageTask_ = TaskHandle();

    if (result.ok()) {
        Page& page = result.value();
        setItemsSorted(std::move(page.items));
        setNextPageToken(page.nextPageToken);
        setPhase(Phase::loaded());
        settledPhase_ = phase_;
        backgroundPaging_ = true;
        continueBackgroundPaging();
        return;
    }
    const StorageError& error = result.error();
    if (error.isCancelled()) {
        // Nothing was answered: back to where the listing stood, so it loads again later.
        setPhase(settledPhase_);
    } else {
        setPhase(Phase::failed(error));
        settledPhase_ = phase_;
        if (onError_)
            onError_(error);
    }
    finishLoad();
}

bool FolderListing::loadMore() {
    if (phase_.kind != Phase::Kind::loaded || isLoadingMore_ || !nextPageToken_)
        return false;
    return startNextPage();
}

bool FolderListing::startNextPage() {
    if (!nextPageToken_)
        return false;
    const quint64 serial = ++serials_;
    nextPageSerial_ = serial;
    const QString token = *nextPageToken_;
    setLoadingMore(true);
    setLoadMoreError(std::nullopt);
    nextPageTask_ = runTask(
        this,
        [provider = provider_, account = accountID_, folder = folderID_, token] {
            return provider->listFolder(account, folder, token);
        },
        [this, serial, token](TaskResult<Page> result) {
            applyNextPage(serial, token, std::move(result));
        });
    return true;
}

void FolderListing::applyNextPage(quint64 serial, const QString& askedToken,
                                  TaskResult<Page> result) {
    if (serial != nextPageSerial_)
        return; // superseded by a newer load or abandoned
    nextPageSerial_ = 0;
    nextPageTask_ = TaskHandle();

    // Background paging goes on only after a page that moved on: a cancelled page, or one
    // that hands back the very token it was asked with, would be asked for again and again.
    bool movedOn = false;
    if (result.ok()) {
        Page& page = result.value();
        movedOn = page.nextPageToken != askedToken;
        // Items already listed (a page may repeat one) are not listed twice.
        QSet<FileRef> onPage;
        QList<FileItem> fresh;
        for (FileItem& item : page.items) {
            if (listedRefs_.contains(item.ref) || onPage.contains(item.ref))
                continue;
            onPage.insert(item.ref);
            fresh.append(std::move(item));
        }
        appendSorted(std::move(fresh));
        setNextPageToken(page.nextPageToken);
    } else if (!result.error().isCancelled()) {
        movedOn = true; // the error itself ends background paging
        setLoadMoreError(result.error());
        if (onError_)
            onError_(result.error());
    }
    setLoadingMore(false);

    if (!movedOn && backgroundPaging_) {
        backgroundPaging_ = false;
        finishLoad();
        return;
    }
    continueBackgroundPaging();
}

void FolderListing::continueBackgroundPaging() {
    if (!backgroundPaging_)
        return;
    if (nextPageToken_ && items_.size() < backgroundLoadLimit && !loadMoreError_ &&
        !isLoadingMore_ && startNextPage())
        return;
    backgroundPaging_ = false;
    finishLoad();
}

void FolderListing::finishLoad() {
    if (!loadRunning_)
        return;
    loadRunning_ = false;
    Q_EMIT loadFinished();
}

void FolderListing::cancel() {
    if (firstPageSerial_ != 0) {
        firstPageSerial_ = 0;
        firstPageTask_.cancel();
        firstPageTask_ = TaskHandle();
        setPhase(settledPhase_);
    }
    if (nextPageSerial_ != 0) {
        nextPageSerial_ = 0;
        nextPageTask_.cancel();
        nextPageTask_ = TaskHandle();
        setLoadingMore(false);
    }
    backgroundPaging_ = false;
    finishLoad();
}

// ---- changes reported by the application ----------------------------------------------------

bool FolderListing::belongsHere(const FileItem& item) const {
    return !folderID_ || item.parentIDs.contains(*folderID_);
}

void FolderListing::insert(const FileItem& item) {
    if (item.ref.accountID != accountID_ || !belongsHere(item))
        return;
    qsizetype removedAt = -1;
    int removed = 0;
    bool removedEqual = false;
    for (qsizetype i = items_.size() - 1; i >= 0; --i) {
        if (items_[i].ref == item.ref) {
            removedEqual = items_[i] == item;
            removedAt = i;
            ++removed;
            eraseAt(i);
        }
    }
    SortKey key = keyOf(item);
    const auto at = std::lower_bound(keys_.begin(), keys_.end(), key, &FolderListing::before);
    const qsizetype index = at - keys_.begin();
    insertAt(index, item, std::move(key));
    // Re-inserting an identical item at its old place changes nothing.
    if (removed == 1 && removedEqual && removedAt == index)
        return;
    announceItems({});
}

void FolderListing::replace(const FileItem& item) {
    qsizetype index = -1;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (items_[i].ref == item.ref) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return;
    if (!belongsHere(item)) {
        eraseAt(index);
        announceItems({});
        return;
    }
    if (items_[index] == item)
        return;
    eraseAt(index);
    // A stable re-sort keeps the item's place among the items that compare equal to it.
    SortKey key = keyOf(item);
    const auto lo = std::lower_bound(keys_.begin(), keys_.end(), key, &FolderListing::before);
    const auto hi = std::upper_bound(lo, keys_.end(), key, &FolderListing::before);
    const qsizetype at = std::clamp<qsizetype>(index, lo - keys_.begin(), hi - keys_.begin());
    insertAt(at, item, std::move(key));
    announceItems({});
}

void FolderListing::remove(const FileRef& ref) {
    bool changed = false;
    for (qsizetype i = items_.size() - 1; i >= 0; --i) {
        if (items_[i].ref == ref) {
            eraseAt(i);
            changed = true;
        }
    }
    if (changed)
        announceItems({});
}

// ---- ordering -------------------------------------------------------------------------------

FolderListing::SortKey FolderListing::keyOf(const FileItem& item) const {
    return SortKey{item.isFolder(), order_.sortKey(item.name)};
}

bool FolderListing::before(const SortKey& a, const SortKey& b) {
    if (a.isFolder != b.isFolder)
        return a.isFolder;
    return a.name.compare(b.name) < 0;
}

void FolderListing::setItemsSorted(QList<FileItem> items) {
    std::vector<qsizetype> order(size_t(items.size()));
    std::vector<SortKey> keys;
    keys.reserve(size_t(items.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
        order[size_t(i)] = i;
        keys.push_back(keyOf(items[i]));
    }
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return before(keys[size_t(a)], keys[size_t(b)]);
    });
    QList<FileItem> sorted;
    sorted.reserve(items.size());
    std::vector<SortKey> sortedKeys;
    sortedKeys.reserve(keys.size());
    for (qsizetype i : order) {
        sorted.append(std::move(items[i]));
        sortedKeys.push_back(std::move(keys[size_t(i)]));
    }
    keys_ = std::move(sortedKeys);
    listedRefs_.clear();
    listedRefs_.reserve(sorted.size());
    for (const FileItem& item : std::as_const(sorted))
        ++listedRefs_[item.ref];
    if (sorted == items_)
        return;
    const bool wasEmpty = items_.isEmpty();
    items_ = std::move(sorted);
    announceItems(wasEmpty ? ItemsChange{ItemsChange::Kind::appended, 0} : ItemsChange{});
}

void FolderListing::appendSorted(QList<FileItem> fresh) {
    if (fresh.isEmpty())
        return;
    for (const FileItem& item : std::as_const(fresh))
        ++listedRefs_[item.ref];
    // The listed items are in display order already: sort the new ones and merge, the
    // listed ones first among equals (the same result as a stable sort of old + new).
    std::vector<qsizetype> order(size_t(fresh.size()));
    std::vector<SortKey> freshKeys;
    freshKeys.reserve(size_t(fresh.size()));
    for (qsizetype i = 0; i < fresh.size(); ++i) {
        order[size_t(i)] = i;
        freshKeys.push_back(keyOf(fresh[i]));
    }
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return before(freshKeys[size_t(a)], freshKeys[size_t(b)]);
    });

    // Only the listed items from the first place a new one goes to take part in the merge:
    // a page that sorts after everything listed (the usual case) is appended as it is.
    const SortKey& smallest = freshKeys[size_t(order.front())];
    const size_t start =
        size_t(std::upper_bound(keys_.begin(), keys_.end(), smallest, &FolderListing::before) -
               keys_.begin());
    const qsizetype listedBefore = items_.size();
    if (start == keys_.size()) {
        for (qsizetype f : order) {
            items_.append(std::move(fresh[f]));
            keys_.push_back(std::move(freshKeys[size_t(f)]));
        }
        announceItems({ItemsChange::Kind::appended, listedBefore});
        return;
    }

    QList<FileItem> tail;
    tail.reserve(listedBefore - qsizetype(start) + fresh.size());
    std::vector<SortKey> tailKeys;
    tailKeys.reserve(keys_.size() - start + freshKeys.size());
    size_t i = start, j = 0;
    while (i < keys_.size() || j < order.size()) {
        const bool takeFresh = i == keys_.size() ||
                               (j < order.size() && before(freshKeys[size_t(order[j])], keys_[i]));
        if (takeFresh) {
            const qsizetype f = order[j++];
            tail.append(std::move(fresh[f]));
            tailKeys.push_back(std::move(freshKeys[size_t(f)]));
        } else {
            tail.append(std::move(items_[qsizetype(i)]));
            tailKeys.push_back(std::move(keys_[i]));
            ++i;
        }
    }
    items_.erase(items_.begin() + qsizetype(start), items_.end());
    keys_.erase(keys_.begin() + std::ptrdiff_t(start), keys_.end());
    items_.append(std::move(tail));
    keys_.insert(keys_.end(), std::make_move_iterator(tailKeys.begin()),
                 std::make_move_iterator(tailKeys.end()));
    announceItems({});
}

void FolderListing::insertAt(qsizetype index, const FileItem& item, SortKey key) {
    ++listedRefs_[item.ref];
    items_.insert(index, item);
    keys_.insert(keys_.begin() + index, std::move(key));
}

void FolderListing::eraseAt(qsizetype index) {
    if (auto it = listedRefs_.find(items_[index].ref); it != listedRefs_.end() && --it.value() <= 0)
        listedRefs_.erase(it);
    items_.removeAt(index);
    keys_.erase(keys_.begin() + index);
}

// ---- observable fields ----------------------------------------------------------------------

void FolderListing::announceItems(ItemsChange change) {
    lastChange_ = change;
    Q_EMIT itemsChanged();
}

void FolderListing::setPhase(const Phase& phase) {
    if (phase_ == phase)
        return;
    phase_ = phase;
    Q_EMIT phaseChanged();
}

void FolderListing::setLoadingMore(bool loading) {
    if (isLoadingMore_ == loading)
        return;
    isLoadingMore_ = loading;
    Q_EMIT isLoadingMoreChanged();
}

void FolderListing::setLoadMoreError(const std::optional<StorageError>& error) {
    if (loadMoreError_ == error)
        return;
    loadMoreError_ = error;
    Q_EMIT loadMoreErrorChanged();
}

void FolderListing::setNextPageToken(const std::optional<QString>& token) {
    if (nextPageToken_ == token)
        return;
    nextPageToken_ = token;
    Q_EMIT nextPageTokenChanged();
}

} // namespace tw
