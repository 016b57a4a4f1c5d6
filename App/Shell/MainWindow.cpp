#include "App/Shell/MainWindow.h"

#include "App/Browser/StorageBrowserPane.h"
#include "App/DesignSystem/WindowPlacement.h"
#include "App/Home/HomeView.h"
#include "App/Model/AppModel.h"
#include "App/Onboarding/OnboardingView.h"
#include "App/Preview/QuickLook.h"
#include "App/Search/SearchField.h"
#include "App/Search/SearchRequest.h"
#include "App/Search/SearchResultsView.h"
#include "App/Shell/WindowPresenter.h"
#include "App/Sidebar/Sidebar.h"
#include "App/Uploads/SmartUploadView.h"
#include "App/Uploads/UploadToastView.h"
#include "App/Uploads/UploadsPopover.h"
#include "App/Uploads/UploadsToolbarButton.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QAction>
#include <QLineEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>

namespace tw {

MainWindow::MainWindow(AppModel& model, QuickLook& quickLook, OpenPreview openPreview,
                       QWidget* parent, Build build)
    : QMainWindow(parent), model_(model), quickLook_(quickLook),
      openPreview_(std::move(openPreview)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Kelvanor"));
    setMinimumSize(820, 520);
    // Whole on its screen, centred: a small or scaled screen gets a smaller window.
    WindowPlacement::place(this, QSize(1100, 700), nullptr);

    // Screens are built when first shown (the onboarding screen, the split view with Home, the
    // smart upload pane and the search results): a start builds only what it shows.
    root_ = new QStackedWidget(this);
    setCentralWidget(root_);

    setContextMenuPolicy(Qt::NoContextMenu);

    presenter_ = new WindowPresenter(model_, this, this);

    if (build == Build::atOnce)
        buildContent();
}

void MainWindow::buildContent() {
    if (contentBuilt_)
        return;
    contentBuilt_ = true;
    toolBar_ = addToolBar(QStringLiteral("Toolbar"));
    toolBar_->setObjectName(QStringLiteral("mainToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->toggleViewAction()->setEnabled(false);
    toolBar_->setVisible(model_.hasCompletedOnboarding());
    auto* spacer = new QWidget(toolBar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar_->addWidget(spacer);
    searchField_ = new SearchField(model_, toolBar_);
    searchField_->setMaximumWidth(460);
    toolBar_->addWidget(searchField_);
    // The desktop's Find keys go to the search field, wherever the focus is in the window.
    auto* find = new QAction(QStringLiteral("Search"), this);
    find->setObjectName(QStringLiteral("focusSearch"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, [this] {
        searchField_->lineEdit()->setFocus(Qt::ShortcutFocusReason);
        searchField_->lineEdit()->selectAll();
    });
    addAction(find);
    uploadsButton_ = new UploadsToolbarButton(model_, toolBar_);
    uploadsAction_ = toolBar_->addWidget(uploadsButton_);

    // Over the split view, but not its child: a splitter takes every child widget for a pane of
    // its own, and the toast would push the content aside.
    toast_ = new UploadToastView(this);
    toast_->setAttribute(Qt::WA_TransparentForMouseEvents);
    toast_->hide();

    connect(&model_, &AppModel::stateChanged, this, [this] {
        applyRoot();
        applyDetail();
        applyToast();
    });
    connect(model_.accounts(), &AccountManager::accountsChanged, this, &MainWindow::applyDetail);
    connect(model_.uploads(), &UploadManager::jobsChanged, this, &MainWindow::applyToolbar);
    applyRoot();
    applyDetail();
    applyToolbar();
    applyToast();
    Q_EMIT contentBuilt();
}

MainWindow::~MainWindow() {
    // Sheets and alerts go before the views they belong to.
    delete presenter_;
    presenter_ = nullptr;
}

MainWindow::Detail MainWindow::detailFor(const AppModel& model) {
    if (tw::isSearching(model))
        return Detail::search;
    const std::optional<SidebarItem>& selection = model.selection();
    if (!selection)
        return Detail::home;
    switch (selection->kind) {
    case SidebarItem::Kind::storage:
        return model.accounts()->account(selection->accountID) ? Detail::storage : Detail::home;
    case SidebarItem::Kind::uploads:
        return Detail::smartUpload;
    case SidebarItem::Kind::home:
        return Detail::home;
    }
    return Detail::home;
}

QWidget* MainWindow::detailWidget() const {
    return details_ ? details_->currentWidget() : nullptr;
}

bool MainWindow::isShowingOnboarding() const {
    return onboarding_ && root_->currentWidget() == onboarding_;
}

void MainWindow::buildSplitView() {
    split_ = new QSplitter(Qt::Horizontal, root_);
    split_->setObjectName(QStringLiteral("mainSplit"));
    split_->setChildrenCollapsible(false);
    sidebar_ = new Sidebar(model_, split_);
    connect(sidebar_, &Sidebar::manageAccountsRequested, this,
            &MainWindow::manageAccountsRequested);
    sidebar_->setMinimumWidth(190);
    sidebar_->setMaximumWidth(300);
    split_->addWidget(sidebar_);
    details_ = new QStackedWidget(split_);
    details_->setObjectName(QStringLiteral("detail"));
    split_->addWidget(details_);
    split_->setStretchFactor(0, 0);
    split_->setStretchFactor(1, 1);
    split_->setSizes({220, 880});
    home_ = new HomeView(model_, details_);
    details_->addWidget(home_);
    root_->addWidget(split_);
}

void MainWindow::applyRoot() {
    const bool main = model_.hasCompletedOnboarding();
    if (!main && !onboarding_) {
        onboarding_ = new OnboardingView(model_, root_);
        root_->addWidget(onboarding_);
    }
    if (main && !split_) {
        buildSplitView();
        applyDetail();
    }
    root_->setCurrentWidget(main ? static_cast<QWidget*>(split_) : onboarding_);
    toolBar_->setVisible(main);
    presenter_->setMainShown(main);
    if (main && isVisible() && !quotasRefreshed_) {
        quotasRefreshed_ = true;
        model_.accounts()->refreshAllQuotas();
    }
}

QWidget* MainWindow::makeStorageView(const QUuid& accountID) {
    return new StorageBrowserPane(model_, accountID, quickLook_, openPreview_, details_);
}

void MainWindow::applyDetail() {
    detail_ = detailFor(model_);
    if (!split_)
        return;
    QWidget* shown = home_;
    switch (detail_) {
    case Detail::search:
        if (!search_) {
            search_ = new SearchResultsView(model_, quickLook_, openPreview_, details_);
            details_->addWidget(search_);
        }
        shown = search_;
        break;
    case Detail::smartUpload:
        if (!smartUpload_) {
            smartUpload_ = new SmartUploadView(model_, details_);
            details_->addWidget(smartUpload_);
        }
        shown = smartUpload_;
        break;
    case Detail::home:
        shown = home_;
        break;
    case Detail::storage: {
        // Each account gets a fresh browser, so its selection, filter and drop state start
        // anew.
        const QUuid id = model_.selection()->accountID;
        if (!storage_ || storageAccount_ != id) {
            if (storage_)
                storage_->deleteLater();
            storage_ = makeStorageView(id);
            storageAccount_ = id;
            details_->addWidget(storage_);
        }
        shown = storage_;
        break;
    }
    }
    details_->setCurrentWidget(shown);
    if (detail_ != Detail::storage && storage_ && !model_.accounts()->account(storageAccount_)) {
        storage_->deleteLater();
        storage_ = nullptr;
        storageAccount_ = QUuid();
    }
}

void MainWindow::applyToolbar() {
    // Present while the upload list holds any job, finished ones included.
    uploadsAction_->setVisible(!model_.uploads()->jobs().isEmpty());
}

void MainWindow::placeToast() {
    const QSize size = toast_->sizeHint();
    toast_->resize(size);
    const QWidget* content = root_->currentWidget() ? root_->currentWidget() : root_;
    toast_->move(content->mapTo(this, QPoint((content->width() - size.width()) / 2, 10)));
}

void MainWindow::applyToast() {
    const std::optional<UploadToast>& toast = model_.uploadToast();
    if (!toast) {
        toast_->dismiss();
        return;
    }
    toast_->setMessage(toast->message());
    placeToast();
    toast_->present();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (toast_ && toast_->isVisible())
        placeToast();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (contentBuilt_)
        applyRoot();
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    // The first frame is being drawn; it reaches the screen when this paint is flushed, before
    // the event loop takes the next event: the content is built then, and shown by the next.
    if (!contentBuilt_ && !contentScheduled_) {
        contentScheduled_ = true;
        QTimer::singleShot(0, this, &MainWindow::buildContent);
    }
}

} // namespace tw
