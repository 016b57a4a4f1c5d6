// Download of one large file through the back end (streamed to a temporary file, moved into
// place) against `curl -o` from the same fake endpoint; the best of three runs each.
//
//   DriveDownloadBench            128 MiB
//   DriveDownloadBench --full     1 GiB (or TW_BENCH_FULL=1; TW_BENCH_BYTES=<n> for any size)
#include "bench/Drive/DriveBenchSupport.h"

#include <QFileInfo>

#include <limits>

using namespace tw;
using namespace tw::bench;

namespace {

void BM_DownloadVersusCurl(benchmark::State& state) {
    const qint64 size = transferBytes();
    QTemporaryDir folder;
    DriveBench bench;
    const QString id = bench.server.addSyntheticFile(QStringLiteral("big.bin"), size);
    const QString ours = folder.filePath(QStringLiteral("ours.bin"));
    const QString theirs = folder.filePath(QStringLiteral("curl.bin"));
    const QUrl link = bench.http->rewrite(
        QUrl(QStringLiteral("https://www.googleapis.com/drive/v3/files/%1?alt=media").arg(id)));

    qint64 oursNs = std::numeric_limits<qint64>::max();
    qint64 theirsNs = std::numeric_limits<qint64>::max();
    double rssGrowth = 0;
    for (auto _ : state) {
        const double before = peakRssMiB();
        QElapsedTimer timer;
        timer.start();
        bench.provider->download(FileRef{bench.account, id}, QUrl::fromLocalFile(ours), {});
        const qint64 elapsed = timer.nsecsElapsed();
        oursNs = std::min(oursNs, elapsed);
        rssGrowth = std::max(rssGrowth, peakRssMiB() - before);
        if (QFileInfo(ours).size() != size) {
            state.SkipWithError("the download lost bytes");
            return;
        }
        const qint64 curlTime =
            runCurl({"-sS", "-o", theirs, "-H", bench.bearer(), link.toString()});
        if (curlTime < 0 || QFileInfo(theirs).size() != size) {
            state.SkipWithError("curl failed");
            return;
        }
        theirsNs = std::min(theirsNs, curlTime);
        QFile::remove(theirs);
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    state.counters["MiB"] = double(size) / (1024.0 * 1024.0);
    state.counters["ours_MiB_per_s"] = mibPerSecond(size, oursNs);
    state.counters["curl_MiB_per_s"] = mibPerSecond(size, theirsNs);
    state.counters["ratio_to_curl"] = double(theirsNs) / double(oursNs);
    state.counters["peak_rss_growth_MiB"] = rssGrowth;
}
BENCHMARK(BM_DownloadVersusCurl)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

TW_DRIVE_BENCH_MAIN()
