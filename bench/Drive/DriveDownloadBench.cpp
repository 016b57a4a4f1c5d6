// Download of one large file through the back end (streamed to a temporary file, moved into
// place) against `curl -o` from the same fake endpoint.
//
// Like with like: the fake server runs in a process of its own (tw-fake-drive); ours runs as
// a whole process (tw-drive-client) started the way curl is; before every run, outside the
// timed region, both destinations are removed, so neither replaces an old file while timed.
// TW_BENCH_SAMPLES samples each (default 5), in alternating order. Reported: medians with
// _min/_max of the times, vs_curl (per-sample ratio curl time / ours; above 1: we are
// faster), both throughputs, both processes' peak resident sets, and our resident set's
// growth during the transfer (high-water mark minus the resident set before it).
//
//   DriveDownloadBench            128 MiB
//   DriveDownloadBench --full     1 GiB (or TW_BENCH_FULL=1; TW_BENCH_BYTES=<n> for any size)
#include "bench/Drive/DriveBenchSupport.h"
#include "bench/Measure.h"

#include <QFileInfo>

using namespace tw;
using namespace tw::bench;

namespace {

void BM_DownloadVersusCurl(benchmark::State& state) {
    const qint64 size = transferBytes();
    QTemporaryDir folder;
    ServerProcess server;
    if (!server.start(ownFolder(), size)) {
        state.SkipWithError("tw-fake-drive did not start");
        return;
    }
    const QString ours = folder.filePath(QStringLiteral("ours.bin"));
    const QString theirs = folder.filePath(QStringLiteral("curl.bin"));
    const QString report = folder.filePath(QStringLiteral("memory.txt"));
    const QString link = QStringLiteral("http://127.0.0.1:%1/drive/v3/files/%2?alt=media")
                             .arg(server.port)
                             .arg(server.fileID);
    const QStringList oursArguments{QStringLiteral("download"), QString::number(server.port),
                                    server.accessToken,         server.refreshToken,
                                    server.fileID,              ours};
    const QStringList curlArguments{"-sS", "-o", theirs, "-H",
                                    "Authorization: Bearer " + server.accessToken, link};

    Comparison comparison;
    Samples oursPeak, curlPeak, growth;
    int sample = 0;
    for (auto _ : state) {
        ProcessRun oursRun, curlRun;
        const auto runOurs = [&] {
            QFile::remove(ours);
            oursRun = runProcess(ownFolder() + QStringLiteral("/tw-drive-client"), oursArguments,
                                 report);
        };
        const auto runCurl = [&] {
            QFile::remove(theirs);
            curlRun = runProcess(QStringLiteral("curl"), curlArguments);
        };
        if (sample++ % 2 == 0) {
            runOurs();
            runCurl();
        } else {
            runCurl();
            runOurs();
        }
        if (!oursRun.ok || QFileInfo(ours).size() != size) {
            state.SkipWithError("our download failed or lost bytes");
            return;
        }
        if (!curlRun.ok || QFileInfo(theirs).size() != size) {
            state.SkipWithError("curl failed");
            return;
        }
        comparison.add(oursRun.seconds, curlRun.seconds);
        const ClientMemory memory = ClientMemory::read(report);
        oursPeak.add(oursRun.peakRssMiB);
        curlPeak.add(curlRun.peakRssMiB);
        growth.add(memory.peakMiB - memory.startMiB);
        state.SetIterationTime(oursRun.seconds);
    }
    QFile::remove(ours);
    QFile::remove(theirs);
    reportTransfer(state, size, comparison, oursPeak, curlPeak, growth);
}
BENCHMARK(BM_DownloadVersusCurl)
    ->UseManualTime()
    ->Iterations(sampleCount())
    ->Unit(benchmark::kMillisecond);

} // namespace

TW_DRIVE_BENCH_MAIN()
