#pragma once

#include "App/Preview/PDFControls.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QPolygonF>
#include <QString>
#include <QTimer>

#include <optional>

class QPdfSearchModel;

namespace tw {

class PDFPageView;

/// One match of a PDF search: its page, its text as found and its outline in page points.
struct PDFMatch {
    int page = 0;
    QString text;
    QList<QPolygonF> bounds;
};

/// The PDF state a preview window keeps while the user steps from file to file: the page
/// counters, the matches of the last search, and the operations of the toolbar and the search
/// field. It reaches the page view on screen through a weak reference that the viewer sets;
/// every operation does nothing while there is none. Its functions of the same names carry
/// out PDFControls' (changed() is that interface's signal).
class PDFController : public PDFControls {
    Q_OBJECT
public:
    explicit PDFController(QObject* parent = nullptr);

    PDFPageView* view() const;
    int pageIndex() const { return pageIndex_; }
    int pageCount() const { return pageCount_; }
    /// Number of matches of the last search; none when no search is active.
    std::optional<int> matchCount() const { return matchCount_; }
    const QList<PDFMatch>& matches() const { return matches_; }
    int matchIndex() const { return matchIndex_; }

    /// Links the view on screen (the viewer does, once per document shown) and refreshes the
    /// counters from it. Matches of an earlier document are cleared: they belong to its pages.
    void setView(PDFPageView* view);
    /// The viewer's document could not be opened, or something else is shown: no view,
    /// counters 0, no matches.
    void reset() override;

    /// Searches the document case-insensitively and selects the first match; the same text
    /// again (ignoring case) selects the next match, wrapping round. Empty text ends the search.
    /// A long document is searched a few pages per turn of the event loop: matches (and the
    /// count) grow as pages are searched, and the first one is selected when it is found.
    void find(const QString& text);
    /// True while pages remain to be searched.
    bool isSearching() const { return nextSearchPage_ >= 0; }
    /// The time one turn of the event loop may spend searching.
    static constexpr int searchSliceMs = 12;
    /// Turns the current page a quarter turn clockwise.
    void rotate();
    /// Refreshes pageCount and pageIndex from the view.
    void update();
    void previousPage();
    void nextPage();
    void zoomIn();
    void zoomOut();
    /// Automatic scaling again: the page fits the view.
    void zoomToFit();

private:
    void setCounters(int pageIndex, int pageCount);
    void clearMatches();
    void showMatches();
    void stopSearch();
    void searchSlice();

    QPointer<PDFPageView> view_;
    int pageIndex_ = 0;
    int pageCount_ = 0;
    std::optional<int> matchCount_;
    QList<PDFMatch> matches_;
    int matchIndex_ = 0;
    QString searchText_;
    int nextSearchPage_ = -1;
    QPdfSearchModel* searchModel_ = nullptr;
    QTimer searchTimer_;
};

} // namespace tw
