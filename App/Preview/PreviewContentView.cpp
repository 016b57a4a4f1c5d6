#include "App/Preview/PreviewContentView.h"

#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "App/Modules/ViewerModules.h"
#include "App/Preview/ArchiveViewer.h"
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageViewer.h"
#include "App/Preview/PDFControls.h"
#include "App/Preview/QuickLookViewer.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

PreviewContentView::PreviewContentView(AppModel& model, std::shared_ptr<PreviewLoader> loader,
                                       PreviewMode mode, PDFControls* pdf, ImageController* image,
                                       QWidget* parent)
    : QWidget(parent), model_(model), item_(loader->item()), loader_(std::move(loader)),
      mode_(mode), pdf_(pdf), image_(image), layout_(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("previewContent"));
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(loader_.get(), &PreviewLoader::phaseChanged, this, &PreviewContentView::refresh);
    refresh();
}

PreviewContentView::~PreviewContentView() {
    load_.cancel();
}

void PreviewContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        startLoad();
    }
}

void PreviewContentView::startLoad() {
    if (!loader_->phase().isReady())
        load_ = loader_->load();
}

QString PreviewContentView::progressText(const PreviewLoader& loader) {
    if (PreviewKinds::needsLocalCopy(loader.kind()) && loader.item().sizeBytes)
        return QStringLiteral("Preparing preview (") + Format::byteCount(*loader.item().sizeBytes) +
               QStringLiteral(")\u2026");
    return QStringLiteral("Preparing preview\u2026");
}

void PreviewContentView::refresh() {
    const PreviewLoader::Phase& phase = loader_->phase();
    using Kind = PreviewLoader::Phase::Kind;
    // Idle and loading look the same; anything else is shown once per phase.
    const auto sameLook = [](const PreviewLoader::Phase& a, const PreviewLoader::Phase& b) {
        const bool aWaits = a.kind() == Kind::idle || a.kind() == Kind::loading;
        const bool bWaits = b.kind() == Kind::idle || b.kind() == Kind::loading;
        return (aWaits && bWaits) || a == b;
    };
    if (shownPhase_ && sameLook(*shownPhase_, phase))
        return;
    shownPhase_ = phase;
    // The window's PDF counters belong to a PDF on screen: while this view prepares, fails or
    // shows anything else they are cleared (a PDF viewer sets them once its file is open).
    if (pdf_)
        pdf_->reset();
    switch (phase.kind()) {
    case Kind::idle:
    case Kind::loading:
        present(progressView());
        break;
    case Kind::failed:
        present(failedView(*phase.error()));
        break;
    case Kind::unsupported:
        present(unsupportedView());
        break;
    case Kind::ready:
        present(viewer(*phase.content()));
        break;
    }
}

void PreviewContentView::present(QWidget* view) {
    if (current_) {
        layout_->removeWidget(current_);
        delete current_;
    }
    current_ = view;
    layout_->addWidget(view);
    view->show();
}

QWidget* PreviewContentView::progressView() {
    auto* view = new QWidget(this);
    view->setObjectName(QStringLiteral("previewProgress"));
    auto* box = new QVBoxLayout(view);
    box->addStretch(1);
    auto* spinner = new QProgressBar(view);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(120, 6);
    box->addWidget(spinner, 0, Qt::AlignHCenter);
    box->addSpacing(8);
    auto* text = new QLabel(progressText(*loader_), view);
    text->setObjectName(QStringLiteral("previewProgressText"));
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignCenter);
    text->setForegroundRole(QPalette::PlaceholderText);
    box->addWidget(text);
    box->addStretch(1);
    return view;
}

QWidget* PreviewContentView::failedView(const StorageError& error) {
    const ErrorPresentation shown = error.presentation();
    auto* view = new ContentUnavailableView(QStringLiteral("exclamationmark.triangle"),
                                            shown.title, shown.message, this);
    const QUuid accountID = item_.ref.accountID;
    if (shown.recovery == RecoveryAction::reconnect) {
        connect(view->addButton(QStringLiteral("Reconnect\u2026"), QStringLiteral("Reconnect")),
                &QPushButton::clicked, this, [this, accountID] { model_.reconnect(accountID); });
    } else {
        connect(view->addButton(QStringLiteral("Try Again"), QStringLiteral("TryAgain")),
                &QPushButton::clicked, this, [this] { load_ = loader_->load(); });
    }
    if (!item_.isProviderNativeDocument())
        addDownloadButton(view);
    return view;
}

QWidget* PreviewContentView::unsupportedView() {
    auto* view = new ContentUnavailableView(
        QStringLiteral("eye.slash"), QStringLiteral("This file can't be previewed yet."),
        QStringLiteral("You can download it or open it with another app on this computer."), this);
    addDownloadButton(view);
    connect(view->addButton(QStringLiteral("Open With\u2026"), QStringLiteral("OpenWith")),
            &QPushButton::clicked, this, [this] { model_.openWith(item_); });
    return view;
}

void PreviewContentView::addDownloadButton(ContentUnavailableView* view) {
    connect(view->addButton(QStringLiteral("Download\u2026"), QStringLiteral("Download")),
            &QPushButton::clicked, this, [this] { model_.saveCopy(item_); });
}

QWidget* PreviewContentView::moduleMissingView() {
    const ErrorPresentation shown =
        StorageError(StorageError::Code::previewUnavailable).presentation();
    return new ContentUnavailableView(QStringLiteral("exclamationmark.triangle"), shown.title,
                                      shown.message, this);
}

QWidget* PreviewContentView::viewer(const PreviewContent& content) {
    const bool compact = mode_ == PreviewMode::compact;
    const PreviewKind kind = loader_->kind();
    // The PDF and media viewers come from modules loaded on first use; without one, the file
    // shows as one that cannot be displayed.
    if (kind == PreviewKind::pdf && content.isLocalFile()) {
        if (PDFModule* module = ViewerModules::pdf())
            return module->createViewer(content.localFileURL(), pdf_, compact, this);
        return moduleMissingView();
    }
    if (kind == PreviewKind::image && content.isLocalFile())
        return new ImageViewer(content.localFileURL(), image_, this);
    if (kind == PreviewKind::video || kind == PreviewKind::audio) {
        if (MediaModule* module = ViewerModules::media())
            return module->createPlayer(model_, item_, content, kind == PreviewKind::audio, compact,
                                        this);
        return moduleMissingView();
    }
    if (kind == PreviewKind::archive && content.isArchive())
        return new ArchiveViewer(model_, item_, *content.archiveListing(), loader_.get(), compact,
                                 this);
    if (content.isLocalFile())
        return new QuickLookViewer(content.localFileURL(), item_, compact, this);
    return new ContentUnavailableView(QStringLiteral("eye.slash"),
                                      QStringLiteral("This file can't be previewed yet."),
                                      QString(), this);
}

} // namespace tw
