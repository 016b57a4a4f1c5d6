// Every operation of the storage contract end to end: the real libcurl client, request
// engine, token refresh and retries against the loopback fake Drive server.
#include "tests/GoogleDriveProvider/Drive/DriveFixture.h"

#include "GoogleDriveProvider/Drive/DriveAPI.h"
#include "StorageCore/Concurrency/Completion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Endpoint = FakeDriveServer::Endpoint;
using Fault = FakeDriveServer::Fault;

namespace {

template <typename F> Code errorOf(F&& operation) {
    try {
        operation();
    } catch (const StorageError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no error";
    return Code::cancelled;
}

QStringList names(const Page& page) {
    QStringList list;
    for (const FileItem& item : page.items)
        list.append(item.name);
    return list;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

/// Captures the Qt log while alive.
class LogCapture {
public:
    LogCapture() {
        instance() = this;
        previous_ =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                std::lock_guard lock(instance()->mutex_);
                instance()->lines_.append(text);
            });
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        instance() = nullptr;
    }
    QStringList lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static LogCapture*& instance() {
        static LogCapture* current = nullptr;
        return current;
    }
    mutable std::mutex mutex_;
    QStringList lines_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace

using DriveOperations = DriveFixture;

TEST_F(DriveOperations, ListsFoldersPageByPageWithHostileIds) {
    FakeDriveServer::File folder;
    folder.id = QStringLiteral(R"(we'ird\id)");
    folder.name = QStringLiteral("Odd");
    folder.mimeType = FileItem::folderMimeType;
    folder.parents = {QStringLiteral("root")};
    server.setFile(folder);
    server.addManyFiles(folder.id, 130, QStringLiteral("item"));
    server.addFolder(QStringLiteral("zeta"), folder.id);

    const Page first = provider->listFolder(account, folder.id, std::nullopt);
    ASSERT_EQ(first.items.size(), 100);
    ASSERT_TRUE(first.nextPageToken);
    EXPECT_EQ(first.items[0].name, "zeta"); // folders first
    EXPECT_EQ(first.items[1].name, "item 0.txt");
    EXPECT_EQ(first.items[11].name, "item 10.txt"); // natural order
    EXPECT_EQ(first.items[1].ref, (FileRef{account, first.items[1].ref.providerID}));
    EXPECT_EQ(first.items[1].parentIDs, QList<QString>{folder.id});
    EXPECT_EQ(first.items[1].sizeBytes, 1);

    const Page second = provider->listFolder(account, folder.id, first.nextPageToken);
    EXPECT_EQ(second.items.size(), 31);
    EXPECT_FALSE(second.nextPageToken);

    const auto lists = server.requests(Endpoint::list);
    ASSERT_EQ(lists.size(), 2);
    EXPECT_EQ(lists[0].queryValue("q"), R"('we\'ird\\id' in parents and trashed = false)");
    EXPECT_EQ(lists[1].queryValue("pageToken"), first.nextPageToken);
    EXPECT_TRUE(server.violations().isEmpty());

    // The root by default; trashed items stay out.
    const QString gone = server.addFile(QStringLiteral("gone.txt"), "text/plain", "x");
    provider->trash(FileRef{account, gone});
    EXPECT_EQ(names(provider->listFolder(account, std::nullopt, std::nullopt)), QStringList{"Odd"});
}

TEST_F(DriveOperations, SearchesAndCategories) {
    server.addFile(QStringLiteral("a+b c.txt"), "text/plain", "1");
    server.addFile(QStringLiteral("a b c.txt"), "text/plain", "2");
    server.addFile(QStringLiteral("photo.jpg"), "image/jpeg", "3");
    server.addFile(QStringLiteral("clip.mp4"), "video/mp4", "4");
    server.addFile(QStringLiteral("song.mp3"), "audio/mpeg", "5");
    server.addFile(QStringLiteral("bundle.zip"), "application/zip", "6");
    server.addNativeDocument(QStringLiteral("Plan"), "application/vnd.google-apps.document", "doc");
    server.addFile(QStringLiteral("sheet.xlsx"),
                   "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "7");

    // A plus sign reaches the service as a plus sign, not as a space.
    EXPECT_EQ(names(provider->search(account, QStringLiteral("a+b c"), std::nullopt)),
              QStringList{"a+b c.txt"});
    EXPECT_EQ(provider->search(account, QStringLiteral("   "), std::nullopt).items.size(), 8);

    const struct {
        FileCategory category;
        QStringList expected;
    } cases[] = {
        {FileCategory::photos, {"photo.jpg"}},
        {FileCategory::videos, {"clip.mp4"}},
        {FileCategory::audio, {"song.mp3"}},
        {FileCategory::archives, {"bundle.zip"}},
        {FileCategory::documents, {"sheet.xlsx", "Plan", "a b c.txt", "a+b c.txt"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names(provider->listCategory(account, c.category, std::nullopt)), c.expected)
            << FileCategories::rawValue(c.category).toStdString();
    }
}

TEST_F(DriveOperations, CreatesRenamesMovesAndTrashes) {
    EXPECT_EQ(
        errorOf([&] { provider->createFolder(account, QStringLiteral(" \n\t "), std::nullopt); }),
        Code::invalidName);
    EXPECT_EQ(server.count(Endpoint::create), 0);

    const FileItem taxes =
        provider->createFolder(account, QStringLiteral("  Taxes \n"), std::nullopt);
    EXPECT_EQ(taxes.name, "Taxes");
    EXPECT_TRUE(taxes.isFolder());
    EXPECT_EQ(taxes.parentIDs, QList<QString>{"root"});
    const FileItem inner =
        provider->createFolder(account, QStringLiteral("2024"), taxes.ref.providerID);
    EXPECT_EQ(inner.parentIDs, QList<QString>{taxes.ref.providerID});

    const QString id = server.addFile(QStringLiteral("draft.txt"), "text/plain", "x");
    const FileItem renamed = provider->rename(FileRef{account, id}, QStringLiteral(" final.txt "));
    EXPECT_EQ(renamed.name, "final.txt");
    EXPECT_EQ(server.file(id)->name, "final.txt");
    EXPECT_EQ(errorOf([&] {
                  provider->rename(FileRef{account, id}, QStringLiteral("  "));
              }),
              Code::invalidName);

    const FileItem moved =
        provider->move(FileRef{account, id}, QStringLiteral("root"), inner.ref.providerID);
    EXPECT_EQ(moved.parentIDs, QList<QString>{inner.ref.providerID});
    const FileItem added = provider->move(FileRef{account, id}, std::nullopt, taxes.ref.providerID);
    EXPECT_EQ(added.parentIDs.size(), 2);
    EXPECT_EQ(server.requests(Endpoint::patch).last().body, "{}");

    provider->trash(FileRef{account, id});
    EXPECT_TRUE(server.file(id)->trashed);
    EXPECT_EQ(errorOf([&] {
                  provider->rename(FileRef{account, QStringLiteral("nope")}, QStringLiteral("x"));
              }),
              Code::notFound);
}

TEST_F(DriveOperations, DownloadsReplaceFilesAndFailuresLeaveNothingBehind) {
    const QByteArray content = FakeDriveServer::syntheticBytes(0, 3 * 1024 * 1024 + 7);
    const QString id = server.addSyntheticFile(QStringLiteral("big.bin"), content.size());
    const QString destination = writeLocal(QStringLiteral("copy.bin"), "old contents");

    std::vector<qint64> reports;
    provider->download(FileRef{account, id}, QUrl::fromLocalFile(destination),
                       [&](qint64 bytes) { reports.push_back(bytes); });
    EXPECT_EQ(readAll(destination), content);
    EXPECT_EQ(reports, (std::vector<qint64>{content.size()}));
    // The copy was written privately while incomplete; finished, it has the user's usual mode.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(destination).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

    // An expired token: one refresh, then the file.
    server.expireAccessTokens();
    QFile::remove(destination);
    provider->download(FileRef{account, id}, QUrl::fromLocalFile(destination), {});
    EXPECT_EQ(readAll(destination), content);
    EXPECT_EQ(server.tokenRefreshCount(), 1);

    const QString untouched = writeLocal(QStringLiteral("keep.bin"), "keep me");
    EXPECT_EQ(errorOf([&] {
                  provider->download(FileRef{account, QStringLiteral("missing")},
                                     QUrl::fromLocalFile(untouched), {});
              }),
              Code::notFound);
    EXPECT_EQ(readAll(untouched), "keep me");

    const QString doc = server.addNativeDocument(QStringLiteral("Doc"),
                                                 "application/vnd.google-apps.document", "d");
    EXPECT_EQ(errorOf([&] {
                  provider->download(FileRef{account, doc}, QUrl::fromLocalFile(untouched), {});
              }),
              Code::unsupportedDownload);
    EXPECT_EQ(errorOf([&] {
                  provider->download(FileRef{account, id},
                                     QUrl::fromLocalFile(temporary.filePath("no/such/dir/x")), {});
              }),
              Code::localWriteFailed);
    EXPECT_TRUE(leftoverDownloads().isEmpty()) << leftoverDownloads().join(",").toStdString();
}

TEST_F(DriveOperations, ExportsNativeDocuments) {
    const QString doc = server.addNativeDocument(
        QStringLiteral("Plan"), "application/vnd.google-apps.document", "contents");
    const QString destination = temporary.filePath(QStringLiteral("plan.pdf"));
    provider->exportFile(FileRef{account, doc}, QStringLiteral("application/pdf"),
                         QUrl::fromLocalFile(destination));
    EXPECT_EQ(readAll(destination), "contents\nas application/pdf");

    auto record = *server.file(doc);
    record.exportTooLarge = true;
    server.setFile(record);
    EXPECT_EQ(errorOf([&] {
                  provider->exportFile(FileRef{account, doc}, QStringLiteral("application/pdf"),
                                       QUrl::fromLocalFile(destination));
              }),
              Code::exportTooLarge);
    EXPECT_EQ(readAll(destination), "contents\nas application/pdf");
    EXPECT_TRUE(leftoverDownloads().isEmpty());
}

TEST_F(DriveOperations, RangedReadsAlwaysReturnTheAskedBytes) {
    const QByteArray content = FakeDriveServer::syntheticBytes(0, 100);
    const QString id = server.addFile(QStringLiteral("f.bin"), "application/octet-stream", content);
    const FileRef ref{account, id};

    EXPECT_EQ(provider->read(ref, ByteRange{10, 20}), content.mid(10, 10)); // 206
    EXPECT_EQ(server.requests(Endpoint::media).last().headers.value("range"), "bytes=10-19");
    EXPECT_EQ(server.requests(Endpoint::media).last().status, 206);

    // A server that ignores the range answers 200 with the whole file: the asked bytes are cut
    // out of it, whatever the lengths involved, never bytes from offset 0.
    const struct {
        ByteRange range;
        QByteArray expected;
    } ignored[] = {
        {{10, 20}, content.mid(10, 10)},
        {{90, 200}, content.mid(90, 10)}, // body shorter than the range's end
        {{0, 1000}, content},             // range longer than the file
        {{150, 400}, QByteArray()},       // nothing at the lower bound
    };
    for (const auto& c : ignored) {
        Fault fault;
        fault.ignoreRange = true;
        server.injectFault(Endpoint::media, fault);
        EXPECT_EQ(provider->read(ref, c.range), c.expected)
            << c.range.lower << "-" << c.range.upper;
        EXPECT_EQ(server.requests(Endpoint::media).last().status, 200);
    }

    // A 206 is checked against the asked range: other bytes, more bytes or no stated range
    // are an invalid response, never handed back as the range.
    EXPECT_EQ(provider->read(ref, ByteRange{90, 200}), content.mid(90, 10)); // the file ends
    struct Lie {
        const char* what;
        ByteRange range;
        Fault fault;
    };
    const auto lie = [](qint64 shift, qint64 grow, std::optional<std::string> contentRange) {
        Fault fault;
        fault.shiftRange = shift;
        fault.growRange = grow;
        fault.contentRange = std::move(contentRange);
        return fault;
    };
    const Lie lies[] = {
        {"other bytes", {10, 20}, lie(3, 0, std::nullopt)},
        {"earlier bytes", {10, 20}, lie(-10, 0, std::nullopt)},
        {"longer than asked", {10, 20}, lie(0, 5, std::nullopt)},
        {"longer body under the asked range", {10, 20}, lie(0, 5, "bytes 10-19/100")},
        {"shorter, file not at its end", {10, 20}, lie(0, -5, std::nullopt)},
        {"no Content-Range", {10, 20}, lie(0, 0, "")},
        {"malformed Content-Range", {10, 20}, lie(0, 0, "bytes 10-x/100")},
    };
    for (const Lie& c : lies) {
        SCOPED_TRACE(c.what);
        server.injectFault(Endpoint::media, c.fault);
        EXPECT_EQ(errorOf([&] { provider->read(ref, c.range); }), Code::invalidResponse);
        EXPECT_EQ(server.requests(Endpoint::media).last().status, 206);
    }

    const int before = server.count(Endpoint::media);
    EXPECT_TRUE(provider->read(ref, ByteRange{5, 5}).isEmpty());
    EXPECT_EQ(server.count(Endpoint::media), before);
}

TEST_F(DriveOperations, ThumbnailsAskForTheSizeAndHandleRateLimitsLikeEveryRequest) {
    server.addFile(QStringLiteral("pic.jpg"), "image/jpeg", "jpeg");
    auto record = *server.fileNamed(QStringLiteral("pic.jpg"));
    record.hasThumbnail = true;
    server.setFile(record);
    const FileItem item = provider->listFolder(account, std::nullopt, std::nullopt).items.first();
    ASSERT_TRUE(item.thumbnailURL);
    EXPECT_EQ(item.thumbnailURL->url().host(), "lh3.googleusercontent.com");

    EXPECT_EQ(provider->thumbnail(item, 512), FakeDriveServer::thumbnailBytes(record.id, 512));
    EXPECT_TRUE(server.requests(Endpoint::thumbnail).last().path.endsWith("=s512"));

    FileItem without = item;
    without.thumbnailURL.reset();
    EXPECT_EQ(provider->thumbnail(without, 512), std::nullopt);

    // The bearer token goes only over https to the service's hosts: a link elsewhere, or over
    // plain http, gives no thumbnail and no request (here every such host leads to the fake).
    const QStringList elsewhere = {"http://lh3.googleusercontent.com", "https://thumbs.example.com",
                                   "https://googleusercontent.com.evil.example",
                                   "https://evilgoogle.com",
                                   "https://user@lh3.googleusercontent.com"};
    QHash<QString, QUrl> origins = server.rewriteOrigins();
    for (const QString& origin : elsewhere)
        origins.insert(origin, server.origin());
    auto rewriting = std::make_shared<RewritingHTTPClient>(curl, origins);
    GoogleDriveProvider everywhere(defaultConfiguration(), secrets, browser, rewriting, kChunk, 3,
                                   clock.clock(), sleeps.function());
    const QString path = item.thumbnailURL->url().path(QUrl::FullyEncoded);
    for (const QString& origin : elsewhere) {
        SCOPED_TRACE(origin.toStdString());
        FileItem foreign = item;
        foreign.thumbnailURL = QUrl(origin + path);
        server.clearRequests();
        EXPECT_EQ(everywhere.thumbnail(foreign, 64), std::nullopt);
        EXPECT_EQ(server.count(Endpoint::thumbnail), 0);
    }
    EXPECT_EQ(everywhere.thumbnail(item, 64), FakeDriveServer::thumbnailBytes(record.id, 64));

    const struct {
        const char* name;
        Fault fault;
        int times;
        std::optional<Code> error; // none: no thumbnail, quietly
        int requests;
    } cases[] = {
        {"404 ends quietly", Fault::http(404), 1, std::nullopt, 1},
        {"403 without a rate reason ends quietly", Fault::http(403), 1, std::nullopt, 1},
        {"429 is retried, then succeeds", Fault::http(429, 30), 2, Code::cancelled /*success*/, 3},
        {"429 after the retries is reported", Fault::http(429), 4, Code::rateLimited, 4},
        {"403 rateLimitExceeded is a rate limit too",
         Fault::http(403, std::nullopt, {"rateLimitExceeded"}), 4, Code::rateLimited, 4},
        {"500 after the retries is reported", Fault::http(500), 4, Code::server, 4},
    };
    for (const auto& c : cases) {
        server.clearRequests();
        server.clearFaults();
        server.injectFault(Endpoint::thumbnail, c.fault, c.times);
        if (c.error && *c.error != Code::cancelled) {
            EXPECT_EQ(errorOf([&] { provider->thumbnail(item, 64); }), *c.error) << c.name;
        } else {
            const auto bytes = provider->thumbnail(item, 64);
            EXPECT_EQ(bytes.has_value(), c.error.has_value()) << c.name;
        }
        EXPECT_EQ(server.count(Endpoint::thumbnail), c.requests) << c.name;
    }
}

TEST_F(DriveOperations, QuotaAndCredentials) {
    EXPECT_EQ(provider->quota(account), (StorageQuota{1073741824, 16106127360, 1000000000, 1024}));
    server.setQuota({{QStringLiteral("usage"), QStringLiteral("1024")}});
    EXPECT_EQ(provider->quota(account),
              (StorageQuota{1024, std::nullopt, std::nullopt, std::nullopt}));
    server.setQuota({});
    EXPECT_EQ(errorOf([&] { provider->quota(account); }), Code::invalidResponse);

    EXPECT_EQ(errorOf([&] { provider->quota(QUuid::createUuid()); }), Code::reauthRequired);
    EXPECT_EQ(errorOf([&] {
                  provider->storeCredential(
                      ProviderCredential{"not json", ProviderKind::googleDrive},
                      QUuid::createUuid());
              }),
              Code::invalidResponse);

    provider->removeCredential(account, true);
    EXPECT_EQ(server.revokedTokens(), QStringList{tokens.refreshToken});
    EXPECT_EQ(errorOf([&] { provider->listFolder(account, std::nullopt, std::nullopt); }),
              Code::reauthRequired);
}

TEST_F(DriveOperations, ConnectsThroughTheBrowserAndTheAboutRequest) {
    server.setUser(QStringLiteral("a+b@example.com"), std::nullopt, QStringLiteral("perm-42"));
    const ProviderConnection connection = provider->connect(QStringLiteral("a+b@example.com"));
    EXPECT_EQ(connection.providerAccountID, "perm-42");
    EXPECT_EQ(connection.email, "a+b@example.com");
    EXPECT_EQ(connection.displayName, std::nullopt);
    EXPECT_TRUE(connection.quota);
    EXPECT_EQ(connection.kind(), ProviderKind::googleDrive);
    EXPECT_EQ(browser->lastStatus, 200);

    // The credential is the token record; stored, it serves requests.
    const QUuid added = QUuid::createUuid();
    provider->storeCredential(connection.credential, added);
    EXPECT_NO_THROW(provider->quota(added));

    // The kind is the router's business: this back end ignores it.
    EXPECT_EQ(provider->connect(ProviderKind::telegram, std::nullopt).providerAccountID, "perm-42");

    // The about answer must name the account.
    server.setUser(QString(), QStringLiteral("X"), QStringLiteral("perm-43"));
    EXPECT_EQ(errorOf([&] { provider->connect(std::nullopt); }), Code::invalidResponse);

    auto unconfigured = makeProvider(kChunk, std::nullopt);
    const int opened = int(browser->opened.size());
    EXPECT_EQ(errorOf([&] { unconfigured->connect(std::nullopt); }), Code::notConfigured);
    EXPECT_EQ(browser->opened.size(), opened);
}

// ---- Request engine --------------------------------------------------------------------------

using DriveEngine = DriveFixture;

TEST_F(DriveEngine, RetriesTemporaryFailuresWithBackoff) {
    const struct {
        const char* name;
        Fault fault;
        int times;
        std::optional<Code> error;
        int requests;
    } cases[] = {
        {"503 always", Fault::http(503), 10, Code::server, 4},
        {"500 with Retry-After, then success", Fault::http(500, 3600), 2, std::nullopt, 3},
        {"429 with Retry-After, then success", Fault::http(429, 120), 3, std::nullopt, 4},
        {"429 always", Fault::http(429), 10, Code::rateLimited, 4},
        {"403 rateLimitExceeded", Fault::http(403, std::nullopt, {"rateLimitExceeded"}), 1,
         std::nullopt, 2},
        {"dropped connection", Fault::dropped(), 1, std::nullopt, 2},
        {"403 forbidden is not retried", Fault::http(403), 10, Code::permissionDenied, 1},
        {"400 is not retried", Fault::http(400), 10, Code::invalidResponse, 1},
    };
    for (const auto& c : cases) {
        server.clearFaults();
        server.clearRequests();
        const size_t waitsBefore = sleeps.waits().size();
        server.injectFault(Endpoint::list, c.fault, c.times);
        if (c.error)
            EXPECT_EQ(errorOf([&] { provider->listFolder(account, std::nullopt, std::nullopt); }),
                      *c.error)
                << c.name;
        else
            EXPECT_NO_THROW(provider->listFolder(account, std::nullopt, std::nullopt)) << c.name;
        EXPECT_EQ(server.count(Endpoint::list), c.requests) << c.name;
        const auto waits = sleeps.waits();
        ASSERT_EQ(waits.size() - waitsBefore, size_t(c.requests - 1)) << c.name;
        // The back-off follows the schedule, whatever Retry-After says.
        for (size_t i = waitsBefore; i < waits.size(); ++i) {
            const qint64 base = 500LL << (i - waitsBefore);
            EXPECT_GE(waits[i], base) << c.name;
            EXPECT_LE(waits[i], base + 250) << c.name;
        }
    }

    // Creating a folder is never retried: a lost answer must not make two folders.
    server.clearRequests();
    server.injectFault(Endpoint::create, Fault::http(503));
    EXPECT_EQ(
        errorOf([&] { provider->createFolder(account, QStringLiteral("Once"), std::nullopt); }),
        Code::server);
    EXPECT_EQ(server.count(Endpoint::create), 1);
}

TEST_F(DriveEngine, RefreshesAnExpiredTokenOnceAndSharesTheRefresh) {
    server.expireAccessTokens();
    const size_t waits = sleeps.waits().size();
    EXPECT_NO_THROW(provider->listFolder(account, std::nullopt, std::nullopt));
    EXPECT_EQ(server.tokenRefreshCount(), 1);
    const auto lists = server.requests(Endpoint::list);
    ASSERT_EQ(lists.size(), 2);
    EXPECT_EQ(lists[0].status, 401);
    EXPECT_NE(lists[0].headers.value("authorization"), lists[1].headers.value("authorization"));
    EXPECT_EQ(sleeps.waits().size(), waits); // no wait before the refreshed attempt

    // Ten concurrent requests of an account whose token has expired: one refresh, shared.
    const QUuid expired = QUuid::createUuid();
    storeTokens(expired, server.issueTokens(), clock.now().addSecs(-10));
    std::vector<std::thread> workers;
    std::atomic<int> failures{0};
    for (int i = 0; i < 10; ++i) {
        workers.emplace_back([&] {
            try {
                provider->listFolder(expired, std::nullopt, std::nullopt);
            } catch (...) {
                ++failures;
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(server.tokenRefreshCount(), 2);

    // A refresh token the service refuses: reauthRequired, and two 401s in a row likewise.
    server.revokeRefreshToken(tokens.refreshToken);
    server.expireAccessTokens();
    EXPECT_EQ(errorOf([&] { provider->listFolder(account, std::nullopt, std::nullopt); }),
              Code::reauthRequired);
}

TEST_F(DriveEngine, RequestsThatMustNotBeRepeatedGoOutOnceWhenTheirAnswerIsLost) {
    // The service acts on the request and the connection closes before its answer: the
    // operation fails with network and the request reached the service once (one folder, one
    // use of the refresh token), even on a warm kept-alive connection. (The engine's own
    // retries are a separate matter: neither request is retried by it.)
    struct Case {
        const char* what;
        Endpoint endpoint;
        std::function<void()> operation;
    };
    const Case cases[] = {
        {"folder creation", Endpoint::create,
         [&] { provider->createFolder(account, QStringLiteral("Once"), std::nullopt); }},
        {"token refresh", Endpoint::token,
         [&] {
             server.expireAccessTokens();
             provider->quota(account);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        provider->listFolder(account, std::nullopt, std::nullopt); // warms the connection
        server.clearRequests();
        server.injectFault(c.endpoint, Fault::lostAnswer());
        EXPECT_EQ(errorOf(c.operation), Code::network);
        EXPECT_EQ(server.count(c.endpoint), 1);
    }
    int folders = 0;
    for (const auto& item : provider->listFolder(account, std::nullopt, std::nullopt).items)
        folders += item.name == QLatin1String("Once");
    EXPECT_EQ(folders, 1);
}

TEST_F(DriveEngine, AccessTokensAboutToExpireAreRefreshedFirst) {
    const QUuid soon = QUuid::createUuid();
    storeTokens(soon, server.issueTokens(), clock.now().addSecs(60));
    provider->quota(soon);
    EXPECT_EQ(server.tokenRefreshCount(), 1);
    const QUuid later = QUuid::createUuid();
    storeTokens(later, server.issueTokens(), clock.now().addSecs(61));
    provider->quota(later);
    EXPECT_EQ(server.tokenRefreshCount(), 1);
}

TEST_F(DriveEngine, TwoUnauthorisedAnswersGiveReauthRequired) {
    server.injectFault(Endpoint::about, Fault::http(401), 2);
    EXPECT_EQ(errorOf([&] { provider->quota(account); }), Code::reauthRequired);
    EXPECT_EQ(server.count(Endpoint::about), 2);
}

TEST_F(DriveEngine, LogsCarryNoSecretsOrLinks) {
    LogCapture capture;
    server.expireAccessTokens();
    server.injectFault(Endpoint::list, Fault::http(503), 2);
    provider->listFolder(account, QStringLiteral("secret-folder-id"), std::nullopt);
    server.injectFault(Endpoint::about, Fault::dropped(), 10);
    EXPECT_EQ(errorOf([&] { provider->quota(account); }), Code::network);
    const QStringList lines = capture.lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.join("\n").contains("Drive GET files returned HTTP 503 → server"))
        << lines.join("\n").toStdString();
    for (const QString& line : lines) {
        for (const char* secret : {"ya29.", "1//", "secret-folder-id", "http", "Bearer"})
            EXPECT_FALSE(line.contains(QLatin1String(secret))) << line.toStdString();
    }
}

TEST_F(DriveEngine, RequestKindsAndNames) {
    EXPECT_EQ(GoogleDriveProvider::kind(DriveAPI::list({}, {})), "files");
    EXPECT_EQ(GoogleDriveProvider::kind(DriveAPI::about()), "about");
    LocalFile file{QUrl::fromLocalFile("/x"), "x", 10, "a/b"};
    const QUrl session("https://www.googleapis.com/upload/drive/v3/files?upload_id=1");
    EXPECT_EQ(GoogleDriveProvider::kind(DriveAPI::initiateResumableUpload(file, {})),
              "upload start");
    EXPECT_EQ(GoogleDriveProvider::kind(DriveAPI::uploadStatus(session, 10)), "upload status");
    EXPECT_EQ(GoogleDriveProvider::kind(DriveAPI::uploadChunk(session, 0, 10, 10)), "upload part");
    EXPECT_EQ(GoogleDriveProvider::kind(DriveAPI::thumbnail(QUrl("https://h/t/x=s1"), 5)), "");

    EXPECT_EQ(GoogleDriveProvider::validName(" \n Reports\t "), "Reports");
    EXPECT_EQ(errorOf([] { GoogleDriveProvider::validName("   "); }), Code::invalidName);

    for (qint64 bad : {qint64(100000), qint64(0), qint64(-262144)})
        EXPECT_THROW(makeProvider(bad), std::invalid_argument) << bad;
    EXPECT_NO_THROW(makeProvider(262144));
    EXPECT_NO_THROW(makeProvider(8388608));
}

TEST_F(DriveEngine, CancellingAStalledDownloadEndsPromptlyAndLeavesNoFile) {
    const QString id = server.addSyntheticFile(QStringLiteral("stall.bin"), 4 * 1024 * 1024);
    Fault stall;
    stall.stall = true;
    stall.stallAfterBytes = 512 * 1024;
    server.injectFault(Endpoint::media, stall);
    const QString destination = temporary.filePath(QStringLiteral("stalled.bin"));

    std::stop_source stop;
    std::optional<Code> result;
    std::thread worker([&] {
        Cancellation::Scope scope(stop.get_token());
        result = errorOf([&] {
            provider->download(FileRef{account, id}, QUrl::fromLocalFile(destination), {});
        });
    });
    // Wait until the transfer is under way (its temporary file exists), then cancel it.
    const bool started = QTest::qWaitFor(
        [&] { return server.count(Endpoint::media) == 1 && !leftoverDownloads().isEmpty(); }, 5000);
    stop.request_stop();
    worker.join();
    server.releaseStalls();
    ASSERT_TRUE(started);
    EXPECT_EQ(result, Code::cancelled);
    EXPECT_FALSE(QFile::exists(destination));
    EXPECT_TRUE(leftoverDownloads().isEmpty());
}

TEST_F(DriveEngine, CancellationEndsABackoffWait) {
    // The production sleep, asked for an hour whatever the schedule says: only the stop
    // request can end that wait (a sleep deaf to it would hold the call for the hour).
    Completion<std::monostate> sleeping;
    SleepFunction hour = [&sleeping, real = cancellableSleep()](std::chrono::milliseconds) {
        sleeping.resolve({});
        real(std::chrono::hours(1));
    };
    auto sleepy = std::make_unique<GoogleDriveProvider>(defaultConfiguration(), secrets, browser,
                                                        http, kChunk, 3, clock.clock(), hour);
    server.injectFault(Endpoint::list, Fault::http(503), 10);
    std::stop_source stop;
    Completion<std::optional<Code>> result;
    std::thread worker([&] {
        Cancellation::Scope scope(stop.get_token());
        result.resolve(errorOf([&] { sleepy->listFolder(account, std::nullopt, std::nullopt); }));
    });
    const bool waited = sleeping.waitFor(std::chrono::seconds(10)).has_value();
    stop.request_stop();
    const std::optional<std::optional<Code>> outcome = result.waitFor(std::chrono::seconds(30));
    worker.join(); // (only an hour later if the stop request did not end the wait)
    ASSERT_TRUE(waited) << "no back-off wait began";
    ASSERT_TRUE(outcome.has_value()) << "the stop request did not end the back-off wait";
    EXPECT_EQ(*outcome, Code::cancelled);
    EXPECT_EQ(server.count(Endpoint::list), 1);
}

TEST_F(DriveEngine, ADownloadIsStagedBesideItsDestinationAndRenamedIntoPlace) {
    // Nothing goes through the temporary directory (often memory-backed): the body is written
    // into a partial file in the destination's folder, which becomes the file by a rename.
    QTemporaryDir emptyTemp;
    ASSERT_TRUE(emptyTemp.isValid());
    const QByteArray previousTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(emptyTemp.path()));
    const QString id = server.addSyntheticFile(QStringLiteral("big.bin"), 2 * 1024 * 1024);
    Fault stall;
    stall.stall = true;
    stall.stallAfterBytes = 256 * 1024;
    stall.resumeAfterStall = true;
    server.injectFault(Endpoint::media, stall);
    const QString destination = temporary.filePath(QStringLiteral("big.bin"));

    std::optional<Code> failure;
    std::thread worker([&] {
        try {
            provider->download(FileRef{account, id}, QUrl::fromLocalFile(destination), {});
        } catch (const StorageError& error) {
            failure = error.code();
        }
    });
    // Under way: the partial file holds the body up to the stall.
    const bool staged = QTest::qWaitFor(
        [&] {
            const QStringList partial = leftoverDownloads();
            return !partial.isEmpty() &&
                   QFileInfo(temporary.filePath(partial.first())).size() >= 256 * 1024;
        },
        10000);
    struct stat partial {};
    const bool seen =
        staged &&
        ::stat(QFile::encodeName(temporary.filePath(leftoverDownloads().first())).constData(),
               &partial) == 0;
    server.releaseStalls();
    worker.join();
    if (previousTemp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previousTemp);
    ASSERT_TRUE(seen) << "no partial file beside the destination";
    EXPECT_EQ(failure, std::nullopt);
    struct stat finished {};
    ASSERT_EQ(::stat(QFile::encodeName(destination).constData(), &finished), 0);
    EXPECT_EQ(finished.st_ino, partial.st_ino) << "copied instead of renamed";
    EXPECT_EQ(finished.st_dev, partial.st_dev);
    EXPECT_EQ(finished.st_size, 2 * 1024 * 1024);
    EXPECT_TRUE(leftoverDownloads().isEmpty());
    EXPECT_TRUE(QDir(emptyTemp.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}
