#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <QPointer>

namespace tw {

class AccountManager;
class FileSearch;

/// The search engine's results as a table, in the engine's rank order (the table does not sort
/// them again): Name, Account, Date Modified, Size. A new result list replaces the rows in one
/// reset; results dropped from the list (a trashed file) go out as row removals; a change to
/// the accounts refreshes the Account column.
class SearchResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, AccountColumn, ModifiedColumn, SizeColumn, ColumnCount };
    static constexpr int iconSize = 16;

    SearchResultsModel(FileSearch* search, AccountManager* accounts, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const QList<FileItem>& items() const { return items_; }
    /// The item shown in row; the row must exist.
    const FileItem& item(int row) const { return items_.at(row); }
    /// The row that shows the item with ref, or -1. The index of rows by ref is built on
    /// the first call after the rows changed, not with every new result list.
    int rowOf(const FileRef& ref) const;

    /// "Google Drive · work@example.com": what the Account cell says about its account.
    static QString accountDetail(const StorageAccount& account);

private:
    void refresh();
    void accountsChanged();
    void reindex();
    QPixmap accountIcon(const StorageAccount& account) const;

    QPointer<FileSearch> search_;
    QPointer<AccountManager> accounts_;
    QList<FileItem> items_;
    mutable QHash<FileRef, int> rows_;
    mutable bool indexed_ = false;
    QHash<QUuid, StorageAccount> accountByID_;
    mutable QHash<QUuid, QPixmap> accountIcons_;
    mutable QRgb accountIconsWindow_ = 0; // the window colour the account pixmaps are drawn in
};

} // namespace tw
