#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <memory>
#include <mutex>

class QPdfDocument;
class QThread;

namespace tw {

/// The rendering side of a PDF shown in a preview: a document of its own over the file, used
/// by rendering tasks only (one at a time), and the page sizes read once.
///
/// Qt PDF serialises every call into pdfium behind one process-wide lock, and a QPdfDocument
/// is a QObject without thread guarantees. So a preview opens the file twice, both on a
/// worker: the document the main thread uses (search) is moved to the main thread before it
/// is handed over, and this one stays with the tasks. Each task renders one tile, so the
/// main thread never waits on the lock for longer than one tile.
class PDFRenderer {
public:
    /// Tiles are squares of this many device pixels (the last row and column are smaller).
    static constexpr int tileSize = 512;

    /// What opening gave: both documents, or neither when the file is not a readable PDF
    /// with pages.
    struct Opened {
        std::shared_ptr<QPdfDocument> document;
        std::shared_ptr<PDFRenderer> renderer;
    };

    /// Opens the file twice on the calling worker; the main thread's document is moved to
    /// `mainThread`. Blocks: for tasks only.
    static Opened open(const QString& path, QThread* mainThread);

    ~PDFRenderer();
    PDFRenderer(const PDFRenderer&) = delete;
    PDFRenderer& operator=(const PDFRenderer&) = delete;

    int pageCount() const { return int(pageSizes_.size()); }
    /// Page sizes in points, unturned.
    const QList<QSizeF>& pageSizes() const { return pageSizes_; }

    /// Renders the part `tile` of a page turned clockwise by `rotation` degrees and scaled to
    /// `pagePixels` (the turned page's size in device pixels): an image of tile's size. Blocks:
    /// for tasks only.
    QImage renderTile(int page, int rotation, QSize pagePixels, QRect tile);

private:
    PDFRenderer() = default;

    std::mutex mutex_;
    std::unique_ptr<QPdfDocument> document_;
    QList<QSizeF> pageSizes_;
};

} // namespace tw
