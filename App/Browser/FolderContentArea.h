#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Domain/StorageError.h"

#include <QStackedWidget>

#include <optional>

namespace tw {

class ContentUnavailableView;
class FolderListing;
class FolderTableModel;

/// The middle of the folder table: the table itself, or what stands in for it while there is
/// nothing to tabulate: a spinner while the first page loads, the failure of the first page
/// with its recovery, "No <category> Here" when the filter matches none of the loaded items
/// (with "Show All", and "Load More" while more pages wait), and the empty folder ("Folder Is
/// Empty", or "No Files Here" in a chat the user doesn't own). The stand-in is named
/// "folderState".
class FolderContentArea : public QStackedWidget {
    Q_OBJECT
public:
    enum class State { spinner, error, noMatch, empty, table };

    FolderContentArea(QWidget* table, QWidget* parent = nullptr);

    /// What fills the area for the listing's phase and the shown rows.
    static State stateOf(const FolderListing* listing, const FolderTableModel& rows);
    /// Shows the state that fits and returns it.
    State show(const FolderListing* listing, const FolderTableModel& rows,
               const StorageAccount& account);

    ContentUnavailableView* placeholder() const { return placeholder_; }

Q_SIGNALS:
    void showAllRequested();
    void loadMoreRequested();
    void recover(RecoveryAction action);

private:
    QWidget* table_;
    ContentUnavailableView* placeholder_;
    /// What the stand-in shows now, so that a page arriving under an unchanged state leaves
    /// it (and the focus on its buttons) alone.
    QStringList shown_;
};

} // namespace tw
