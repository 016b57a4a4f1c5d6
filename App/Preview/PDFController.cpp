#include "App/Preview/PDFController.h"

#include "App/Preview/PDFPageView.h"

#include <QElapsedTimer>
#include <QPdfDocument>
#include <QPdfLink>
#include <QPdfSearchModel>

#include <algorithm>

namespace tw {

PDFController::PDFController(QObject* parent)
    : PDFControls(parent), searchModel_(new QPdfSearchModel(this)) {
    searchTimer_.setSingleShot(true);
    searchTimer_.setInterval(0);
    connect(&searchTimer_, &QTimer::timeout, this, &PDFController::searchSlice);
}

PDFPageView* PDFController::view() const {
    return view_;
}

void PDFController::setView(PDFPageView* view) {
    if (view_ == view)
        return;
    if (view_)
        view_->disconnect(this);
    view_ = view;
    stopSearch();
    matches_.clear();
    matchIndex_ = 0;
    const bool hadCount = matchCount_.has_value();
    matchCount_.reset();
    if (view_)
        connect(view_, &PDFPageView::currentPageChanged, this, &PDFController::update);
    if (hadCount)
        Q_EMIT changed();
    update();
}

void PDFController::reset() {
    if (view_)
        view_->disconnect(this);
    view_ = nullptr;
    stopSearch();
    const bool changedAny =
        pageIndex_ != 0 || pageCount_ != 0 || matchCount_ || !matches_.isEmpty();
    pageIndex_ = 0;
    pageCount_ = 0;
    matchCount_.reset();
    matches_.clear();
    matchIndex_ = 0;
    if (changedAny)
        Q_EMIT changed();
}

void PDFController::setCounters(int pageIndex, int pageCount) {
    if (pageIndex == pageIndex_ && pageCount == pageCount_)
        return;
    pageIndex_ = pageIndex;
    pageCount_ = pageCount;
    Q_EMIT changed();
}

void PDFController::update() {
    if (!view_ || view_->pageCount() == 0)
        return;
    setCounters(view_->currentPage(), view_->pageCount());
}

void PDFController::stopSearch() {
    searchTimer_.stop();
    nextSearchPage_ = -1;
    searchText_.clear();
    searchModel_->setSearchString(QString());
    searchModel_->setDocument(nullptr);
}

void PDFController::clearMatches() {
    stopSearch();
    matches_.clear();
    if (view_)
        view_->setHighlights({});
    if (matchCount_) {
        matchCount_.reset();
        Q_EMIT changed();
    }
}

void PDFController::find(const QString& text) {
    if (!view_ || view_->pageCount() == 0)
        return;
    if (text.isEmpty()) {
        clearMatches();
        return;
    }
    const QString running = matches_.isEmpty() ? searchText_ : matches_.first().text;
    const bool sameSearch = !running.isEmpty() && running.compare(text, Qt::CaseInsensitive) == 0;
    if (sameSearch && !matches_.isEmpty()) {
        matchIndex_ = (matchIndex_ + 1) % std::max<qsizetype>(1, matches_.size());
        showMatches();
        Q_EMIT changed();
        return;
    }
    if (sameSearch && isSearching())
        return; // no match yet: the search under way goes on
    stopSearch();
    matches_.clear();
    matchIndex_ = 0;
    searchText_ = text;
    matchCount_ = 0;
    view_->setHighlights({});
    searchModel_->setDocument(view_->document());
    searchModel_->setSearchString(text);
    nextSearchPage_ = 0;
    searchSlice();
}

void PDFController::searchSlice() {
    if (!view_ || nextSearchPage_ < 0)
        return;
    QElapsedTimer clock;
    clock.start();
    const int pages = view_->pageCount();
    const bool hadMatches = !matches_.isEmpty();
    const qsizetype before = matches_.size();
    while (nextSearchPage_ < pages && clock.elapsed() < searchSliceMs) {
        const int page = nextSearchPage_++;
        for (const QPdfLink& link : searchModel_->resultsOnPage(page)) {
            // Qt PDF gives a rectangle per character: those of one line become one.
            QList<QRectF> lines;
            for (const QRectF& rect : link.rectangles()) {
                if (!lines.isEmpty()) {
                    QRectF& line = lines.last();
                    const qreal overlap =
                        std::min(line.bottom(), rect.bottom()) - std::max(line.top(), rect.top());
                    if (overlap > 0.5 * std::min(line.height(), rect.height())) {
                        line = line.united(rect);
                        continue;
                    }
                }
                lines.append(rect);
            }
            QList<QPolygonF> bounds;
            for (const QRectF& line : std::as_const(lines))
                bounds.append(QPolygonF(line));
            matches_.append(PDFMatch{page, searchText_, bounds});
        }
    }
    if (nextSearchPage_ >= pages)
        nextSearchPage_ = -1;
    else
        searchTimer_.start();
    matchCount_ = int(matches_.size());
    if (matches_.size() != before || !isSearching()) {
        QList<PDFPageView::Highlight> highlights;
        highlights.reserve(matches_.size());
        for (const PDFMatch& match : std::as_const(matches_))
            highlights.append(PDFPageView::Highlight{match.page, match.bounds});
        const int current = view_->currentHighlight();
        view_->setHighlights(highlights);
        // The first match is selected when it is found; a later slice keeps the selection.
        if (!hadMatches && !matches_.isEmpty())
            view_->setCurrentHighlight(matchIndex_);
        else if (current >= 0)
            view_->setCurrentHighlight(current, false);
    }
    Q_EMIT changed();
}

void PDFController::showMatches() {
    QList<PDFPageView::Highlight> highlights;
    highlights.reserve(matches_.size());
    for (const PDFMatch& match : std::as_const(matches_))
        highlights.append(PDFPageView::Highlight{match.page, match.bounds});
    view_->setHighlights(highlights);
    if (matchIndex_ >= 0 && matchIndex_ < matches_.size())
        view_->setCurrentHighlight(matchIndex_);
}

void PDFController::rotate() {
    if (!view_ || view_->pageCount() == 0)
        return;
    const int page = view_->currentPage();
    view_->setPageRotation(page, (view_->pageRotation(page) + 90) % 360);
}

void PDFController::previousPage() {
    if (view_)
        view_->goToPreviousPage();
}

void PDFController::nextPage() {
    if (view_)
        view_->goToNextPage();
}

void PDFController::zoomIn() {
    if (view_)
        view_->zoomIn();
}

void PDFController::zoomOut() {
    if (view_)
        view_->zoomOut();
}

void PDFController::zoomToFit() {
    if (view_)
        view_->setAutoScales(true);
}

} // namespace tw
