// Upload of one large file through the resumable path (8 MiB chunks streamed from the file)
// against `curl -T` of the same file to an upload session of the same fake endpoint.
//
// Like with like: the fake server runs in a process of its own (tw-fake-drive); ours runs as
// a whole process (tw-drive-client) started the way curl is, and opens its session inside
// its time; curl's session is opened just before it and that request's time is added to
// curl's. TW_BENCH_SAMPLES samples each (default 5), in alternating order. Reported:
// medians with _min/_max of the times, vs_curl (per-sample ratio curl time / ours; above 1:
// we are faster), both throughputs, both processes' peak resident sets, and our resident
// set's growth during the upload.
//
//   DriveUploadBench            128 MiB
//   DriveUploadBench --full     1 GiB (or TW_BENCH_FULL=1; TW_BENCH_BYTES=<n> for any size)
#include "bench/Drive/DriveBenchSupport.h"
#include "bench/Measure.h"

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace tw;
using namespace tw::bench;

namespace {

/// Opens an upload session (for curl) and returns its loopback URL, with the time it took.
QUrl openSession(HTTPClient& http, const ServerProcess& server, qint64 size, double& seconds) {
    HTTPRequest request;
    request.method = "POST";
    request.url = QUrl(QStringLiteral(
                           "http://127.0.0.1:%1/upload/drive/v3/files?uploadType=resumable")
                           .arg(server.port));
    request.headers.set("Authorization", "Bearer " + server.accessToken.toUtf8());
    request.headers.set("Content-Type", "application/json; charset=UTF-8");
    request.headers.set("X-Upload-Content-Length", QByteArray::number(size));
    request.body = QJsonDocument(QJsonObject{{"name", "curl.bin"}, {"parents", QJsonArray{"root"}}})
                       .toJson(QJsonDocument::Compact);
    QElapsedTimer timer;
    timer.start();
    const HTTPReply reply = http.send(request);
    seconds = double(timer.nsecsElapsed()) / 1e9;
    const QUrl location =
        QUrl::fromEncoded(reply.response.headers.value("Location").value_or(""));
    QUrl local = location;
    local.setScheme(QStringLiteral("http"));
    local.setHost(QStringLiteral("127.0.0.1"));
    local.setPort(server.port);
    return location.isValid() ? local : QUrl();
}

void BM_ResumableUploadVersusCurl(benchmark::State& state) {
    const qint64 size = transferBytes();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("upload.bin"));
    if (!writeSyntheticFile(path, size)) {
        state.SkipWithError("cannot write the local file");
        return;
    }
    ServerProcess server;
    if (!server.start(ownFolder(), 0)) {
        state.SkipWithError("tw-fake-drive did not start");
        return;
    }
    CurlHTTPClient http;
    const QString report = folder.filePath(QStringLiteral("memory.txt"));
    const QStringList oursArguments{QStringLiteral("upload"), QString::number(server.port),
                                    server.accessToken, server.refreshToken, path};

    Comparison comparison;
    Samples oursPeak, curlPeak, growth;
    int sample = 0;
    for (auto _ : state) {
        ProcessRun oursRun, curlRun;
        bool sessionOpened = true;
        const auto runOurs = [&] {
            oursRun = runProcess(ownFolder() + QStringLiteral("/tw-drive-client"), oursArguments,
                                 report);
        };
        const auto runCurl = [&] {
            double sessionSeconds = 0;
            const QUrl session = openSession(http, server, size, sessionSeconds);
            sessionOpened = session.isValid();
            curlRun = runProcess(
                QStringLiteral("curl"),
                {"-sS", "-f", "-o", "/dev/null", "-T", path, "-H", "Expect:", "-H",
                 QStringLiteral("Content-Range: bytes 0-%1/%2").arg(size - 1).arg(size),
                 session.toString()});
            curlRun.seconds += sessionSeconds;
        };
        if (sample++ % 2 == 0) {
            runOurs();
            runCurl();
        } else {
            runCurl();
            runOurs();
        }
        if (!oursRun.ok) {
            state.SkipWithError("our upload failed");
            return;
        }
        if (!sessionOpened || !curlRun.ok) {
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
    reportTransfer(state, size, comparison, oursPeak, curlPeak, growth);
}
BENCHMARK(BM_ResumableUploadVersusCurl)
    ->UseManualTime()
    ->Iterations(sampleCount())
    ->Unit(benchmark::kMillisecond);

} // namespace

TW_DRIVE_BENCH_MAIN()
