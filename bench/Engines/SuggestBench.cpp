// Destination suggestions for 1,000 local files against 200 rules and 5,000 history
// entries across 10 accounts (target: < 50 ms for all files).
#include "StorageCore/Transfers/UploadRouter.h"
#include "bench/QtBenchmarkMain.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

using namespace tw;

namespace {

const char* const kExtensions[] = {"pdf", "docx", "xlsx", "pptx", "jpg",    "png", "heic", "mp4",
                                   "mov", "mp3",  "flac", "zip",  "7z",     "txt", "md",   "csv",
                                   "svg", "gif",  "webm", "wav",  "tar.gz", "psd", "ai",   "key",
                                   "odt", "rtf",  "epub", "mkv",  "aac",    "raw"};
constexpr int kExtensionCount = int(sizeof(kExtensions) / sizeof(kExtensions[0]));

struct Fixture {
    QList<LocalFile> files;
    QList<UploadRule> rules;
    UploadHistory history;
    QList<UploadCandidate> storages;
};

Fixture makeFixture() {
    QRandomGenerator random(5);
    Fixture f;
    QList<QUuid> accounts;
    for (int i = 0; i < 10; ++i) {
        accounts.append(QUuid::createUuid());
        const bool telegram = i % 3 == 0;
        f.storages.append(UploadCandidate{
            accounts.last(), i != 4,
            telegram ? std::nullopt : std::optional<qint64>(random.bounded(1 << 30)),
            telegram ? std::optional<qint64>(2'000'000'000) : std::nullopt, !telegram});
    }
    const auto target = [&](int i) {
        return UploadTarget{accounts[i % 10],
                            QStringLiteral("folder-%1").arg(i),
                            {QStringLiteral("Folder %1").arg(i)}};
    };
    // 200 rules: extension rules for a third of the extensions (most pointing at accounts
    // that cannot take the file, so the walk goes on), and category rules.
    for (int i = 0; i < 200; ++i) {
        const UploadRule::Match match =
            i % 2 == 0 ? UploadRule::Match::fileExtension(
                             QString::fromLatin1(kExtensions[random.bounded(kExtensionCount / 3)]))
                       : UploadRule::Match::category(FileCategories::allCases()[random.bounded(5)]);
        f.rules.append(UploadRule{QUuid::createUuid(), match, target(i), random.bounded(4) != 0});
    }
    // 5,000 history entries spread over the extension and category keys.
    for (int i = 0; i < 5000; ++i) {
        const QString key =
            i % 3 == 0 ? QStringLiteral("type:") +
                             FileCategories::rawValue(FileCategories::allCases()[random.bounded(5)])
                       : QStringLiteral("ext:") +
                             QString::fromLatin1(kExtensions[random.bounded(kExtensionCount)]);
        f.history.byKey[key].append(UploadHistory::Entry{target(i), 1 + random.bounded(50)});
    }
    for (int i = 0; i < 1000; ++i) {
        const QString name =
            QStringLiteral("File %1.%2")
                .arg(i)
                .arg(QString::fromLatin1(kExtensions[random.bounded(kExtensionCount)]));
        f.files.append(LocalFile{QUrl::fromLocalFile(QStringLiteral("/tmp/") + name), name,
                                 random.bounded(1 << 28),
                                 QStringLiteral("application/octet-stream")});
    }
    return f;
}

void BM_SuggestThousandFiles(benchmark::State& state) {
    const Fixture f = makeFixture();
    int suggested = 0;
    for (auto _ : state) {
        for (const LocalFile& file : f.files) {
            const UploadSuggestion s = UploadRouter::suggest(file, f.rules, f.history, f.storages);
            suggested += s.target.has_value();
        }
    }
    benchmark::DoNotOptimize(suggested);
    state.SetItemsProcessed(state.iterations() * f.files.size());
}

} // namespace

BENCHMARK(BM_SuggestThousandFiles)->Unit(benchmark::kMillisecond);

TW_QT_BENCHMARK_MAIN()
