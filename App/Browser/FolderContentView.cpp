#include "App/Browser/FolderContentView.h"

#include "App/Browser/BusyIndicator.h"
#include "App/Browser/FolderStateView.h"
#include "App/Browser/FolderTableModel.h"
#include "App/Browser/FolderTableView.h"
#include "App/Browser/ItemMenu.h"
#include "App/Browser/TextPromptSheet.h"
#include "App/Browser/UploadStatusButton.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "App/Preview/QuickLookKeys.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QAction>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tw {

namespace {

constexpr int kAllFilter = 0;

int filterID(const std::optional<FileCategory>& filter) {
    return filter ? int(*filter) + 1 : kAllFilter;
}

QString objectNameOf(ItemMenu::Entry entry) {
    switch (entry) {
    case ItemMenu::Entry::open:
        return QStringLiteral("itemOpen");
    case ItemMenu::Entry::quickLook:
        return QStringLiteral("itemQuickLook");
    case ItemMenu::Entry::openPreview:
        return QStringLiteral("itemOpenPreview");
    case ItemMenu::Entry::download:
        return QStringLiteral("itemDownload");
    case ItemMenu::Entry::openWith:
        return QStringLiteral("itemOpenWith");
    case ItemMenu::Entry::openInBrowser:
        return QStringLiteral("itemOpenInBrowser");
    case ItemMenu::Entry::separator:
        return {};
    case ItemMenu::Entry::rename:
        return QStringLiteral("itemRename");
    case ItemMenu::Entry::trash:
        return QStringLiteral("itemTrash");
    }
    return {};
}

/// A category's name in a count: "1 photo", "3 photos", "2 audio".
QString categoryNoun(FileCategory category, qsizetype count) {
    const QString plural = FileCategories::displayName(category).toLower();
    if (count == 1 && category != FileCategory::audio && plural.endsWith(QLatin1Char('s')))
        return plural.chopped(1);
    return plural;
}

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(std::max(7.0, base.pointSizeF() * 0.85));
    return font;
}

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
    : QWidget(parent), model_(model), account_(account), listing_(listing), quickLook_(quickLook),
      openPreview_(std::move(openPreview)) {
    setObjectName(QStringLiteral("folderContent"));

    table_ = new FolderTableView(this);
    tableModel_ = new FolderTableModel(listing, this);
    table_->setModel(tableModel_);
    QHeaderView* header = table_->horizontalHeader();
    {
        // The widths follow the font, so that the usual texts of each column fit whole: a
        // date with a two-digit day and hour, a size with four digits, and the long kinds of
        // the MIME database (office formats, source code) that would otherwise read
        // "PowerP…tation".
        const QFontMetrics metrics = table_->fontMetrics();
        const int padding = 2 * (table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
        auto fit = [&](const char* sample, int floor) {
            return std::max(floor, metrics.horizontalAdvance(QString::fromLatin1(sample)) + padding);
        };
        using Columns = FolderTableModel;
        minimumWidths_[Columns::nameColumn] = 200;
        idealWidths_[Columns::nameColumn] = 340;
        minimumWidths_[Columns::modifiedColumn] = 120;
        idealWidths_[Columns::modifiedColumn] = fit("Sep 28, 2026 at 12:59 PM", 180);
        minimumWidths_[Columns::sizeColumn] = 60;
        idealWidths_[Columns::sizeColumn] = fit("1023.9 MB", 80);
        minimumWidths_[Columns::kindColumn] = 70;
        idealWidths_[Columns::kindColumn] = fit("PowerPoint 2007 presentation", 110);
        for (int column = 0; column < FolderTableModel::columnCount_; ++column)
            header->resizeSection(column, idealWidths_[size_t(column)]);
    }
    header->setStretchLastSection(false);
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        // A column the user dragged keeps its width; "Name" goes on taking what is left.
        if (fittingColumns_ || column == FolderTableModel::nameColumn || column < 0 ||
            column >= FolderTableModel::columnCount_)
            return;
        idealWidths_[size_t(column)] = width;
        fitColumns();
    });
    table_->viewport()->installEventFilter(this);

    stateView_ = new FolderStateView(this);
    stateView_->setObjectName(QStringLiteral("folderState"));
    stack_ = new QStackedWidget(this);
    stack_->addWidget(stateView_);
    stack_->addWidget(table_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeFilterBar());
    layout->addWidget(divider(this));
    layout->addWidget(stack_, 1);
    layout->addWidget(divider(this));
    layout->addWidget(makeStatusBar());

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

    // ---- paging: when the last shown row comes into view ------------------------------------
    pagingCheck_.setSingleShot(true);
    pagingCheck_.setInterval(0);
    connect(&pagingCheck_, &QTimer::timeout, this, &FolderContentView::checkPaging);
    connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &FolderContentView::schedulePagingCheck);
    connect(table_->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &FolderContentView::schedulePagingCheck);

    connect(tableModel_, &FolderTableModel::rowsChanged, this, [this] {
        updateState();
        updateStatus();
        schedulePagingCheck();
    });
    connect(tableModel_, &QAbstractItemModel::modelReset, this,
            &FolderContentView::applySelectionToView);

    if (listing_) {
        connect(listing_, &FolderListing::phaseChanged, this, [this] {
            updateState();
            updateStatus();
        });
        connect(listing_, &FolderListing::isLoadingMoreChanged, this, [this] {
            updateStatus();
            schedulePagingCheck();
        });
        connect(listing_, &FolderListing::loadMoreErrorChanged, this,
                &FolderContentView::updateStatus);
        connect(listing_, &FolderListing::nextPageTokenChanged, this, [this] {
            updateState();
            updateStatus();
            schedulePagingCheck();
        });
        connect(listing_, &QObject::destroyed, this, &FolderContentView::listingGone);
    }
    connect(model_.uploads(), &UploadManager::jobsChanged, this, &FolderContentView::updateStatus);

    // A folder seen before shows its cached items at once; only a listing never loaded (or
    // whose first load was abandoned) loads now. The load belongs to the listing: leaving
    // this folder never stops it, so no other view of it is left waiting.
    if (listing_ && listing_->phase().kind == FolderListing::Phase::Kind::idle)
        listing_->load();
    updateFilterButtons();
    updateState();
    updateStatus();
}

FolderContentView::~FolderContentView() {
    if (state_ == State::table)
        quickLook_.close();
}

void FolderContentView::setAccount(const StorageAccount& account) {
    if (account == account_)
        return;
    account_ = account;
    updateState();
    updateStatus();
}

std::optional<QString> FolderContentView::folderID() const {
    return listing_ ? listing_->folderID() : std::nullopt;
}

bool FolderContentView::isWritable() const {
    return ProviderKinds::isWritable(account_.provider, folderID());
}

// ---- filter bar ------------------------------------------------------------------------------

QWidget* FolderContentView::makeFilterBar() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("filterBar"));
    bar->setFixedHeight(28);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 4, 10, 4);
    row->setSpacing(0);

    auto* picker = new QWidget(bar);
    picker->setObjectName(QStringLiteral("filterPicker"));
    picker->setAccessibleName(QStringLiteral("Show file type"));
    picker->setMaximumWidth(520);
    auto* segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(2);
    filterButtons_ = new QButtonGroup(this);
    filterButtons_->setExclusive(true);

    auto addSegment = [&](const QString& title, const QString& name, int id) {
        auto* button = new QToolButton(picker);
        button->setText(title);
        button->setObjectName(name);
        button->setAccessibleName(title);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFocusPolicy(Qt::TabFocus);
        segments->addWidget(button);
        filterButtons_->addButton(button, id);
    };
    addSegment(QStringLiteral("All"), QStringLiteral("filterAll"), kAllFilter);
    for (FileCategory category : FileCategories::allCases())
        addSegment(FileCategories::displayName(category),
                   QStringLiteral("filter") + FileCategories::displayName(category),
                   filterID(category));
    connect(filterButtons_, &QButtonGroup::idClicked, this, [this](int id) {
        setFilter(id == kAllFilter ? std::nullopt
                                   : std::optional<FileCategory>(FileCategory(id - 1)));
    });
    row->addWidget(picker, 1);
    row->addStretch(0);
    return bar;
}

void FolderContentView::updateFilterButtons() {
    if (QAbstractButton* button = filterButtons_->button(filterID(filter_)))
        button->setChecked(true);
}

void FolderContentView::setFilter(const std::optional<FileCategory>& filter) {
    updateFilterButtons();
    if (filter == filter_)
        return;
    filter_ = filter;
    updateFilterButtons();
    pagedAt_.reset();
    tableModel_->setFilter(filter_);
    Q_EMIT filterChanged();
}

// ---- selection -------------------------------------------------------------------------------

void FolderContentView::setSelection(const QSet<FileRef>& selection) {
    if (selection == selection_)
        return;
    selection_ = selection;
    applySelectionToView();
    Q_EMIT selectionChanged();
    quickLook_.follow(single(selection_), model_, openFull());
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
    quickLook_.follow(single(selection_), model_, openFull());
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

// ---- content state and status line -----------------------------------------------------------

void FolderContentView::updateState() {
    using Kind = FolderListing::Phase::Kind;
    State next = State::table;
    const bool anyLoaded = tableModel_->loadedCount() > 0;
    const Kind phase = listing_ ? listing_->phase().kind : Kind::idle;
    if (phase == Kind::idle || (phase == Kind::loading && !anyLoaded))
        next = State::spinner;
    else if (phase == Kind::failed && !anyLoaded)
        next = State::error;
    else if (phase == Kind::loaded && anyLoaded && tableModel_->rowCount() == 0)
        next = State::noMatch;
    else if (phase == Kind::loaded && !anyLoaded)
        next = State::empty;

    const State previous = state_;
    state_ = next;
    switch (next) {
    case State::spinner:
        stateView_->showSpinner();
        break;
    case State::error:
        stateView_->showError(*listing_->phase().error, [this](RecoveryAction action) {
            if (action == RecoveryAction::reconnect)
                model_.reconnect(account_.id);
            else if (listing_)
                listing_->load();
        });
        break;
    case State::noMatch: {
        const FileCategory category = *filter_;
        QList<FolderStateView::Button> buttons{{QStringLiteral("stateShowAll"),
                                                QStringLiteral("Show All"),
                                                [this] { setFilter(std::nullopt); }}};
        const bool more = listing_ && listing_->hasMore();
        if (more)
            buttons.append({QStringLiteral("stateLoadMore"), QStringLiteral("Load More"), [this] {
                                if (listing_)
                                    listing_->loadMore();
                            }});
        stateView_->showMessage(
            FileCategories::symbolName(category),
            QStringLiteral("No ") + FileCategories::displayName(category) + QStringLiteral(" Here"),
            more ? QStringLiteral("Scroll to load more, or choose All.")
                 : QStringLiteral("Choose All to see everything in this folder."),
            buttons);
        break;
    }
    case State::empty:
        if (isWritable())
            stateView_->showMessage(QStringLiteral("folder"), QStringLiteral("Folder Is Empty"),
                                    QStringLiteral("Drag files here to upload them to ") +
                                        account_.alias + QStringLiteral("."));
        else
            stateView_->showMessage(
                QStringLiteral("folder"), QStringLiteral("No Files Here"),
                QStringLiteral("This chat has no photos, videos, documents or other files."));
        break;
    case State::table:
        break;
    }
    stack_->setCurrentWidget(next == State::table ? static_cast<QWidget*>(table_) : stateView_);
    if (previous == State::table && next != State::table)
        quickLook_.close(); // the table left
    if (next == State::table && previous != State::table)
        schedulePagingCheck();
}

QString FolderContentView::countText(qsizetype count, bool hasMore) {
    if (count == 1)
        return QStringLiteral("1 item");
    return QString::number(count) + (hasMore ? QStringLiteral("+") : QString()) +
           QStringLiteral(" items");
}

QString FolderContentView::statusText() const {
    const bool hasMore = listing_ && listing_->hasMore();
    const QString count = countText(tableModel_->loadedCount(), hasMore);
    if (filter_) {
        const qsizetype shown = tableModel_->rowCount();
        return QString::number(shown) + QLatin1Char(' ') + categoryNoun(*filter_, shown) +
               QStringLiteral(" of ") + count + (hasMore ? QStringLiteral(" loaded") : QString());
    }
    if (!isWritable())
        return count + QStringLiteral(" \u2014 read-only: you can view and download");
    if (account_.provider == ProviderKind::telegram)
        return count;
    if (account_.quota && account_.quota->limitBytes) {
        const qint64 free = std::max<qint64>(0, *account_.quota->availableBytes());
        return count + QStringLiteral(", ") + Format::byteCount(free) +
               QStringLiteral(" available");
    }
    return count;
}

QWidget* FolderContentView::makeStatusBar() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setFixedHeight(22);
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::Window);
    bar->setFont(captionFont(font()));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(6);
    row->addStretch(1);

    statusSpinner_ = new BusyIndicator(10, bar);
    statusSpinner_->setObjectName(QStringLiteral("statusSpinner"));
    row->addWidget(statusSpinner_);

    statusLabel_ = new QLabel(bar);
    statusLabel_->setObjectName(QStringLiteral("statusText"));
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(statusLabel_);

    tryAgain_ = new QPushButton(QStringLiteral("Try Again"), bar);
    tryAgain_->setObjectName(QStringLiteral("statusTryAgain"));
    tryAgain_->setFlat(true);
    tryAgain_->setCursor(Qt::PointingHandCursor);
    tryAgain_->setAutoDefault(false);
    tryAgain_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0; color: palette(link); }"));
    connect(tryAgain_, &QPushButton::clicked, this, [this] {
        if (listing_)
            listing_->loadMore();
    });
    row->addWidget(tryAgain_);

    uploadSeparator_ = new QLabel(QStringLiteral("\u00b7"), bar);
    uploadSeparator_->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(uploadSeparator_);

    uploadStatus_ = new UploadStatusButton(bar);
    uploadStatus_->setFont(bar->font());
    connect(uploadStatus_, &UploadStatusButton::clicked, this,
            [this] { model_.setUploadsPopoverShown(true); });
    row->addWidget(uploadStatus_, 0);
    row->addStretch(1);
    return bar;
}

void FolderContentView::updateStatus() {
    using Kind = FolderListing::Phase::Kind;
    const bool loading =
        listing_ && (listing_->isLoadingMore() || listing_->phase().kind == Kind::loading);
    statusSpinner_->setVisible(loading);

    const std::optional<StorageError> failure = listing_ ? listing_->loadMoreError() : std::nullopt;
    // No count while the first page loads or its failure shows: nothing is counted yet.
    const bool counted = state_ != State::spinner && state_ != State::error;
    statusLabel_->setText(failure ? failure->presentation().title
                                  : counted ? statusText() : QString());
    tryAgain_->setVisible(failure.has_value());

    QList<UploadJob> incoming;
    for (const UploadJob& job : model_.uploads()->activeJobs())
        if (job.accountID == account_.id && job.parentID == folderID())
            incoming.append(job);
    uploadSeparator_->setVisible(!incoming.isEmpty());
    uploadStatus_->setVisible(!incoming.isEmpty());
    if (incoming.isEmpty())
        return;
    qint64 sent = 0;
    qint64 total = 0;
    for (const UploadJob& job : incoming) {
        sent += job.bytesSent;
        total += std::max<qint64>(job.file.sizeBytes, 1);
    }
    const QString text = incoming.size() == 1
                             ? QStringLiteral("Uploading ") + incoming.first().file.name
                             : QStringLiteral("Uploading %1 files").arg(incoming.size());
    uploadStatus_->setStatus(text, total > 0 ? double(sent) / double(total) : 0.0);
}

// ---- paging ----------------------------------------------------------------------------------

void FolderContentView::schedulePagingCheck() {
    pagingCheck_.start();
}

void FolderContentView::checkPaging() {
    // The last shown row has come into view: ask for the next page once for that row. With a
    // filter, the last matching row is the trigger, so paging goes on while matching rows
    // keep scrolling into view.
    if (!listing_ || !listing_->hasMore() || state_ != State::table || !table_->isVisible())
        return;
    const int last = tableModel_->rowCount() - 1;
    if (last < 0)
        return;
    const QRect rect = table_->visualRect(tableModel_->index(last, 0));
    if (!rect.isValid() || !rect.intersects(table_->viewport()->rect()))
        return;
    const FileRef ref = tableModel_->item(last).ref;
    if (pagedAt_ == ref)
        return;
    if (listing_->loadMore())
        pagedAt_ = ref;
}

void FolderContentView::fitColumns() {
    // "Name" takes the room the other columns leave at their preferred widths, never less
    // than its minimum. When that leaves it too little, the other columns give up room in
    // proportion to what they have above their minimums before the table scrolls sideways.
    if (fittingColumns_)
        return;
    fittingColumns_ = true;
    constexpr int name = FolderTableModel::nameColumn;
    const int available = table_->viewport()->width();
    std::array<int, 4> widths = idealWidths_;
    int others = 0;
    int slack = 0;
    for (int column = 0; column < FolderTableModel::columnCount_; ++column) {
        if (column == name)
            continue;
        widths[size_t(column)] = std::max(widths[size_t(column)], minimumWidths_[size_t(column)]);
        others += widths[size_t(column)];
        slack += widths[size_t(column)] - minimumWidths_[size_t(column)];
    }
    const int missing = minimumWidths_[name] - (available - others);
    if (missing > 0 && slack > 0) {
        const int cut = std::min(missing, slack);
        int given = 0;
        for (int column = 0; column < FolderTableModel::columnCount_; ++column) {
            if (column == name)
                continue;
            const int spare = widths[size_t(column)] - minimumWidths_[size_t(column)];
            const int share = int(qint64(cut) * spare / slack);
            widths[size_t(column)] -= share;
            given += share;
        }
        // What rounding left over comes off the last column that still has room.
        for (int column = FolderTableModel::columnCount_ - 1; column >= 0 && given < cut;
             --column) {
            if (column == name)
                continue;
            const int spare = widths[size_t(column)] - minimumWidths_[size_t(column)];
            const int share = std::min(spare, cut - given);
            widths[size_t(column)] -= share;
            given += share;
        }
        others -= given;
    }
    widths[name] = std::max(minimumWidths_[name], available - others);
    QHeaderView* header = table_->horizontalHeader();
    for (int column = 0; column < FolderTableModel::columnCount_; ++column)
        header->resizeSection(column, widths[size_t(column)]);
    fittingColumns_ = false;
}

bool FolderContentView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_->viewport() && event->type() == QEvent::Resize) {
        fitColumns();
        schedulePagingCheck();
    }
    return QWidget::eventFilter(watched, event);
}

void FolderContentView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // The table leaves the screen (another pane): the quick-look panel goes with it. A
    // minimised window (a spontaneous hide) keeps it.
    if (!event->spontaneous() && state_ == State::table)
        quickLook_.close();
}

// ---- commands --------------------------------------------------------------------------------

std::function<void(const FileItem&)> FolderContentView::openFull() {
    QPointer<FolderContentView> self(this);
    const OpenPreview open = openPreview_;
    const std::optional<QString> folder = folderID();
    const std::optional<FileCategory> filter = filter_;
    return [self, open, folder, filter](const FileItem& item) {
        if (self) {
            self->preview(item);
        } else if (open) {
            open(PreviewTarget{item.ref, folder, filter, std::nullopt});
        }
    };
}

void FolderContentView::preview(const FileItem& item) {
    if (openPreview_)
        openPreview_(PreviewTarget{item.ref, folderID(), filter_, std::nullopt});
}

void FolderContentView::primaryAction(const QSet<FileRef>& rows) {
    const std::optional<FileItem> item = single(rows);
    if (!item)
        return;
    if (item->isFolder())
        model_.open(*item);
    else
        preview(*item);
}

void FolderContentView::deleteCommand() {
    const std::optional<FileItem> item = single(selection_);
    if (item && ItemMenu::canTrash(*item, account_.provider, isWritable()))
        startTrash(*item);
}

bool FolderContentView::handleSpace() {
    const std::optional<FileItem> item = single(selection_);
    const bool visible = quickLook_.isPanelVisible();
    if (!visible && !item)
        return false;
    if (visible)
        quickLook_.close();
    else if (!item->isFolder())
        quickLook_.show(*item, model_, openFull());
    return true;
}

void FolderContentView::showContextMenu(const QPoint& position) {
    const QModelIndex index = table_->indexAt(position);
    if (index.isValid() && !table_->selectionModel()->isRowSelected(index.row(), {})) {
        // A click outside the selection acts on that row alone, and the highlight moves there.
        table_->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    const QSet<FileRef> rows = rowsFor(index.row());
    QMenu* menu = menuFor(rows, this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(table_->viewport()->mapToGlobal(position));
}

QMenu* FolderContentView::menuFor(const QSet<FileRef>& rows, QWidget* parent) {
    const std::optional<FileItem> found = single(rows);
    if (!found)
        return nullptr;
    const FileItem item = *found;
    const ProviderKind provider = account_.provider;
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("itemMenu"));
    QPointer<FolderContentView> self(this);
    for (ItemMenu::Entry entry : ItemMenu::entries(item, provider, isWritable())) {
        if (entry == ItemMenu::Entry::separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(ItemMenu::title(entry, provider));
        action->setObjectName(objectNameOf(entry));
        connect(action, &QAction::triggered, this, [self, entry, item] {
            if (!self)
                return;
            switch (entry) {
            case ItemMenu::Entry::open:
                self->model_.open(item);
                break;
            case ItemMenu::Entry::quickLook:
                if (self->quickLook_.isPanelVisible())
                    self->quickLook_.close();
                else
                    self->quickLook_.show(item, self->model_, self->openFull());
                break;
            case ItemMenu::Entry::openPreview:
                self->preview(item);
                break;
            case ItemMenu::Entry::download:
                self->model_.saveCopy(item);
                break;
            case ItemMenu::Entry::openWith:
                self->model_.openWith(item);
                break;
            case ItemMenu::Entry::openInBrowser:
                if (const std::optional<QUrl> link = ItemMenu::webLink(item))
                    QDesktopServices::openUrl(*link);
                break;
            case ItemMenu::Entry::rename:
                self->startRename(item);
                break;
            case ItemMenu::Entry::trash:
                self->startTrash(item);
                break;
            case ItemMenu::Entry::separator:
                break;
            }
        });
    }
    return menu;
}

void FolderContentView::startRename(const FileItem& item) {
    if (renaming_)
        renaming_->close();
    AppModel* model = &model_;
    const std::optional<QString> folder = folderID();
    auto* sheet = new TextPromptSheet(
        QStringLiteral("Rename"), ItemMenu::renameMessage(item), item.name,
        QStringLiteral("Rename"),
        [model, item, folder](const QString& name) { model->rename(item, name, folder); }, this);
    sheet->setObjectName(QStringLiteral("renameSheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    renaming_ = sheet;
    sheet->open();
}

void FolderContentView::startTrash(const FileItem& item) {
    if (trashing_)
        trashing_->close();
    const ItemMenu::TrashTexts texts =
        ItemMenu::trashTexts(item, account_.provider, account_.alias);
    auto* dialog = new QMessageBox(this);
    dialog->setObjectName(QStringLiteral("trashConfirmation"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setIcon(QMessageBox::Warning);
    DisplayText::setMessage(dialog, texts.title, texts.message);
    QPushButton* confirm =
        dialog->addButton(DisplayText::buttonText(texts.button), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("trashConfirm"));
    QPushButton* cancel = dialog->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("trashCancel"));
    dialog->setDefaultButton(cancel);
    dialog->setEscapeButton(cancel);
    AppModel* model = &model_;
    const std::optional<QString> folder = folderID();
    connect(confirm, &QPushButton::clicked, dialog,
            [model, item, folder] { model->trash(item, folder); });
    trashing_ = dialog;
    dialog->open();
}

void FolderContentView::upload(const QList<QUrl>& urls, const std::optional<FileItem>& onto) {
    if (account_.status != StorageAccount::Status::connected || urls.isEmpty())
        return;
    const UploadDestination current = model_.destination(account_.id, folderID());
    if (onto && onto->isFolder()) {
        if (ProviderKinds::isWritable(account_.provider, onto->ref.providerID)) {
            model_.upload(urls, UploadDestination{account_.id, onto->ref.providerID,
                                                  current.displayName + QStringLiteral(" \u203a ") +
                                                      onto->name});
        } else {
            model_.setNotice(Notice::make(
                QStringLiteral("You can't upload to \u201c") + onto->name +
                    QStringLiteral("\u201d."),
                QStringLiteral("It's a chat you don't own, so it's read-only in Kelvanor.")));
        }
        return;
    }
    if (isWritable())
        model_.upload(urls, current);
    else
        model_.setNotice(Notice::make(QStringLiteral("You can't upload here."),
                                      QStringLiteral("This chat is read-only in Kelvanor.")));
}

} // namespace tw
