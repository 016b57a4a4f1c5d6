// The PDF viewer and its controller over PDFs written by the test: counters, find with
// highlights, rotation, zoom bounds, single-page mode, and an unreadable file after a good one;
// opening by a task, tiles that match the whole page, and renderings held within their bound.
#include "App/Preview/PDFViewer.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFPageView.h"
#include "App/Preview/PDFRenderer.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QPdfWriter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        EXPECT_TRUE(QTest::qWaitFor([&] { return !viewer->isLoading(); }, 10000));
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

TEST_F(PdfViewerTest, TheFileIsOpenedBehindABusyIndicatorAndAViewerClosedMeanwhileHearsNothing) {
    PDFController controller;
    {
        auto good = shown(twelvePages(), &controller);
        find(controller, QStringLiteral("kelvanor"));
        ASSERT_EQ(controller.pageCount(), 12);
    }
    // A pipe holds the opening task until the test writes to it.
    const QString gated = dir.filePath(QStringLiteral("gated.pdf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(gated).constData(), 0600), 0);
    auto viewer = std::make_unique<PDFViewer>(QUrl::fromLocalFile(gated), &controller, false);
    viewer->resize(700, 600);
    viewer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
    EXPECT_TRUE(viewer->isLoading());
    ASSERT_NE(viewer->busyIndicator(), nullptr);
    EXPECT_TRUE(viewer->busyIndicator()->isVisible());
    EXPECT_EQ(viewer->pageView(), nullptr);
    EXPECT_EQ(controller.pageCount(), 0) << "the last document's counters went at once";
    EXPECT_FALSE(controller.matchCount().has_value());
    int fd = -1;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            fd = ::open(QFile::encodeName(gated).constData(), O_WRONLY | O_NONBLOCK);
            return fd >= 0;
        },
        5000))
        << "the task opened the file";
    viewer.reset();
    ::close(fd);
    threadPool(TaskPool::general)->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(controller.view(), nullptr);
    EXPECT_EQ(controller.pageCount(), 0);
}

TEST_F(PdfViewerTest, TilesShowTheSamePixelsAsTheWholePageInEveryTurn) {
    // Blocks of colour in three corners and a frame: any shift or scale shows.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A5));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter painter(&writer);
        painter.fillRect(QRectF(0, 0, 120, 90), Qt::red);
        painter.fillRect(QRectF(300, 500, 110, 90), Qt::blue);
        painter.fillRect(QRectF(0, 480, 60, 100), Qt::darkGreen);
        painter.setPen(QPen(Qt::black, 3));
        painter.drawRect(QRectF(20, 20, 370, 550));
    }
    const QString path = write(QStringLiteral("blocks.pdf"), bytes).toLocalFile();
    PDFRenderer::Opened opened = PDFRenderer::open(path, QThread::currentThread());
    ASSERT_TRUE(opened.renderer && opened.document);
    const QSizeF points = opened.renderer->pageSizes().at(0);
    for (int rotation : {0, 90, 180, 270}) {
        const QSizeF turned = rotation % 180 == 0 ? points : points.transposed();
        const QSize pixels = (turned * 2.5).toSize();
        QPdfDocumentRenderOptions options;
        options.setRotation(rotation == 90    ? QPdfDocumentRenderOptions::Rotation::Clockwise90
                            : rotation == 180 ? QPdfDocumentRenderOptions::Rotation::Clockwise180
                            : rotation == 270 ? QPdfDocumentRenderOptions::Rotation::Clockwise270
                                              : QPdfDocumentRenderOptions::Rotation::None);
        const QImage whole = opened.document->render(0, pixels, options);
        ASSERT_EQ(whole.size(), pixels);
        const int size = PDFRenderer::tileSize;
        for (int y = 0; y < pixels.height(); y += size) {
            for (int x = 0; x < pixels.width(); x += size) {
                const QRect tile = QRect(x, y, size, size) & QRect(QPoint(0, 0), pixels);
                const QImage part = opened.renderer->renderTile(0, rotation, pixels, tile);
                ASSERT_EQ(part.size(), tile.size()) << rotation;
                // Edges may differ by anti-aliasing; a shifted block differs everywhere.
                qint64 differing = 0;
                for (int row = 0; row < tile.height(); ++row) {
                    for (int column = 0; column < tile.width(); ++column) {
                        const QColor a = part.pixelColor(column, row);
                        const QColor b = whole.pixelColor(tile.left() + column, tile.top() + row);
                        if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                                std::abs(a.blue() - b.blue()) + std::abs(a.alpha() - b.alpha()) >
                            60)
                            ++differing;
                    }
                }
                EXPECT_LT(differing, qint64(tile.width() + tile.height()) * 2)
                    << "turn " << rotation << " tile " << x << "," << y;
            }
        }
    }
}

TEST_F(PdfViewerTest, AtTheLargestZoomOnlyTilesOnScreenAreRenderedAndTheCacheKeepsItsBound) {
    PDFController controller;
    auto viewer = shown(twelvePages(), &controller);
    PDFPageView* view = viewer->pageView();
    while (view->scaleFactor() < PDFPageView::maximumScale)
        controller.zoomIn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->hasPendingRenders(); }, 10000));
    const qint64 wholePage = qint64(view->pageRect(0).width()) * view->pageRect(0).height() * 4;
    const qint64 tile = qint64(PDFRenderer::tileSize) * PDFRenderer::tileSize * 4;
    EXPECT_GT(wholePage, 90'000'000) << "an A5 page at this scale";
    const qint64 onScreen = tile * 3 * 3; // a 700×600 view meets at most 3×3 tiles
    EXPECT_LE(view->renderedBytes(), PDFPageView::cacheBytes + onScreen);
    // Scrolling through whole pages at this scale renders far more than the bound.
    QScrollBar* bar = view->verticalScrollBar();
    const int end = view->pageRect(4).bottom();
    qint64 most = 0;
    for (int y = bar->value(); y < end; y += view->viewport()->height()) {
        bar->setValue(y);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->hasPendingRenders(); }, 10000)) << y;
        EXPECT_LE(view->renderedBytes(), PDFPageView::cacheBytes + onScreen) << y;
        most = std::max(most, view->renderedBytes());
    }
    EXPECT_GT(most, PDFPageView::cacheBytes - 2 * tile) << "the bound was reached";
    // The page counter followed, and the tiles on screen are all there.
    EXPECT_EQ(controller.pageIndex(), 4);
    EXPECT_FALSE(view->hasPendingRenders());
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
