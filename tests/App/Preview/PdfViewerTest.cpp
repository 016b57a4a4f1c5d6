// The PDF viewer and its controller over PDFs written by the test: counters, find with
// highlights, rotation, zoom bounds, single-page mode, and an unreadable file after a good one.
#include "App/Preview/PDFViewer.h"
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFPageView.h"
#include "App/Preview/PreviewSupport.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;

namespace {

class PdfViewerTest : public ::testing::Test {
protected:
    QUrl write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return QUrl::fromLocalFile(dir.filePath(name));
    }
    /// A 12-page PDF with the word on pages 2, 5 and 9 (indexes 1, 4, 8) in two spellings.
    QUrl twelvePages() {
        return write(QStringLiteral("twelve.pdf"), makePDF(12, {{1, QStringLiteral("Kelvanor")},
                                                                {4, QStringLiteral("KELVANOR")},
                                                                {8, QStringLiteral("kelvanor")}}));
    }
    /// Shows a viewer in a window of the size and lets it render.
    std::unique_ptr<PDFViewer> shown(const QUrl& url, PDFController* controller,
                                     bool compact = false, QSize size = QSize(700, 600)) {
        auto viewer = std::make_unique<PDFViewer>(url, controller, compact);
        viewer->resize(size);
        viewer->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
        if (viewer->pageView()) {
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return !viewer->pageView()->hasPendingRenders(); }, 5000));
        }
        return viewer;
    }
    /// Finds and waits until every page has been searched.
    static void find(PDFController& controller, const QString& text) {
        controller.find(text);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.isSearching(); }, 10000));
    }
    QTemporaryDir dir;
};

TEST_F(PdfViewerTest, OpensWithItsCountersAtOnce) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    ASSERT_NE(viewer->pageView(), nullptr);
    EXPECT_EQ(controller.pageCount(), 12);
    EXPECT_EQ(controller.pageIndex(), 0);
    EXPECT_FALSE(controller.matchCount().has_value());
    EXPECT_EQ(viewer->pageView()->displayMode(), PDFPageView::DisplayMode::continuous);
    EXPECT_TRUE(viewer->pageView()->autoScales());
}

TEST_F(PdfViewerTest, FindCyclesThroughMatchesInEveryCapitalisation) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    struct Step {
        QString text;
        int page;
        int index;
    };
    // The same word in any capitalisation continues the cycle, and wraps at the end.
    const QList<Step> steps{{QStringLiteral("kelvanor"), 1, 0},
                            {QStringLiteral("KELVANOR"), 4, 1},
                            {QStringLiteral("Kelvanor"), 8, 2},
                            {QStringLiteral("kelvanor"), 1, 0}};
    for (const Step& step : steps) {
        find(controller, step.text);
        ASSERT_EQ(controller.matchCount(), 3) << step.text.toStdString();
        EXPECT_EQ(controller.matchIndex(), step.index);
        EXPECT_EQ(controller.matches().at(step.index).page, step.page);
        EXPECT_EQ(controller.pageIndex(), step.page) << "the current match's page is shown";
        EXPECT_EQ(viewer->pageView()->currentHighlight(), step.index);
        EXPECT_EQ(viewer->pageView()->highlights().size(), 3);
    }
    // A longer word that starts the same is a new search, at its first match.
    find(controller, QStringLiteral("kelvanor stands"));
    EXPECT_EQ(controller.matchCount(), 3);
    EXPECT_EQ(controller.matchIndex(), 0);
    // A word that is nowhere: zero matches, present, nothing highlighted.
    find(controller, QStringLiteral("absent"));
    EXPECT_EQ(controller.matchCount(), 0);
    EXPECT_TRUE(viewer->pageView()->highlights().isEmpty());
    EXPECT_EQ(viewer->pageView()->currentHighlight(), -1);
    // The empty text ends the search.
    find(controller, QStringLiteral("kelvanor"));
    controller.find(QString());
    EXPECT_FALSE(controller.matchCount().has_value());
    EXPECT_TRUE(viewer->pageView()->highlights().isEmpty());
}

TEST_F(PdfViewerTest, ALongDocumentIsSearchedAFewPagesAtATime) {
    QHash<int, QString> everywhere;
    for (int page = 0; page < 200; ++page)
        everywhere.insert(page, QStringLiteral("Kelvanor"));
    PDFController controller;
    auto viewer = shown(write(QStringLiteral("long.pdf"), makePDF(200, everywhere)), &controller);
    QSignalSpy changes(&controller, &PDFController::changed);
    controller.find(QStringLiteral("kelvanor"));
    // find() came back before the whole document was searched; the first match is selected.
    EXPECT_TRUE(controller.isSearching());
    ASSERT_TRUE(controller.matchCount().has_value());
    EXPECT_LT(*controller.matchCount(), 200);
    EXPECT_EQ(viewer->pageView()->currentHighlight(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.isSearching(); }, 20000));
    EXPECT_EQ(controller.matchCount(), 200);
    EXPECT_GE(changes.size(), 2) << "the count grew as pages were searched";
    // Ending the search midway stops it.
    controller.find(QStringLiteral("page"));
    controller.find(QString());
    EXPECT_FALSE(controller.isSearching());
    EXPECT_FALSE(controller.matchCount().has_value());
}

TEST_F(PdfViewerTest, TheCurrentMatchIsHighlightedOnScreen) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    find(controller, QStringLiteral("KELVANOR"));
    PDFPageView* view = viewer->pageView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->hasPendingRenders(); }, 5000));
    const QRectF match =
        view->highlightRect(view->highlights().at(0)).translated(-view->contentOffset());
    ASSERT_TRUE(QRectF(view->viewport()->rect()).contains(match)) << "scrolled into view";
    const QImage shot = view->viewport()->grab().toImage();
    // The word sits under an orange wash: its middle row has orange pixels.
    int orange = 0;
    const int y = qRound(match.center().y() * shot.devicePixelRatio());
    for (int x = qRound(match.left()); x < qRound(match.right()); ++x) {
        const QColor c = shot.pixelColor(qRound(x * shot.devicePixelRatio()), y);
        if (c.red() > 200 && c.green() > 120 && c.green() < 230 && c.blue() < 160)
            ++orange;
    }
    EXPECT_GT(orange, 5);
}

TEST_F(PdfViewerTest, RotationTurnsOnlyTheCurrentPage) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    controller.nextPage();
    controller.nextPage();
    ASSERT_EQ(controller.pageIndex(), 2);
    const QSize before = viewer->pageView()->pageRect(2).size();
    controller.rotate();
    EXPECT_EQ(viewer->pageView()->pageRotation(2), 90);
    controller.rotate();
    EXPECT_EQ(viewer->pageView()->pageRotation(2), 180);
    for (int page : {0, 1, 3, 11})
        EXPECT_EQ(viewer->pageView()->pageRotation(page), 0) << page;
    controller.rotate();
    const QSize turned = viewer->pageView()->pageRect(2).size();
    EXPECT_NEAR(double(turned.width()) / turned.height(), double(before.height()) / before.width(),
                0.02);
    controller.rotate();
    EXPECT_EQ(viewer->pageView()->pageRotation(2), 0);
}

TEST_F(PdfViewerTest, ScrollingMovesThePageCounterAndPagingStopsAtTheEnds) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    QScrollBar* bar = viewer->pageView()->verticalScrollBar();
    bar->setValue(viewer->pageView()->pageRect(6).top());
    EXPECT_EQ(controller.pageIndex(), 6);
    bar->setValue(bar->maximum());
    EXPECT_EQ(controller.pageIndex(), 11);
    controller.nextPage();
    EXPECT_EQ(controller.pageIndex(), 11);
    viewer->pageView()->goToPage(0);
    controller.previousPage();
    EXPECT_EQ(controller.pageIndex(), 0);
}

TEST_F(PdfViewerTest, ZoomStaysWithinItsLimitsAndFitReturns) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    PDFPageView* view = viewer->pageView();
    const qreal fitted = view->scaleFactor();
    for (int i = 0; i < 40; ++i)
        controller.zoomIn();
    EXPECT_DOUBLE_EQ(view->scaleFactor(), PDFPageView::maximumScale);
    EXPECT_FALSE(view->autoScales());
    for (int i = 0; i < 60; ++i)
        controller.zoomOut();
    EXPECT_DOUBLE_EQ(view->scaleFactor(), PDFPageView::minimumScale);
    controller.zoomToFit();
    EXPECT_TRUE(view->autoScales());
    EXPECT_NEAR(view->scaleFactor(), fitted, 1e-9);
}

TEST_F(PdfViewerTest, CompactModeShowsOnePageAtATimeWithoutAController) {
    auto viewer = shown(twelvePages(), nullptr, true, QSize(400, 300));
    PDFPageView* view = viewer->pageView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->displayMode(), PDFPageView::DisplayMode::singlePage);
    const QRect page = view->pageRect(0);
    EXPECT_LE(page.height(), view->viewport()->height()) << "the whole page fits";
    view->verticalScrollBar()->setValue(3);
    EXPECT_EQ(view->currentPage(), 3);
}

TEST_F(PdfViewerTest, AnUnreadableFileAfterAGoodOneResetsTheCountersAndSaysSo) {
    PDFController controller;
    {
        auto good = shown(twelvePages(), &controller);
        controller.nextPage();
        find(controller, QStringLiteral("kelvanor"));
        ASSERT_EQ(controller.pageCount(), 12);
        ASSERT_EQ(controller.matchCount(), 3);
    }
    auto bad = shown(write(QStringLiteral("bad.pdf"), QByteArray("%PDF-1.4 this is not a PDF")),
                     &controller);
    EXPECT_EQ(bad->pageView(), nullptr);
    ASSERT_NE(bad->unavailableView(), nullptr);
    EXPECT_EQ(bad->unavailableView()->title(), QStringLiteral("This file couldn't be displayed."));
    EXPECT_EQ(controller.pageCount(), 0);
    EXPECT_EQ(controller.pageIndex(), 0);
    EXPECT_FALSE(controller.matchCount().has_value());
    EXPECT_TRUE(controller.matches().isEmpty());
    // Every operation quietly does nothing without a view.
    controller.nextPage();
    controller.rotate();
    controller.find(QStringLiteral("kelvanor"));
    EXPECT_FALSE(controller.matchCount().has_value());
}

} // namespace
