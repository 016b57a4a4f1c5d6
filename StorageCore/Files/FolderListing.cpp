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
        for (FileItem& item : page.items)
            adopt(item);
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
        // Items already listed (a page may repeat one) are not listed twice. The hashes of
        // the listed refs tell which new items may be listed; only those are looked for.
        QSet<FileRef> onPage;
        QSet<FileRef> suspects;
        QList<FileItem> fresh;
        for (FileItem& item : page.items) {
            if (onPage.contains(item.ref))
                continue;
            onPage.insert(item.ref);
            if (mayBeListed(item.ref))
                suspects.insert(item.ref);
            fresh.append(std::move(item));
        }
        if (!suspects.isEmpty()) {
            QSet<FileRef> listed;
            for (const FileItem& item : std::as_const(items_))
                if (suspects.contains(item.ref))
                    listed.insert(item.ref);
            fresh.removeIf([&](const FileItem& item) { return listed.contains(item.ref); });
        }
        for (FileItem& item : fresh)
            adopt(item);
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
    FileItem adopted = item;
    adopt(adopted);
    aboutToChange();
    qsizetype removedAt = -1;
    int removed = 0;
    bool removedEqual = false;
    for (qsizetype i = items_.size() - 1; i >= 0; --i) {
        if (items_[i].ref == adopted.ref) {
            removedEqual = items_[i] == adopted;
            removedAt = i;
            ++removed;
            eraseAt(i);
        }
    }
    const qsizetype index = lowerBound(traitsOf(adopted), adopted.name);
    insertAt(index, adopted);
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
        aboutToChange();
        eraseAt(index);
        announceItems({});
        return;
    }
    FileItem adopted = item;
    adopt(adopted);
    if (items_[index] == adopted)
        return;
    aboutToChange();
    eraseAt(index);
    // A stable re-sort keeps the item's place among the items that compare equal to it.
    const Traits traits = traitsOf(adopted);
    const qsizetype lo = lowerBound(traits, adopted.name);
    const qsizetype hi = upperBound(traits, adopted.name, lo);
    insertAt(std::clamp(index, lo, hi), adopted);
    announceItems({});
}

void FolderListing::remove(const FileRef& ref) {
    if (!mayBeListed(ref))
        return;
    // The hashes only say that ref may be listed: the items tell.
    qsizetype last = items_.size() - 1;
    while (last >= 0 && items_[last].ref != ref)
        --last;
    if (last < 0)
        return;
    aboutToChange();
    for (qsizetype i = last; i >= 0; --i)
        if (items_[i].ref == ref)
            eraseAt(i);
    announceItems({});
}

void FolderListing::adopt(FileItem& item) {
    auto type = sharedTypes_.constFind(item.mimeType);
    if (type == sharedTypes_.constEnd())
        type = sharedTypes_.insert(item.mimeType);
    item.mimeType = *type;
    if (item.parentIDs == sharedParents_)
        item.parentIDs = sharedParents_;
    else
        sharedParents_ = item.parentIDs;
    if (item.modifiedAt && item.modifiedAt->isValid() && item.modifiedAt->timeSpec() != Qt::UTC)
        item.modifiedAt = item.modifiedAt->toUTC();
}

// ---- ordering -------------------------------------------------------------------------------

FolderListing::Traits FolderListing::traitsOf(const FileItem& item) {
    const std::optional<FileCategory> category = item.category();
    return Traits{item.isFolder(), category ? qint8(*category) : qint8(-1)};
}

FolderListing::SortKey FolderListing::keyOf(const FileItem& item) const {
    return SortKey{item.isFolder(), order_.sortKey(item.name)};
}

bool FolderListing::before(const SortKey& a, const SortKey& b) {
    if (a.isFolder != b.isFolder)
        return a.isFolder;
    return a.name.compare(b.name) < 0;
}

bool FolderListing::listedBefore(qsizetype i, const Traits& t, const QString& name) const {
    const Traits& listed = traits_[size_t(i)];
    if (listed.isFolder != t.isFolder)
        return listed.isFolder;
    return order_.compare(items_[i].name, name) < 0;
}

bool FolderListing::beforeListed(const Traits& t, const QString& name, qsizetype i) const {
    const Traits& listed = traits_[size_t(i)];
    if (listed.isFolder != t.isFolder)
        return t.isFolder;
    return order_.compare(name, items_[i].name) < 0;
}

qsizetype FolderListing::upperBound(const Traits& t, const QString& name, qsizetype from) const {
    qsizetype lo = from, hi = items_.size();
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (beforeListed(t, name, mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

qsizetype FolderListing::lowerBound(const Traits& t, const QString& name) const {
    qsizetype lo = 0, hi = items_.size();
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (listedBefore(mid, t, name))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void FolderListing::setItemsSorted(QList<FileItem> items) {
    // Sort keys make the sort cheap; they are dropped once the order is known.
    std::vector<qsizetype> order(size_t(items.size()));
    {
        std::vector<SortKey> keys;
        keys.reserve(size_t(items.size()));
        for (qsizetype i = 0; i < items.size(); ++i) {
            order[size_t(i)] = i;
            keys.push_back(keyOf(items[i]));
        }
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            return before(keys[size_t(a)], keys[size_t(b)]);
        });
    }
    QList<FileItem> sorted;
    sorted.reserve(items.size());
    std::vector<Traits> traits;
    traits.reserve(order.size());
    for (qsizetype i : order) {
        traits.push_back(traitsOf(items[i]));
        sorted.append(std::move(items[i]));
    }
    refHashes_.clear();
    refHashes_.shrink_to_fit();
    refHashes_.reserve(size_t(sorted.size()));
    noteListed(sorted, 0);
    if (sorted == items_)
        return;
    const bool wasEmpty = items_.isEmpty();
    if (!wasEmpty)
        aboutToChange();
    items_ = std::move(sorted);
    traits_ = std::move(traits);
    announceItems(wasEmpty ? ItemsChange{ItemsChange::Kind::appended, 0} : ItemsChange{});
}

void FolderListing::appendSorted(QList<FileItem> fresh) {
    if (fresh.isEmpty())
        return;
    makeRoom(fresh.size());
    noteListed(fresh, 0);
    // The listed items are in display order already: sort the new ones and merge, the
    // listed ones first among equals (the same result as a stable sort of old + new).
    std::vector<qsizetype> order(size_t(fresh.size()));
    {
        std::vector<SortKey> freshKeys;
        freshKeys.reserve(size_t(fresh.size()));
        for (qsizetype i = 0; i < fresh.size(); ++i) {
            order[size_t(i)] = i;
            freshKeys.push_back(keyOf(fresh[i]));
        }
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            return before(freshKeys[size_t(a)], freshKeys[size_t(b)]);
        });
    }
    std::vector<Traits> freshTraits(size_t(fresh.size()));
    for (qsizetype i = 0; i < fresh.size(); ++i)
        freshTraits[size_t(i)] = traitsOf(fresh[i]);

    // Where each new item goes: a binary search among the listed items from where the one
    // before it went. A page that sorts after everything listed (the usual case) is appended
    // as it is.
    std::vector<qsizetype> places(order.size());
    qsizetype from = 0;
    for (size_t j = 0; j < order.size(); ++j) {
        const qsizetype f = order[j];
        from = upperBound(freshTraits[size_t(f)], fresh[f].name, from);
        places[j] = from;
    }
    const qsizetype listedBefore = items_.size();
    if (places.front() == listedBefore) {
        for (qsizetype f : order) {
            items_.append(std::move(fresh[f]));
            traits_.push_back(freshTraits[size_t(f)]);
        }
        announceItems({ItemsChange::Kind::appended, listedBefore});
        return;
    }

    aboutToChange();
    const qsizetype start = places.front();
    QList<FileItem> tail;
    tail.reserve(listedBefore - start + fresh.size());
    std::vector<Traits> tailTraits;
    tailTraits.reserve(size_t(listedBefore - start + fresh.size()));
    qsizetype i = start;
    for (size_t j = 0; j < order.size(); ++j) {
        for (; i < places[j]; ++i) {
            tail.append(std::move(items_[i]));
            tailTraits.push_back(traits_[size_t(i)]);
        }
        const qsizetype f = order[j];
        tail.append(std::move(fresh[f]));
        tailTraits.push_back(freshTraits[size_t(f)]);
    }
    for (; i < listedBefore; ++i) {
        tail.append(std::move(items_[i]));
        tailTraits.push_back(traits_[size_t(i)]);
    }
    items_.erase(items_.begin() + start, items_.end());
    traits_.erase(traits_.begin() + std::ptrdiff_t(start), traits_.end());
    items_.append(std::move(tail));
    traits_.insert(traits_.end(), tailTraits.begin(), tailTraits.end());
    announceItems({});
}

void FolderListing::insertAt(qsizetype index, const FileItem& item) {
    makeRoom(1);
    const quint64 hash = refHash(item.ref);
    refHashes_.insert(std::upper_bound(refHashes_.begin(), refHashes_.end(), hash), hash);
    traits_.insert(traits_.begin() + index, traitsOf(item));
    if (index == 0 && !items_.isEmpty()) {
        // A list inserting at its front grows there by doubling, whatever room its end has.
        items_.append(item);
        std::rotate(items_.begin(), items_.end() - 1, items_.end());
    } else {
        items_.insert(index, item);
    }
}

void FolderListing::eraseAt(qsizetype index) {
    const quint64 hash = refHash(items_[index].ref);
    if (auto it = std::lower_bound(refHashes_.begin(), refHashes_.end(), hash);
        it != refHashes_.end() && *it == hash)
        refHashes_.erase(it);
    if (index == 0 && items_.size() > 1) {
        // A list dropping its first item leaves the room at its front, where appends do not
        // reach: the room stays at the end, where makeRoom() counts it.
        std::rotate(items_.begin(), items_.begin() + 1, items_.end());
        items_.removeLast();
    } else {
        items_.removeAt(index);
    }
    traits_.erase(traits_.begin() + index);
}

void FolderListing::makeRoom(qsizetype more) {
    // The items only ever leave room at the end (see eraseAt()).
    if (items_.isDetached() && items_.capacity() - items_.size() >= more)
        return;
    const qsizetype size = items_.size();
    QList<FileItem> larger;
    larger.reserve(std::max(size + more, size + size / 8));
    larger.append(std::move(items_));
    items_ = std::move(larger);
    traits_.reserve(size_t(items_.capacity()));
    refHashes_.reserve(size_t(items_.capacity()));
}

quint64 FolderListing::refHash(const FileRef& ref) {
    return quint64(qHash(ref, 0));
}

bool FolderListing::mayBeListed(const FileRef& ref) const {
    return std::binary_search(refHashes_.begin(), refHashes_.end(), refHash(ref));
}

void FolderListing::noteListed(const QList<FileItem>& items, qsizetype from) {
    const auto listed = std::ptrdiff_t(refHashes_.size());
    for (qsizetype i = from; i < items.size(); ++i)
        refHashes_.push_back(refHash(items[i].ref));
    std::sort(refHashes_.begin() + listed, refHashes_.end());
    std::inplace_merge(refHashes_.begin(), refHashes_.begin() + listed, refHashes_.end());
}

void FolderListing::aboutToChange() {
    Q_EMIT itemsAboutToChange();
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
