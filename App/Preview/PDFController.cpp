#include "App/Preview/PDFController.h"

#include "App/Preview/PDFPageView.h"

#include <QPdfDocument>
#include <QPdfSelection>

#include <algorithm>

namespace tw {

PDFController::PDFController(QObject* parent) : QObject(parent) {}

PDFPageView* PDFController::view() const { return view_; }

void PDFController::setView(PDFPageView* view) {
    if (view_ == view)
        return;
    if (view_)
        view_->disconnect(this);
    view_ = view;
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
    const bool changedAny = pageIndex_ != 0 || pageCount_ != 0 || matchCount_ || !matches_.isEmpty();
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

void PDFController::clearMatches() {
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
    if (!matches_.isEmpty() && matches_.first().text.compare(text, Qt::CaseInsensitive) == 0) {
        matchIndex_ = (matchIndex_ + 1) % std::max<qsizetype>(1, matches_.size());
    } else {
        matches_.clear();
        const int pages = view_->pageCount();
        for (int page = 0; page < pages; ++page) {
            const QString pageText = view_->pageText(page);
            qsizetype from = 0;
            while ((from = pageText.indexOf(text, from, Qt::CaseInsensitive)) >= 0) {
                const QPdfSelection selection =
                    view_->document()->getSelectionAtIndex(page, int(from), int(text.size()));
                matches_.append(PDFMatch{page, pageText.mid(from, text.size()), selection.bounds()});
                from += text.size();
            }
        }
        matchIndex_ = 0;
    }
    matchCount_ = int(matches_.size());
    showMatches();
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
