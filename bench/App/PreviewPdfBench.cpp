// A 500-page PDF in the preview window's PDF viewer: time until the first page is on screen;
// time to find a word that is on every page (to the first match and to all 500, counted and
// highlighted) with the main thread's longest stall meanwhile; and the longest stall while the
// whole document is scrolled through (goal: under 30 ms; pages are rendered a tile per turn of
// the event loop, only those on screen, in tiles, and a search takes at most a slice of a
// turn).
// A 14-page A5 document at the largest zoom: the main thread's longest stall while it opens,
// zooms in and steps through every page (goal: under 50 ms), and the memory that takes over
// the fitted view's (goal: at most 200 MB more).
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFPageView.h"
#include "App/Preview/PDFViewer.h"
#include "bench/App/PreviewStallProbe.h"
#include "bench/Measure.h"
#include "bench/WidgetBenchMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPdfWriter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <ctime>

using namespace tw;
using tw::bench::StallProbe;

namespace {

constexpr int kPages = 500;

/// CPU time of the calling thread: a turn's own work, without the time the (shared) machine
/// gave to other processes meanwhile.
qint64 threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

const QString& documentPath() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("long.pdf"));
        QPdfWriter writer(file);
        writer.setResolution(72);
        QPainter painter(&writer);
        QFont font = painter.font();
        font.setPointSize(11);
        painter.setFont(font);
        for (int page = 0; page < kPages; ++page) {
            if (page > 0)
                writer.newPage();
            for (int line = 0; line < 40; ++line)
                painter.drawText(
                    QPointF(50, 60 + line * 16),
                    line == 20
                        ? QStringLiteral("Page %1 names Kelvanor once in its text.").arg(page + 1)
                        : QStringLiteral(
                              "Line %1 of page %2: some ordinary words to fill the page.")
                              .arg(line + 1)
                              .arg(page + 1));
        }
        painter.end();
        return file;
    }();
    return path;
}

/// Opened, laid out and the tiles on screen rendered.
bool settled(PDFViewer& viewer) {
    return viewer.pageView() && viewer.pageView()->renderCount() > 0 &&
           !viewer.pageView()->hasPendingRenders();
}

std::unique_ptr<PDFViewer> openViewer(PDFController& controller, bool settle = true) {
    auto viewer =
        std::make_unique<PDFViewer>(QUrl::fromLocalFile(documentPath()), &controller, false);
    viewer->resize(900, 700);
    viewer->show();
    // Shown, laid out and its first pages rendered before anything is measured.
    if (settle)
        (void)QTest::qWaitFor([&] { return settled(*viewer); }, 10000);
    return viewer;
}

void PdfOpenToFirstPage(benchmark::State& state) {
    documentPath();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        PDFController controller;
        auto viewer = openViewer(controller, false);
        if (!QTest::qWaitFor([&] { return settled(*viewer); }, 10000))
            state.SkipWithError("first page never rendered");
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        benchmark::DoNotOptimize(controller.pageCount());
    }
}
BENCHMARK(PdfOpenToFirstPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void PdfFindOnEveryPage(benchmark::State& state) {
    PDFController controller;
    auto viewer = openViewer(controller);
    int matches = 0;
    qint64 longest = 0;
    qint64 longestCpu = 0;
    double firstMatchMs = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        // The search runs a few pages per turn of the event loop; each turn is timed.
        QElapsedTimer turn;
        turn.start();
        qint64 cpu = threadCpuNs();
        controller.find(QStringLiteral("kelvanor"));
        longest = std::max(longest, turn.elapsed());
        longestCpu = std::max(longestCpu, threadCpuNs() - cpu);
        firstMatchMs += clock.nsecsElapsed() / 1e6;
        while (controller.isSearching()) {
            turn.restart();
            cpu = threadCpuNs();
            QCoreApplication::processEvents();
            longest = std::max(longest, turn.elapsed());
            longestCpu = std::max(longestCpu, threadCpuNs() - cpu);
        }
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        matches = controller.matchCount().value_or(0);
        state.PauseTiming();
        controller.find(QString());
        // A new document each time: nothing is kept between viewers.
        viewer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        viewer = openViewer(controller);
        state.ResumeTiming();
    }
    if (matches != kPages)
        state.SkipWithError("not every page matched");
    state.counters["matches"] = matches;
    state.counters["first_match_ms"] = firstMatchMs / double(state.iterations());
    state.counters["longest_stall_ms"] = double(longest);
    state.counters["longest_stall_cpu_ms"] = double(longestCpu) / 1e6;
    state.counters["stall_goal_ms"] = 30;
}
BENCHMARK(PdfFindOnEveryPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void PdfScrollWholeDocument(benchmark::State& state) {
    PDFController controller;
    auto viewer = openViewer(controller);
    PDFPageView* view = viewer->pageView();
    qint64 longest = 0;
    qint64 longestCpu = 0;
    int mostRenders = 0;
    int rendered = view->renderCount();
    for (auto _ : state) {
        QScrollBar* bar = view->verticalScrollBar();
        bar->setValue(0);
        QCoreApplication::processEvents();
        // A wheel-like step per turn of the event loop, as a user scrolling fast would.
        for (int value = 0; value <= bar->maximum(); value += 240) {
            QElapsedTimer turn;
            turn.start();
            const qint64 cpu = threadCpuNs();
            bar->setValue(value);
            view->viewport()->repaint();
            QCoreApplication::processEvents();
            longest = std::max(longest, turn.elapsed());
            longestCpu = std::max(longestCpu, threadCpuNs() - cpu);
            mostRenders = std::max(mostRenders, view->renderCount() - rendered);
            rendered = view->renderCount();
        }
    }
    state.counters["most_renders_per_turn"] = mostRenders;
    state.counters["longest_stall_ms"] = double(longest);
    state.counters["longest_stall_cpu_ms"] = double(longestCpu) / 1e6;
    state.counters["tiles_rendered"] = view->renderCount();
    state.counters["stall_goal_ms"] = 30;
}
BENCHMARK(PdfScrollWholeDocument)->Unit(benchmark::kMillisecond)->Iterations(1);

constexpr int kA5Pages = 14;

const QString& a5DocumentPath() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("a5.pdf"));
        QPdfWriter writer(file);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QPageSize::A5));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        for (int page = 0; page < kA5Pages; ++page) {
            if (page > 0)
                writer.newPage();
            painter.fillRect(QRectF(30, 30, 360, 120), QColor::fromHsv(page * 25 % 360, 120, 230));
            QFont font = painter.font();
            font.setPointSize(10);
            painter.setFont(font);
            for (int line = 0; line < 28; ++line)
                painter.drawText(QPointF(30, 180 + line * 14),
                                 QStringLiteral("Page %1, line %2: words to fill an A5 page.")
                                     .arg(page + 1)
                                     .arg(line + 1));
        }
        painter.end();
        return file;
    }();
    return path;
}

void PdfLargestZoomThroughEveryPage(benchmark::State& state) {
    a5DocumentPath();
    tw::bench::Samples stallMs, stallCpuMs, overFittedMiB, fittedMiB;
    for (auto _ : state) {
        StallProbe::resetPeak();
        const double start = StallProbe::residentMiB();
        StallProbe probe;
        probe.start();
        PDFController controller;
        auto viewer =
            std::make_unique<PDFViewer>(QUrl::fromLocalFile(a5DocumentPath()), &controller, false);
        viewer->resize(900, 700);
        viewer->show();
        if (!StallProbe::runUntil([&] { return settled(*viewer); }))
            state.SkipWithError("the first page never rendered");
        const double fitted = StallProbe::peakResidentMiB();
        fittedMiB.add(fitted - start);
        StallProbe::resetPeak();
        while (viewer->pageView()->scaleFactor() < PDFPageView::maximumScale)
            controller.zoomIn();
        StallProbe::runUntil([&] { return settled(*viewer); });
        for (int page = 1; page < kA5Pages; ++page) {
            controller.nextPage();
            if (!StallProbe::runUntil([&] { return settled(*viewer); }))
                state.SkipWithError("a page never rendered");
        }
        probe.stop();
        stallMs.add(probe.longestStallMs());
        stallCpuMs.add(probe.longestStallCpuMs());
        overFittedMiB.add(StallProbe::peakResidentMiB() - fitted);
        viewer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    stallMs.report(state, "longest_stall_ms");
    stallCpuMs.report(state, "longest_stall_cpu_ms");
    state.counters["stall_goal_ms"] = 50;
    fittedMiB.report(state, "fitted_rss_growth_MiB");
    overFittedMiB.report(state, "peak_over_fitted_MiB");
    state.counters["over_fitted_goal_MiB"] = 200 * 1e6 / (1024.0 * 1024.0);
}
BENCHMARK(PdfLargestZoomThroughEveryPage)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    return tw::bench::runWidgetBenchmarks(argc, argv);
}
