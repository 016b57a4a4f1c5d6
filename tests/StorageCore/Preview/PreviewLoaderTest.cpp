// The preview loader on the main thread, with the fake back end, a real cache in a temporary
// folder and a deflated ZIP archive built in memory.
#include "StorageCore/Preview/PreviewLoader.h"

#include "tests/support/FakeClock.h"
#include "tests/support/FakeStorageProvider.h"
#include "tests/support/ZipBuilder.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

using namespace tw;
using test::FakeStorageProvider;
using Op = FakeStorageProvider::Op;
using Code = StorageError::Code;
using PhaseKind = PreviewLoader::Phase::Kind;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class PreviewLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        cache =
            std::make_shared<PreviewCache>(dir.filePath("cache"), PreviewCache::standardMaxBytes,
                                           PreviewCache::standardMaxAge, clock.clock());
    }

    FileItem add(const QString& name, const QString& mime, const QByteArray& content,
                 bool withSize = true) {
        FileItem item;
        item.ref = {account, QStringLiteral("id-") + QString::number(++counter)};
        item.name = name;
        item.mimeType = mime;
        if (withSize)
            item.sizeBytes = content.size();
        fake->addItem(item, content);
        return item;
    }

    std::unique_ptr<PreviewLoader> loader(const FileItem& item) {
        return std::make_unique<PreviewLoader>(item, fake, cache,
                                               [this](const StorageError& e) { errors.append(e); });
    }

    static bool settle(PreviewLoader& l) {
        return QTest::qWaitFor([&] { return l.phase().kind() != PhaseKind::loading; }, 10000);
    }

    /// A small archive, laid out as Info-ZIP's zip writes it: one folder, two files, built in
    /// this process (a child process would blind ThreadSanitizer to the rest of the suite).
    static QByteArray makeZip() {
        return test::ZipBuilder()
            .addFolder("folder")
            .addFile("folder/a.txt", QByteArray("alpha ").repeated(1000))
            .addFile("b.bin", QByteArray(777, 'b'))
            .bytes();
    }

    QTemporaryDir dir;
    test::FakeClock clock;
    std::shared_ptr<FakeStorageProvider> fake = std::make_shared<FakeStorageProvider>();
    std::shared_ptr<PreviewCache> cache;
    QUuid account = QUuid::createUuid();
    QList<StorageError> errors;
    int counter = 0;
};

} // namespace

TEST_F(PreviewLoaderTest, FolderIsUnsupportedWithoutAnyCall) {
    auto l = loader(add("Folder", FileItem::folderMimeType, {}));
    EXPECT_EQ(l->kind(), PreviewKind::unsupported);
    EXPECT_EQ(l->phase().kind(), PhaseKind::idle);
    fake->clearCalls();
    l->load();
    ASSERT_TRUE(settle(*l));
    EXPECT_EQ(l->phase().kind(), PhaseKind::unsupported);
    EXPECT_TRUE(fake->calls().isEmpty());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(PreviewLoaderTest, ContentByKind) {
    struct Case {
        QString name, mime;
        bool withSize;
        PreviewKind kind;
        const char* how; // "download", "export", "stream"
    };
    const Case cases[] = {
        {"Notes", "application/vnd.google-apps.document", true, PreviewKind::pdf, "export"},
        {"paper.pdf", "application/pdf", true, PreviewKind::pdf, "download"},
        {"photo.png", "image/png", true, PreviewKind::image, "download"},
        {"readme.txt", "text/plain", true, PreviewKind::document, "download"},
        {"clip.webm", "video/webm", true, PreviewKind::video, "stream"},
        {"song.ogg", "audio/ogg", true, PreviewKind::audio, "stream"},
        {"clip.webm", "video/webm", false, PreviewKind::video, "download"}, // size unknown
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString() + " " + c.how);
        const QByteArray content = "content of " + c.name.toUtf8();
        auto l = loader(add(c.name, c.mime, content, c.withSize));
        EXPECT_EQ(l->kind(), c.kind);
        QSignalSpy spy(l.get(), &PreviewLoader::phaseChanged);
        fake->clearCalls();
        l->load();
        ASSERT_TRUE(settle(*l));
        ASSERT_EQ(l->phase().kind(), PhaseKind::ready);
        EXPECT_EQ(spy.count(), 2); // loading, ready
        const PreviewContent& got = *l->phase().content();
        if (QLatin1String(c.how) == QLatin1String("stream")) {
            ASSERT_TRUE(got.isStream());
            EXPECT_EQ(got.mediaSource()->size(), content.size());
            EXPECT_TRUE(fake->calls().isEmpty()); // nothing is read until the player asks
        } else {
            ASSERT_TRUE(got.isLocalFile());
            EXPECT_EQ(fileBytes(got.localFileURL().toLocalFile()), content);
            EXPECT_EQ(fake->callCount(Op::exportFile),
                      QLatin1String(c.how) == QLatin1String("export"));
            EXPECT_EQ(fake->callCount(Op::download),
                      QLatin1String(c.how) == QLatin1String("download"));
            if (QLatin1String(c.how) == QLatin1String("export")) {
                EXPECT_TRUE(fake->calls()[0].endsWith(",application/pdf)"));
                EXPECT_TRUE(got.localFileURL().toLocalFile().endsWith(".pdf"));
            }
        }
        // A ready loader makes no call when loaded again.
        fake->clearCalls();
        EXPECT_FALSE(l->load().isValid());
        EXPECT_EQ(l->phase().kind(), PhaseKind::ready);
        EXPECT_TRUE(fake->calls().isEmpty());
    }
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(PreviewLoaderTest, ArchiveIsListedAndMembersExtracted) {
    const QByteArray zip = makeZip();
    ASSERT_FALSE(zip.isEmpty());
    auto l = loader(add("test.zip", "application/zip", zip));
    EXPECT_EQ(l->kind(), PreviewKind::archive);
    l->load();
    ASSERT_TRUE(settle(*l));
    ASSERT_EQ(l->phase().kind(), PhaseKind::ready);
    const ArchiveListing* listing = l->phase().content()->archiveListing();
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->archiveSize, zip.size());
    EXPECT_EQ(listing->entries.size(), 3);
    EXPECT_EQ(listing->fileCount(), 2);
    EXPECT_EQ(listing->uncompressedSize(), 6000 + 777);
    EXPECT_EQ(fake->callCount(Op::read), 2);
    EXPECT_EQ(fake->callCount(Op::download), 0);

    ZipEntry member;
    for (const ZipEntry& e : listing->entries)
        if (e.path == "folder/a.txt")
            member = e;
    const QString target = dir.filePath(ZipArchiveReader::safeFileName(member.path));
    std::optional<TaskResult<std::monostate>> done;
    l->extract(member, QUrl::fromLocalFile(target), [&](auto r) { done = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.has_value(); }, 10000));
    ASSERT_TRUE(done->ok());
    EXPECT_EQ(fileBytes(target), QByteArray("alpha ").repeated(1000));

    // A member that does not check out leaves an existing destination as it was.
    ZipEntry bad = member;
    bad.crc32 ^= 1;
    done.reset();
    l->extract(bad, QUrl::fromLocalFile(target), [&](auto r) { done = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.has_value(); }, 10000));
    EXPECT_EQ(done->error().code(), Code::previewUnavailable);
    EXPECT_EQ(fileBytes(target), QByteArray("alpha ").repeated(1000));

    // A destination that cannot be written.
    done.reset();
    l->extract(member, QUrl::fromLocalFile(dir.filePath("missing/folder/a.txt")),
               [&](auto r) { done = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.has_value(); }, 10000));
    EXPECT_EQ(done->error().code(), Code::localWriteFailed);
    EXPECT_EQ(l->phase().kind(), PhaseKind::ready);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(PreviewLoaderTest, BrokenArchivesFailWithPreviewUnavailable) {
    for (bool withSize : {true, false}) {
        SCOPED_TRACE(withSize);
        errors.clear();
        auto l = loader(add("broken.zip", "application/zip", QByteArray(4000, 'z'), withSize));
        l->load();
        ASSERT_TRUE(settle(*l));
        ASSERT_EQ(l->phase().kind(), PhaseKind::failed);
        EXPECT_EQ(l->phase().error()->code(), Code::previewUnavailable);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_EQ(errors[0].code(), Code::previewUnavailable);
    }
}

TEST_F(PreviewLoaderTest, FailureIsReportedOnceAndLoadTriesAgain) {
    const FileItem item = add("paper.pdf", "application/pdf", "pdf bytes");
    auto l = loader(item);
    fake->failNext(Op::download, StorageError(Code::reauthRequired));
    l->load();
    ASSERT_TRUE(settle(*l));
    ASSERT_EQ(l->phase().kind(), PhaseKind::failed);
    EXPECT_EQ(l->phase().error()->code(), Code::reauthRequired);
    EXPECT_EQ(errors.size(), 1);
    l->load();
    ASSERT_TRUE(settle(*l));
    EXPECT_EQ(l->phase().kind(), PhaseKind::ready);
    EXPECT_EQ(errors.size(), 1);
}

TEST_F(PreviewLoaderTest, CancelledLoadGoesBackToIdleSilently) {
    auto l = loader(add("paper.pdf", "application/pdf", "pdf bytes"));
    auto gate = fake->gateNext(Op::download);
    TaskHandle handle = l->load();
    ASSERT_TRUE(gate->waitEntered());
    handle.cancel();
    ASSERT_TRUE(settle(*l));
    EXPECT_EQ(l->phase().kind(), PhaseKind::idle);
    EXPECT_TRUE(errors.isEmpty());
    gate->release();
}

TEST_F(PreviewLoaderTest, AnOlderAnswerNeverReplacesReady) {
    const QByteArray zip = makeZip();
    ASSERT_FALSE(zip.isEmpty());
    auto l = loader(add("test.zip", "application/zip", zip));
    // The first load's first read is held, and then fails; the second load gets through.
    auto gate = fake->gateNext(Op::read);
    fake->failNext(Op::read, StorageError(Code::network));
    l->load();
    ASSERT_TRUE(gate->waitEntered());
    l->load();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l->phase().isReady(); }, 10000));
    gate->release();
    // Let the first load finish and its answer reach the main thread: it is dropped.
    ASSERT_TRUE(threadPool(TaskPool::general)->waitForDone(10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(fake->callCount(Op::read), 3);
    EXPECT_TRUE(l->phase().isReady());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(PreviewLoaderTest, LocalCopyReusesTheReadyFileOrFetchesAgain) {
    const FileItem item = add("paper.pdf", "application/pdf", "pdf bytes");
    auto l = loader(item);
    l->load();
    ASSERT_TRUE(settle(*l));
    const QUrl ready = l->phase().content()->localFileURL();
    auto copy = [&] {
        std::optional<TaskResult<QUrl>> got;
        l->localCopy([&](auto r) { got = std::move(r); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 10000));
        return got->value();
    };
    EXPECT_EQ(copy(), ready);
    EXPECT_EQ(fake->callCount(Op::download), 1);
    cache->clear(); // the ready preview holds its file: clearing leaves it
    EXPECT_EQ(copy(), ready);
    EXPECT_EQ(fake->callCount(Op::download), 1);
    // Gone all the same (removed by someone else): fetched again through the cache.
    ASSERT_TRUE(QFile::remove(ready.toLocalFile()));
    EXPECT_EQ(fileBytes(copy().toLocalFile()), "pdf bytes");
    EXPECT_EQ(fake->callCount(Op::download), 2);

    // A provider-native document is copied as its PDF export, without loading.
    auto doc = loader(add("Sheet", "application/vnd.google-apps.spreadsheet", "sheet pdf"));
    std::optional<TaskResult<QUrl>> got;
    doc->localCopy([&](auto r) { got = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 10000));
    EXPECT_EQ(fileBytes(got->value().toLocalFile()), "sheet pdf");
    EXPECT_EQ(fake->callCount(Op::exportFile), 1);
    EXPECT_EQ(doc->phase().kind(), PhaseKind::idle);
}
