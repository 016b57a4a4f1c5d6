// Listing a folder of 10,000 items (100 pages of 100) through the back end, against the time
// the fake server spends building those pages: the client side (request engine, libcurl,
// JSON decoding into FileItems) must not dominate.
#include "bench/Drive/DriveBenchSupport.h"

#include "GoogleDriveProvider/Drive/DriveAPI.h"
#include "GoogleDriveProvider/Drive/DriveModels.h"

#include <QJsonDocument>

using namespace tw;
using namespace tw::bench;

namespace {

void BM_ListTenThousandItems(benchmark::State& state) {
    DriveBench bench;
    const QString folder = bench.server.addFolder(QStringLiteral("Big"));
    bench.server.addManyFiles(folder, 10000, QStringLiteral("file"));
    // Warm the server's sorted listing so every page costs it the same.
    bench.provider->listFolder(bench.account, folder, std::nullopt);

    qint64 total = 0;
    qint64 server = 0;
    int pages = 0;
    qsizetype items = 0;
    for (auto _ : state) {
        const qint64 serverBefore = bench.server.handlerNanoseconds();
        QElapsedTimer timer;
        timer.start();
        std::optional<QString> token;
        pages = 0;
        items = 0;
        do {
            const Page page = bench.provider->listFolder(bench.account, folder, token);
            items += page.items.size();
            token = page.nextPageToken;
            ++pages;
        } while (token);
        total = timer.nsecsElapsed();
        server = bench.server.handlerNanoseconds() - serverBefore;
        state.SetIterationTime(double(total) / 1e9);
    }
    if (items != 10000)
        state.SkipWithError("wrong item count");
    state.counters["pages"] = pages;
    state.counters["total_ms"] = double(total) / 1e6;
    state.counters["server_ms"] = double(server) / 1e6;
    state.counters["client_and_transport_ms"] = double(total - server) / 1e6;
    state.counters["client_share"] = double(total - server) / double(total);
}
BENCHMARK(BM_ListTenThousandItems)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

/// The client's share without the network: decoding one page of 100 file resources.
void BM_DecodeOnePage(benchmark::State& state) {
    DriveBench bench;
    const QString folder = bench.server.addFolder(QStringLiteral("Big"));
    bench.server.addManyFiles(folder, 100, QStringLiteral("file"));
    HTTPRequest request = DriveAPI::list(folder, std::nullopt);
    request.headers.set("Authorization", bench.tokens.accessToken.toUtf8().prepend("Bearer "));
    const QByteArray body = bench.http->send(request).body;
    const QUuid account = QUuid::createUuid();
    for (auto _ : state) {
        const auto list = DriveFileList::decode(body);
        QList<FileItem> items;
        for (const DriveFile& file : *list->files)
            items.append(file.item(account));
        benchmark::DoNotOptimize(items);
    }
    state.counters["body_bytes"] = double(body.size());
}
BENCHMARK(BM_DecodeOnePage)->Unit(benchmark::kMicrosecond);

/// The JSON parser's share of decoding a page.
void BM_ParseOnePageJson(benchmark::State& state) {
    DriveBench bench;
    const QString folder = bench.server.addFolder(QStringLiteral("Big"));
    bench.server.addManyFiles(folder, 100, QStringLiteral("file"));
    HTTPRequest request = DriveAPI::list(folder, std::nullopt);
    request.headers.set("Authorization", bench.tokens.accessToken.toUtf8().prepend("Bearer "));
    const QByteArray body = bench.http->send(request).body;
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(body));
}
BENCHMARK(BM_ParseOnePageJson)->Unit(benchmark::kMicrosecond);

/// One request round trip of the listing through the engine (token, libcurl, decoding).
void BM_OnePageRoundTrip(benchmark::State& state) {
    DriveBench bench;
    const QString folder = bench.server.addFolder(QStringLiteral("Big"));
    bench.server.addManyFiles(folder, 100, QStringLiteral("file"));
    for (auto _ : state)
        benchmark::DoNotOptimize(bench.provider->listFolder(bench.account, folder, std::nullopt));
}
BENCHMARK(BM_OnePageRoundTrip)->Unit(benchmark::kMicrosecond);

} // namespace

TW_DRIVE_BENCH_MAIN()
