#include "App/Preview/PDFViewer.h"

#include "App/Preview/PDFController.h"
#include "App/Preview/PDFPageView.h"
#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Domain/StorageError.h"

#include <QPdfDocument>
#include <QVBoxLayout>

namespace tw {

PDFViewer::PDFViewer(const QUrl& url, PDFController* controller, bool compact, QWidget* parent)
    : QWidget(parent), document_(new QPdfDocument(this)), controller_(controller) {
    setObjectName(QStringLiteral("pdfViewer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const bool opened = url.isLocalFile() &&
                        document_->load(url.toLocalFile()) == QPdfDocument::Error::None &&
                        document_->pageCount() > 0;
    if (!opened) {
        const ErrorPresentation shown =
            StorageError(StorageError::Code::previewUnavailable).presentation();
        unavailable_ = new UnavailableView(QStringLiteral("exclamationmark.triangle"), shown.title,
                                           shown.message, this);
        layout->addWidget(unavailable_);
        if (controller_)
            controller_->reset();
        return;
    }
    view_ = new PDFPageView(document_,
                            compact ? PDFPageView::DisplayMode::singlePage
                                    : PDFPageView::DisplayMode::continuous,
                            this);
    view_->setAccessibleName(url.fileName());
    layout->addWidget(view_);
    if (controller_)
        controller_->setView(view_);
}

PDFViewer::~PDFViewer() {
    // The page view goes with this viewer; the controller then has no view until the next one.
    if (controller_ && controller_->view() == view_ && view_)
        controller_->setView(nullptr);
}

} // namespace tw
