#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Files/NaturalOrder.h"

#include <QObject>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tw {

/// The observable, paged listing of one folder of one account, in display order: folders
/// first, then names in natural order; equal items keep their relative order. It pages by
/// itself in the background up to backgroundLoadLimit items and follows the inserts,
/// renames and removals the application reports, so the browser never has to reload.
/// Main thread only.
class FolderListing : public QObject {
    Q_OBJECT

public:
    /// State of the first-page load.
    struct Phase {
        enum class Kind { idle, loading, loaded, failed };
        Kind kind = Kind::idle;
        std::optional<StorageError> error; // set for failed only

        static Phase idle() { return {Kind::idle, {}}; }
        static Phase loading() { return {Kind::loading, {}}; }
        static Phase loaded() { return {Kind::loaded, {}}; }
        static Phase failed(const StorageError& error) { return {Kind::failed, error}; }
        bool operator==(const Phase&) const = default;
    };

    /// What the latest itemsChanged() did to items(): `appended` when the items listed before
    /// stayed as they were and new ones followed them (items()[first] onwards); `other` for
    /// any other change. Lets a table insert a page as one range instead of comparing lists.
    struct ItemsChange {
        enum class Kind { other, appended };
        Kind kind = Kind::other;
        qsizetype first = 0;
        bool operator==(const ItemsChange&) const = default;
    };

    static constexpr qsizetype backgroundLoadLimit = 2000;

    using ErrorHandler = std::function<void(const StorageError&)>;

    FolderListing(const QUuid& accountID, const std::optional<QString>& folderID,
                  std::shared_ptr<StorageProvider> provider, ErrorHandler onError,
                  QObject* parent = nullptr);
    /// Requests still running are cancelled; their answers go nowhere.
    ~FolderListing() override;

    const QUuid& accountID() const { return accountID_; }
    const std::optional<QString>& folderID() const { return folderID_; }
    const QList<FileItem>& items() const { return items_; }
    const Phase& phase() const { return phase_; }
    bool isLoadingMore() const { return isLoadingMore_; }
    const std::optional<StorageError>& loadMoreError() const { return loadMoreError_; }
    const std::optional<QString>& nextPageToken() const { return nextPageToken_; }
    bool hasMore() const { return nextPageToken_.has_value(); }
    qint64 generation() const { return generation_; }
    /// The change the latest itemsChanged() announced.
    const ItemsChange& lastChange() const { return lastChange_; }
    /// The category of items()[index] (none for folders and other files), found once when
    /// the item came in. Inline: a filter asks it of every item.
    std::optional<FileCategory> categoryAt(qsizetype index) const {
        const qint8 category = traits_[size_t(index)].category;
        return category < 0 ? std::nullopt : std::optional<FileCategory>(FileCategory(category));
    }

    /// Starts a new generation: fetches the first page, then pages on in the background
    /// while a token remains, fewer than backgroundLoadLimit items are listed, no next
    /// page has failed and each page brought a new token (a page that hands back the token
    /// it was asked with would be asked for forever). loadFinished() tells when this load's
    /// work has ended.
    void load();
    /// Fetches the next page once. Returns false (and does nothing) unless the first page is
    /// loaded, a token remains and no next-page request is running.
    bool loadMore();
    /// Abandons the requests still running (the view that asked went away). A first load
    /// that had not been answered leaves the listing in the phase it had before, so the
    /// next visit loads it again; a next-page request ends without error.
    void cancel();

    /// Adds a new item of this folder (an item of another account or folder is ignored);
    /// an item with a listed ref replaces that entry.
    void insert(const FileItem& item);
    /// Updates a listed item in place, or drops it when it no longer belongs to the folder.
    void replace(const FileItem& item);
    /// Drops every item with this ref.
    void remove(const FileRef& ref);

Q_SIGNALS:
    /// items() is about to change in a way other than by appending (an edit, a merge, a new
    /// load): an observer that follows rows by ref reads them now. An itemsChanged() follows
    /// unless the change turns out to change nothing.
    void itemsAboutToChange();
    void itemsChanged();
    void phaseChanged();
    void isLoadingMoreChanged();
    void loadMoreErrorChanged();
    void nextPageTokenChanged();
    void generationChanged();
    /// The current load (first page and background paging) has ended, however it ended.
    void loadFinished();

private:
    /// What the listing keeps beside each item: whether it is a folder (the first sort
    /// criterion) and its category. Names are compared with the collator when needed, never
    /// kept as sort keys (a key per item costs more than the item's own record).
    struct Traits {
        bool isFolder = false;
        qint8 category = -1; // a FileCategory, or -1 for none
    };
    struct SortKey {
        bool isFolder;
        QCollatorSortKey name;
    };

    static Traits traitsOf(const FileItem& item);
    SortKey keyOf(const FileItem& item) const;
    static bool before(const SortKey& a, const SortKey& b);
    /// Display order between listed item i and an item with traits t and name.
    bool listedBefore(qsizetype i, const Traits& t, const QString& name) const;
    bool beforeListed(const Traits& t, const QString& name, qsizetype i) const;
    /// Where an item goes among the listed ones: after every item it does not sort before.
    qsizetype upperBound(const Traits& t, const QString& name, qsizetype from = 0) const;
    qsizetype lowerBound(const Traits& t, const QString& name) const;
    bool belongsHere(const FileItem& item) const;
    /// Shares the strings many items repeat (MIME types, the parents list) and keeps the
    /// date in its compact UTC form (a date in a time zone holds a private of its own).
    void adopt(FileItem& item);

    void applyFirstPage(quint64 serial, TaskResult<Page> result);
    void applyNextPage(quint64 serial, const QString& askedToken, TaskResult<Page> result);
    bool startNextPage();
    void continueBackgroundPaging();
    void finishLoad();

    void announceItems(ItemsChange change);
    void setItemsSorted(QList<FileItem> items);
    void appendSorted(QList<FileItem> fresh);
    void insertAt(qsizetype index, const FileItem& item);
    void eraseAt(qsizetype index);
    /// Room at the end for `more` items. The lists grow by an eighth of their size at a
    /// time: grown by themselves they double, and a large folder would hold room for as
    /// many items again as it lists.
    void makeRoom(qsizetype more);
    static quint64 refHash(const FileRef& ref);
    /// Whether an item with ref may be listed: no when its hash is not among the listed ones.
    bool mayBeListed(const FileRef& ref) const;
    /// Adds the hashes of items[from..] to the listed ones.
    void noteListed(const QList<FileItem>& items, qsizetype from);
    void aboutToChange();

    void setPhase(const Phase& phase);
    void setLoadingMore(bool loading);
    void setLoadMoreError(const std::optional<StorageError>& error);
    void setNextPageToken(const std::optional<QString>& token);

    const QUuid accountID_;
    const std::optional<QString> folderID_;
    const std::shared_ptr<StorageProvider> provider_;
    const ErrorHandler onError_;
    NaturalOrder order_;

    QList<FileItem> items_;
    std::vector<Traits> traits_; // parallel to items_
    QSet<QString> sharedTypes_;
    QList<QString> sharedParents_;
    // The hash of each listed item's ref, sorted (a ref listed twice is there twice): a next
    // page is checked against them in its own time, at eight bytes per item.
    std::vector<quint64> refHashes_;
    ItemsChange lastChange_;
    Phase phase_;
    bool isLoadingMore_ = false;
    std::optional<StorageError> loadMoreError_;
    std::optional<QString> nextPageToken_;
    qint64 generation_ = 0;

    // The phase to return to when an unanswered first load is abandoned.
    Phase settledPhase_;
    // Each request carries a serial; an answer counts only while its serial is current.
    quint64 serials_ = 0;
    quint64 firstPageSerial_ = 0;
    quint64 nextPageSerial_ = 0;
    TaskHandle firstPageTask_;
    TaskHandle nextPageTask_;
    bool loadRunning_ = false;      // the current load has not finished yet
    bool backgroundPaging_ = false; // its background paging is under way
};

} // namespace tw
