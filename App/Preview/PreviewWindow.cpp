#include "App/Preview/PreviewWindow.h"

#include "App/Browser/ItemMenu.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/WindowPlacement.h"

#include "App/Model/AppModel.h"
#include "App/Modules/ViewerModules.h"
#include "App/Preview/ImageController.h"
#include "App/Preview/PDFControls.h"
#include "App/Preview/PreviewContentView.h"
#include "App/Preview/PreviewShare.h"
#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Files/FileSearch.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

namespace {

QAction* toolAction(QToolBar* bar, const QString& symbol, const QString& label, const QString& name,
                    const QString& help = {}) {
    QAction* action = bar->addAction(SymbolIcons::icon(symbol), label);
    action->setObjectName(name);
    action->setToolTip(help.isEmpty() ? label : help);
    if (QWidget* button = bar->widgetForAction(action)) {
        button->setObjectName(name + QStringLiteral("Button"));
        button->setAccessibleName(label);
    }
    return action;
}

QWidget* spacer(QWidget* parent) {
    auto* space = new QWidget(parent);
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return space;
}

/// A text being edited has the keyboard: a field or an editable text view.
bool isEditingText(QWidget* focus) {
    if (!focus)
        return false;
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        return !line->isReadOnly();
    if (auto* text = qobject_cast<QTextEdit*>(focus))
        return !text->isReadOnly();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus))
        return !plain->isReadOnly();
    return qobject_cast<QAbstractSpinBox*>(focus) != nullptr;
}

/// The palette of the black background behind images and video.
QPalette darkPalette(QPalette palette) {
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, QColor(0xF2, 0xF2, 0xF2));
    palette.setColor(QPalette::Text, QColor(0xF2, 0xF2, 0xF2));
    palette.setColor(QPalette::PlaceholderText, QColor(0xA0, 0xA0, 0xA5));
    palette.setColor(QPalette::Base, QColor(0x1C, 0x1C, 0x1E));
    palette.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3C));
    palette.setColor(QPalette::ButtonText, QColor(0xF2, 0xF2, 0xF2));
    return palette;
}

} // namespace

PreviewWindow::PreviewWindow(AppModel& model, const PreviewTarget& target, QWidget* parent)
    : QMainWindow(parent), model_(model), target_(target),
      pdf_(ViewerModules::createPDFControls(this)), image_(new ImageController(this)),
      central_(new QWidget(this)), centralLayout_(new QVBoxLayout(central_)) {
    setObjectName(QStringLiteral("previewWindow"));
    setWindowTitle(QStringLiteral("Preview"));
    centralLayout_->setContentsMargins(0, 0, 0, 0);
    central_->setMinimumSize(minimumContentSize);
    central_->setAutoFillBackground(true);
    setCentralWidget(central_);
    buildToolbar();
    resize(defaultSize);
    // A search window steps through the results as they are now, whatever is searched later.
    if (target_.isSearch())
        searchResults_ = model_.search()->results();
    connect(&model_, &AppModel::stateChanged, this, &PreviewWindow::scheduleRefresh);
    connect(model_.accounts(), &AccountManager::accountsChanged, this,
            &PreviewWindow::scheduleRefresh);
    connect(pdf_, &PDFControls::changed, this, &PreviewWindow::scheduleRefresh);
    connect(image_, &ImageController::viewChanged, this, &PreviewWindow::scheduleRefresh);
    qApp->installEventFilter(this);
    refresh();
}

PreviewWindow::~PreviewWindow() {
    qApp->removeEventFilter(this);
}

void PreviewWindow::buildToolbar() {
    toolbar_ = addToolBar(QStringLiteral("Preview"));
    toolbar_->setObjectName(QStringLiteral("previewToolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar_->setIconSize(QSize(18, 18));
    setContextMenuPolicy(Qt::NoContextMenu);

    const QString stepHelp = QStringLiteral("Previous or next file (\u2190 \u2192)");
    previous_ = toolAction(toolbar_, QStringLiteral("chevron.left"), QStringLiteral("Previous"),
                           QStringLiteral("previewPrevious"), stepHelp);
    connect(previous_, &QAction::triggered, this, [this] { step(-1); });
    next_ = toolAction(toolbar_, QStringLiteral("chevron.right"), QStringLiteral("Next"),
                       QStringLiteral("previewNext"), stepHelp);
    connect(next_, &QAction::triggered, this, [this] { step(+1); });

    auto* titles = new QWidget(toolbar_);
    auto* titleBox = new QVBoxLayout(titles);
    titleBox->setContentsMargins(8, 0, 8, 0);
    titleBox->setSpacing(0);
    // Both lines are shortened at their end when the toolbar is narrow; the whole text is
    // their tool tip.
    title_ = new ElidedLabel(QString(), Qt::ElideRight, titles);
    title_->setObjectName(QStringLiteral("previewTitle"));
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    subtitle_ = new ElidedLabel(QString(), Qt::ElideRight, titles);
    subtitle_->setObjectName(QStringLiteral("previewSubtitle"));
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    QFont small = subtitle_->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    subtitle_->setFont(small);
    titleBox->addWidget(title_);
    titleBox->addWidget(subtitle_);
    // The titles take the room the toolbar has and give way (cut at their end) when it has none.
    titles->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    toolbar_->addWidget(titles);
    toolbar_->addWidget(spacer(toolbar_));

    // PDF: pages, zoom, rotation.
    pdfPageActions_.append(toolAction(toolbar_, QStringLiteral("chevron.up"),
                                      QStringLiteral("Previous Page"),
                                      QStringLiteral("pdfPreviousPage")));
    connect(pdfPageActions_.last(), &QAction::triggered, pdf_, &PDFControls::previousPage);
    pdfPageActions_.append(toolAction(toolbar_, QStringLiteral("chevron.down"),
                                      QStringLiteral("Next Page"), QStringLiteral("pdfNextPage")));
    connect(pdfPageActions_.last(), &QAction::triggered, pdf_, &PDFControls::nextPage);
    pageText_ = new QLabel(toolbar_);
    pageText_->setObjectName(QStringLiteral("pdfPageText"));
    pageText_->setTextFormat(Qt::PlainText);
    pageText_->setForegroundRole(QPalette::PlaceholderText);
    pageText_->setContentsMargins(4, 0, 8, 0);
    pageText_->setFont(QFont(QStringLiteral("monospace"), pageText_->font().pointSize()));
    pdfPageActions_.append(toolbar_->addWidget(pageText_));
    pdfPageActions_.append(toolbar_->addSeparator());
    pdfActions_.append(toolAction(toolbar_, QStringLiteral("minus.magnifyingglass"),
                                  QStringLiteral("Zoom Out"), QStringLiteral("pdfZoomOut")));
    connect(pdfActions_.last(), &QAction::triggered, pdf_, &PDFControls::zoomOut);
    pdfActions_.append(toolAction(toolbar_,
                                  QStringLiteral("arrow.up.left.and.down.right.magnifyingglass"),
                                  QStringLiteral("Fit"), QStringLiteral("pdfFit")));
    connect(pdfActions_.last(), &QAction::triggered, pdf_, &PDFControls::zoomToFit);
    pdfActions_.append(toolAction(toolbar_, QStringLiteral("plus.magnifyingglass"),
                                  QStringLiteral("Zoom In"), QStringLiteral("pdfZoomIn")));
    connect(pdfActions_.last(), &QAction::triggered, pdf_, &PDFControls::zoomIn);
    pdfActions_.append(toolbar_->addSeparator());
    pdfActions_.append(toolAction(toolbar_, QStringLiteral("rotate.right"),
                                  QStringLiteral("Rotate"), QStringLiteral("pdfRotate")));
    connect(pdfActions_.last(), &QAction::triggered, pdf_, &PDFControls::rotate);

    // Images: zoom, actual size, rotation.
    imageActions_.append(toolAction(toolbar_, QStringLiteral("minus.magnifyingglass"),
                                    QStringLiteral("Zoom Out"), QStringLiteral("imageZoomOut")));
    connect(imageActions_.last(), &QAction::triggered, image_, &ImageController::zoomOut);
    imageActions_.append(toolAction(toolbar_,
                                    QStringLiteral("arrow.up.left.and.down.right.magnifyingglass"),
                                    QStringLiteral("Fit"), QStringLiteral("imageFit")));
    connect(imageActions_.last(), &QAction::triggered, image_, &ImageController::zoomToFit);
    imageActions_.append(toolAction(toolbar_, QStringLiteral("1.magnifyingglass"),
                                    QStringLiteral("Actual Size"),
                                    QStringLiteral("imageActualSize")));
    connect(imageActions_.last(), &QAction::triggered, image_, &ImageController::actualSize);
    imageActions_.append(toolAction(toolbar_, QStringLiteral("plus.magnifyingglass"),
                                    QStringLiteral("Zoom In"), QStringLiteral("imageZoomIn")));
    connect(imageActions_.last(), &QAction::triggered, image_, &ImageController::zoomIn);
    imageActions_.append(toolbar_->addSeparator());
    imageActions_.append(toolAction(toolbar_, QStringLiteral("rotate.right"),
                                    QStringLiteral("Rotate"), QStringLiteral("imageRotate")));
    connect(imageActions_.last(), &QAction::triggered, image_, &ImageController::rotate);

    toolbar_->addWidget(spacer(toolbar_));

    // PDF search.
    search_ = new QLineEdit(toolbar_);
    search_->setObjectName(QStringLiteral("previewSearch"));
    search_->setAccessibleName(QStringLiteral("Search"));
    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setClearButtonEnabled(true);
    search_->setFixedWidth(180);
    connect(search_, &QLineEdit::returnPressed, this, [this] { pdf_->find(search_->text()); });
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            pdf_->find(QString());
    });
    searchAction_ = toolbar_->addWidget(search_);
    matchText_ = new QLabel(toolbar_);
    matchText_->setObjectName(QStringLiteral("previewMatchCount"));
    matchText_->setTextFormat(Qt::PlainText);
    matchText_->setForegroundRole(QPalette::PlaceholderText);
    matchText_->setContentsMargins(6, 0, 6, 0);
    matchAction_ = toolbar_->addWidget(matchText_);

    // Share, download, more.
    auto* shareMenu = new QMenu(this);
    shareMenu->setObjectName(QStringLiteral("shareMenu"));
    QAction* copy = shareMenu->addAction(QStringLiteral("Copy"));
    copy->setObjectName(QStringLiteral("shareCopy"));
    connect(copy, &QAction::triggered, this,
            [this] { PreviewShare::copyToClipboard(shareableFile()); });
    QAction* reveal = shareMenu->addAction(QStringLiteral("Show in Folder"));
    reveal->setObjectName(QStringLiteral("shareShowInFolder"));
    connect(reveal, &QAction::triggered, this,
            [this] { PreviewShare::showInFolder(shareableFile()); });
    share_ = toolAction(toolbar_, QStringLiteral("square.and.arrow.up"), QStringLiteral("Share"),
                        QStringLiteral("previewShare"));
    share_->setMenu(shareMenu);
    if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(share_)))
        button->setPopupMode(QToolButton::InstantPopup);

    download_ =
        toolAction(toolbar_, QStringLiteral("arrow.down.circle"), QStringLiteral("Download"),
                   QStringLiteral("previewDownload"),
                   QStringLiteral("Save a copy to this computer (") +
                       QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText) +
                       QStringLiteral(")"));
    download_->setShortcut(QKeySequence::Save);
    download_->setShortcutContext(Qt::WindowShortcut);
    connect(download_, &QAction::triggered, this, [this] {
        if (const std::optional<FileItem> shown = item())
            model_.saveCopy(*shown);
    });

    auto* more = new QMenu(this);
    more->setObjectName(QStringLiteral("moreMenu"));
    QAction* openWith = more->addAction(QStringLiteral("Open With\u2026"));
    openWith->setObjectName(QStringLiteral("moreOpenWith"));
    connect(openWith, &QAction::triggered, this, [this] {
        if (const std::optional<FileItem> shown = item())
            model_.openWith(*shown);
    });
    openInBrowser_ = more->addAction(QStringLiteral("Open in Browser"));
    openInBrowser_->setObjectName(QStringLiteral("moreOpenInBrowser"));
    connect(openInBrowser_, &QAction::triggered, this, [this] {
        const std::optional<FileItem> shown = item();
        if (const std::optional<QUrl> link = shown ? ItemMenu::webLink(*shown) : std::nullopt)
            QDesktopServices::openUrl(*link);
    });
    more->addSeparator();
    QAction* fullScreen = more->addAction(QStringLiteral("Enter Full Screen"));
    fullScreen->setObjectName(QStringLiteral("moreFullScreen"));
    connect(fullScreen, &QAction::triggered, this, [this] {
        if (isFullScreen())
            showNormal();
        else
            showFullScreen();
    });
    QAction* moreAction = toolAction(toolbar_, QStringLiteral("ellipsis.circle"),
                                     QStringLiteral("More"), QStringLiteral("previewMore"));
    moreAction->setMenu(more);
    if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(moreAction)))
        button->setPopupMode(QToolButton::InstantPopup);
}

QList<FileItem> PreviewWindow::files() const {
    QList<FileItem> list;
    if (target_.isSearch()) {
        const QList<FileItem>& results =
            searchResults_ ? *searchResults_ : model_.search()->results();
        // Folders have no preview: stepping passes over them.
        for (const FileItem& result : results) {
            if (!result.isFolder())
                list.append(result);
        }
        return list;
    }
    FolderListing* listing = model_.listing(target_.file.accountID, target_.folderID);
    for (const FileItem& entry : listing->items()) {
        if (entry.isFolder())
            continue;
        if (target_.filter && entry.category() != target_.filter)
            continue;
        list.append(entry);
    }
    return list;
}

std::optional<int> PreviewWindow::index() const {
    const FileRef key = current_.value_or(target_.file);
    const QList<FileItem> list = files();
    for (int i = 0; i < list.size(); ++i) {
        if (list[i].ref == key)
            return i;
    }
    return std::nullopt;
}

std::optional<FileItem> PreviewWindow::item() const {
    const FileRef key = current_.value_or(target_.file);
    for (const FileItem& entry : files()) {
        if (entry.ref == key)
            return entry;
    }
    return std::nullopt;
}

QString PreviewWindow::subtitle(const FileItem& shown) const {
    // A search window lists files of every account: name the account of the file shown.
    const QString where =
        target_.isSearch()
            ? model_.destination(shown.ref.accountID, std::nullopt).displayName
            : model_.destination(target_.file.accountID, target_.folderID).displayName;
    QStringList parts;
    if (!where.isEmpty())
        parts.append(where);
    const QList<FileItem> list = files();
    for (int i = 0; i < list.size(); ++i) {
        if (list[i].ref == shown.ref) {
            parts.append(QStringLiteral("%1 of %2").arg(i + 1).arg(list.size()));
            break;
        }
    }
    return parts.join(QStringLiteral(" \u2014 "));
}

void PreviewWindow::step(int offset) {
    const std::optional<int> at = index();
    if (!at)
        return;
    const QList<FileItem> list = files();
    const int to = *at + offset;
    if (to < 0 || to >= list.size())
        return;
    if (list[to].ref == current_.value_or(target_.file))
        return;
    current_ = list[to].ref;
    // A new file: the search of the last one ends.
    search_->clear();
    refresh();
}

bool PreviewWindow::isMedia() const {
    const std::optional<FileItem> shown = item();
    if (!shown)
        return false;
    const PreviewKind kind = PreviewKinds::of(*shown);
    return kind == PreviewKind::video || kind == PreviewKind::audio;
}

bool PreviewWindow::showsUnavailable() const {
    return unavailable_ != nullptr;
}

void PreviewWindow::watchSources() {
    if (target_.isSearch())
        return;
    FolderListing* listing = model_.listing(target_.file.accountID, target_.folderID);
    if (listing == listing_)
        return;
    if (listing_)
        listing_->disconnect(this);
    listing_ = listing;
    connect(listing, &FolderListing::itemsChanged, this, &PreviewWindow::scheduleRefresh);
    // The end of a load decides whether a file not listed (yet) is gone.
    connect(listing, &FolderListing::phaseChanged, this, &PreviewWindow::scheduleRefresh);
    connect(listing, &FolderListing::isLoadingMoreChanged, this, &PreviewWindow::scheduleRefresh);
}

bool PreviewWindow::isListingLoading() const {
    if (target_.isSearch() || !listing_)
        return false;
    return listing_->phase().kind == FolderListing::Phase::Kind::loading ||
           listing_->isLoadingMore();
}

void PreviewWindow::scheduleRefresh() {
    if (refreshPending_)
        return;
    refreshPending_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshPending_ = false;
        refresh();
    });
}

void PreviewWindow::refresh() {
    watchSources();
    const std::optional<FileItem> shown = item();
    // A listing that loads anew (a reconnect replaced it) lists the file again soon: the
    // preview stays as it is until the load has ended.
    if (!shown && content_ && isListingLoading())
        return;
    if (!shown) {
        if (content_) {
            delete content_;
            content_ = nullptr;
        }
        if (!unavailable_) {
            unavailable_ = new ContentUnavailableView(
                QStringLiteral("questionmark.folder"),
                QStringLiteral("This file is no longer available."), QString(), central_);
            centralLayout_->addWidget(unavailable_);
        }
        central_->setPalette(QPalette());
        toolbar_->hide();
        setWindowTitle(QStringLiteral("Preview"));
        updateToolbar(std::nullopt, nullptr);
        return;
    }
    if (unavailable_) {
        delete unavailable_;
        unavailable_ = nullptr;
    }
    // The content view keeps its loader while it shows this version of the file: asking the
    // model again on every refresh would take a loader from another window when the model's
    // list of loaders is full.
    if (!content_ || content_->item().ref != shown->ref ||
        content_->item().modifiedAt != shown->modifiedAt) {
        delete content_;
        content_ = new PreviewContentView(model_, model_.previewLoader(*shown), PreviewMode::full,
                                          pdf_, image_, central_);
        centralLayout_->addWidget(content_);
        content_->show();
    }
    PreviewLoader* loader = content_->loader();
    const PreviewKind kind = loader->kind();
    const bool dark = kind == PreviewKind::image || kind == PreviewKind::video;
    central_->setPalette(dark ? darkPalette(QApplication::palette()) : QPalette());
    toolbar_->show();
    setWindowTitle(DisplayText::windowTitle(shown->name));
    updateToolbar(shown, loader);
}

void PreviewWindow::updateToolbar(const std::optional<FileItem>& shown, PreviewLoader* loader) {
    if (watchedLoader_ != loader) {
        if (watchedLoader_)
            watchedLoader_->disconnect(this);
        watchedLoader_ = loader;
        if (loader)
            connect(loader, &PreviewLoader::phaseChanged, this, &PreviewWindow::scheduleRefresh);
    }
    const QList<FileItem> list = files();
    const std::optional<int> at = index();
    previous_->setEnabled(at && *at > 0);
    next_->setEnabled(at.value_or(int(list.size())) < list.size() - 1);
    title_->setText(shown ? shown->name : QString());
    subtitle_->setText(shown ? subtitle(*shown) : QString());

    // A kind's controls show only while its viewer shows the file: not while it is prepared,
    // and not after a failure (the failure is all there is to see).
    const PreviewKind kind = loader ? loader->kind() : PreviewKind::unsupported;
    const bool ready = loader && loader->phase().isReady();
    const bool isPDF = ready && kind == PreviewKind::pdf && pdf_->pageCount() >= 1;
    for (QAction* action : std::as_const(pdfPageActions_))
        action->setVisible(isPDF);
    for (QAction* action : std::as_const(pdfActions_))
        action->setVisible(isPDF);
    for (QAction* action : std::as_const(imageActions_))
        action->setVisible(ready && kind == PreviewKind::image && image_->view() != nullptr);
    pageText_->setText(
        QStringLiteral("%1 of %2").arg(pdf_->pageIndex() + 1).arg(pdf_->pageCount()));
    searchAction_->setVisible(isPDF);
    const std::optional<int> matches = pdf_->matchCount();
    matchAction_->setVisible(isPDF && matches.has_value());
    if (matches)
        matchText_->setText(*matches == 1 ? QStringLiteral("1 match")
                                          : QStringLiteral("%1 matches").arg(*matches));
    share_->setVisible(shareableFile().isValid());
    openInBrowser_->setVisible(shown && ItemMenu::webLink(*shown).has_value());
}

QUrl PreviewWindow::shareableFile() const {
    if (!watchedLoader_)
        return {};
    const PreviewLoader::Phase& phase = watchedLoader_->phase();
    if (!phase.isReady() || !phase.content() || !phase.content()->isLocalFile())
        return {};
    return phase.content()->localFileURL();
}

void PreviewWindow::showEvent(QShowEvent* event) {
    if (!placed_ && !event->spontaneous()) {
        // Opened over the window it was opened from, stepped away from the other previews.
        placed_ = true;
        QList<const QWidget*> others;
        for (const QWidget* window : QApplication::topLevelWidgets()) {
            if (window != this && qobject_cast<const PreviewWindow*>(window))
                others.append(window);
        }
        const QWidget* over = QApplication::activeWindow();
        WindowPlacement::placeCascaded(this, size(), over != this ? over : nullptr, others);
    }
    QMainWindow::showEvent(event);
    if (content_)
        content_->setFocus();
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        if (handleKey(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool PreviewWindow::handleKey(QKeyEvent* event) {
    // Keys with a modifier (the keypad's aside) and keys typed into text are never taken.
    if (event->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (isEditingText(QApplication::focusWidget()))
        return false;
    switch (event->key()) {
    case Qt::Key_Space:
        // A player on screen takes Space for play and pause; a media file that failed or still
        // loads has none, and Space closes as for any other file.
        if (isMedia() && findChild<QWidget*>(QStringLiteral("mediaViewer")))
            return false;
        close();
        return true;
    case Qt::Key_Escape:
        // Full screen is left first; the next Escape closes.
        if (isFullScreen())
            showNormal();
        else
            close();
        return true;
    case Qt::Key_Left:
        step(-1);
        return true;
    case Qt::Key_Right:
        step(+1);
        return true;
    default:
        return false;
    }
}

} // namespace tw
