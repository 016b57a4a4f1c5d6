// The preview cache on a real temporary folder with a fake clock: names, freshness and
// expiry, trimming, one fetch per file however many callers ask, cancellation, and the
// clean-up operations that must leave running downloads alone.
#include "StorageCore/Preview/PreviewCache.h"

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Persistence/PartialFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeStorageProvider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace tw;
using test::FakeStorageProvider;
using Op = FakeStorageProvider::Op;
using Code = StorageError::Code;

namespace {

const QUuid kAccount = QUuid::fromString(QStringLiteral("{0f8e2a4c-1b3d-4e5f-8a9b-0c1d2e3f4a5b}"));
const QUuid kOther = QUuid::fromString(QStringLiteral("{aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee}"));

FileItem fileItem(const QString& id, const QString& name, std::optional<QDateTime> modified = {},
                  const QUuid& account = kAccount) {
    FileItem item;
    item.ref = {account, id};
    item.name = name;
    item.mimeType = QStringLiteral("application/octet-stream");
    item.modifiedAt = modified;
    return item;
}

QByteArray contentOf(const QUrl& url) {
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeTo(const QUrl& url, const QByteArray& bytes) {
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw StorageError(Code::localWriteFailed);
}

/// Waits (briefly, polling) until the condition holds.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::optional<Code> errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const StorageError& error) {
        return error.code();
    }
    return std::nullopt;
}

class PreviewCacheTest : public ::testing::Test {
protected:
    PreviewCache makeCache(qint64 maxBytes = PreviewCache::standardMaxBytes) {
        return PreviewCache(folder(), maxBytes, PreviewCache::standardMaxAge, clock.clock());
    }
    QString folder() const { return root.filePath(QStringLiteral("Previews")); }
    QStringList files() const {
        return QDir(folder())
            .entryList(QDir::Files | QDir::Hidden, QDir::Name)
            .filter(QRegularExpression(QStringLiteral("^(?!CACHEDIR\\.TAG$)")));
    }
    /// A fetch that downloads through the fake back end.
    PreviewCache::Fetch download(const FileItem& item) {
        return [this, item](const QUrl& to) { fake->download(item.ref, to, {}); };
    }
    /// A fetch that writes `bytes` and counts its calls.
    PreviewCache::Fetch writing(const QByteArray& bytes) {
        return [this, bytes](const QUrl& to) {
            fetches += 1;
            writeTo(to, bytes);
        };
    }

    QTemporaryDir root;
    test::FakeClock clock;
    std::shared_ptr<FakeStorageProvider> fake = std::make_shared<FakeStorageProvider>();
    std::atomic<int> fetches{0};
};

} // namespace

TEST_F(PreviewCacheTest, FileNamesFollowItemVariantAndDate) {
    PreviewCache cache = makeCache();
    const QDateTime whole = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    const QString account = QStringLiteral("0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B");
    auto nameOf = [&](const FileItem& item, const QString& variant,
                      std::optional<QString> extension = {}) {
        return QFileInfo(cache.location(item, variant, extension).toLocalFile()).fileName();
    };
    EXPECT_EQ(PreviewCache::keyText(fileItem("file-1", "a.txt", whole), "original"),
              "file-1|original|1700000000.0");
    EXPECT_EQ(nameOf(fileItem("file-1", "Report.PDF", whole), "original"),
              account + "-4b96c0716e8f89b1898737a6.pdf");
    EXPECT_EQ(nameOf(fileItem("file-1", "x", whole.addMSecs(500)), "original"),
              account + "-17d4b0f04d38d03b9b2c2ed7");
    EXPECT_EQ(nameOf(fileItem("file-1", "Doc", std::nullopt), "pdf", "pdf"),
              account + "-a79525b4c860274fc36dc9a6.pdf");
    // Two undated items with the same id and variant share one file; variants do not.
    EXPECT_EQ(nameOf(fileItem("file-1", "a.bin"), "original"),
              nameOf(fileItem("file-1", "a.bin"), "original"));
    EXPECT_NE(nameOf(fileItem("file-1", "a.bin"), "original"),
              nameOf(fileItem("file-1", "a.bin"), "pdf"));
    EXPECT_EQ(cache.location(fileItem("f", "a.txt"), "original", {}).toLocalFile(),
              folder() + "/" + nameOf(fileItem("f", "a.txt"), "original"));
}

TEST_F(PreviewCacheTest, ExtensionsFromRemoteNamesAreBoundedAndPlain) {
    struct Case {
        QString name, extension;
    };
    const Case cases[] = {
        {"photo.JPEG", ".jpeg"},
        {"archive.tar.gz", ".gz"},
        {"noextension", ""},
        {"trailing.", ""},
        {"x.a/../../b", ""},               // "/" never reaches a local name
        {"a.b/c.d", ".d"},                 // the last component's extension only
        {"movie.verylongextension17", ""}, // 17 characters
        {"movie.seventeen17charsx", ""},   // 17
        {"movie.sixteen16chars", ".sixteen16chars"},
        {"weird.ex t", ""},
        {QString::fromUtf8("fancy.\u00fcml"), ""},
        {"dots..", ""},
        {QStringLiteral("nul.a") + QChar(0), ""},
    };
    PreviewCache cache = makeCache();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString name =
            QFileInfo(cache.location(fileItem("id", c.name), "original", {}).toLocalFile())
                .fileName();
        EXPECT_EQ(name.size(), 36 + 1 + 24 + c.extension.size());
        EXPECT_TRUE(name.endsWith(c.extension));
        EXPECT_EQ(QFileInfo(cache.location(fileItem("id", c.name), "original", {}).toLocalFile())
                      .absolutePath(),
                  folder());
    }
}

TEST_F(PreviewCacheTest, FreshCopiesAreServedAndExpireAfterADayOfDisuse) {
    PreviewCache cache = makeCache();
    const FileItem item = fileItem("f", "a.txt");
    const QUrl url = cache.localCopy(item, "original", {}, writing("one"));
    EXPECT_EQ(contentOf(url), "one");
    EXPECT_EQ(fetches, 1);
    EXPECT_TRUE(QFileInfo::exists(folder() + "/CACHEDIR.TAG"));

    clock.advance(86399);
    EXPECT_EQ(cache.localCopy(item, "original", {}, writing("two")), url);
    clock.advance(86399); // the hit restarted its age
    EXPECT_EQ(cache.localCopy(item, "original", {}, writing("two")), url);
    EXPECT_EQ(fetches, 1);

    clock.advance(86400); // unused for a whole day: fetched again
    EXPECT_EQ(contentOf(cache.localCopy(item, "original", {}, writing("three"))), "three");
    EXPECT_EQ(fetches, 2);
    EXPECT_EQ(files().size(), 1);
}

TEST_F(PreviewCacheTest, PurgeRemovesStaleFilesAndLeftOverParts) {
    PreviewCache cache = makeCache();
    cache.localCopy(fileItem("old", "old.txt"), "original", {}, writing("old"));
    clock.advance(50000);
    const QUrl recent = cache.localCopy(fileItem("new", "new.txt"), "original", {}, writing("new"));
    writeTo(QUrl::fromLocalFile(folder() + "/left-over.txt.part"), "partial");
    clock.advance(36400); // "old" is now exactly a day old, "new" not
    cache.purgeExpired();
    EXPECT_EQ(files(), QStringList{QFileInfo(recent.toLocalFile()).fileName()});
}

TEST_F(PreviewCacheTest, TrimKeepsTheNewestWithinTheLimit) {
    PreviewCache cache = makeCache(1000);
    QList<QUrl> urls;
    for (int i = 0; i < 3; ++i) {
        urls.append(cache.localCopy(fileItem(QString::number(i), "f.bin"), "original", {},
                                    writing(QByteArray(400, 'x'))));
        clock.advance(10);
    }
    // 1200 bytes > 1000: the oldest goes.
    EXPECT_FALSE(QFileInfo::exists(urls[0].toLocalFile()));
    EXPECT_TRUE(QFileInfo::exists(urls[1].toLocalFile()));
    EXPECT_TRUE(QFileInfo::exists(urls[2].toLocalFile()));
    // Using a file makes it the newest: now urls[2] is the oldest.
    cache.localCopy(fileItem("1", "f.bin"), "original", {}, writing("unused"));
    clock.advance(10);
    // A file larger than the limit survives alone.
    const QUrl big =
        cache.localCopy(fileItem("big", "f.bin"), "original", {}, writing(QByteArray(1500, 'y')));
    EXPECT_EQ(files(), QStringList{QFileInfo(big.toLocalFile()).fileName()});
    EXPECT_EQ(cache.totalBytes(), 1500);
}

TEST_F(PreviewCacheTest, RemoveClearAndTotalBytes) {
    PreviewCache cache = makeCache();
    EXPECT_EQ(cache.totalBytes(), 0); // no folder yet
    cache.localCopy(fileItem("a", "a.txt"), "original", {}, writing("aaaa"));
    cache.localCopy(fileItem("b", "b.txt", {}, kOther), "original", {}, writing("bb"));
    EXPECT_EQ(cache.totalBytes(), 6);
    cache.remove(kAccount);
    ASSERT_EQ(files().size(), 1);
    EXPECT_TRUE(files()[0].startsWith(kOther.toString(QUuid::WithoutBraces).toUpper()));
    cache.clear();
    EXPECT_TRUE(files().isEmpty());
    EXPECT_EQ(cache.totalBytes(), 0);
}

TEST_F(PreviewCacheTest, ConcurrentCallersShareOneDownload) {
    PreviewCache cache = makeCache();
    const FileItem item = fileItem("shared", "movie.bin");
    FileItem stored = item;
    fake->addItem(stored, QByteArray(100000, 'm'));
    auto gate = fake->gateNext(Op::download);
    auto first = std::async(std::launch::async,
                            [&] { return cache.localCopy(item, "original", {}, download(item)); });
    ASSERT_TRUE(gate->waitEntered());
    std::vector<std::future<QUrl>> more;
    for (int i = 0; i < 3; ++i)
        more.push_back(std::async(std::launch::async, [&] {
            return cache.localCopy(item, "original", {}, download(item));
        }));
    ASSERT_TRUE(eventually([&] { return cache.waitingCallers() == 4; }));
    // While the download is held, other operations of the cache still run.
    EXPECT_EQ(cache.totalBytes(), 0);
    gate->release();
    const QUrl url = first.get();
    for (auto& f : more)
        EXPECT_EQ(f.get(), url);
    EXPECT_EQ(fake->callCount(Op::download), 1);
    EXPECT_EQ(contentOf(url).size(), 100000);
}

TEST_F(PreviewCacheTest, AFailedDownloadFailsEveryWaiterAndLeavesNothing) {
    PreviewCache cache = makeCache();
    const FileItem item = fileItem("broken", "a.txt");
    fake->addItem(item, "content");
    auto gate = fake->gateNext(Op::download);
    fake->failNext(Op::download, StorageError(Code::rateLimited));
    auto a = std::async(std::launch::async, [&] {
        return errorOf([&] { cache.localCopy(item, "original", {}, download(item)); });
    });
    ASSERT_TRUE(gate->waitEntered());
    auto b = std::async(std::launch::async, [&] {
        return errorOf([&] { cache.localCopy(item, "original", {}, download(item)); });
    });
    ASSERT_TRUE(eventually([&] { return cache.waitingCallers() == 2; }));
    gate->release();
    EXPECT_EQ(a.get(), Code::rateLimited);
    EXPECT_EQ(b.get(), Code::rateLimited);
    EXPECT_TRUE(files().isEmpty());
    // The next request starts a new download.
    EXPECT_EQ(contentOf(cache.localCopy(item, "original", {}, download(item))), "content");
    EXPECT_EQ(fake->callCount(Op::download), 2);
}

TEST_F(PreviewCacheTest, CleanUpNeverDeletesARunningDownload) {
    PreviewCache cache = makeCache();
    Completion<std::monostate> written, go;
    const auto held = [&](const QUrl& to) {
        writeTo(to, "half");
        written.resolve({});
        go.wait();
        QFile file(to.toLocalFile());
        file.open(QIODevice::Append);
        file.write(" and the rest");
    };
    const FileItem item = fileItem("running", "a.txt");
    auto copy =
        std::async(std::launch::async, [&] { return cache.localCopy(item, "original", {}, held); });
    ASSERT_TRUE(written.waitFor(std::chrono::seconds(5)));
    clock.advance(10 * 86400);
    cache.purgeExpired();
    cache.remove(kAccount);
    cache.clear();
    EXPECT_EQ(files().size(), 1); // the ".part" file is still there
    go.resolve({});
    EXPECT_EQ(contentOf(copy.get()), "half and the rest");
}

TEST_F(PreviewCacheTest, CleanUpNeverDeletesTheFileABackEndIsWriting) {
    // Back ends write a download into a partial file of their own beside the destination and
    // rename it over the ".part" file when complete (as Drive and Telegram do).
    QTemporaryDir journal;
    PartialFile::setJournalPath(journal.filePath(QStringLiteral("partial-folders")));
    PreviewCache cache = makeCache();
    Completion<std::monostate> written, go;
    const auto backEnd = [&](const QUrl& to) {
        PartialFile out(to.toLocalFile());
        out.write("complete", 8);
        written.resolve({});
        go.wait();
        if (!out.commit())
            throw StorageError(Code::localWriteFailed); // "The file couldn't be saved."
    };
    const FileItem item = fileItem("busy", "a.txt");
    auto copy = std::async(std::launch::async,
                           [&] { return cache.localCopy(item, "original", {}, backEnd); });
    ASSERT_TRUE(written.waitFor(std::chrono::seconds(5)));
    // A partial file nobody writes any more is a left-over and goes.
    const QString leftOver = folder() + QStringLiteral("/.kelvanor-") +
                             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                             QStringLiteral(".part");
    writeTo(QUrl::fromLocalFile(leftOver), "stale");
    clock.advance(10 * 86400);
    cache.purgeExpired();
    EXPECT_FALSE(QFileInfo::exists(leftOver));
    cache.remove(kAccount);
    cache.clear();
    go.resolve({});
    EXPECT_EQ(contentOf(copy.get()), "complete");
    PartialFile::setJournalPath(QString());
}

TEST_F(PreviewCacheTest, AHeldFileOutlivesEveryCleanUpUntilItIsLetGo) {
    PreviewCache cache = makeCache(1000);
    const FileItem shown = fileItem("shown", "shown.bin");
    PreviewCache::HeldCopy held =
        cache.heldCopy(shown, "original", {}, writing(QByteArray(600, 's')));
    ASSERT_NE(held.hold, nullptr);
    const QString path = held.url.toLocalFile();
    const QUrl other = cache.localCopy(fileItem("other", "other.bin"), "original", {},
                                       writing(QByteArray(300, 'o')));
    clock.advance(10);

    // A trim over the limit takes unheld files only, oldest first, and counts the held one.
    cache.localCopy(fileItem("newer", "newer.bin"), "original", {}, writing(QByteArray(300, 'n')));
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(other.toLocalFile()));
    cache.clear();
    EXPECT_EQ(files(), QStringList{QFileInfo(path).fileName()});
    cache.remove(kAccount);

    // A second hold of the fresh file; the file stays until both are let go.
    const int fetched = fetches;
    PreviewCache::HeldCopy again = cache.heldCopy(shown, "original", {}, writing("unused"));
    EXPECT_EQ(again.url, held.url);
    EXPECT_EQ(fetches, fetched);
    held.hold.reset();
    cache.clear();
    clock.advance(10 * 86400);
    cache.purgeExpired();
    EXPECT_EQ(contentOf(again.url), QByteArray(600, 's'));
    again.hold.reset();
    cache.clear();
    EXPECT_TRUE(files().isEmpty());
}

TEST_F(PreviewCacheTest, CancelledCallersStopWaitingAndTheLastCancelsTheFetch) {
    PreviewCache cache = makeCache();
    std::atomic<bool> fetchCancelled{false};
    Completion<std::monostate> entered;
    const auto slow = [&](const QUrl&) {
        entered.resolve({});
        try {
            Completion<std::monostate>().wait(); // until cancelled
        } catch (const StorageError&) {
            fetchCancelled = true;
            throw;
        }
    };
    const FileItem item = fileItem("slow", "a.txt");
    auto caller = [&](std::stop_source& stop) {
        return std::async(std::launch::async, [&] {
            Cancellation::Scope scope(stop.get_token());
            return errorOf([&] { cache.localCopy(item, "original", {}, slow); });
        });
    };
    std::stop_source one, two;
    auto a = caller(one);
    ASSERT_TRUE(entered.waitFor(std::chrono::seconds(5)));
    auto b = caller(two);
    ASSERT_TRUE(eventually([&] { return cache.waitingCallers() == 2; }));
    one.request_stop();
    EXPECT_EQ(a.get(), Code::cancelled);
    EXPECT_FALSE(fetchCancelled); // the second caller still waits for it
    two.request_stop();
    EXPECT_EQ(b.get(), Code::cancelled);
    EXPECT_TRUE(eventually([&] { return fetchCancelled.load(); }));
    // A new request after that starts afresh.
    EXPECT_EQ(contentOf(cache.localCopy(item, "original", {}, writing("fresh"))), "fresh");
}

TEST_F(PreviewCacheTest, FolderCannotBeMade) {
    writeTo(QUrl::fromLocalFile(root.filePath("blocker")), "a file where a folder should be");
    PreviewCache cache(root.filePath("blocker/Previews"), 1000, 10, clock.clock());
    EXPECT_EQ(errorOf([&] { cache.localCopy(fileItem("x", "x"), "original", {}, writing("x")); }),
              Code::localWriteFailed);
    EXPECT_EQ(fetches, 0);
}

TEST(PreviewCacheLocationTest, StandardAndPrivateFallbackFolders) {
    const auto standard = PreviewCache::standard();
    EXPECT_EQ(standard->directory(),
              QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                  "/org.tessarow.Kelvanor/Previews");
    EXPECT_EQ(standard->maxBytes(), 1073741824);
    EXPECT_EQ(standard->maxAge(), 86400);

    QString firstRoot;
    {
        const auto a = PreviewCache::temporaryFallback();
        const auto b = PreviewCache::temporaryFallback();
        EXPECT_NE(a->directory(), b->directory()); // never one fixed shared name
        EXPECT_TRUE(a->directory().endsWith("/Previews"));
        firstRoot = QFileInfo(a->directory()).absolutePath();
        EXPECT_TRUE(firstRoot.startsWith(QDir::tempPath()));
        EXPECT_EQ(QFileInfo(firstRoot).permissions() &
                      (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                       QFile::WriteOther | QFile::ExeOther),
                  QFile::Permissions());
        EXPECT_EQ(a->maxBytes(), 1073741824);
    }
    EXPECT_FALSE(QFileInfo::exists(firstRoot)); // removed with the cache
}
