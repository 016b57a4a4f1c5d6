#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Files/FolderListing.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPointer>

#include <optional>
#include <vector>

namespace tw {

/// The rows of the folder table: the listing's items in the listing's own order, narrowed to
/// one category when a filter is set. Rows are identified by FileRef. A page the listing
/// appends becomes one row insert, edits become row removals, moves and inserts, so the view's
/// selection and scroll position survive new pages and re-sorts; only a new filter resets.
/// The items stay in the listing: a row is the index of its item there, and the refs of the
/// rows are read only while the listing is about to change.
class FolderTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { nameColumn, modifiedColumn, sizeColumn, kindColumn, columnCount_ };

    explicit FolderTableModel(FolderListing* listing, QObject* parent = nullptr);

    FolderListing* listing() const { return listing_; }
    const std::optional<FileCategory>& filter() const { return filter_; }
    void setFilter(const std::optional<FileCategory>& filter);

    /// The item of a shown row.
    const FileItem& item(int row) const { return listing_->items()[rows_[size_t(row)]]; }
    /// The row showing ref, or -1.
    int rowOf(const FileRef& ref) const;
    /// The loaded item with ref, shown or not (none when the listing no longer holds it).
    std::optional<FileItem> loadedItem(const FileRef& ref) const;
    /// How many items are loaded, shown or not.
    qsizetype loadedCount() const { return loaded_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    /// The shown rows changed in any way (rows added, removed, moved, edited, filtered).
    void rowsChanged();

private:
    /// Appends the listing's indexes from first on whose items the filter shows.
    void appendMatching(std::vector<int>& rows, qsizetype first) const;
    std::vector<int> matching() const;
    void listingAboutToChange();
    void listingChanged();
    void listingGone();
    void append(qsizetype first);
    void follow();
    QString modifiedText(const FileItem& item) const;

    QPointer<FolderListing> listing_;
    std::optional<FileCategory> filter_;
    qsizetype loaded_ = 0;  // the listing's items the rows follow
    std::vector<int> rows_; // the listing's index of each shown row; -1 for a row whose
                            // item left, while the rows follow an edit
    // The refs of the shown rows, read when the listing is about to change; empty otherwise.
    std::vector<FileRef> before_;
    bool beforeTaken_ = false;
    // Dates repeat and their texts are asked for at every paint: a bounded cache.
    mutable QHash<qint64, QString> modifiedTexts_;
};

} // namespace tw
