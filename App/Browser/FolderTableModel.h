#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Files/FolderListing.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

namespace tw {

/// The rows of the folder table: the listing's items in the listing's own order, narrowed to
/// one category when a filter is set. Rows are identified by FileRef. A page the listing
/// appends becomes one row insert, edits become row removals, moves and inserts, so the view's
/// selection and scroll position survive new pages and re-sorts; only a new filter resets.
class FolderTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { nameColumn, modifiedColumn, sizeColumn, kindColumn, columnCount_ };

    explicit FolderTableModel(FolderListing* listing, QObject* parent = nullptr);

    FolderListing* listing() const { return listing_; }
    const std::optional<FileCategory>& filter() const { return filter_; }
    void setFilter(const std::optional<FileCategory>& filter);

    /// The item of a shown row.
    const FileItem& item(int row) const { return visible_[size_t(row)]->item; }
    /// The row showing ref, or -1.
    int rowOf(const FileRef& ref) const;
    /// The loaded item with ref, shown or not (none when the listing no longer holds it).
    std::optional<FileItem> loadedItem(const FileRef& ref) const;
    /// How many items are loaded, shown or not.
    qsizetype loadedCount() const { return qsizetype(all_.size()); }

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
    struct Entry {
        FileItem item;
        std::optional<FileCategory> category;
        // Filled on first use: the texts and icon of a row are asked for at every paint.
        mutable std::optional<QString> modifiedText;
        mutable std::optional<QString> kindText;
        mutable std::optional<QIcon> icon;
    };
    using EntryPtr = std::shared_ptr<const Entry>;

    static EntryPtr makeEntry(const FileItem& item);
    bool matches(const Entry& entry) const;
    void listingChanged();
    void append(qsizetype first);
    void replaceAll();
    void applyVisible(std::vector<EntryPtr> wanted);

    QPointer<FolderListing> listing_;
    std::optional<FileCategory> filter_;
    std::vector<EntryPtr> all_;     // every loaded item, in the listing's order
    std::vector<EntryPtr> visible_; // the shown rows
};

} // namespace tw
