// The caller's (in the application: the main thread's) time of one save of a document of 200
// upload-history entries: written in place (JSON file, fdatasync, rename) against queued for
// a worker through the write-behind store (goal: under 1 ms per save, and at least 10 times
// less than the write in place). Each save starts from an idle store (the worst case: a
// worker has to be woken); counters are the median with the lowest and highest sample.
#include "StorageCore/Persistence/JSONDirectoryStore.h"
#include "StorageCore/Persistence/WriteBehindStore.h"
#include "bench/Measure.h"
#include "bench/QtBenchmarkMain.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

using namespace tw;

namespace {

QJsonArray uploadHistory() {
    QJsonArray entries;
    for (int i = 0; i < 200; ++i) {
        entries.append(QJsonObject{
            {QStringLiteral("key"), QStringLiteral("ext:pdf")},
            {QStringLiteral("accountID"),
             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {QStringLiteral("folderID"), QStringLiteral("1AbCdEfGhIjKlMnOpQrStUvWxYz%1").arg(i)},
            {QStringLiteral("path"),
             QJsonArray{QStringLiteral("Work"), QStringLiteral("Reports %1").arg(i)}},
            {QStringLiteral("count"), i % 17 + 1},
        });
    }
    return entries;
}

double millisecondsOf(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Run {
    bench::Samples inPlace;
    bench::Samples queued;
};

Run measure(int saves) {
    QTemporaryDir folder;
    auto json = std::make_shared<JSONDirectoryStore>(folder.path());
    WriteBehindStore behind(json);
    const QJsonArray value = uploadHistory();
    Run run;
    for (int i = 0; i < saves; ++i) {
        run.inPlace.add(millisecondsOf([&] { json->save(value, QStringLiteral("direct")); }));
        run.queued.add(
            millisecondsOf([&] { behind.save(value, QStringLiteral("upload-history")); }));
        behind.flush();
    }
    return run;
}

void BM_MainThreadTimeOfASave(benchmark::State& state) {
    Run run;
    for (auto _ : state)
        run = measure(int(state.range(0)));
    run.inPlace.report(state, "in_place_ms");
    run.queued.report(state, "write_behind_ms");
    state.counters["goal_write_behind_ms"] = 1.0;
    state.counters["ratio_in_place_to_write_behind"] =
        run.queued.median() > 0 ? run.inPlace.median() / run.queued.median() : 0;
    state.counters["goal_ratio"] = 10.0;
}

} // namespace

BENCHMARK(BM_MainThreadTimeOfASave)->Arg(50)->Iterations(1)->Unit(benchmark::kMillisecond);

TW_QT_BENCHMARK_MAIN()
