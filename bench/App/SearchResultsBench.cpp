// 10,000 search hits from 10 accounts into the results pane: time from the engine publishing
// its ranked results until the table holds them and the pane is laid out and painted (goal:
// under 50 ms). All of it runs on the main thread in one turn, so the same figure is the
// window's stall.
#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "App/Search/SearchResultsModel.h"
#include "App/Search/SearchResultsView.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Files/FileSearch.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "tests/support/FakeStorageProvider.h"
#include "tests/support/InMemoryKeyValueStore.h"
#include "bench/App/BenchModelParts.h"
#include "bench/WidgetBenchMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>

#include <benchmark/benchmark.h>

using namespace tw;

namespace {

constexpr int kAccounts = 10;
constexpr int kHitsPerAccount = 1000;

const char* const kExtensions[] = {"pdf", "docx", "xlsx", "jpg", "png", "mp4", "mp3", "zip"};

/// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

class NoQuickLook : public QuickLook {
public:
    bool isPanelVisible() const override { return false; }
    void show(const FileItem&, AppModel&, OpenFull) override {}
    void follow(const std::optional<FileItem>&, AppModel&, OpenFull) override {}
    void close() override {}
};

void SearchResultsIntoTable(benchmark::State& state) {
    auto drive = std::make_shared<test::FakeStorageProvider>();
    auto telegram = std::make_shared<test::FakeStorageProvider>();
    drive->setPageSize(2 * kHitsPerAccount);
    telegram->setPageSize(2 * kHitsPerAccount);
    auto store = std::make_shared<test::InMemoryKeyValueStore>();
    QJsonArray accounts;
    QList<QUuid> ids;
    const QDateTime base(QDate(2025, 1, 1), QTime(9, 0), QTimeZone::utc());
    for (int a = 0; a < kAccounts; ++a) {
        StorageAccount account;
        account.id = QUuid::createUuid();
        account.provider = a % 3 == 0 ? ProviderKind::telegram : ProviderKind::googleDrive;
        account.alias = QStringLiteral("Account %1").arg(a);
        account.email = QStringLiteral("account%1@example.com").arg(a);
        account.providerAccountID = account.alias;
        account.colorIndex = a % 8;
        account.createdAt = account.updatedAt = QDateTime::currentDateTimeUtc();
        ids.append(account.id);
        accounts.append(account.toJson());
        auto& backend = account.provider == ProviderKind::telegram ? telegram : drive;
        // Two sets of hits per account, one per query, so each search replaces every row.
        for (const char* word : {"alpha", "beta"}) {
            for (int i = 0; i < kHitsPerAccount; ++i) {
                FileItem item;
                item.ref =
                    FileRef{account.id, QStringLiteral("%1-%2").arg(QLatin1String(word)).arg(i)};
                item.name = QStringLiteral("%1 quarterly report %2 (draft %3).%4")
                                .arg(QLatin1String(word))
                                .arg(i)
                                .arg(a)
                                .arg(QLatin1String(kExtensions[(i + a) % 8]));
                item.mimeType = QStringLiteral("application/octet-stream");
                item.sizeBytes = 1000 + qint64(i) * 7919 % 50'000'000;
                if (i % 17 != 0)
                    item.modifiedAt = base.addSecs(qint64(i) * 3571 + a * 60);
                backend->addItem(item);
            }
        }
    }
    store->put(QStringLiteral("accounts"), accounts);

    QTemporaryDir settings;
    AppModel::Parts parts = bench::modelParts(drive, telegram, store, settings);
    AppModel model(std::move(parts));
    FileSearch* engine = model.search();

    // Connected before the pane, so the clock starts before the pane hears of the results.
    QElapsedTimer clock;
    QObject::connect(engine, &FileSearch::resultsChanged, [&] { clock.start(); });

    NoQuickLook quickLook;
    SearchResultsView pane(model, quickLook, [](const PreviewTarget&) {});
    pane.resize(1000, 640);
    pane.show();
    QCoreApplication::processEvents();
    PaintCounter painted;
    pane.table()->viewport()->installEventFilter(&painted);

    int turn = 0;
    for (auto _ : state) {
        const QString query = turn++ % 2 == 0 ? QStringLiteral("alpha") : QStringLiteral("beta");
        model.setSearchText(query);
        engine->search(query, ids);
        while (engine->phase() != FileSearch::Phase::done) {
            QCoreApplication::processEvents();
            if (engine->phase() != FileSearch::Phase::done)
                QThread::usleep(100);
        }
        QCoreApplication::processEvents(); // what the turn left: layout and paint
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (pane.resultsModel()->rowCount() != kAccounts * kHitsPerAccount ||
            pane.content() != SearchResultsView::Content::table) {
            state.SkipWithError("the table does not hold every hit");
            break;
        }
    }
    state.counters["rows"] = pane.resultsModel()->rowCount();
}
BENCHMARK(SearchResultsIntoTable)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

} // namespace

int main(int argc, char** argv) { return tw::bench::runWidgetBenchmarks(argc, argv); }
