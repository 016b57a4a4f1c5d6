#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPolygonF>
#include <QTimer>

#include "StorageCore/Concurrency/TaskRunner.h"

#include <memory>

class QPdfDocument;

namespace tw {

class PDFRenderer;

/// A scrolling view of a PDF document's pages: pages one under the other (continuous) or one
/// page at a time fitted to the view (single page), a scale factor or automatic scaling, a
/// quarter-turn rotation per page, and highlighted text ranges with one current range.
///
/// Pages are drawn in tiles rendered by tasks (PDFRenderer), one tile at a time and only
/// those on screen, so neither a long document nor the largest zoom holds up the window: a
/// tile not rendered yet shows blank, or what renderings of the page at another scale show
/// there. Renderings are kept up to cacheBytes (those on screen always), the least recently
/// shown going first.
class PDFPageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class DisplayMode { singlePage, continuous };

    /// A text range to highlight: its page and its outline in page points (unrotated page,
    /// origin top left), as QPdfSelection gives it.
    struct Highlight {
        int page = 0;
        QList<QPolygonF> bounds;
    };

    static constexpr qreal minimumScale = 0.1;
    static constexpr qreal maximumScale = 10.0;
    /// The factor of one zoom step.
    static constexpr qreal zoomStep = 1.25;
    /// Space between pages and around them, in pixels.
    static constexpr int pageSpacing = 10;

    /// Bytes of renderings kept; those on screen are kept even beyond.
    static constexpr qint64 cacheBytes = 64 << 20;

    /// `document` is the main thread's (search); `renderer` draws the pages and gives their
    /// sizes.
    PDFPageView(QPdfDocument* document, std::shared_ptr<PDFRenderer> renderer, DisplayMode mode,
                QWidget* parent = nullptr);
    ~PDFPageView() override;

    QPdfDocument* document() const { return document_; }
    DisplayMode displayMode() const { return mode_; }
    int pageCount() const;

    /// The page at the middle of the view (the shown page in single-page mode).
    int currentPage() const { return current_; }
    void goToPage(int page);
    void goToPreviousPage();
    void goToNextPage();

    qreal scaleFactor() const { return scale_; }
    /// Turns automatic scaling off and sets the scale, kept within the limits.
    void setScaleFactor(qreal scale);
    /// Automatic scaling fits the page width (continuous) or the whole page (single page)
    /// to the view, again after each resize.
    bool autoScales() const { return autoScales_; }
    void setAutoScales(bool on);
    void zoomIn();
    void zoomOut();

    /// Clockwise quarter turns in degrees: 0, 90, 180 or 270.
    int pageRotation(int page) const { return rotations_.value(page, 0); }
    void setPageRotation(int page, int degrees);

    void setHighlights(const QList<Highlight>& highlights);
    const QList<Highlight>& highlights() const { return highlights_; }
    /// Draws one highlight stronger and (unless told not to) scrolls it into view; -1 for none.
    void setCurrentHighlight(int index, bool scrollTo = true);
    int currentHighlight() const { return currentHighlight_; }

    /// Where a page lies in the content, in pixels (content coordinates).
    QRect pageRect(int page) const;
    /// Where a highlight's outline lies in the content, in pixels.
    QRectF highlightRect(const Highlight& highlight) const;
    /// The content's offset: the scroll position (continuous) or the page's placement.
    QPoint contentOffset() const;
    /// Tiles rendered so far (for tests and benchmarks).
    int renderCount() const { return renderCount_; }
    /// True while tiles on screen wait for their rendering.
    bool hasPendingRenders() const;
    /// Bytes of renderings held, those on screen included.
    qint64 renderedBytes() const { return tileBytes_; }

Q_SIGNALS:
    void currentPageChanged(int page);
    void scaleChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public:
    /// One tile: a page at one turn and one size in device pixels, a column and a row.
    struct TileKey {
        int page = 0;
        int rotation = 0;
        QSize pagePixels;
        int column = 0;
        int row = 0;
        bool operator==(const TileKey&) const = default;
    };

private:
    struct Tile {
        QImage image;
        quint64 lastUse = 0;
    };

    QSizeF rotatedPointSize(int page) const;
    void relayout();
    void updateScrollBars();
    void applyAutoScale();
    void updateCurrentPage();
    void setCurrent(int page);
    QList<int> visiblePages() const;
    QSize targetPixelSize(int page) const;
    /// The page's size in device pixels.
    QSize pagePixels(int page) const;
    /// The tiles on screen at the present scale and turns, the current page's first.
    QList<TileKey> visibleTiles() const;
    /// Where a tile lies in the content, in pixels.
    QRectF tileArea(const TileKey& key) const;
    void scheduleRender();
    void renderNext();
    void trimCache();
    QPointF mapFromPage(int page, const QPointF& point) const;

    QPdfDocument* document_;
    std::shared_ptr<PDFRenderer> renderer_;
    QList<QSizeF> pageSizes_;
    DisplayMode mode_;
    qreal scale_ = 1.0;
    bool autoScales_ = true;
    int current_ = 0;
    bool suppressPageTracking_ = false;
    QHash<int, int> rotations_;
    QList<int> pageTops_; // continuous: content y of each page
    int contentWidth_ = 0;
    int contentHeight_ = 0;
    QList<Highlight> highlights_;
    int currentHighlight_ = -1;
    QHash<TileKey, Tile> tiles_;
    qint64 tileBytes_ = 0;
    quint64 useClock_ = 0;
    bool rendering_ = false;
    TaskHandle renderTask_;
    QTimer renderTimer_;
    int renderCount_ = 0;
    int wheelRemainder_ = 0;
};

size_t qHash(const PDFPageView::TileKey& key, size_t seed = 0);

} // namespace tw
