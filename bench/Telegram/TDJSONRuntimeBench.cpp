// Request round trips through the one receive thread, against the fake libtdjson of the tests
// (built with them: build/tests/support/faketdjson/libtdjson.so). Shows how the
// single poll thread serves several clients at once, and what parsing TDLib's JSON costs.
#include "TelegramProvider/TDLib/TDJSONRuntime.h"

#include <QDir>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

using namespace tw;

namespace {

QString fakeLibraryPath() {
    // Only the fake built with the tests, found by its own path: TDJSON_PATH names the real
    // library for the application and is never read here.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QDir dir = QFileInfo(exe).dir();
    while (!dir.isRoot()) {
        const QString candidate =
            dir.filePath(QStringLiteral("tests/support/faketdjson/libtdjson.so"));
        if (QFileInfo::exists(candidate))
            return candidate;
        dir.cdUp();
    }
    return {};
}

std::shared_ptr<TDJSONRuntime> runtime() {
    static std::shared_ptr<TDJSONRuntime> instance =
        TDJSONRuntime::create({fakeLibraryPath()}, 0.05).runtime;
    return instance;
}

void BM_RoundTrips(benchmark::State& state) {
    auto rt = runtime();
    if (!rt) {
        state.SkipWithError("fake libtdjson not found (build the tests)");
        return;
    }
    const int clients = int(state.range(0));
    std::vector<std::shared_ptr<TDClient>> made;
    for (int i = 0; i < clients; ++i)
        made.push_back(rt->makeClient());
    const TDObject request(QStringLiteral("getOption"), {{QStringLiteral("name"), "version"}});
    constexpr int perClient = 200;
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (auto& client : made)
            threads.emplace_back([&client, &request] {
                for (int i = 0; i < perClient; ++i)
                    benchmark::DoNotOptimize(client->send(request));
            });
        for (auto& thread : threads)
            thread.join();
    }
    state.SetItemsProcessed(state.iterations() * clients * perClient);
    for (auto& client : made)
        client->shutdown();
}
BENCHMARK(BM_RoundTrips)->Arg(1)->Arg(8)->Arg(32)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ParseMessage(benchmark::State& state) {
    const QByteArray json = R"({"@type":"message","id":"1234567890","chat_id":"-1001234567890",
        "date":1709630102,"content":{"@type":"messageDocument","document":{"file_name":"report.pdf",
        "mime_type":"application/pdf","document":{"@type":"file","id":77,"size":"1048576",
        "expected_size":1048576,"local":{"path":"","downloaded_size":0},
        "remote":{"id":"AgAD","uploaded_size":1048576}}}},"@client_id":1})";
    for (auto _ : state) {
        const auto object = TDObject::fromJson(json);
        benchmark::DoNotOptimize(object->object(QStringLiteral("content"))
                                     ->object(QStringLiteral("document"))
                                     ->object(QStringLiteral("document"))
                                     ->integer(QStringLiteral("size")));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseMessage);

} // namespace

BENCHMARK_MAIN();
