// Merging and ranking the answers of a search over 10 accounts returning 10,000 hits in all:
// the main-thread step between the last answer and the new results (target: well under a
// frame, < 10 ms).
#include "StorageCore/Files/FileSearch.h"
#include "bench/QtBenchmarkMain.h"

#include <QRandomGenerator>
#include <QTimeZone>

#include <benchmark/benchmark.h>

using namespace tw;

namespace {

/// With `dayDates`, dates fall on whole days (about 25 items share each date, a stress for
/// the name order); otherwise they are spread to the second, as services report them.
QList<QList<FileItem>> makeAnswers(int accounts, int perAccount, bool dayDates) {
    QRandomGenerator random(11);
    static const char* const words[] = {"Quarterly", "report", "Résumé", "invoice",   "Tax",
                                        "photo",     "Budget", "notes",  "Übersicht", "plan"};
    const QDateTime base(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());
    QList<QList<FileItem>> answers;
    for (int a = 0; a < accounts; ++a) {
        const QUuid account = QUuid::createUuid();
        QList<FileItem> page;
        for (int i = 0; i < perAccount; ++i) {
            FileItem item;
            item.ref = FileRef{account, QStringLiteral("item-%1").arg(i)};
            item.name = QStringLiteral("%1 %2 report %3.pdf")
                            .arg(QString::fromUtf8(words[random.bounded(10)]))
                            .arg(random.bounded(2030))
                            .arg(QString::fromUtf8(words[random.bounded(10)]));
            item.mimeType = QStringLiteral("application/pdf");
            // Many equal dates (to the day), some undated: the name decides those ties.
            if (random.bounded(10) != 0)
                item.modifiedAt = dayDates ? base.addDays(random.bounded(400))
                                           : base.addSecs(random.bounded(400 * 86400));
            page.append(item);
        }
        answers.append(page);
    }
    return answers;
}

void BM_SearchMergeAndRank(benchmark::State& state) {
    const QList<QList<FileItem>> answers = makeAnswers(10, 1000, state.range(0) == 1);
    const NaturalOrder order;
    for (auto _ : state) {
        // The model owns the answered pages: hand over a private copy, made off the clock.
        state.PauseTiming();
        QList<QList<FileItem>> pages;
        for (const QList<FileItem>& page : answers) {
            QList<FileItem> own(page.cbegin(), page.cend());
            pages.append(std::move(own));
        }
        state.ResumeTiming();
        const QList<FileItem> ranked =
            FileSearch::combine(std::move(pages), QStringLiteral("report"), order);
        if (ranked.size() != 10000)
            state.SkipWithError("unexpected result count");
        benchmark::DoNotOptimize(ranked.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}

} // namespace

BENCHMARK(BM_SearchMergeAndRank)
    ->ArgName("dayDates")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

TW_QT_BENCHMARK_MAIN()
