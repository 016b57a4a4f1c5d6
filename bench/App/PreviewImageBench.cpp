// An 8000×8000 JPEG in the image viewer: decoding it with QImageReader alone; opening it in a
// window-sized pane until it is on screen, with the main thread's longest stall meanwhile
// (goal: under 50 ms) and the memory it took; and zooming it to its actual size and panning
// to its far corner until what is in view is sharp, with the longest stall and the memory
// taken above the fitted view's (goal: the detail held within the view's bound, 64 MiB).
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageViewer.h"
#include "bench/App/PreviewStallProbe.h"
#include "bench/Measure.h"
#include "bench/WidgetBenchMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace tw;
using tw::bench::Samples;
using tw::bench::StallProbe;

namespace {

constexpr int kSide = 8000;
constexpr double kStallGoalMs = 50;

const QString& photoPath() {
    static QTemporaryDir dir;
    static const QString path = [] {
        QImage image(kSide, kSide, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, kSide, kSide);
        gradient.setColorAt(0, QColor(20, 90, 200));
        gradient.setColorAt(1, QColor(240, 180, 40));
        painter.fillRect(image.rect(), gradient);
        for (int i = 0; i < 600; ++i)
            painter.fillRect(QRect((i * 997) % kSide, (i * 613) % kSide, 120, 80),
                             QColor::fromHsv((i * 37) % 360, 200, 220));
        painter.end();
        const QString file = dir.filePath(QStringLiteral("photo.jpg"));
        QImageWriter writer(file, "jpeg");
        writer.setQuality(88);
        writer.write(image);
        return file;
    }();
    return path;
}

qint64 readerAloneNs() {
    QElapsedTimer clock;
    clock.start();
    QImageReader reader(photoPath());
    reader.setAutoTransform(true);
    QImageReader::setAllocationLimit(1024);
    const QImage image = reader.read();
    benchmark::DoNotOptimize(image.width());
    return clock.nsecsElapsed();
}

void ImageReaderAlone(benchmark::State& state) {
    photoPath();
    for (auto _ : state)
        state.SetIterationTime(readerAloneNs() / 1e9);
}
BENCHMARK(ImageReaderAlone)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

bool imageShown(const ImageViewer& viewer) {
    return viewer.imageView() && viewer.imageView()->hasImage();
}

void ImageViewerOpen(benchmark::State& state) {
    photoPath();
    Samples shownMs, stallMs, stallCpuMs, residentMiB, peakMiB;
    for (auto _ : state) {
        StallProbe::resetPeak();
        const double before = StallProbe::residentMiB();
        StallProbe probe;
        probe.start();
        QElapsedTimer clock;
        clock.start();
        ImageController controller;
        auto viewer = std::make_unique<ImageViewer>(QUrl::fromLocalFile(photoPath()), &controller);
        viewer->resize(960, 660);
        viewer->show();
        if (!StallProbe::runUntil([&] { return imageShown(*viewer); }))
            state.SkipWithError("the image never showed");
        viewer->imageView()->viewport()->repaint();
        const qint64 elapsed = clock.nsecsElapsed();
        probe.stop();
        state.SetIterationTime(elapsed / 1e9);
        shownMs.add(elapsed / 1e6);
        stallMs.add(probe.longestStallMs());
        stallCpuMs.add(probe.longestStallCpuMs());
        residentMiB.add(StallProbe::residentMiB() - before);
        peakMiB.add(StallProbe::peakResidentMiB() - before);
        viewer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    shownMs.report(state, "shown_ms");
    stallMs.report(state, "longest_stall_ms");
    stallCpuMs.report(state, "longest_stall_cpu_ms");
    state.counters["stall_goal_ms"] = kStallGoalMs;
    residentMiB.report(state, "rss_growth_MiB");
    peakMiB.report(state, "peak_rss_growth_MiB");
}
BENCHMARK(ImageViewerOpen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void ImageViewerZoomToActualSizeAndPan(benchmark::State& state) {
    photoPath();
    Samples stallMs, stallCpuMs, peakMiB, residentMiB, detailMiB;
    for (auto _ : state) {
        state.PauseTiming();
        ImageController controller;
        auto viewer = std::make_unique<ImageViewer>(QUrl::fromLocalFile(photoPath()), &controller);
        viewer->resize(960, 660);
        viewer->show();
        StallProbe::runUntil([&] { return imageShown(*viewer); });
        MagnifyingImageView* view = viewer->imageView();
        viewer->repaint();
        StallProbe::resetPeak();
        const double fitted = StallProbe::residentMiB();
        state.ResumeTiming();
        StallProbe probe;
        probe.start();
        controller.actualSize();
        if (!StallProbe::runUntil([&] { return view->isSharp(); }))
            state.SkipWithError("the image never showed sharp at its actual size");
        view->viewport()->repaint();
        view->centerOn(kSide - 1, kSide - 1);
        if (!StallProbe::runUntil([&] { return view->isSharp(); }))
            state.SkipWithError("the far corner never showed sharp");
        view->viewport()->repaint();
        probe.stop();
        state.PauseTiming();
        stallMs.add(probe.longestStallMs());
        stallCpuMs.add(probe.longestStallCpuMs());
        peakMiB.add(StallProbe::peakResidentMiB() - fitted);
        residentMiB.add(StallProbe::residentMiB() - fitted);
        const QSize detail = view->detailSize();
        detailMiB.add(double(detail.width()) * detail.height() * 4 / (1024.0 * 1024.0));
        viewer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    stallMs.report(state, "longest_stall_ms");
    stallCpuMs.report(state, "longest_stall_cpu_ms");
    state.counters["stall_goal_ms"] = kStallGoalMs;
    peakMiB.report(state, "peak_rss_above_fitted_MiB");
    residentMiB.report(state, "rss_above_fitted_MiB");
    detailMiB.report(state, "detail_MiB");
    state.counters["detail_goal_MiB"] =
        double(MagnifyingImageView::detailByteLimit) / (1024.0 * 1024.0);
    state.counters["full_image_MiB"] = double(kSide) * kSide * 4 / (1024.0 * 1024.0);
}
BENCHMARK(ImageViewerZoomToActualSizeAndPan)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    return tw::bench::runWidgetBenchmarks(argc, argv);
}
