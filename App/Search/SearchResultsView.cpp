#include "App/Search/SearchResultsView.h"

#include "App/Browser/ItemMenu.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "App/Preview/QuickLookKeys.h"
#include "App/Search/SearchRequest.h"
#include "App/Search/SearchResultsModel.h"
#include "StorageCore/Accounts/AccountManager.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace tw {

namespace {

QLabel* plainLabel(QWidget* parent) {
    return DisplayText::label(QString(), parent);
}

QFont scaledFont(const QFont& base, qreal factor, bool bold = false) {
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(std::max(8, int(font.pixelSize() * factor)));
    font.setBold(bold);
    return font;
}

/// A busy indicator of the given width and height.
QProgressBar* busyIndicator(QWidget* parent, int width, int height) {
    auto* busy = new QProgressBar(parent);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(width, height);
    busy->setAccessibleName(QStringLiteral("Searching"));
    return busy;
}

/// Draws icons of selected rows as they are: the style would tint them with the selection.
class UntintedIconDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        // Names are cut in the middle (the extension stays readable); aliases and dates at
        // the end.
        if (index.column() != SearchResultsModel::NameColumn)
            option->textElideMode = Qt::ElideRight;
        if (option->icon.isNull() || !(option->state & QStyle::State_Selected))
            return;
        const QPixmap pixmap = option->icon.pixmap(option->decorationSize, QIcon::Normal);
        QIcon same(pixmap);
        same.addPixmap(pixmap, QIcon::Selected);
        option->icon = same;
    }
};

} // namespace

SearchResultsView::SearchResultsView(AppModel& model, QuickLook& quickLook, OpenPreview openPreview,
                                     QWidget* parent)
    : QWidget(parent), model_(model), quickLook_(quickLook), openPreview_(std::move(openPreview)) {
    setObjectName(QStringLiteral("searchResults"));
    setWindowTitle(QStringLiteral("Search"));
    setAccessibleName(QStringLiteral("Search"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The pane's title and, beside it, the scope searched.
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("searchHeader"));
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(16, 10, 16, 8);
    headerLayout->setSpacing(8);
    auto* title = plainLabel(header);
    title->setText(QStringLiteral("Search"));
    title->setFont(scaledFont(font(), 1.15, true));
    headerLayout->addWidget(title, 0, Qt::AlignBaseline);
    subtitle_ = plainLabel(header);
    subtitle_->setObjectName(QStringLiteral("searchSubtitle"));
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    headerLayout->addWidget(subtitle_, 0, Qt::AlignBaseline);
    headerLayout->addStretch(1);
    layout->addWidget(header);

    stack_ = new QStackedWidget(this);
    nothingToSearch_ = new ContentUnavailableView(
        QStringLiteral("magnifyingglass"), QStringLiteral("Nothing to Search"),
        QStringLiteral("Connect a storage, or reconnect one that needs it, to search its files."),
        stack_);
    nothingToSearch_->setObjectName(QStringLiteral("searchNothingToSearch"));
    stack_->addWidget(nothingToSearch_);

    noMatches_ = new ContentUnavailableView(ContentUnavailableView::Shape::pane, stack_);
    noMatches_->setObjectName(QStringLiteral("searchNoMatches"));
    stack_->addWidget(noMatches_);

    searching_ = new ContentUnavailableView(ContentUnavailableView::Shape::pane, stack_);
    searching_->setObjectName(QStringLiteral("searchSearching"));
    searching_->showSpinner(QStringLiteral("Searching\u2026"));
    stack_->addWidget(searching_);

    results_ = new SearchResultsModel(model_.search(), model_.accounts(), this);
    table_ = new QTableView(stack_);
    table_->setObjectName(QStringLiteral("searchResultsTable"));
    table_->setAccessibleName(QStringLiteral("Search results"));
    table_->setModel(results_);
    table_->setItemDelegate(new UntintedIconDelegate(table_));
    table_->setFrameShape(QFrame::NoFrame);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSortingEnabled(false);
    table_->setShowGrid(false);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->setIconSize(QSize(SearchResultsModel::iconSize, SearchResultsModel::iconSize));
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView* rows = table_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(std::max(24, fontMetrics().height() + 8));
    QHeaderView* columns = table_->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setSectionsClickable(false);
    columns->setMinimumSectionSize(60);
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setSectionResizeMode(SearchResultsModel::NameColumn, QHeaderView::Stretch);
    columns->resizeSection(SearchResultsModel::AccountColumn, 170);
    // Wide enough for the longest date ("Sep 28, 2026 at 12:59 PM").
    columns->resizeSection(
        SearchResultsModel::ModifiedColumn,
        std::max(150,
                 fontMetrics().horizontalAdvance(QStringLiteral("Sep 28, 2026 at 12:59 PM")) + 16));
    // Wide enough for a size with four digits ("1023.9 MB").
    columns->resizeSection(
        SearchResultsModel::SizeColumn,
        std::max(80, fontMetrics().horizontalAdvance(QStringLiteral("1023.9 MB")) + 16));
    table_->setMinimumWidth(200 + 120 + 110 + 60);
    table_->installEventFilter(this);
    QuickLookKeys::install(table_, quickLook_, [this] { return space(); });
    stack_->addWidget(table_);
    layout->addWidget(stack_, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    layout->addWidget(divider);

    // The status bar.
    auto* statusBar = new QWidget(this);
    statusBar->setObjectName(QStringLiteral("searchStatusBar"));
    statusBar->setAutoFillBackground(true);
    statusBar->setBackgroundRole(QPalette::Window);
    statusBar->setFixedHeight(22);
    statusBar->setFont(scaledFont(font(), 0.85));
    auto* status = new QHBoxLayout(statusBar);
    status->setContentsMargins(8, 0, 8, 0);
    status->setSpacing(6);
    status->addStretch(1);
    statusProgress_ = busyIndicator(statusBar, 24, 6);
    statusProgress_->setObjectName(QStringLiteral("searchProgress"));
    status->addWidget(statusProgress_);
    statusText_ = plainLabel(statusBar);
    statusText_->setObjectName(QStringLiteral("searchStatusText"));
    statusText_->setForegroundRole(QPalette::PlaceholderText);
    status->addWidget(statusText_);
    errorDot_ = plainLabel(statusBar);
    errorDot_->setText(QStringLiteral("\u00B7"));
    errorDot_->setForegroundRole(QPalette::PlaceholderText);
    status->addWidget(errorDot_);
    error_ = new QWidget(statusBar);
    error_->setObjectName(QStringLiteral("searchError"));
    {
        auto* row = new QHBoxLayout(error_);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        auto* icon = new QLabel(error_);
        SymbolIcons::setSymbol(icon, QStringLiteral("exclamationmark.triangle.fill"), 12);
        row->addWidget(icon);
        errorText_ = plainLabel(error_);
        QPalette orange = errorText_->palette();
        orange.setColor(QPalette::WindowText, DS::failureColor());
        errorText_->setPalette(orange);
        errorText_->setForegroundRole(QPalette::WindowText);
        row->addWidget(errorText_);
    }
    status->addWidget(error_);
    reconnect_ = new QPushButton(QStringLiteral("Reconnect\u2026"), statusBar);
    reconnect_->setObjectName(QStringLiteral("searchReconnect"));
    reconnect_->setFlat(true);
    reconnect_->setCursor(Qt::PointingHandCursor);
    reconnect_->setForegroundRole(QPalette::Link);
    reconnect_->setFocusPolicy(Qt::TabFocus);
    reconnect_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0 2px; color: palette(link); }"));
    status->addWidget(reconnect_);
    status->addStretch(1);
    layout->addWidget(statusBar);

    connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QMenu* menu = contextMenu(pos)) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(table_->viewport()->mapToGlobal(pos));
        }
    });
    connect(table_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid())
            return;
        if (const auto item = single(selection()))
            preview(*item);
    });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SearchResultsView::selectionMoved);
    connect(results_, &QAbstractItemModel::modelAboutToBeReset, this,
            &SearchResultsView::saveSelection);
    connect(results_, &QAbstractItemModel::modelReset, this, &SearchResultsView::restoreSelection);
    connect(reconnect_, &QPushButton::clicked, this, [this] {
        if (failedAccount_)
            model_.reconnect(*failedAccount_);
    });

    FileSearch* search = model_.search();
    for (auto signal :
         {&FileSearch::resultsChanged, &FileSearch::phaseChanged, &FileSearch::errorsChanged,
          &FileSearch::queryChanged, &FileSearch::accountIDsChanged})
        connect(search, signal, this, &SearchResultsView::refresh);
    connect(model_.accounts(), &AccountManager::accountsChanged, this, &SearchResultsView::refresh);
    connect(&model_, &AppModel::searchScopeChanged, this, &SearchResultsView::refresh);
    connect(&model_, &AppModel::searchTextChanged, this, [this] {
        // Each search that begins starts with nothing selected.
        const bool searching = isSearching(model_);
        if (searching && !wasSearching_)
            table_->clearSelection();
        wasSearching_ = searching;
    });
    wasSearching_ = isSearching(model_);
    refresh();
}

SearchResultsView::~SearchResultsView() {
    quickLook_.close();
}

void SearchResultsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Leaving the search hides the pane; a minimised window does not.
    if (!event->spontaneous())
        quickLook_.close();
}

QString SearchResultsView::statusText(qsizetype accounts, qsizetype files,
                                      FileSearch::Phase phase) {
    const QString accountsText = accounts == 1
                                     ? QStringLiteral("1 account")
                                     : QString::number(accounts) + QStringLiteral(" accounts");
    if (phase == FileSearch::Phase::searching && files == 0)
        return QStringLiteral("Searching ") + accountsText + QStringLiteral("\u2026");
    const QString filesText =
        files == 1 ? QStringLiteral("1 file") : QString::number(files) + QStringLiteral(" files");
    return filesText + QStringLiteral(" in ") + accountsText;
}

QString SearchResultsView::statusText() const {
    return statusText_->text();
}

void SearchResultsView::refresh() {
    const FileSearch* search = model_.search();
    const QList<QUuid> accounts = searchAccountIDs(model_);
    subtitle_->setText(SearchScopes::title(model_.searchScope()));

    if (accounts.isEmpty())
        content_ = Content::nothingToSearch;
    else if (!search->results().isEmpty())
        content_ = Content::table;
    else if (search->phase() == FileSearch::Phase::done)
        content_ = Content::noMatches;
    else
        content_ = Content::searching;
    switch (content_) {
    case Content::nothingToSearch:
        stack_->setCurrentWidget(nothingToSearch_);
        break;
    case Content::table:
        stack_->setCurrentWidget(table_);
        break;
    case Content::noMatches:
        noMatches_->showMessage(
            QStringLiteral("magnifyingglass"),
            QStringLiteral("No Files Named \u201C") + search->query() + QStringLiteral("\u201D"),
            QStringLiteral("Kelvanor searches file names. Telegram searches Saved Messages and "
                           "the channels you own."));
        stack_->setCurrentWidget(noMatches_);
        break;
    case Content::searching:
        stack_->setCurrentWidget(searching_);
        break;
    }

    const bool running = search->phase() == FileSearch::Phase::searching;
    statusProgress_->setVisible(running);
    statusText_->setText(statusText(accounts.size(), search->results().size(), search->phase()));

    // One failing account is named: the first, in the order the search listed them, that is
    // still known.
    failedAccount_.reset();
    std::optional<StorageAccount> failed;
    std::optional<StorageError> failure;
    const auto& errors = search->errors();
    if (!errors.isEmpty()) {
        QList<QUuid> order = search->accountIDs();
        for (auto it = errors.constBegin(); it != errors.constEnd(); ++it) {
            if (!order.contains(it.key()))
                order.append(it.key());
        }
        for (const QUuid& id : std::as_const(order)) {
            const auto error = errors.constFind(id);
            if (error == errors.constEnd())
                continue;
            if (auto account = model_.accounts()->account(id)) {
                failed = std::move(account);
                failure = *error;
                break;
            }
        }
    }
    errorDot_->setVisible(failed.has_value());
    error_->setVisible(failed.has_value());
    if (failed) {
        failedAccount_ = failed->id;
        errorText_->setText(QStringLiteral("Couldn't search ") + failed->alias +
                            QStringLiteral(": ") + failure->presentation().title);
    }
    reconnect_->setVisible(failed && failure->code() == StorageError::Code::reauthRequired);
}

QSet<FileRef> SearchResultsView::selection() const {
    QSet<FileRef> refs;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        refs.insert(results_->item(index.row()).ref);
    return refs;
}

std::optional<FileItem> SearchResultsView::single(const QSet<FileRef>& refs) const {
    if (refs.size() != 1)
        return std::nullopt;
    const int row = results_->rowOf(*refs.constBegin());
    if (row < 0)
        return std::nullopt;
    return results_->item(row);
}

void SearchResultsView::preview(const FileItem& item) {
    PreviewTarget target;
    target.file = item.ref;
    target.searchQuery = model_.search()->query();
    if (openPreview_)
        openPreview_(target);
}

void SearchResultsView::toggleQuickLook(const FileItem& item) {
    if (quickLook_.isPanelVisible()) {
        quickLook_.close();
        return;
    }
    if (!item.isFolder())
        quickLook_.show(item, model_, [this](const FileItem& shown) { preview(shown); });
}

bool SearchResultsView::space() {
    const std::optional<FileItem> item = single(selection());
    if (!quickLook_.isPanelVisible() && !item)
        return false;
    if (quickLook_.isPanelVisible())
        quickLook_.close();
    else if (!item->isFolder())
        quickLook_.show(*item, model_, [this](const FileItem& shown) { preview(shown); });
    return true;
}

void SearchResultsView::selectionMoved() {
    quickLook_.follow(single(selection()), model_,
                      [this](const FileItem& shown) { preview(shown); });
}

QMenu* SearchResultsView::contextMenu(const QPoint& viewportPos) {
    const QModelIndex index = table_->indexAt(viewportPos);
    if (!index.isValid())
        return nullptr;
    QItemSelectionModel* selected = table_->selectionModel();
    if (!selected->isRowSelected(index.row(), {})) {
        // A click outside the selection acts on that row alone, and selects it.
        selected->setCurrentIndex(index,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // One menu at a time: the one for the row before goes.
    delete menu_;
    const std::optional<FileItem> item = single(selection());
    if (!item)
        return nullptr;
    const std::optional<StorageAccount> account = model_.accounts()->account(item->ref.accountID);
    const FileRef ref = item->ref;
    const auto run = [this, ref](ItemMenu::Entry entry) {
        // The result as it is now (none once it left the results).
        const int row = results_->rowOf(ref);
        if (row < 0)
            return;
        const FileItem shown = results_->item(row);
        switch (entry) {
        case ItemMenu::Entry::quickLook:
            toggleQuickLook(shown);
            break;
        case ItemMenu::Entry::openPreview:
            preview(shown);
            break;
        case ItemMenu::Entry::download:
            model_.saveCopy(shown);
            break;
        case ItemMenu::Entry::openWith:
            model_.openWith(shown);
            break;
        case ItemMenu::Entry::openInBrowser:
            if (const std::optional<QUrl> link = ItemMenu::webLink(shown))
                QDesktopServices::openUrl(*link);
            break;
        case ItemMenu::Entry::open:
        case ItemMenu::Entry::separator:
        case ItemMenu::Entry::rename:
        case ItemMenu::Entry::trash:
            break;
        }
    };
    menu_ = ItemMenu::build(ItemMenu::resultEntries(*item),
                            account ? account->provider : ProviderKind::googleDrive,
                            QStringLiteral("search"), run, this);
    return menu_;
}

bool SearchResultsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (modifiers == Qt::NoModifier) {
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (const auto item = single(selection()))
                    preview(*item);
                return true;
            default:
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SearchResultsView::saveSelection() {
    savedSelection_ = selection().values();
}

void SearchResultsView::restoreSelection() {
    QItemSelection rows;
    for (const FileRef& ref : std::as_const(savedSelection_)) {
        const int row = results_->rowOf(ref);
        if (row >= 0)
            rows.select(results_->index(row, 0),
                        results_->index(row, SearchResultsModel::ColumnCount - 1));
    }
    savedSelection_.clear();
    if (!rows.isEmpty())
        table_->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    selectionMoved();
}

} // namespace tw
