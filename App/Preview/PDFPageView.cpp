#include "App/Preview/PDFPageView.h"

#include "App/Preview/PDFRenderer.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace tw {

size_t qHash(const PDFPageView::TileKey& key, size_t seed) {
    return qHashMulti(seed, key.page, key.rotation, key.pagePixels.width(), key.pagePixels.height(),
                      key.column, key.row);
}

PDFPageView::PDFPageView(QPdfDocument* document, std::shared_ptr<PDFRenderer> renderer,
                         DisplayMode mode, QWidget* parent)
    : QAbstractScrollArea(parent), document_(document), renderer_(std::move(renderer)),
      pageSizes_(renderer_ ? renderer_->pageSizes() : QList<QSizeF>()), mode_(mode) {
    setObjectName(QStringLiteral("pdfPageView"));
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    renderTimer_.setSingleShot(true);
    renderTimer_.setInterval(0);
    connect(&renderTimer_, &QTimer::timeout, this, &PDFPageView::renderNext);
    relayout();
}

PDFPageView::~PDFPageView() {
    // A tile under way finishes unheard.
    renderTask_.cancel();
}

int PDFPageView::pageCount() const {
    return int(pageSizes_.size());
}

QSizeF PDFPageView::rotatedPointSize(int page) const {
    const QSizeF size = pageSizes_.value(page);
    return pageRotation(page) % 180 == 0 ? size : size.transposed();
}

QSize PDFPageView::targetPixelSize(int page) const {
    const QSizeF points = rotatedPointSize(page) * scale_;
    return QSize(std::max(1, qRound(points.width())), std::max(1, qRound(points.height())));
}

void PDFPageView::applyAutoScale() {
    const int count = pageCount();
    if (!autoScales_ || count == 0)
        return;
    const QSize area = maximumViewportSize();
    const qreal width = std::max(40, area.width() - 2 * pageSpacing);
    qreal scale = 1.0;
    if (mode_ == DisplayMode::continuous) {
        qreal widest = 1;
        // Fitting the widest page keeps every page inside the view.
        for (int page = 0; page < count; ++page)
            widest = std::max(widest, rotatedPointSize(page).width());
        scale = width / widest;
        // Leave room for the vertical scroll bar that a long document shows.
        if (count > 1 || rotatedPointSize(0).height() * scale > area.height()) {
            const int bar = verticalScrollBar()->sizeHint().width();
            scale = std::max<qreal>(40, width - bar) / widest;
        }
    } else {
        const QSizeF page = rotatedPointSize(std::clamp(current_, 0, count - 1));
        const qreal height = std::max(40, area.height() - 2 * pageSpacing);
        scale = std::min(width / page.width(), height / page.height());
    }
    scale = std::clamp(scale, minimumScale, maximumScale);
    if (!qFuzzyCompare(scale, scale_)) {
        scale_ = scale;
        Q_EMIT scaleChanged();
    }
}

void PDFPageView::relayout() {
    applyAutoScale();
    const int count = pageCount();
    pageTops_.clear();
    contentWidth_ = 0;
    contentHeight_ = 0;
    if (mode_ == DisplayMode::continuous) {
        int y = pageSpacing;
        for (int page = 0; page < count; ++page) {
            const QSize size = targetPixelSize(page);
            pageTops_.append(y);
            y += size.height() + pageSpacing;
            contentWidth_ = std::max(contentWidth_, size.width());
        }
        contentWidth_ += 2 * pageSpacing;
        contentHeight_ = y;
    } else if (count > 0) {
        const QSize size = targetPixelSize(current_);
        contentWidth_ = size.width() + 2 * pageSpacing;
        contentHeight_ = size.height() + 2 * pageSpacing;
    }
    updateScrollBars();
    viewport()->update();
}

void PDFPageView::updateScrollBars() {
    const QSize area = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, contentWidth_ - area.width()));
    horizontalScrollBar()->setPageStep(area.width());
    horizontalScrollBar()->setSingleStep(20);
    suppressPageTracking_ = true;
    if (mode_ == DisplayMode::continuous) {
        verticalScrollBar()->setRange(0, std::max(0, contentHeight_ - area.height()));
        verticalScrollBar()->setPageStep(area.height());
        verticalScrollBar()->setSingleStep(20);
    } else {
        verticalScrollBar()->setRange(0, std::max(0, pageCount() - 1));
        verticalScrollBar()->setPageStep(1);
        verticalScrollBar()->setSingleStep(1);
        verticalScrollBar()->setValue(current_);
    }
    suppressPageTracking_ = false;
}

QRect PDFPageView::pageRect(int page) const {
    if (page < 0 || page >= pageCount())
        return {};
    const QSize size = targetPixelSize(page);
    if (mode_ == DisplayMode::continuous) {
        const int left = std::max(
            pageSpacing, (std::max(contentWidth_, viewport()->width()) - size.width()) / 2);
        return QRect(QPoint(left, pageTops_.value(page)), size);
    }
    const int left =
        std::max(pageSpacing, (std::max(contentWidth_, viewport()->width()) - size.width()) / 2);
    const int top = std::max(pageSpacing, (viewport()->height() - size.height()) / 2);
    return QRect(QPoint(left, top), size);
}

QPoint PDFPageView::contentOffset() const {
    const int x = horizontalScrollBar()->value();
    return mode_ == DisplayMode::continuous ? QPoint(x, verticalScrollBar()->value())
                                            : QPoint(x, 0);
}

QList<int> PDFPageView::visiblePages() const {
    QList<int> pages;
    const int count = pageCount();
    if (count == 0)
        return pages;
    if (mode_ == DisplayMode::singlePage) {
        pages.append(current_);
        return pages;
    }
    const QRect visible(contentOffset(), viewport()->size());
    // Pages are stacked in order: find the first one reaching into the view.
    auto first = std::upper_bound(pageTops_.begin(), pageTops_.end(), visible.top());
    int page = std::max(0, int(first - pageTops_.begin()) - 1);
    for (; page < count && pageTops_[page] <= visible.bottom(); ++page) {
        if (pageRect(page).intersects(visible))
            pages.append(page);
    }
    return pages;
}

void PDFPageView::setCurrent(int page) {
    if (page == current_)
        return;
    current_ = page;
    Q_EMIT currentPageChanged(page);
}

void PDFPageView::updateCurrentPage() {
    const int count = pageCount();
    if (count == 0 || mode_ == DisplayMode::singlePage || suppressPageTracking_)
        return;
    QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() > 0 && bar->value() == bar->maximum()) {
        setCurrent(count - 1);
        return;
    }
    const int middle = bar->value() + viewport()->height() / 2;
    auto after = std::upper_bound(pageTops_.begin(), pageTops_.end(), middle);
    setCurrent(std::clamp(int(after - pageTops_.begin()) - 1, 0, count - 1));
}

void PDFPageView::goToPage(int page) {
    const int count = pageCount();
    if (count == 0)
        return;
    page = std::clamp(page, 0, count - 1);
    if (mode_ == DisplayMode::singlePage) {
        if (page == current_)
            return;
        current_ = page;
        relayout();
        Q_EMIT currentPageChanged(page);
        scheduleRender();
        return;
    }
    suppressPageTracking_ = true;
    verticalScrollBar()->setValue(pageTops_.value(page) - pageSpacing);
    suppressPageTracking_ = false;
    setCurrent(page);
    scheduleRender();
}

void PDFPageView::goToPreviousPage() {
    goToPage(current_ - 1);
}
void PDFPageView::goToNextPage() {
    goToPage(current_ + 1);
}

void PDFPageView::setScaleFactor(qreal scale) {
    scale = std::clamp(scale, minimumScale, maximumScale);
    const bool wasAuto = autoScales_;
    autoScales_ = false;
    if (qFuzzyCompare(scale, scale_) && !wasAuto)
        return;
    // Keep the current page at the same place relative to the view's top.
    const int page = current_;
    const int intoPage =
        mode_ == DisplayMode::continuous ? verticalScrollBar()->value() - pageTops_.value(page) : 0;
    const qreal ratio = scale / scale_;
    scale_ = scale;
    relayout();
    if (mode_ == DisplayMode::continuous && pageCount() > 0) {
        suppressPageTracking_ = true;
        verticalScrollBar()->setValue(pageTops_.value(page) + qRound(intoPage * ratio));
        suppressPageTracking_ = false;
    }
    Q_EMIT scaleChanged();
    scheduleRender();
}

void PDFPageView::setAutoScales(bool on) {
    if (on == autoScales_)
        return;
    autoScales_ = on;
    if (on) {
        const int page = current_;
        relayout();
        if (mode_ == DisplayMode::continuous && pageCount() > 0) {
            suppressPageTracking_ = true;
            verticalScrollBar()->setValue(pageTops_.value(page) - pageSpacing);
            suppressPageTracking_ = false;
        }
        scheduleRender();
    }
}

void PDFPageView::zoomIn() {
    setScaleFactor(scale_ * zoomStep);
}
void PDFPageView::zoomOut() {
    setScaleFactor(scale_ / zoomStep);
}

void PDFPageView::setPageRotation(int page, int degrees) {
    if (page < 0 || page >= pageCount())
        return;
    degrees = ((degrees % 360) + 360) % 360 / 90 * 90;
    if (pageRotation(page) == degrees)
        return;
    rotations_.insert(page, degrees);
    relayout();
    if (mode_ == DisplayMode::continuous) {
        suppressPageTracking_ = true;
        verticalScrollBar()->setValue(pageTops_.value(page) - pageSpacing);
        suppressPageTracking_ = false;
    }
    scheduleRender();
}

void PDFPageView::setHighlights(const QList<Highlight>& highlights) {
    highlights_ = highlights;
    currentHighlight_ = -1;
    viewport()->update();
}

void PDFPageView::setCurrentHighlight(int index, bool scrollTo) {
    currentHighlight_ = index >= 0 && index < highlights_.size() ? index : -1;
    if (currentHighlight_ >= 0 && scrollTo) {
        const Highlight& h = highlights_[currentHighlight_];
        if (mode_ == DisplayMode::singlePage) {
            goToPage(h.page);
        } else {
            const QRectF area = highlightRect(h);
            const QRect visible(contentOffset(), viewport()->size());
            if (!visible.contains(area.toAlignedRect())) {
                suppressPageTracking_ = true;
                verticalScrollBar()->setValue(
                    qRound(area.center().y() - viewport()->height() / 2.0));
                horizontalScrollBar()->setValue(
                    qRound(area.center().x() - viewport()->width() / 2.0));
                suppressPageTracking_ = false;
            }
            // The page the match is on becomes the current page.
            setCurrent(h.page);
            scheduleRender();
        }
    }
    viewport()->update();
}

QPointF PDFPageView::mapFromPage(int page, const QPointF& point) const {
    const QSizeF size = pageSizes_.value(page);
    QPointF turned;
    switch (pageRotation(page)) {
    case 90:
        turned = QPointF(size.height() - point.y(), point.x());
        break;
    case 180:
        turned = QPointF(size.width() - point.x(), size.height() - point.y());
        break;
    case 270:
        turned = QPointF(point.y(), size.width() - point.x());
        break;
    default:
        turned = point;
    }
    return pageRect(page).topLeft() + turned * scale_;
}

QRectF PDFPageView::highlightRect(const Highlight& highlight) const {
    QRectF area;
    for (const QPolygonF& polygon : highlight.bounds) {
        QPolygonF mapped;
        for (const QPointF& point : polygon)
            mapped.append(mapFromPage(highlight.page, point));
        area = area.united(mapped.boundingRect());
    }
    return area;
}

QSize PDFPageView::pagePixels(int page) const {
    return (QSizeF(targetPixelSize(page)) * devicePixelRatioF()).toSize().expandedTo(QSize(1, 1));
}

QRectF PDFPageView::tileArea(const TileKey& key) const {
    const QRect page = pageRect(key.page);
    const QRect tile = QRect(key.column * PDFRenderer::tileSize, key.row * PDFRenderer::tileSize,
                             PDFRenderer::tileSize, PDFRenderer::tileSize) &
                       QRect(QPoint(0, 0), key.pagePixels);
    const qreal sx = qreal(page.width()) / key.pagePixels.width();
    const qreal sy = qreal(page.height()) / key.pagePixels.height();
    return QRectF(page.left() + tile.left() * sx, page.top() + tile.top() * sy, tile.width() * sx,
                  tile.height() * sy);
}

QList<PDFPageView::TileKey> PDFPageView::visibleTiles() const {
    QList<TileKey> keys;
    const QRect visible(contentOffset(), viewport()->size());
    QList<int> pages = visiblePages();
    // The current page first, then the others on screen in order.
    std::stable_sort(pages.begin(), pages.end(),
                     [this](int a, int b) { return (a == current_) > (b == current_); });
    for (int page : pages) {
        const QRect rect = pageRect(page);
        const QRect shown = rect & visible;
        if (shown.isEmpty())
            continue;
        const QSize pixels = pagePixels(page);
        const qreal sx = pixels.width() / qreal(rect.width());
        const qreal sy = pixels.height() / qreal(rect.height());
        const int size = PDFRenderer::tileSize;
        const int lastColumn = (pixels.width() - 1) / size;
        const int lastRow = (pixels.height() - 1) / size;
        const int left = std::clamp(int((shown.left() - rect.left()) * sx) / size, 0, lastColumn);
        const int right = std::clamp(
            int(std::ceil((shown.right() + 1 - rect.left()) * sx) - 1) / size, 0, lastColumn);
        const int top = std::clamp(int((shown.top() - rect.top()) * sy) / size, 0, lastRow);
        const int bottom = std::clamp(
            int(std::ceil((shown.bottom() + 1 - rect.top()) * sy) - 1) / size, 0, lastRow);
        for (int row = top; row <= bottom; ++row) {
            for (int column = left; column <= right; ++column)
                keys.append(TileKey{page, pageRotation(page), pixels, column, row});
        }
    }
    return keys;
}

void PDFPageView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QPoint offset = contentOffset();
    painter.translate(-offset);
    const QRect exposed = event->rect().translated(offset);
    const QList<int> pages = visiblePages();
    for (int page : pages) {
        const QRect rect = pageRect(page);
        if (!rect.intersects(exposed))
            continue;
        painter.fillRect(rect.adjusted(1, 1, 2, 2), QColor(0, 0, 0, 40));
        painter.fillRect(rect, Qt::white);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Renderings at another scale stand in, under the present ones, until those come.
    for (auto it = tiles_.constBegin(); it != tiles_.constEnd(); ++it) {
        const TileKey& key = it.key();
        if (it->image.isNull() || key.rotation != pageRotation(key.page) ||
            key.pagePixels == pagePixels(key.page) || !pages.contains(key.page))
            continue;
        const QRectF area = tileArea(key);
        if (area.intersects(exposed))
            painter.drawImage(area, it->image);
    }
    bool missing = false;
    for (const TileKey& key : visibleTiles()) {
        const auto found = tiles_.find(key);
        if (found == tiles_.end()) {
            missing = true;
            continue;
        }
        found->lastUse = ++useClock_;
        const QRectF area = tileArea(key);
        if (!found->image.isNull() && area.intersects(exposed))
            painter.drawImage(area, found->image);
    }
    if (!highlights_.isEmpty()) {
        painter.setRenderHint(QPainter::Antialiasing);
        for (int i = 0; i < highlights_.size(); ++i) {
            const Highlight& h = highlights_[i];
            if (!pages.contains(h.page))
                continue;
            const bool current = i == currentHighlight_;
            // The glyphs' outlines merge into one shape per match.
            QPainterPath shape;
            for (const QPolygonF& polygon : h.bounds) {
                QPolygonF mapped;
                for (const QPointF& point : polygon)
                    mapped.append(mapFromPage(h.page, point));
                shape.addPolygon(mapped);
                shape.closeSubpath();
            }
            shape = shape.simplified();
            painter.setPen(current ? QPen(QColor(0xE0, 0x7A, 0x00), 1.5) : Qt::NoPen);
            painter.setBrush(current ? QColor(255, 149, 0, 130) : QColor(255, 214, 10, 110));
            painter.drawPath(shape);
        }
    }
    if (missing)
        scheduleRender();
}

bool PDFPageView::hasPendingRenders() const {
    const QList<TileKey> keys = visibleTiles();
    return std::any_of(keys.begin(), keys.end(),
                       [this](const TileKey& key) { return !tiles_.contains(key); });
}

void PDFPageView::scheduleRender() {
    if (!renderTimer_.isActive() && !rendering_)
        renderTimer_.start();
}

void PDFPageView::renderNext() {
    if (rendering_ || !renderer_)
        return;
    for (const TileKey& key : visibleTiles()) {
        if (tiles_.contains(key))
            continue;
        rendering_ = true;
        const QRect tile =
            QRect(key.column * PDFRenderer::tileSize, key.row * PDFRenderer::tileSize,
                  PDFRenderer::tileSize, PDFRenderer::tileSize) &
            QRect(QPoint(0, 0), key.pagePixels);
        renderTask_ = runTask(
            this,
            [renderer = renderer_, key, tile] {
                return renderer->renderTile(key.page, key.rotation, key.pagePixels, tile);
            },
            [this, key](TaskResult<QImage> result) {
                rendering_ = false;
                // A tile that fails stays blank rather than being asked for again and again.
                QImage image = result.ok() ? std::move(result.value()) : QImage();
                tileBytes_ += image.sizeInBytes();
                tiles_.insert(key, Tile{std::move(image), ++useClock_});
                ++renderCount_;
                trimCache();
                viewport()->update(tileArea(key).toAlignedRect().translated(-contentOffset()));
                // One tile per turn: scrolling and input are served in between.
                if (hasPendingRenders())
                    scheduleRender();
            });
        return;
    }
}

void PDFPageView::trimCache() {
    if (tileBytes_ <= cacheBytes)
        return;
    const QList<TileKey> shown = visibleTiles();
    QList<std::pair<quint64, TileKey>> candidates;
    for (auto it = tiles_.constBegin(); it != tiles_.constEnd(); ++it) {
        if (!shown.contains(it.key()))
            candidates.append({it->lastUse, it.key()});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& candidate : std::as_const(candidates)) {
        if (tileBytes_ <= cacheBytes)
            break;
        const auto found = tiles_.find(candidate.second);
        tileBytes_ -= found->image.sizeInBytes();
        tiles_.erase(found);
    }
}

void PDFPageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const int page = current_;
    const bool wasAuto = autoScales_;
    relayout();
    if (wasAuto && mode_ == DisplayMode::continuous && pageCount() > 0 && page > 0) {
        suppressPageTracking_ = true;
        verticalScrollBar()->setValue(pageTops_.value(page) - pageSpacing);
        suppressPageTracking_ = false;
    }
    scheduleRender();
}

void PDFPageView::scrollContentsBy(int, int) {
    if (mode_ == DisplayMode::singlePage && !suppressPageTracking_) {
        const int page = verticalScrollBar()->value();
        if (page != current_) {
            current_ = page;
            relayout();
            Q_EMIT currentPageChanged(page);
        }
    } else {
        updateCurrentPage();
    }
    viewport()->update();
    scheduleRender();
}

void PDFPageView::wheelEvent(QWheelEvent* event) {
    if (mode_ != DisplayMode::singlePage) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    wheelRemainder_ += event->angleDelta().y();
    while (wheelRemainder_ >= 120) {
        wheelRemainder_ -= 120;
        goToPreviousPage();
    }
    while (wheelRemainder_ <= -120) {
        wheelRemainder_ += 120;
        goToNextPage();
    }
    event->accept();
}

void PDFPageView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageDown:
        if (mode_ == DisplayMode::singlePage)
            goToNextPage();
        else
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        return;
    case Qt::Key_PageUp:
        if (mode_ == DisplayMode::singlePage)
            goToPreviousPage();
        else
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
        return;
    case Qt::Key_Home:
        goToPage(0);
        return;
    case Qt::Key_End:
        goToPage(pageCount() - 1);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

} // namespace tw
