#include "App/Uploads/SmartUploadView.h"

#include "App/DesignSystem/ControlRowList.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/DropHighlight.h"
#include "App/DesignSystem/Format.h"
#include "App/DesignSystem/LocalFileDrop.h"
#include "App/DesignSystem/SymbolIcons.h"

#include "App/Model/AppModel.h"
#include "App/Uploads/FolderPickerSheet.h"
#include "App/Uploads/NewRuleSheet.h"
#include "App/Uploads/SmartBatchListModel.h"
#include "App/Uploads/SmartUploadRowDelegate.h"
#include "App/Uploads/UploadJobListModel.h"
#include "App/Uploads/UploadRowDelegate.h"
#include "App/Uploads/UploadRulesSection.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

namespace {

QLabel* sectionHeader(const QString& text, QWidget* parent) {
    auto* label = DisplayText::label(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

/// A rounded panel holding one section's rows, as in a grouped form.
QFrame* panel(QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setAutoFillBackground(true);
    frame->setBackgroundRole(QPalette::Base);
    return frame;
}

/// A list that shows every row at its full height inside the pane's own scrolling. Its rows
/// take the keyboard through their delegate (attach); Tab moves on to the next control.
QListView* rowList(QWidget* parent) {
    auto* list = new ControlRowList(parent);
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setUniformItemSizes(true);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setMouseTracking(true);
    return list;
}

void fitToRows(QListView* list) {
    const int rows = list->model() ? list->model()->rowCount() : 0;
    list->setFixedHeight(rows > 0 ? rows * list->sizeHintForRow(0) : 0);
}


} // namespace

QString SmartUploadView::describe(const UploadRule::Match& match) {
    if (match.kind() == UploadRule::Match::Kind::fileExtension)
        return QStringLiteral(".") + match.extension() + QStringLiteral(" files");
    switch (match.categoryValue()) {
    case FileCategory::photos:
        return QStringLiteral("Photos");
    case FileCategory::videos:
        return QStringLiteral("Videos");
    case FileCategory::audio:
        return QStringLiteral("Audio");
    case FileCategory::documents:
        return QStringLiteral("Documents");
    case FileCategory::archives:
        return QStringLiteral("Archives");
    }
    return {};
}

QString SmartUploadView::summary(int readyCount, int batchCount, qint64 readyBytes) {
    if (readyCount == batchCount)
        return QString::number(readyCount) +
               (readyCount == 1 ? QStringLiteral(" file, ") : QStringLiteral(" files, ")) +
               Format::byteCount(readyBytes);
    return QString::number(batchCount - readyCount) + QStringLiteral(" file(s) need a destination");
}

QString SmartUploadView::uploadTitle(int readyCount) {
    return QStringLiteral("Upload ") + QString::number(readyCount) +
           (readyCount == 1 ? QStringLiteral(" File") : QStringLiteral(" Files"));
}

SmartUploadView::SmartUploadView(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("smartUploadView"));
    setAcceptDrops(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(20, 14, 20, 6);
    auto* title = DisplayText::label(QStringLiteral("Smart Upload"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    title->setFont(titleFont);
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    stopAll_ = new QToolButton(this);
    stopAll_->setObjectName(QStringLiteral("smartUploadStopAll"));
    stopAll_->setText(QStringLiteral("Stop All"));
    titleRow->addWidget(stopAll_);
    outer->addLayout(titleRow);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes from control to control; the scrolling follows the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(scroll);
    auto* form = new QVBoxLayout(content);
    form->setContentsMargins(20, 6, 20, 20);
    form->setSpacing(6);

    // New Upload.
    form->addWidget(sectionHeader(QStringLiteral("New Upload"), content));
    QFrame* newUpload = panel(content);
    auto* newUploadLayout = new QVBoxLayout(newUpload);
    newUploadLayout->setContentsMargins(0, 0, 0, 0);
    newUploadLayout->setSpacing(0);

    dropZone_ = new QWidget(newUpload);
    dropZone_->setObjectName(QStringLiteral("smartUploadDropZone"));
    auto* zone = new QVBoxLayout(dropZone_);
    zone->setContentsMargins(20, 24, 20, 24);
    zone->setSpacing(10);
    auto* symbol = new QLabel(dropZone_);
    SymbolIcons::setSymbol(symbol, QStringLiteral("square.and.arrow.down.on.square"), 40);
    symbol->setAlignment(Qt::AlignCenter);
    zone->addWidget(symbol);
    auto* dropTitle = sectionHeader(QStringLiteral("Drop files here"), dropZone_);
    dropTitle->setAlignment(Qt::AlignCenter);
    zone->addWidget(dropTitle);
    auto* explain = DisplayText::label(
        QStringLiteral("Kelvanor suggests where each file should go, using your rules, where you "
                       "usually put similar files, and free space. Nothing uploads until you "
                       "confirm."),
        dropZone_);
    explain->setWordWrap(true);
    explain->setAlignment(Qt::AlignCenter);
    explain->setForegroundRole(QPalette::PlaceholderText);
    zone->addWidget(explain);
    chooseFiles_ = new QPushButton(QStringLiteral("Choose Files\u2026"), dropZone_);
    chooseFiles_->setObjectName(QStringLiteral("smartUploadChooseFiles"));
    zone->addWidget(chooseFiles_, 0, Qt::AlignCenter);
    newUploadLayout->addWidget(dropZone_);

    batchModel_ = new SmartBatchListModel(model, this);
    batchDelegate_ = new SmartUploadRowDelegate(model, this);
    batch_ = rowList(newUpload);
    batch_->setObjectName(QStringLiteral("smartUploadBatch"));
    batch_->setModel(batchModel_);
    batch_->setItemDelegate(batchDelegate_);
    batchDelegate_->attach(batch_);
    newUploadLayout->addWidget(batch_);
    form->addWidget(newUpload);

    footer_ = new QWidget(content);
    auto* footer = new QHBoxLayout(footer_);
    footer->setContentsMargins(0, 4, 0, 0);
    summary_ = DisplayText::label(QString(), footer_);
    summary_->setObjectName(QStringLiteral("smartUploadSummary"));
    summary_->setForegroundRole(QPalette::PlaceholderText);
    footer->addWidget(summary_);
    footer->addStretch(1);
    // A push button with a menu: it sizes itself for its text and arrow, like its neighbours.
    sendAll_ = new QPushButton(QStringLiteral("Send All To"), footer_);
    sendAll_->setObjectName(QStringLiteral("smartUploadSendAll"));
    sendAll_->setAutoDefault(false);
    sendAll_->setMenu(new QMenu(sendAll_));
    footer->addWidget(sendAll_);
    clearBatch_ = new QPushButton(QStringLiteral("Clear"), footer_);
    clearBatch_->setObjectName(QStringLiteral("smartUploadClearBatch"));
    clearBatch_->setAutoDefault(false);
    footer->addWidget(clearBatch_);
    upload_ = new QPushButton(footer_);
    upload_->setObjectName(QStringLiteral("smartUploadUpload"));
    footer->addWidget(upload_);
    form->addWidget(footer_);

    // Rules.
    form->addSpacing(10);
    rules_ = new UploadRulesSection(model, content);
    form->addWidget(rules_);

    // In Progress and Recent.
    AccountManager* accounts = model.accounts();
    auto lookup = [accounts](const QUuid& id) { return accounts->account(id); };
    auto* jobDelegate = new UploadRowDelegate(lookup, this);
    UploadManager* uploads = model.uploads();
    connect(jobDelegate, &UploadRowDelegate::stopRequested, uploads, &UploadManager::cancel);
    connect(jobDelegate, &UploadRowDelegate::retryRequested, uploads, &UploadManager::retry);
    connect(jobDelegate, &UploadRowDelegate::reconnectRequested, this,
            [this](const QUuid& id) { model_.reconnect(id); });

    inProgress_ = new QWidget(content);
    auto* inProgress = new QVBoxLayout(inProgress_);
    inProgress->setContentsMargins(0, 10, 0, 0);
    inProgress->addWidget(sectionHeader(QStringLiteral("In Progress"), inProgress_));
    QFrame* activePanel = panel(inProgress_);
    auto* activeLayout = new QVBoxLayout(activePanel);
    activeLayout->setContentsMargins(0, 0, 0, 0);
    activeJobs_ = new UploadJobListModel(uploads, UploadJobListModel::Filter::active, this);
    activeList_ = rowList(activePanel);
    activeList_->setObjectName(QStringLiteral("smartUploadInProgress"));
    activeList_->setModel(activeJobs_);
    activeList_->setItemDelegate(jobDelegate);
    jobDelegate->attach(activeList_, false);
    activeLayout->addWidget(activeList_);
    inProgress->addWidget(activePanel);
    form->addWidget(inProgress_);

    recent_ = new QWidget(content);
    auto* recent = new QVBoxLayout(recent_);
    recent->setContentsMargins(0, 10, 0, 0);
    auto* recentHeader = new QHBoxLayout;
    recentHeader->addWidget(sectionHeader(QStringLiteral("Recent"), recent_));
    recentHeader->addStretch(1);
    auto* clearRecent = new QPushButton(QStringLiteral("Clear"), recent_);
    clearRecent->setObjectName(QStringLiteral("smartUploadClearRecent"));
    clearRecent->setFlat(true);
    clearRecent->setAutoDefault(false);
    clearRecent->setCursor(Qt::PointingHandCursor);
    recentHeader->addWidget(clearRecent);
    recent->addLayout(recentHeader);
    QFrame* finishedPanel = panel(recent_);
    auto* finishedLayout = new QVBoxLayout(finishedPanel);
    finishedLayout->setContentsMargins(0, 0, 0, 0);
    finishedJobs_ = new UploadJobListModel(uploads, UploadJobListModel::Filter::finished, this);
    finishedList_ = rowList(finishedPanel);
    finishedList_->setObjectName(QStringLiteral("smartUploadRecent"));
    finishedList_->setModel(finishedJobs_);
    finishedList_->setItemDelegate(jobDelegate);
    jobDelegate->attach(finishedList_, false);
    finishedLayout->addWidget(finishedList_);
    recent->addWidget(finishedPanel);
    form->addWidget(recent_);
    form->addStretch(1);

    scroll->setWidget(content);
    outer->addWidget(scroll);

    highlight_ = new DropHighlight(this);
    highlight_->hide();

    connect(stopAll_, &QToolButton::clicked, uploads, qOverload<>(&UploadManager::cancelAll));
    connect(chooseFiles_, &QPushButton::clicked, this, [this] { model_.chooseFilesForSmartUpload(); });
    connect(clearBatch_, &QPushButton::clicked, this, [this] { model_.setSmartBatch({}); });
    connect(upload_, &QPushButton::clicked, this, &SmartUploadView::startUpload);
    connect(clearRecent, &QPushButton::clicked, uploads, &UploadManager::clearFinished);
    connect(batchDelegate_, &SmartUploadRowDelegate::destinationMenuRequested, this,
            &SmartUploadView::showDestinationMenu);
    connect(batchDelegate_, &SmartUploadRowDelegate::removeRequested, this,
            [this](const QUuid& id) { model_.removeFromSmartUpload(id); });
    connect(rules_, &UploadRulesSection::addRuleRequested, this, &SmartUploadView::addRule);

    connect(&model, &AppModel::smartBatchChanged, this, &SmartUploadView::refresh);
    connect(accounts, &AccountManager::accountsChanged, this, &SmartUploadView::refresh);
    connect(uploads, &UploadManager::jobsChanged, this, &SmartUploadView::refreshJobs);
    refresh();
    refreshJobs();
}

void SmartUploadView::refresh() {
    const QList<SmartUploadItem>& items = model_.smartBatch();
    const QList<StorageAccount>& accounts = model_.accounts()->accounts();
    int ready = 0;
    qint64 readyBytes = 0;
    for (const SmartUploadItem& item : items) {
        if (item.target) {
            ++ready;
            readyBytes = saturatingAdd(readyBytes, item.file.sizeBytes);
        }
    }
    const bool empty = items.isEmpty();
    dropZone_->setVisible(empty);
    chooseFiles_->setEnabled(!accounts.isEmpty());
    batch_->setVisible(!empty);
    footer_->setVisible(!empty);
    fitToRows(batch_);
    summary_->setText(empty ? QString() : summary(ready, int(items.size()), readyBytes));
    upload_->setText(uploadTitle(ready));
    upload_->setEnabled(ready > 0);
    upload_->setDefault(ready > 0);

    QMenu* menu = sendAll_->menu();
    menu->clear();
    for (const StorageAccount& account : accounts) {
        if (account.status != StorageAccount::Status::connected)
            continue;
        QAction* action = menu->addAction(DisplayText::buttonText(account.alias));
        const QUuid id = account.id;
        connect(action, &QAction::triggered, this,
                [this, id] { model_.setTargetForAll(UploadTarget{id, std::nullopt, {}}); });
    }
}

void SmartUploadView::refreshJobs() {
    stopAll_->setVisible(model_.uploads()->hasActiveUploads());
    inProgress_->setVisible(activeJobs_->rowCount() > 0);
    recent_->setVisible(finishedJobs_->rowCount() > 0);
    fitToRows(activeList_);
    fitToRows(finishedList_);
}

void SmartUploadView::keyPressEvent(QKeyEvent* event) {
    // The upload button is the pane's default button: Return or Enter that no child took (a
    // list, a button that is not a default one) uploads the ready files while it can, as in a
    // dialog. Children that use Return themselves (menus, fields) keep it.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        startUpload();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SmartUploadView::startUpload() {
    if (upload_->isEnabled() && !model_.smartBatch().isEmpty())
        model_.startSmartUpload();
}

void SmartUploadView::showDestinationMenu(const QUuid& itemID, const QPoint& globalPosition) {
    const QList<SmartUploadItem>& items = model_.smartBatch();
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const SmartUploadItem& item) { return item.id == itemID; });
    if (it == items.end())
        return;
    QMenu* menu = batchDelegate_->destinationMenu(
        *it, [this](const FolderPickRequest& request) { pickFolder(request); }, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPosition);
}

void SmartUploadView::pickFolder(const FolderPickRequest& request) {
    if (picker_)
        picker_->close();
    picker_ = new FolderPickerSheet(model_, request, this);
    picker_->setAttribute(Qt::WA_DeleteOnClose);
    picker_->open();
}

void SmartUploadView::addRule() {
    if (newRule_)
        return;
    newRule_ = new NewRuleSheet(model_, this);
    newRule_->setAttribute(Qt::WA_DeleteOnClose);
    newRule_->open();
}

void SmartUploadView::dragEnterEvent(QDragEnterEvent* event) {
    if (LocalFileDrop::accept(event).isEmpty())
        return;
    highlight_->setGeometry(rect());
    highlight_->show();
    highlight_->raise();
}

void SmartUploadView::dragLeaveEvent(QDragLeaveEvent* event) {
    QWidget::dragLeaveEvent(event);
    highlight_->hide();
}

void SmartUploadView::dropEvent(QDropEvent* event) {
    highlight_->hide();
    const QList<QUrl> urls =
        LocalFileDrop::accept(event, !model_.accounts()->accounts().isEmpty());
    if (!urls.isEmpty())
        model_.addToSmartUpload(urls);
}

void SmartUploadView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    highlight_->setGeometry(rect());
}

} // namespace tw
