// Upload of one large file through the resumable path (8 MiB chunks streamed from the file)
// against `curl -T` of the same file to the same fake upload session endpoint. Reports both
// best throughputs of three runs each, their ratio and how much the peak resident set grew during
// the upload.
//
//   DriveUploadBench            128 MiB
//   DriveUploadBench --full     1 GiB (or TW_BENCH_FULL=1; TW_BENCH_BYTES=<n> for any size)
#include "bench/Drive/DriveBenchSupport.h"

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

using namespace tw;
using namespace tw::bench;

namespace {

/// Opens an upload session directly (for curl) and returns its loopback URL.
QUrl openSession(DriveBench& bench, qint64 size) {
    HTTPRequest request;
    request.method = "POST";
    request.url = PercentEncoding::withQuery(
        QUrl(QStringLiteral("https://www.googleapis.com/upload/drive/v3/files")),
        {{QStringLiteral("uploadType"), QStringLiteral("resumable")}});
    request.headers.set("Authorization", "Bearer " + bench.tokens.accessToken.toUtf8());
    request.headers.set("Content-Type", "application/json; charset=UTF-8");
    request.headers.set("X-Upload-Content-Length", QByteArray::number(size));
    request.body = QJsonDocument(QJsonObject{{"name", "curl.bin"}, {"parents", QJsonArray{"root"}}})
                       .toJson(QJsonDocument::Compact);
    const HTTPReply reply = bench.http->send(request);
    return bench.http->rewrite(
        QUrl::fromEncoded(reply.response.headers.value("Location").value_or("")));
}

void BM_ResumableUploadVersusCurl(benchmark::State& state) {
    const qint64 size = transferBytes();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("upload.bin"));
    if (!writeSyntheticFile(path, size)) {
        state.SkipWithError("cannot write the local file");
        return;
    }
    DriveBench bench;
    bench.server.setStoreUploads(false);
    const LocalFile file{QUrl::fromLocalFile(path), QStringLiteral("upload.bin"), size,
                         QStringLiteral("application/octet-stream")};

    qint64 ours = std::numeric_limits<qint64>::max();
    qint64 theirs = std::numeric_limits<qint64>::max();
    double rssGrowth = 0;
    for (auto _ : state) {
        const double before = peakRssMiB();
        QElapsedTimer timer;
        timer.start();
        const FileItem item = bench.provider->upload(bench.account, file, std::nullopt, {});
        const qint64 elapsed = timer.nsecsElapsed();
        ours = std::min(ours, elapsed);
        rssGrowth = std::max(rssGrowth, peakRssMiB() - before);
        if (item.sizeBytes != size) {
            state.SkipWithError("the upload lost bytes");
            return;
        }
        const QUrl session = openSession(bench, size);
        const qint64 curlTime =
            runCurl({"-sS", "-o", "/dev/null", "-T", path, "-H", "Expect:", "-H",
                     QStringLiteral("Content-Range: bytes 0-%1/%2").arg(size - 1).arg(size),
                     session.toString()});
        if (curlTime < 0) {
            state.SkipWithError("curl failed");
            return;
        }
        theirs = std::min(theirs, curlTime);
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    state.counters["MiB"] = double(size) / (1024.0 * 1024.0);
    state.counters["ours_MiB_per_s"] = mibPerSecond(size, ours);
    state.counters["curl_MiB_per_s"] = mibPerSecond(size, theirs);
    state.counters["ratio_to_curl"] = double(theirs) / double(ours);
    state.counters["peak_rss_growth_MiB"] = rssGrowth;
    state.counters["peak_rss_MiB"] = peakRssMiB();
}
BENCHMARK(BM_ResumableUploadVersusCurl)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

TW_DRIVE_BENCH_MAIN()
