#include "App/Browser/FolderPager.h"

#include "App/Browser/FolderTableModel.h"
#include "App/Browser/FolderTableView.h"
#include "StorageCore/Files/FolderListing.h"

#include <QEvent>
#include <QScrollBar>

namespace tw {

FolderPager::FolderPager(FolderTableView* table, FolderTableModel* rows, FolderListing* listing)
    : QObject(table), table_(table), viewport_(table->viewport()), rows_(rows), listing_(listing) {
    check_.setSingleShot(true);
    check_.setInterval(0);
    connect(&check_, &QTimer::timeout, this, &FolderPager::check);
    connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this, &FolderPager::schedule);
    connect(table_->verticalScrollBar(), &QScrollBar::rangeChanged, this, &FolderPager::schedule);
    connect(rows_, &FolderTableModel::rowsChanged, this, &FolderPager::schedule);
    if (listing_) {
        connect(listing_, &FolderListing::isLoadingMoreChanged, this, &FolderPager::schedule);
        connect(listing_, &FolderListing::nextPageTokenChanged, this, &FolderPager::schedule);
    }
    table_->viewport()->installEventFilter(this);
}

void FolderPager::check() {
    // Only while the table is the shown content (not a spinner or a state view in its place).
    if (!listing_ || !listing_->hasMore() || !table_->isVisible())
        return;
    const int last = rows_->rowCount() - 1;
    if (last < 0)
        return;
    const QRect rect = table_->visualRect(rows_->index(last, 0));
    if (!rect.isValid() || !rect.intersects(table_->viewport()->rect()))
        return;
    const FileRef ref = rows_->item(last).ref;
    if (pagedAt_ == ref)
        return;
    if (listing_->loadMore())
        pagedAt_ = ref;
}

bool FolderPager::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport_ && event->type() == QEvent::Resize)
        schedule();
    return QObject::eventFilter(watched, event);
}

} // namespace tw
