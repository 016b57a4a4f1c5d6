#include "App/Preview/PDFRenderer.h"

#include "StorageCore/Concurrency/Cancellation.h"

#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QThread>
#include <QTransform>

namespace tw {

namespace {

std::unique_ptr<QPdfDocument> load(const QString& path) {
    auto document = std::make_unique<QPdfDocument>();
    if (document->load(path) != QPdfDocument::Error::None ||
        document->status() != QPdfDocument::Status::Ready || document->pageCount() <= 0)
        return nullptr;
    return document;
}

} // namespace

PDFRenderer::~PDFRenderer() = default;

PDFRenderer::Opened PDFRenderer::open(const QString& path, QThread* mainThread) {
    std::unique_ptr<QPdfDocument> shown = load(path);
    if (!shown)
        return {};
    Cancellation::checkpoint();
    std::unique_ptr<QPdfDocument> rendering = load(path);
    if (!rendering || rendering->pageCount() != shown->pageCount())
        return {};
    std::shared_ptr<PDFRenderer> renderer(new PDFRenderer);
    renderer->pageSizes_.reserve(rendering->pageCount());
    for (int page = 0; page < rendering->pageCount(); ++page)
        renderer->pageSizes_.append(rendering->pagePointSize(page));
    renderer->document_ = std::move(rendering);
    shown->moveToThread(mainThread);
    return Opened{std::shared_ptr<QPdfDocument>(shown.release()), std::move(renderer)};
}

QImage PDFRenderer::renderTile(int page, int rotation, QSize pagePixels, QRect tile) {
    const std::lock_guard lock(mutex_);
    const int width = pagePixels.width();
    const int height = pagePixels.height();
    // The same part of the upright page, in its pixels.
    QRect upright;
    switch (rotation) {
    case 90:
        upright =
            QRect(tile.top(), width - tile.left() - tile.width(), tile.height(), tile.width());
        break;
    case 180:
        upright = QRect(width - tile.left() - tile.width(), height - tile.top() - tile.height(),
                        tile.width(), tile.height());
        break;
    case 270:
        upright =
            QRect(height - tile.top() - tile.height(), tile.left(), tile.height(), tile.width());
        break;
    default:
        upright = tile;
    }
    QPdfDocumentRenderOptions options;
    options.setScaledSize(rotation % 180 == 0 ? pagePixels : pagePixels.transposed());
    // Qt PDF 6.4 scales a clipped rendering by (clip width - 1) / image width: a clip one
    // pixel larger than the image gives the page's own scale. Rotation is not applied to
    // clipped renderings, so the tile is turned here.
    options.setScaledClipRect(QRect(upright.topLeft(), upright.size() + QSize(1, 1)));
    QImage image = document_->render(page, upright.size(), options);
    if (rotation != 0 && !image.isNull())
        image = image.transformed(QTransform().rotate(rotation));
    return image;
}

} // namespace tw
