#include "App/Preview/PDFViewer.h"

#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFPageView.h"
#include "App/Preview/PDFRenderer.h"
#include "StorageCore/Domain/StorageError.h"

#include <QPdfDocument>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

namespace tw {

PDFViewer::PDFViewer(const QUrl& url, PDFController* controller, bool compact, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    setObjectName(QStringLiteral("pdfViewer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The last document's counters and matches go at once.
    if (controller_)
        controller_->reset();
    if (!url.isLocalFile()) {
        loading_ = false;
        showUnavailable();
        return;
    }
    auto* busy = new QProgressBar(this);
    busy->setObjectName(QStringLiteral("pdfLoading"));
    busy->setAccessibleName(QStringLiteral("Loading"));
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedWidth(160);
    layout->addWidget(busy, 0, Qt::AlignCenter);
    busy_ = busy;
    const QString path = url.toLocalFile();
    const QString name = url.fileName();
    QThread* mainThread = thread();
    open_ = runTask(
        this, [path, mainThread] { return PDFRenderer::open(path, mainThread); },
        [this, name, compact](TaskResult<PDFRenderer::Opened> result) {
            loading_ = false;
            delete busy_;
            busy_ = nullptr;
            if (!result.ok() || !result.value().renderer) {
                showUnavailable();
                return;
            }
            document_ = std::move(result.value().document);
            view_ = new PDFPageView(document_.get(), std::move(result.value().renderer),
                                    compact ? PDFPageView::DisplayMode::singlePage
                                            : PDFPageView::DisplayMode::continuous,
                                    this);
            view_->setAccessibleName(name);
            this->layout()->addWidget(view_);
            if (controller_)
                controller_->setView(view_);
        });
}

PDFViewer::~PDFViewer() {
    open_.cancel();
    // The page view goes with this viewer; the controller then has no view until the next one.
    if (controller_ && controller_->view() == view_ && view_)
        controller_->setView(nullptr);
    // The view draws from the document: it goes first.
    delete view_;
    view_ = nullptr;
}

void PDFViewer::showUnavailable() {
    const ErrorPresentation shown =
        StorageError(StorageError::Code::previewUnavailable).presentation();
    unavailable_ = new ContentUnavailableView(QStringLiteral("exclamationmark.triangle"),
                                              shown.title, shown.message, this);
    layout()->addWidget(unavailable_);
    if (controller_)
        controller_->reset();
}

} // namespace tw
