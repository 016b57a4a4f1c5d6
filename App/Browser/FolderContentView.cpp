#include "App/Browser/FolderContentView.h"

#include "App/Browser/FolderColumnFitter.h"
#include "App/Browser/FolderFilterBar.h"
#include "App/Browser/FolderItemCommands.h"
#include "App/Browser/FolderPager.h"
#include "App/Browser/FolderStatusBar.h"
#include "App/Browser/FolderTableModel.h"
#include "App/Browser/FolderTableView.h"
#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "App/Preview/QuickLookKeys.h"
#include "StorageCore/Files/FolderListing.h"

#include <QAction>
#include <QFrame>
#include <QHideEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QVBoxLayout>

namespace tw {

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

} // namespace

FolderContentView::FolderContentView(AppModel& model, const StorageAccount& account,
                                     FolderListing* listing, QuickLook& quickLook,
                                     OpenPreview openPreview, QWidget* parent)
    : QWidget(parent), model_(model), account_(account), listing_(listing), quickLook_(quickLook) {
    setObjectName(QStringLiteral("folderContent"));

    table_ = new FolderTableView(this);
    tableModel_ = new FolderTableModel(listing, this);
    table_->setModel(tableModel_);
    columns_ = new FolderColumnFitter(table_);
    pager_ = new FolderPager(table_, tableModel_, listing);
    commands_ =
        new FolderItemCommands(model_, account_, listing, quickLook_, std::move(openPreview), this);

    filterBar_ = new FolderFilterBar(this);
    area_ = new FolderContentArea(table_, this);
    statusBar_ = new FolderStatusBar(model_, account_, listing, tableModel_, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(filterBar_);
    layout->addWidget(divider(this));
    layout->addWidget(area_, 1);
    layout->addWidget(divider(this));
    layout->addWidget(statusBar_);

    connect(filterBar_, &FolderFilterBar::filterChosen, this, &FolderContentView::setFilter);
    connect(area_, &FolderContentArea::showAllRequested, this, [this] { setFilter(std::nullopt); });
    connect(area_, &FolderContentArea::loadMoreRequested, this, [this] {
        if (listing_)
            listing_->loadMore();
    });
    connect(area_, &FolderContentArea::recover, this, [this](RecoveryAction action) {
        if (action == RecoveryAction::reconnect)
            model_.reconnect(account_.id);
        else if (listing_)
            listing_->load();
    });

    // ---- table behaviour --------------------------------------------------------------------
    QuickLookKeys::install(table_, quickLook_, [this] { return handleSpace(); });
    table_->highlightsDropOn = [this](int row) {
        const FileItem& item = tableModel_->item(row);
        return item.isFolder() && account_.status == StorageAccount::Status::connected &&
               ProviderKinds::isWritable(account_.provider, item.ref.providerID);
    };
    // Activation: a double-click (or a single click where the desktop asks for it), and
    // Return or Enter on the current row.
    connect(table_, &FolderTableView::activated, this, [this](const QModelIndex& index) {
        if (index.isValid())
            primaryAction(rowsFor(index.row()));
    });
    connect(table_, &FolderTableView::customContextMenuRequested, this,
            &FolderContentView::showContextMenu);
    connect(table_, &FolderTableView::filesDropped, this, [this](const QList<QUrl>& urls, int row) {
        std::optional<FileItem> onto;
        if (row >= 0 && row < tableModel_->rowCount())
            onto = tableModel_->item(row);
        upload(urls, onto);
    });
    connect(table_, &FolderTableView::dragHovered, this, [this](bool inside, int row) {
        const bool ontoFolder =
            row >= 0 && row < tableModel_->rowCount() && tableModel_->item(row).isFolder();
        Q_EMIT tableDropHover(inside && !ontoFolder);
    });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FolderContentView::viewSelectionChanged);

    auto* deleteAction = new QAction(QStringLiteral("Delete"), table_);
    deleteAction->setObjectName(QStringLiteral("tableDelete"));
    deleteAction->setShortcut(QKeySequence::Delete);
    deleteAction->setShortcutContext(Qt::WidgetShortcut);
    connect(deleteAction, &QAction::triggered, this, &FolderContentView::deleteCommand);
    table_->addAction(deleteAction);

    connect(tableModel_, &FolderTableModel::rowsChanged, this, &FolderContentView::updateState);
    connect(tableModel_, &QAbstractItemModel::modelReset, this,
            &FolderContentView::applySelectionToView);
    if (listing_) {
        connect(listing_, &FolderListing::phaseChanged, this, &FolderContentView::updateState);
        connect(listing_, &FolderListing::nextPageTokenChanged, this,
                &FolderContentView::updateState);
        connect(listing_, &QObject::destroyed, this, &FolderContentView::listingGone);
    }

    // A folder seen before shows its cached items at once; only a listing never loaded (or
    // whose first load was abandoned) loads now. The load belongs to the listing: leaving
    // this folder never stops it, so no other view of it is left waiting.
    if (listing_ && listing_->phase().kind == FolderListing::Phase::Kind::idle)
        listing_->load();
    updateState();
}

FolderContentView::~FolderContentView() {
    if (state_ == State::table)
        quickLook_.close();
}

void FolderContentView::setAccount(const StorageAccount& account) {
    if (account == account_)
        return;
    account_ = account;
    commands_->setAccount(account_);
    statusBar_->setAccount(account_);
    updateState();
}

std::optional<QString> FolderContentView::folderID() const {
    return commands_->folderID();
}

bool FolderContentView::isWritable() const {
    return commands_->isWritable();
}

// ---- content state ---------------------------------------------------------------------------

void FolderContentView::updateState() {
    const State previous = state_;
    state_ = area_->show(listing_, *tableModel_, account_);
    // No count while the first page loads or its failure shows: nothing is counted yet.
    statusBar_->setCounted(state_ != State::spinner && state_ != State::error);
    if (previous == State::table && state_ != State::table)
        quickLook_.close(); // the table left
    if (state_ == State::table && previous != State::table)
        pager_->schedule();
}

bool FolderContentView::isPagingCheckPending() const {
    return pager_->isCheckPending();
}

QString FolderContentView::statusText() const {
    return statusBar_->statusText();
}

QString FolderContentView::countText(qsizetype count, bool hasMore) {
    return FolderStatusBar::countText(count, hasMore);
}

void FolderContentView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // The table leaves the screen (another pane): the quick-look panel goes with it. A
    // minimised window (a spontaneous hide) keeps it.
    if (!event->spontaneous() && state_ == State::table)
        quickLook_.close();
}

// ---- filter ----------------------------------------------------------------------------------

void FolderContentView::setFilter(const std::optional<FileCategory>& filter) {
    filterBar_->setFilter(filter);
    if (filter == filter_)
        return;
    filter_ = filter;
    pager_->reset();
    commands_->setFilter(filter_);
    tableModel_->setFilter(filter_);
    // The new rows are laid out now, so that the switch paints one frame: Qt's delayed
    // layout would paint the rows first and then again laid out.
    table_->doItemsLayout();
    statusBar_->setFilter(filter_);
    Q_EMIT filterChanged();
}

// ---- selection -------------------------------------------------------------------------------

void FolderContentView::setSelection(const QSet<FileRef>& selection) {
    if (selection == selection_)
        return;
    selection_ = selection;
    applySelectionToView();
    Q_EMIT selectionChanged();
    commands_->follow(single(selection_));
}

void FolderContentView::applySelectionToView() {
    QItemSelection rows;
    if (!selection_.isEmpty()) {
        const int count = tableModel_->rowCount();
        const int last = tableModel_->columnCount() - 1;
        for (int row = 0; row < count; ++row) {
            if (selection_.contains(tableModel_->item(row).ref))
                rows.select(tableModel_->index(row, 0), tableModel_->index(row, last));
        }
    }
    applyingSelection_ = true;
    table_->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    applyingSelection_ = false;
}

void FolderContentView::viewSelectionChanged() {
    if (applyingSelection_)
        return;
    QSet<FileRef> selected;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        selected.insert(tableModel_->item(index.row()).ref);
    if (selected == selection_)
        return;
    selection_ = std::move(selected);
    Q_EMIT selectionChanged();
    commands_->follow(single(selection_));
}

std::optional<FileItem> FolderContentView::single(const QSet<FileRef>& refs) const {
    if (refs.size() != 1)
        return std::nullopt;
    return tableModel_->loadedItem(*refs.begin());
}

QList<FileItem> FolderContentView::visibleItems() const {
    QList<FileItem> items;
    for (int row = 0; row < tableModel_->rowCount(); ++row)
        items.append(tableModel_->item(row));
    return items;
}

QSet<FileRef> FolderContentView::rowsFor(int row) const {
    if (row < 0 || row >= tableModel_->rowCount())
        return {};
    const FileRef ref = tableModel_->item(row).ref;
    if (selection_.contains(ref))
        return selection_;
    return {ref};
}

// ---- commands --------------------------------------------------------------------------------

void FolderContentView::showContextMenu(const QPoint& position) {
    const QModelIndex index = table_->indexAt(position);
    if (index.isValid() && !table_->selectionModel()->isRowSelected(index.row(), {})) {
        // A click outside the selection acts on that row alone, and the highlight moves there.
        table_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    }
    QMenu* menu = menuFor(rowsFor(index.row()), this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(table_->viewport()->mapToGlobal(position));
}

QMenu* FolderContentView::menuFor(const QSet<FileRef>& rows, QWidget* parent) {
    const std::optional<FileItem> item = single(rows);
    return item ? commands_->menuFor(*item, parent) : nullptr;
}

void FolderContentView::primaryAction(const QSet<FileRef>& rows) {
    if (const std::optional<FileItem> item = single(rows))
        commands_->primaryAction(*item);
}

void FolderContentView::deleteCommand() {
    if (const std::optional<FileItem> item = single(selection_))
        commands_->deleteCommand(*item);
}

bool FolderContentView::handleSpace() {
    return commands_->space(single(selection_));
}

void FolderContentView::upload(const QList<QUrl>& urls, const std::optional<FileItem>& onto) {
    commands_->upload(urls, onto);
}

void FolderContentView::preview(const FileItem& item) {
    commands_->preview(item);
}

void FolderContentView::startRename(const FileItem& item) {
    commands_->startRename(item);
}

void FolderContentView::startTrash(const FileItem& item) {
    commands_->startTrash(item);
}

} // namespace tw
