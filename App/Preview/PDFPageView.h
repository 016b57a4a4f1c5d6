#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPolygonF>
#include <QTimer>

class QPdfDocument;

namespace tw {

/// A scrolling view of a PDF document's pages, drawn with QPdfDocument::render: pages one
/// under the other (continuous) or one page at a time fitted to the view (single page), a
/// scale factor or automatic scaling, a quarter-turn rotation per page, and highlighted text
/// ranges with one current range.
///
/// Only pages that are on screen are rendered, one page per turn of the event loop, so a
/// long document never holds up scrolling: a page not rendered yet shows blank (or its last
/// rendering at another scale) until its turn comes. Renderings are kept for a few pages.
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

    PDFPageView(QPdfDocument* document, DisplayMode mode, QWidget* parent = nullptr);

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
    /// Pages rendered so far (for tests and benchmarks).
    int renderCount() const { return renderCount_; }
    /// True while visible pages wait for their rendering.
    bool hasPendingRenders() const;

Q_SIGNALS:
    void currentPageChanged(int page);
    void scaleChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Rendered {
        QImage image;
        QSize pixelSize;
        int rotation = 0;
    };

    QSizeF rotatedPointSize(int page) const;
    void relayout();
    void updateScrollBars();
    void applyAutoScale();
    void updateCurrentPage();
    void setCurrent(int page);
    QList<int> visiblePages() const;
    QSize targetPixelSize(int page) const;
    void scheduleRender();
    void renderNext();
    void trimCache(const QList<int>& keep);
    QPointF mapFromPage(int page, const QPointF& point) const;

    QPdfDocument* document_;
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
    QHash<int, Rendered> rendered_;
    QList<int> renderOrder_; // least recently rendered first
    QTimer renderTimer_;
    int renderCount_ = 0;
    int wheelRemainder_ = 0;
};

} // namespace tw
