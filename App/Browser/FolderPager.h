#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Files/FolderListing.h"

#include <QPointer>
#include <QTimer>

#include <optional>

namespace tw {

class FolderTableModel;
class FolderTableView;

/// Asks the listing for its next page when the last shown row of the folder table has come
/// into view, once for that row. With a filter, the last matching row is the trigger, so
/// paging goes on while matching rows keep scrolling into view. The look is taken on the next
/// turn of the event loop after a scroll, a resize or a change of the rows.
class FolderPager : public QObject {
    Q_OBJECT
public:
    FolderPager(FolderTableView* table, FolderTableModel* rows, FolderListing* listing);

    /// A look at the last shown row is due on the next turn.
    void schedule() { check_.start(); }
    bool isCheckPending() const { return check_.isActive(); }
    /// The rows were filtered anew: the last shown row may trigger again.
    void reset() { pagedAt_.reset(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void check();

    FolderTableView* table_;
    // Kept aside: while the table is torn down its viewport may still send events, and the
    // table can no longer be asked for it.
    const QObject* viewport_;
    FolderTableModel* rows_;
    QPointer<FolderListing> listing_;
    std::optional<FileRef> pagedAt_;
    QTimer check_;
};

} // namespace tw
