#pragma once

#include "App/Browser/FolderContentArea.h"
#include "App/Preview/PreviewTarget.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Files/FolderListing.h"

#include <QPointer>
#include <QSet>
#include <QWidget>

class QMenu;

namespace tw {

class AppModel;
class FolderColumnFitter;
class FolderFilterBar;
class FolderItemCommands;
class FolderPager;
class FolderStatusBar;
class FolderTableModel;
class FolderTableView;
class QuickLook;

/// The contents of one folder of one account inside the storage browser: the category
/// filter bar, the table of the folder's items or what stands in for it, and the status bar.
/// It holds the folder's selection and filter and puts its pieces together: the column
/// fitting, the content area's states, the paging, the status bar and the item commands (the
/// context menu, rename, trash or delete, previews, quick look, drops on rows) are each a
/// piece of their own. One is built per shown folder; the listing is the model's shared one
/// and outlives it.
class FolderContentView : public QWidget {
    Q_OBJECT
public:
    using State = FolderContentArea::State;

    FolderContentView(AppModel& model, const StorageAccount& account, FolderListing* listing,
                      QuickLook& quickLook, OpenPreview openPreview, QWidget* parent = nullptr);
    ~FolderContentView() override;

    /// A fresh copy of the shown account (its alias, status or quota changed).
    void setAccount(const StorageAccount& account);
    const StorageAccount& account() const { return account_; }
    FolderListing* listing() const { return listing_; }
    std::optional<QString> folderID() const;
    bool isWritable() const;

    const QSet<FileRef>& selection() const { return selection_; }
    void setSelection(const QSet<FileRef>& selection);
    const std::optional<FileCategory>& filter() const { return filter_; }
    void setFilter(const std::optional<FileCategory>& filter);

    State state() const { return state_; }
    /// A look at the last shown row (for the next page) is due on the next turn.
    bool isPagingCheckPending() const;
    /// The shown rows: every loaded item, or those of the filter's category.
    QList<FileItem> visibleItems() const;
    /// The loaded item of a one-element set (none for other sets or an item no longer listed).
    std::optional<FileItem> single(const QSet<FileRef>& refs) const;
    QString statusText() const;
    /// "1 item", "57 items", "100+ items".
    static QString countText(qsizetype count, bool hasMore);

    // ---- commands (the menu, the keys, double-click and drops lead here) ------------------
    /// The context menu for rows (the clicked row, or the selection it belongs to); null when
    /// it would be empty. The caller owns it.
    QMenu* menuFor(const QSet<FileRef>& rows, QWidget* parent = nullptr);
    /// Double-click or Return: a folder opens, a file opens its preview window.
    void primaryAction(const QSet<FileRef>& rows);
    /// The delete key: asks to trash or delete the one selected item where that is allowed.
    void deleteCommand();
    /// Space: shows, or closes, the quick-look panel; false when there is nothing to do.
    bool handleSpace();
    /// Files dropped on a row (onto) or between rows.
    void upload(const QList<QUrl>& urls, const std::optional<FileItem>& onto);
    void preview(const FileItem& item);
    void startRename(const FileItem& item);
    void startTrash(const FileItem& item);

    FolderTableView* table() const { return table_; }
    FolderTableModel* tableModel() const { return tableModel_; }

Q_SIGNALS:
    void selectionChanged();
    void filterChanged();
    /// Files hover over the table where a drop goes into the shown folder (true), or no
    /// longer do (false).
    void tableDropHover(bool intoShownFolder);
    /// The listing was dropped by the model (its account signed in again or went away).
    void listingGone();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void updateState();
    void applySelectionToView();
    void viewSelectionChanged();
    void showContextMenu(const QPoint& position);
    QSet<FileRef> rowsFor(int row) const;

    AppModel& model_;
    StorageAccount account_;
    QPointer<FolderListing> listing_;
    QuickLook& quickLook_;

    QSet<FileRef> selection_;
    std::optional<FileCategory> filter_;
    State state_ = State::spinner;
    bool applyingSelection_ = false;

    FolderTableView* table_;
    FolderTableModel* tableModel_;
    FolderFilterBar* filterBar_;
    FolderContentArea* area_;
    FolderColumnFitter* columns_;
    FolderPager* pager_;
    FolderStatusBar* statusBar_;
    FolderItemCommands* commands_;
};

} // namespace tw
