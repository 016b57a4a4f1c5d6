// BM_FolderListingFillAndEdit: a folder listing filling N items in 20 pages through the task
// pool, then 500 inserts, renames and removals reported by the application. The cost per item
// should stay flat from 2,000 to 20,000 items (see the ns_per_item counter).
//
// BM_FolderListingHeldFolder: a Drive folder of 100,000 items held the way the window holds
// it: the listing fills its first 2,000 items by itself, then takes one page of 1,000 per
// request (the view asks when the user reaches the last row), each page decoded from Drive's
// JSON as the Drive back end decodes it.
//   - bytes_per_item: heap in use once every page is in, less before the listing was made,
//     per item, beside bytes_per_item_goal (600; the browser's table adds its rows on top,
//     see BrowserTableBench);
//   - first_page_ms: main-thread time from the first page's answer to the listing announcing
//     its items; page_last_ms: the same, averaged over the last five pages.
#include "StorageCore/Files/FolderListing.h"

#include "bench/DriveFolderPages.h"
#include "bench/Measure.h"
#include "bench/QtBenchmarkMain.h"
#include "tests/support/FakeStorageProvider.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

using namespace tw;

namespace {

const QString kFolder = QStringLiteral("F");

QString randomName(QRandomGenerator& random) {
    static const char* const words[] = {"Report", "invoice", "Photo", "scan", "Notes",
                                        "draft",  "Budget",  "plan",  "IMG",  "track"};
    return QStringLiteral("%1 %2 %3.%4")
        .arg(QLatin1String(words[random.bounded(10)]))
        .arg(random.bounded(100000))
        .arg(QLatin1String(words[random.bounded(10)]))
        .arg(random.bounded(4) == 0 ? QStringLiteral("pdf") : QStringLiteral("txt"));
}

FileItem makeItem(const QUuid& account, int id, QRandomGenerator& random) {
    FileItem item;
    item.ref = FileRef{account, QStringLiteral("id-%1").arg(id)};
    item.name = randomName(random);
    item.mimeType =
        random.bounded(20) == 0 ? FileItem::folderMimeType : QStringLiteral("text/plain");
    item.sizeBytes = random.bounded(1 << 20);
    item.parentIDs = {kFolder};
    return item;
}

void waitFor(FolderListing& listing, bool (*done)(const FolderListing&)) {
    while (!done(listing))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

/// Loads the first page, then every next one, as the window does for a folder it holds.
void loadEveryPage(FolderListing& listing) {
    bool finished = false;
    const QMetaObject::Connection done =
        QObject::connect(&listing, &FolderListing::loadFinished, [&] { finished = true; });
    listing.load();
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QObject::disconnect(done);
    while (listing.hasMore()) {
        listing.loadMore();
        waitFor(listing, [](const FolderListing& l) { return !l.isLoadingMore(); });
    }
}

void BM_FolderListingFillAndEdit(benchmark::State& state) {
    const int count = int(state.range(0));
    const QUuid account = QUuid::createUuid();
    auto provider = std::make_shared<test::FakeStorageProvider>();
    provider->setPageSize(count / 20);
    QRandomGenerator random(42);
    for (int i = 0; i < count; ++i)
        provider->addItem(makeItem(account, i, random));

    qint64 fillNs = 0, editNs = 0;
    for (auto _ : state) {
        QElapsedTimer split;
        split.start();
        FolderListing listing(account, kFolder, provider, {});
        loadEveryPage(listing);
        if (listing.items().size() != count)
            state.SkipWithError("listing incomplete");
        fillNs += split.nsecsElapsed();
        split.restart();

        QRandomGenerator edits(7);
        for (int i = 0; i < 500; ++i) {
            switch (i % 3) {
            case 0:
                listing.insert(makeItem(account, count + i, edits));
                break;
            case 1: {
                FileItem renamed = listing.items()[edits.bounded(int(listing.items().size()))];
                renamed.name = randomName(edits);
                listing.replace(renamed);
                break;
            }
            default:
                listing.remove(listing.items()[edits.bounded(int(listing.items().size()))].ref);
                break;
            }
        }
        benchmark::DoNotOptimize(listing.items().size());
        editNs += split.nsecsElapsed();
    }
    const double runs = double(state.iterations());
    state.counters["ns_per_item"] = double(fillNs + editNs) / runs / count;
    state.counters["fill_ns_per_item"] = double(fillNs) / runs / count;
    state.counters["edit_us_per_change"] = double(editNs) / runs / 500 / 1000;
}

void BM_FolderListingHeldFolder(benchmark::State& state) {
    constexpr int kItems = 100'000;
    constexpr int kPageSize = 1'000;
    const QUuid account = QUuid::createUuid();
    auto provider = std::make_shared<bench::DriveFolderPages>(account, kItems, kPageSize);
    bench::Samples bytesPerItem, firstPage, lastPages;
    for (auto _ : state) {
        const qint64 heapBefore = bench::heapInUse();
        {
            FolderListing listing(account, kFolder, provider, {});
            QList<double> pages;
            QObject::connect(&listing, &FolderListing::itemsChanged, [&] {
                pages.append(double(provider->clock.nsecsElapsed() - provider->answeredAt.load()) /
                             1e6);
            });
            loadEveryPage(listing);
            if (listing.items().size() != kItems || pages.size() < 6) {
                state.SkipWithError("listing incomplete");
                return;
            }
            bytesPerItem.add(double(bench::heapInUse() - heapBefore) / kItems);
            firstPage.add(pages.first());
            double last = 0;
            for (qsizetype i = pages.size() - 5; i < pages.size(); ++i)
                last += pages[i] / 5;
            lastPages.add(last);
        }
    }
    bytesPerItem.report(state, "bytes_per_item");
    state.counters["bytes_per_item_goal"] = 600;
    firstPage.report(state, "first_page_ms");
    lastPages.report(state, "page_last_ms");
}

} // namespace

BENCHMARK(BM_FolderListingHeldFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK(BM_FolderListingFillAndEdit)
    ->Arg(2000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

TW_QT_BENCHMARK_MAIN()
