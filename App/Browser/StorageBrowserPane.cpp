#include "App/Browser/StorageBrowserPane.h"

#include "App/Browser/FolderContentView.h"
#include "App/Browser/FolderTableView.h"
#include "App/Browser/TextPromptSheet.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/DropHighlight.h"
#include "App/DesignSystem/LocalFileDrop.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Files/FolderListing.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

namespace {

bool needsSignIn(const std::optional<StorageAccount>& account) {
    return account && account->status == StorageAccount::Status::reauthRequired;
}

} // namespace

StorageBrowserPane::StorageBrowserPane(AppModel& model, const QUuid& accountID,
                                       QuickLook& quickLook, OpenPreview openPreview,
                                       QWidget* parent)
    : QWidget(parent), model_(model), accountID_(accountID), quickLook_(quickLook),
      openPreview_(std::move(openPreview)) {
    setObjectName(QStringLiteral("storageBrowser"));
    setAcceptDrops(true);
    account_ = model_.accounts()->account(accountID_);

    // ---- toolbar ------------------------------------------------------------------------------
    auto* toolbar = new QToolBar(this);
    toolbar->setObjectName(QStringLiteral("browserToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(18, 18));
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    back_ = new QAction(SymbolIcons::icon(QStringLiteral("chevron.left")), QStringLiteral("Back"),
                        this);
    back_->setObjectName(QStringLiteral("browserBack"));
    back_->setToolTip(QStringLiteral("Enclosing folder"));
    connect(back_, &QAction::triggered, this, [this] { model_.goUp(accountID_); });
    toolbar->addAction(back_);
    if (QWidget* button = toolbar->widgetForAction(back_)) {
        button->setObjectName(QStringLiteral("browserBackButton"));
        button->setAccessibleName(QStringLiteral("Back"));
    }

    pathButton_ = new QToolButton(toolbar);
    pathButton_->setObjectName(QStringLiteral("browserPathMenu"));
    pathButton_->setIcon(SymbolIcons::icon(QStringLiteral("folder")));
    pathButton_->setText(QStringLiteral("Path"));
    pathButton_->setAccessibleName(QStringLiteral("Path"));
    pathButton_->setToolTip(QStringLiteral("Enclosing folders"));
    pathButton_->setPopupMode(QToolButton::InstantPopup);
    pathButton_->setAutoRaise(true);
    pathMenu_ = new QMenu(pathButton_);
    pathMenu_->setObjectName(QStringLiteral("browserPathItems"));
    connect(pathMenu_, &QMenu::aboutToShow, this, &StorageBrowserPane::fillPathMenu);
    pathButton_->setMenu(pathMenu_);
    toolbar->addWidget(pathButton_);

    auto* heading = new QWidget(toolbar);
    auto* headingLayout = new QVBoxLayout(heading);
    headingLayout->setContentsMargins(8, 0, 8, 0);
    headingLayout->setSpacing(0);
    title_ = new QLabel(heading);
    title_->setObjectName(QStringLiteral("browserTitle"));
    title_->setTextFormat(Qt::PlainText);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    subtitle_ = new QLabel(heading);
    subtitle_->setObjectName(QStringLiteral("browserSubtitle"));
    subtitle_->setTextFormat(Qt::PlainText);
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    QFont caption = subtitle_->font();
    caption.setPointSizeF(std::max(7.0, caption.pointSizeF() * 0.85));
    subtitle_->setFont(caption);
    for (QLabel* label : {title_, subtitle_})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    headingLayout->addWidget(title_);
    headingLayout->addWidget(subtitle_);
    heading->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(heading);

    newFolder_ = new QAction(SymbolIcons::icon(QStringLiteral("folder.badge.plus")),
                             QStringLiteral("New Folder"), this);
    newFolder_->setObjectName(QStringLiteral("browserNewFolder"));
    newFolder_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    // Anywhere in the window while an account's folder is shown (the sidebar, the search field).
    newFolder_->setShortcutContext(Qt::WindowShortcut);
    connect(newFolder_, &QAction::triggered, this, &StorageBrowserPane::createFolder);
    addAction(newFolder_);
    toolbar->addAction(newFolder_);

    upload_ = new QAction(SymbolIcons::icon(QStringLiteral("icloud.and.arrow.up")),
                          QStringLiteral("Upload"), this);
    upload_->setObjectName(QStringLiteral("browserUpload"));
    connect(upload_, &QAction::triggered, this,
            [this] { model_.chooseFilesToUpload(destination()); });
    toolbar->addAction(upload_);
    for (QAction* action : {newFolder_, upload_})
        if (QWidget* button = toolbar->widgetForAction(action)) {
            button->setObjectName(action->objectName() + QStringLiteral("Button"));
            button->setAccessibleName(action->text());
        }

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(line);
    contentLayout_ = new QVBoxLayout;
    contentLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(contentLayout_, 1);

    highlight_ = new DropHighlight(this);
    highlight_->setObjectName(QStringLiteral("browserDropHighlight"));
    highlight_->hide();

    connect(model_.accounts(), &AccountManager::accountsChanged, this,
            &StorageBrowserPane::refreshAccount);
    connect(&model_, &AppModel::pathsChanged, this, &StorageBrowserPane::pathsChanged);

    shownFolderID_ = currentFolderID();
    rebuildContent();
    updateToolbar();
    updateTitle();
}

StorageBrowserPane::~StorageBrowserPane() = default;

// ---- derived values -------------------------------------------------------------------------

QList<FolderCrumb> StorageBrowserPane::path() const {
    return model_.paths().value(accountID_);
}

std::optional<QString> StorageBrowserPane::currentFolderID() const {
    const QList<FolderCrumb> crumbs = path();
    if (crumbs.isEmpty())
        return std::nullopt;
    return crumbs.last().id;
}

bool StorageBrowserPane::isWritable() const {
    return account_ && ProviderKinds::isWritable(account_->provider, currentFolderID());
}

UploadDestination StorageBrowserPane::destination() const {
    return model_.destination(accountID_, currentFolderID());
}

QString StorageBrowserPane::title() const {
    const QList<FolderCrumb> crumbs = path();
    if (!crumbs.isEmpty())
        return crumbs.last().name;
    return account_ ? account_->alias : QString();
}

QString StorageBrowserPane::subtitle() const {
    if (path().isEmpty())
        return account_ ? account_->email : QString();
    return destination().displayName;
}

// ---- following the model --------------------------------------------------------------------

void StorageBrowserPane::refreshAccount() {
    const std::optional<StorageAccount> now = model_.accounts()->account(accountID_);
    if (now == account_)
        return;
    account_ = now;
    if (needsSignIn(account_) != shownNeedsSignIn_ || !account_)
        rebuildContent();
    else if (content_ && account_)
        content_->setAccount(*account_);
    updateToolbar();
    updateTitle();
}

void StorageBrowserPane::pathsChanged() {
    const std::optional<QString> folder = currentFolderID();
    if (folder != shownFolderID_) {
        // Another folder: a fresh table with an empty selection and all files shown.
        shownFolderID_ = folder;
        rebuildContent();
    }
    updateToolbar();
    updateTitle();
}

void StorageBrowserPane::rebuildContent() {
    // The focus follows the user into the folder just opened.
    const QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = contentWidget_ && focus && contentWidget_->isAncestorOf(focus);
    if (contentWidget_) {
        // Never deleted at once: the request to leave may come from inside the old table
        // (a double-click on a folder).
        contentWidget_->hide();
        contentLayout_->removeWidget(contentWidget_);
        contentWidget_->deleteLater();
    }
    content_ = nullptr;
    tableDropHover_ = false;
    shownNeedsSignIn_ = needsSignIn(account_);
    contentBuilt_ = true;

    if (!account_) {
        contentWidget_ = new QWidget(this);
    } else if (shownNeedsSignIn_) {
        auto* error = new ContentUnavailableView(ContentUnavailableView::Shape::pane, this);
        error->setObjectName(QStringLiteral("browserSignInError"));
        error->showError(StorageError(StorageError::Code::reauthRequired));
        connect(error, &ContentUnavailableView::recover, this,
                [this] { model_.reconnect(accountID_); });
        contentWidget_ = error;
    } else {
        FolderListing* listing = model_.listing(accountID_, shownFolderID_);
        auto* content =
            new FolderContentView(model_, *account_, listing, quickLook_, openPreview_, this);
        content->setObjectName(QStringLiteral("folderContent-") +
                               shownFolderID_.value_or(QStringLiteral("root")));
        connect(content, &FolderContentView::tableDropHover, this, [this](bool hover) {
            tableDropHover_ = hover;
            updateHighlight();
        });
        // The model dropped the listing (the account signed in again): show its new one.
        connect(content, &FolderContentView::listingGone, this, &StorageBrowserPane::rebuildContent,
                Qt::QueuedConnection);
        content_ = content;
        contentWidget_ = content;
    }
    contentLayout_->addWidget(contentWidget_);
    contentWidget_->show();
    if (hadFocus) {
        QWidget* target = content_ ? content_->table() : contentWidget_.data();
        target->setFocus(Qt::OtherFocusReason);
    }
    updateHighlight();
}

void StorageBrowserPane::updateToolbar() {
    const bool signedIn = account_ && !needsSignIn(account_);
    const bool atRoot = path().isEmpty();
    const bool writable = isWritable();
    const bool nested = account_ && account_->provider == ProviderKind::telegram && !atRoot;

    back_->setEnabled(signedIn && !atRoot);
    pathButton_->setEnabled(signedIn && !atRoot);

    newFolder_->setEnabled(signedIn && writable && !nested);
    const QString shortcut = newFolder_->shortcut().toString(QKeySequence::NativeText);
    if (!account_ || needsSignIn(account_))
        newFolder_->setToolTip(QStringLiteral("Reconnect this account to create folders"));
    else if (!writable)
        newFolder_->setToolTip(QStringLiteral("This chat is read-only in Kelvanor"));
    else if (nested)
        newFolder_->setToolTip(ProviderKinds::displayName(ProviderKind::telegram) +
                               QStringLiteral(" folders can't contain other folders"));
    else
        newFolder_->setToolTip(QStringLiteral("New folder (") + shortcut + QStringLiteral(")"));

    upload_->setEnabled(signedIn && writable);
    if (!account_ || needsSignIn(account_))
        upload_->setToolTip(QStringLiteral("Reconnect this account to upload"));
    else if (writable)
        upload_->setToolTip(
            DisplayText::toolTip(QStringLiteral("Upload to ") + destination().displayName));
    else
        upload_->setToolTip(QStringLiteral("This chat is read-only in Kelvanor"));
}

void StorageBrowserPane::updateTitle() {
    const QString newTitle = title();
    const QString newSubtitle = subtitle();
    if (newTitle == title_->text() && newSubtitle == subtitle_->text())
        return;
    title_->setText(newTitle);
    subtitle_->setText(newSubtitle);
    title_->setToolTip(DisplayText::toolTip(newTitle));
    subtitle_->setToolTip(DisplayText::toolTip(newSubtitle));
    Q_EMIT titleChanged();
}

void StorageBrowserPane::fillPathMenu() {
    pathMenu_->clear();
    if (!account_)
        return;
    const QList<FolderCrumb> crumbs = path();
    QAction* root = pathMenu_->addAction(DisplayText::buttonText(account_->alias));
    root->setObjectName(QStringLiteral("pathDepth0"));
    connect(root, &QAction::triggered, this, [this] { model_.navigate(accountID_, 0); });
    for (int i = 0; i + 1 < crumbs.size(); ++i) {
        QAction* folder = pathMenu_->addAction(SymbolIcons::icon(QStringLiteral("folder")),
                                               DisplayText::buttonText(crumbs[i].name));
        folder->setObjectName(QStringLiteral("pathDepth%1").arg(i + 1));
        connect(folder, &QAction::triggered, this,
                [this, i] { model_.navigate(accountID_, i + 1); });
    }
}

void StorageBrowserPane::createFolder() {
    if (!newFolder_->isEnabled() || creatingFolder_)
        return;
    auto* sheet = new TextPromptSheet(
        QStringLiteral("New Folder"),
        QStringLiteral("Create a folder in ") + destination().displayName + QStringLiteral("."),
        QStringLiteral("untitled folder"), QStringLiteral("Create"),
        // The destination is taken when the name is confirmed (the sheet is the pane's child,
        // so the pane is still there).
        [this](const QString& name) { model_.createFolder(name, destination()); }, this);
    sheet->setObjectName(QStringLiteral("newFolderSheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    creatingFolder_ = sheet;
    sheet->open();
}

// ---- drops ----------------------------------------------------------------------------------

bool StorageBrowserPane::acceptsDrops() const {
    return account_ && account_->status == StorageAccount::Status::connected && isWritable();
}

void StorageBrowserPane::dragEnterEvent(QDragEnterEvent* event) {
    if (LocalFileDrop::accept(event, acceptsDrops()).isEmpty())
        return;
    paneDropHover_ = true;
    updateHighlight();
}

void StorageBrowserPane::dragMoveEvent(QDragMoveEvent* event) {
    LocalFileDrop::accept(event, acceptsDrops());
}

void StorageBrowserPane::dragLeaveEvent(QDragLeaveEvent* event) {
    event->accept();
    paneDropHover_ = false;
    updateHighlight();
}

void StorageBrowserPane::dropEvent(QDropEvent* event) {
    paneDropHover_ = false;
    updateHighlight();
    const QList<QUrl> files = LocalFileDrop::accept(event, acceptsDrops());
    if (!files.isEmpty())
        model_.upload(files, destination());
}

void StorageBrowserPane::updateHighlight() {
    const bool show = isDropTargeted() && isWritable();
    highlight_->setGeometry(rect());
    highlight_->setVisible(show);
    if (show)
        highlight_->raise();
}

void StorageBrowserPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    highlight_->setGeometry(rect());
}

} // namespace tw
