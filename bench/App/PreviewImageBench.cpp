// A 6000×4000 JPEG: time until the image viewer has painted it fitted to a window-sized
// pane, against decoding it with QImageReader alone (goal: a ratio under 1.3).
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageViewer.h"
#include "bench/WidgetBenchMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

using namespace tw;

namespace {

const QString& photoPath() {
    static QTemporaryDir dir;
    static const QString path = [] {
        QImage image(6000, 4000, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, 6000, 4000);
        gradient.setColorAt(0, QColor(20, 90, 200));
        gradient.setColorAt(1, QColor(240, 180, 40));
        painter.fillRect(image.rect(), gradient);
        for (int i = 0; i < 400; ++i)
            painter.fillRect(QRect((i * 997) % 6000, (i * 613) % 4000, 120, 80),
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

void ImageViewerFirstPaint(benchmark::State& state) {
    photoPath();
    double viewerNs = 0, readerNs = 0;
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        readerNs += double(readerAloneNs());
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        ImageController controller;
        ImageViewer viewer(QUrl::fromLocalFile(photoPath()), &controller);
        viewer.resize(960, 660);
        viewer.show();
        // The first paint, fitted to the pane.
        viewer.imageView()->zoomToFit();
        viewer.imageView()->viewport()->repaint();
        const qint64 elapsed = clock.nsecsElapsed();
        state.SetIterationTime(elapsed / 1e9);
        viewerNs += double(elapsed);
        ++n;
    }
    state.counters["ratio_to_reader"] = viewerNs / readerNs;
}
BENCHMARK(ImageViewerFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) { return tw::bench::runWidgetBenchmarks(argc, argv); }
