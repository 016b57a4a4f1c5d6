// Upload and download of one large file through the fake libtdjson, which moves the bytes
// between real local files (its "remote" store and the session's "files" folder). Reports
// throughput and the peak memory of each transfer: it must stay flat whatever the file size.
// 256 MiB by default, 1 GiB with TW_BENCH_FULL=1.
#include "bench/Telegram/TelegramBenchSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace tw;

namespace {

qint64 fileSize(benchmark::State& state) {
    return bench::fullSizes() ? qint64(1) << 30 : state.range(0) << 20;
}

/// A file of `size` bytes written in 4 MiB blocks.
QString makeFile(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    const QByteArray block(4 << 20, 'z');
    for (qint64 written = 0; written < size; written += block.size())
        file.write(block.constData(), std::min<qint64>(block.size(), size - written));
    return path;
}

void BM_UploadThenDownload(benchmark::State& state) {
    bench::FakeAccount account;
    if (!account.ok()) {
        state.SkipWithError("fake libtdjson not found (build the tests)");
        return;
    }
    const qint64 size = fileSize(state);
    const QString source = makeFile(account.scratch() + "/source.bin", size);
    account.configure({{"upload_steps", 64}, {"download_steps", 64}});
    using Clock = std::chrono::steady_clock;
    double uploadSeconds = 0;
    double downloadSeconds = 0;
    qint64 uploadPeak = 0;
    qint64 downloadPeak = 0;
    const qint64 baseline = bench::peakRss();
    for (auto _ : state) {
        LocalFile file;
        file.url = QUrl::fromLocalFile(source);
        file.name = QStringLiteral("source.bin");
        file.sizeBytes = size;
        bench::resetPeakRss();
        auto start = Clock::now();
        const FileItem item =
            account.provider().upload(account.account(), file, std::nullopt, [](qint64) {});
        uploadSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        uploadPeak = std::max(uploadPeak, bench::peakRss());

        // The uploaded file's bytes, as another file of the account (no local copy yet).
        const qint64 fileID = 77;
        account.configure(
            {{"messages",
              QJsonArray{QJsonObject{
                  {"@type", "message"},
                  {"id", 5},
                  {"chat_id", 42},
                  {"date", 1'700'000'000},
                  {"content",
                   QJsonObject{
                       {"@type", "messageDocument"},
                       {"document", QJsonObject{{"file_name", "big.bin"},
                                                {"mime_type", "application/octet-stream"},
                                                {"document", QJsonObject{{"@type", "file"},
                                                                         {"id", fileID},
                                                                         {"size", size}}}}}}}}}},
             {"files", QJsonObject{{QString::number(fileID), QJsonObject{{"source", source}}}}}});
        (void)item;
        bench::resetPeakRss();
        start = Clock::now();
        account.provider().download({account.account(), QStringLiteral("m:42:5")},
                                    QUrl::fromLocalFile(account.scratch() + "/copy.bin"),
                                    [](qint64) {});
        downloadSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        downloadPeak = std::max(downloadPeak, bench::peakRss());
        QFile::remove(account.scratch() + "/copy.bin");
    }
    const double iterations = double(state.iterations());
    const double mib = double(size) / double(1 << 20);
    state.counters["MiB"] = mib;
    state.counters["uploadMiBps"] = mib * iterations / uploadSeconds;
    state.counters["downloadMiBps"] = mib * iterations / downloadSeconds;
    state.counters["baselineRssMiB"] = double(baseline) / double(1 << 20);
    state.counters["uploadPeakRssMiB"] = double(uploadPeak) / double(1 << 20);
    state.counters["downloadPeakRssMiB"] = double(downloadPeak) / double(1 << 20);
}
BENCHMARK(BM_UploadThenDownload)
    ->Arg(32)
    ->Arg(256)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
