// Paging through a long chat: every page is one to five history requests to the fake libtdjson
// plus the mapping of about 100 messages to files. The cost of a page must not depend on how
// far into the chat it is (firstPagesMs against lastPagesMs). 20,000 messages by default,
// 200,000 with TW_BENCH_FULL=1.
#include "bench/Telegram/TelegramBenchSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace tw;

namespace {

void BM_ListChatPageByPage(benchmark::State& state) {
    bench::FakeAccount account;
    if (!account.ok()) {
        state.SkipWithError("fake libtdjson not found (build the tests)");
        return;
    }
    const qint64 messages = bench::fullSizes() ? 200'000 : state.range(0);
    account.configure({{"generated", QJsonObject{{"42", messages}}}});
    using Clock = std::chrono::steady_clock;
    double totalMs = 0;
    double firstMs = 0;
    double lastMs = 0;
    qint64 pages = 0;
    qint64 items = 0;
    for (auto _ : state) {
        std::optional<QString> token;
        QList<double> perPage;
        do {
            const auto start = Clock::now();
            const Page page = account.provider().listFolder(account.account(), std::nullopt, token);
            perPage.append(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            items += page.items.size();
            token = page.nextPageToken;
        } while (token);
        pages += perPage.size();
        for (double ms : perPage)
            totalMs += ms;
        const int window = std::min<int>(10, int(perPage.size()));
        for (int i = 0; i < window; ++i) {
            firstMs += perPage[i] / window;
            lastMs += perPage[perPage.size() - 1 - i] / window;
        }
    }
    const double iterations = double(state.iterations());
    state.counters["pages"] = double(pages) / iterations;
    state.counters["msPerPage"] = totalMs / double(pages);
    state.counters["firstPagesMs"] = firstMs / iterations;
    state.counters["lastPagesMs"] = lastMs / iterations;
    state.SetItemsProcessed(items);
}
BENCHMARK(BM_ListChatPageByPage)
    ->Arg(20'000)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
