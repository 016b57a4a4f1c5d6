// The self-check's report over swapped parts: a fake keyring, TDLib status and client, HTTP
// client, Telegram back end and a model over fake back ends. The run is made from a worker
// thread, as in the application, while the test's main thread serves its hops.
#include "App/Shell/SelfCheck.h"

#include "App/Model/AppModel.h"
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "GoogleDriveProvider/HTTP/HTTPClient.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "TelegramProvider/TDLib/TDClient.h"
#include "TelegramProvider/TDLib/TDObject.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/support/InMemorySecretStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <thread>

using namespace tw;
using namespace tw::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

class FakeHTTP : public HTTPClient {
public:
    int status = 200;
    bool unreachable = false;
    QList<QUrl> asked;
    HTTPReply send(const HTTPRequest& request) override {
        asked.append(request.url);
        if (unreachable)
            throw HTTPTransportError(HTTPTransportError::Kind::offline, 6,
                                     QStringLiteral("Could not resolve host"));
        HTTPReply reply;
        reply.response.statusCode = status;
        return reply;
    }
    HTTPReply upload(const HTTPRequest& request, const HTTPBody&, const HTTPProgress&) override {
        return send(request);
    }
    HTTPDownload download(const HTTPRequest&, const QString&) override { return {}; }
};

/// A TDLib client that answers the scratch instance's requests: it writes into the database
/// folder as TDLib would, and confirms "close" with the closed state a little later, from
/// another thread.
class ScratchClient : public TDClient {
public:
    enum class Close { confirmed, never };
    explicit ScratchClient(Close close) : close_(close) {}
    ~ScratchClient() override {
        if (closer_.joinable())
            closer_.join();
    }

    TDObject send(const TDObject& request, Deadline) override {
        requests.append(request);
        const QString type = request.type();
        if (type == QLatin1String("setTdlibParameters")) {
            directory = request.string(QStringLiteral("database_directory")).value_or(QString());
            QDir().mkpath(directory);
            QFile file(QDir(directory).filePath(QStringLiteral("td.binlog")));
            file.open(QIODevice::WriteOnly);
            return TDObject(QStringLiteral("ok"), {});
        }
        if (type == QLatin1String("getCountryCode"))
            return TDObject(QStringLiteral("text"), {{QStringLiteral("text"), QStringLiteral("DE")}});
        if (type == QLatin1String("close")) {
            if (close_ == Close::confirmed) {
                closer_ = std::thread([this] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    folderThereAtClose = QDir(directory).exists();
                    updates_.push(TDObject(
                        QStringLiteral("updateAuthorizationState"),
                        {{QStringLiteral("authorization_state"),
                          QJsonObject{{QStringLiteral("@type"), QStringLiteral("authorizationStateClosed")}}}}));
                });
            }
            return TDObject(QStringLiteral("ok"), {});
        }
        throw TDError(400, QStringLiteral("unexpected"));
    }
    void post(const TDObject&) override {}
    UpdateStream& updates() override { return updates_; }
    void shutdown() override {
        shutDown = true;
        updates_.close();
    }

    QList<TDObject> requests;
    QString directory;
    std::atomic<bool> folderThereAtClose{false};
    std::atomic<bool> shutDown{false};

private:
    Close close_;
    UpdateStream updates_;
    std::thread closer_;
};

class ScratchFactory : public TDClientFactory {
public:
    explicit ScratchFactory(ScratchClient::Close close)
        : client(std::make_shared<ScratchClient>(close)) {}
    std::shared_ptr<TDClient> makeClient() override { return client; }
    std::shared_ptr<ScratchClient> client;
};

class SelfCheckTest : public AppModelFixture {
public:
    void SetUp() override {
        AppModelFixture::SetUp();
        ASSERT_TRUE(scratchDir.isValid());
        env.keychain = keychain;
        env.http = http;
        env.authorizationEndpoint = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
        env.tdlib = [this] { return tdlib; };
        env.makeModel = [this] {
            AppModel::Parts parts;
            parts.provider = std::make_shared<ProviderRouter>(ProviderRouter::Providers{
                {ProviderKind::googleDrive, drive}, {ProviderKind::telegram, telegram}});
            parts.store = store;
            parts.defaults = defaults;
            parts.panels = panels;
            parts.launcher = launcher;
            parts.scheduler = scheduler.scheduler();
            parts.runStartupTasks = false;
            return std::make_unique<AppModel>(std::move(parts));
        };
        env.telegram = [this](AppModel&) {
            SelfCheck::TelegramBackEnd backEnd;
            backEnd.removeOrphanedSessions = [this](const QList<QUuid>& ids) {
                cleanedFor = ids;
                return 2;
            };
            backEnd.sessionFolderCount = [] { return 3; };
            backEnd.hasCredential = [this](const QUuid& id) { return withCredential.contains(id); };
            backEnd.inventory = [](const QUuid&) {
                return QMap<QString, qint64>{{QStringLiteral("saved.files"), 7},
                                             {QStringLiteral("chats.main"), 4},
                                             {QStringLiteral("chatTypePrivate"), 2}};
            };
            return backEnd;
        };
        env.write = [this](const QByteArray& line) {
            std::lock_guard lock(linesMutex);
            lines.append(QString::fromUtf8(line));
        };
        env.clock = [] { return 1000.0; };
        env.temporaryFolder = scratchDir.path();
        env.deviceModel = QStringLiteral("Linux");
        env.systemVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        env.tdlibCloseLimit = std::chrono::milliseconds(2000);
        tdlib.factory = std::make_shared<ScratchFactory>(ScratchClient::Close::confirmed);
        tdlib.version = QStringLiteral("1.8.67");
    }

    /// Runs the check on a worker, as the application does, and returns its lines.
    QStringList runCheck() {
        Completion<std::monostate> done;
        runDetached([this, done]() mutable {
            SelfCheck::run(env);
            done.resolve(std::monostate{});
        });
        const bool finished = QTest::qWaitFor([&] { return done.isDone(); }, 20000);
        EXPECT_TRUE(finished);
        if (!finished)
            std::abort(); // the worker still uses this fixture
        std::lock_guard lock(linesMutex);
        return lines;
    }

    static QStringList namesOf(const QStringList& report) {
        QStringList names;
        for (const QString& line : report) {
            const qsizetype nameStart = line.indexOf(QLatin1Char(' '), 10) + 1;
            names.append(line.mid(nameStart, line.indexOf(QLatin1Char(':')) - nameStart));
        }
        return names;
    }

    void withTelegramCredentials() {
        env.credentials = ServiceCredentialStore(std::nullopt,
                                                 TelegramConfiguration{12345, QStringLiteral("hash")});
    }

    SelfCheck::Environment env;
    std::shared_ptr<InMemorySecretStore> keychain = std::make_shared<InMemorySecretStore>();
    std::shared_ptr<FakeHTTP> http = std::make_shared<FakeHTTP>();
    SelfCheck::TDLibStatus tdlib;
    QTemporaryDir scratchDir;
    QList<QUuid> cleanedFor;
    QList<QUuid> withCredential;
    std::mutex linesMutex;
    QStringList lines;
};

TEST_F(SelfCheckTest, NoAccountsAndNoCredentialsGiveExactlyTheSevenLines) {
    const QStringList report = runCheck();
    EXPECT_THAT(report,
                ElementsAre(
                    "SELFCHECK PASS keychain: write/read/delete [0.0s]\n",
                    "SELFCHECK PASS tdlib: loaded version 1.8.67 [0.0s]\n",
                    "SELFCHECK PASS google-network: accounts.google.com reachable [0.0s]\n",
                    "SELFCHECK FAIL google-credentials: no OAuth client yet (not set in this build) [0.0s]\n",
                    "SELFCHECK PASS telegram-sessions: 0 Telegram account(s); session folders on disk: 3 [0.0s]\n",
                    "SELFCHECK PASS telegram-cleanup: removed 2 unused session folder(s) [0.0s]\n",
                    "SELFCHECK FAIL telegram-network: skipped: no Telegram API ID/hash yet (not set in this build) [0.0s]\n"));
    // The probe leaves nothing behind; the discovery document is asked of the sign-in host.
    EXPECT_TRUE(keychain->contents().isEmpty());
    EXPECT_THAT(http->asked,
                ElementsAre(QUrl(QStringLiteral(
                    "https://accounts.google.com/.well-known/openid-configuration"))));
}

// The session clean-up runs only when it knows which folders are in use: not while the
// application runs over the same data folder (its sign-ins in progress own folders no stored
// account names yet), not when the stored account list could not be read.
TEST_F(SelfCheckTest, TheSessionCleanUpIsSkippedWhenItCannotKnowWhatIsInUse) {
    struct Case {
        const char* name;
        bool inUse;
        bool listUnreadable;
        const char* expected;
    };
    const Case cases[] = {
        {"the application runs", true, false,
         "SELFCHECK PASS telegram-cleanup: skipped: Kelvanor is running over this data folder "
         "[0.0s]\n"},
        {"the list is unreadable", false, true,
         "SELFCHECK FAIL telegram-cleanup: skipped: the stored account list could not be read "
         "[0.0s]\n"},
        {"both", true, true,
         "SELFCHECK PASS telegram-cleanup: skipped: Kelvanor is running over this data folder "
         "[0.0s]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lines.clear();
        bool asked = false;
        env.dataFolderInUse = [&asked, inUse = c.inUse] {
            asked = true;
            return inUse;
        };
        store->put(QStringLiteral("accounts"), c.listUnreadable
                                                   ? QJsonValue(QStringLiteral("not a list"))
                                                   : QJsonValue(QJsonArray()));
        bool cleaned = false;
        env.telegram = [&cleaned](AppModel&) {
            SelfCheck::TelegramBackEnd backEnd;
            backEnd.removeOrphanedSessions = [&cleaned](const QList<QUuid>&) {
                cleaned = true;
                return 1;
            };
            return backEnd;
        };
        const QStringList report = runCheck();
        EXPECT_TRUE(asked);
        EXPECT_FALSE(cleaned);
        ASSERT_EQ(report.size(), 7);
        EXPECT_EQ(report.at(5), QString::fromUtf8(c.expected));
    }
}

TEST_F(SelfCheckTest, FailuresOfTheFirstChecksAreLinesAndTheRunGoesOn) {
    struct Case {
        const char* name;
        std::function<void(SelfCheckTest&)> arrange;
        const char* expected;
    };
    const QList<Case> cases = {
        {"locked keyring",
         [](SelfCheckTest& t) { t.keychain->setFailureStatus(2); },
         "SELFCHECK FAIL keychain: SecretStoreError(status: 2)"},
        {"TDLib missing",
         [](SelfCheckTest& t) {
             t.tdlib = {};
             t.tdlib.loadError = QStringLiteral("libtdjson.so: cannot open shared object file");
         },
         "SELFCHECK FAIL tdlib: libtdjson.so could not be loaded: libtdjson.so: cannot open "
         "shared object file [0.0s]\n"},
        {"TDLib missing without a reason",
         [](SelfCheckTest& t) { t.tdlib = {}; },
         "SELFCHECK FAIL tdlib: libtdjson.so could not be loaded: unknown [0.0s]\n"},
        {"TDLib without a version",
         [](SelfCheckTest& t) { t.tdlib.version.reset(); },
         "SELFCHECK PASS tdlib: loaded version ? [0.0s]\n"},
        {"Google answers 404",
         [](SelfCheckTest& t) { t.http->status = 404; },
         "SELFCHECK FAIL google-network: accounts.google.com reachable [0.0s]\n"},
        {"offline",
         [](SelfCheckTest& t) { t.http->unreachable = true; },
         "SELFCHECK FAIL google-network: HTTPTransportError.offline(code: 6): Could not resolve host"},
        {"an OAuth client",
         [](SelfCheckTest& t) {
             t.env.credentials = ServiceCredentialStore(
                 GoogleOAuthConfiguration{QStringLiteral("client"), std::nullopt, {}}, std::nullopt);
         },
         "SELFCHECK PASS google-credentials: OAuth client present [0.0s]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lines.clear();
        keychain->setFailureStatus(0);
        http->status = 200;
        http->unreachable = false;
        tdlib.factory = std::make_shared<ScratchFactory>(ScratchClient::Close::confirmed);
        tdlib.version = QStringLiteral("1.8.67");
        tdlib.loadError.reset();
        env.credentials = ServiceCredentialStore(std::nullopt, std::nullopt);
        c.arrange(*this);
        const QStringList report = runCheck();
        EXPECT_EQ(namesOf(report),
                  QStringList({"keychain", "tdlib", "google-network", "google-credentials",
                               "telegram-sessions", "telegram-cleanup", "telegram-network"}));
        EXPECT_TRUE(std::any_of(report.cbegin(), report.cend(), [&](const QString& line) {
            return line.startsWith(QString::fromUtf8(c.expected));
        })) << report.join(QString()).toStdString();
    }
}

TEST_F(SelfCheckTest, TDLibMissingWithTelegramCredentialsSkipsTheNetworkCheck) {
    withTelegramCredentials();
    tdlib = {};
    tdlib.loadError = QStringLiteral("no such file");
    const QStringList report = runCheck();
    EXPECT_EQ(report.at(1), "SELFCHECK FAIL tdlib: libtdjson.so could not be loaded: no such file [0.0s]\n");
    EXPECT_EQ(report.last(),
              "SELFCHECK FAIL telegram-network: skipped: no Telegram API ID/hash yet (not set in "
              "this build) [0.0s]\n");
}

TEST_F(SelfCheckTest, AccountsAreCheckedInListOrderAndAnExpiredOneDoesNotStopTheRun) {
    const StorageAccount google = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    const StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"));
    const StorageAccount other = storedAccount(ProviderKind::telegram, QStringLiteral("Other"));
    storeAccounts({google, chats, other});
    withCredential = {chats.id};
    drive->failAlways(FakeStorageProvider::Op::listFolder, StorageError(StorageError::Code::reauthRequired));

    // Chats: a photo and a folder at the root, one channel with three files, an empty group.
    telegram->addItem(fileItem(chats.id, QStringLiteral("m:1"), QStringLiteral("cat.jpg")));
    FileItem photo = fileItem(chats.id, QStringLiteral("m:2"), QStringLiteral("dog.jpg"));
    photo.mimeType = QStringLiteral("image/jpeg");
    telegram->addItem(photo);
    telegram->addItem(folderItem(chats.id, QStringLiteral("c:11"), QStringLiteral("Folder")));
    telegram->addItem(folderItem(chats.id, QStringLiteral("c:10"), QStringLiteral("News"),
                                 QStringLiteral("g:channels")));
    telegram->addFiles(chats.id, QStringLiteral("c:10"), 3);
    env.arguments = {QStringLiteral("kelvanor"), SelfCheck::argument, SelfCheck::inventoryArgument};

    const QStringList report = runCheck();
    EXPECT_EQ(cleanedFor, QList<QUuid>({chats.id, other.id}));
    EXPECT_THAT(namesOf(report),
                ElementsAreArray(QStringList{
                    "keychain", "tdlib", "google-network", "google-credentials", "telegram-sessions",
                    "telegram-cleanup", "account-googleDrive", "telegram-credential",
                    "account-telegram", "kinds-telegram", "telegram-folders", "telegram-inventory",
                    "telegram-credential", "account-telegram", "kinds-telegram",
                    "telegram-folders", "telegram-inventory", "telegram-network"}));
    EXPECT_EQ(report.at(4), "SELFCHECK PASS telegram-sessions: 2 Telegram account(s); session "
                            "folders on disk: 3 [0.0s]\n");
    EXPECT_EQ(report.at(6), "SELFCHECK FAIL account-googleDrive: " +
                                StorageError(StorageError::Code::reauthRequired).presentation().title +
                                " — raw: reauthRequired [0.0s]\n");
    EXPECT_EQ(report.at(7), "SELFCHECK PASS telegram-credential: Keyring sign-in for the account [0.0s]\n");
    EXPECT_EQ(report.at(8), "SELFCHECK PASS account-telegram: signed in; root lists 1 folder(s) "
                            "and 2 file(s) [0.0s]\n");
    EXPECT_EQ(report.at(9), "SELFCHECK PASS kinds-telegram: Photos 1, Videos 0, Audio 0, "
                            "Documents 4, Archives 0 [0.0s]\n");
    EXPECT_EQ(report.at(10), "SELFCHECK PASS telegram-folders: channels 1; first channel opens "
                             "with 3 file(s); groups 0; chats 0; root loads 2 file(s) without "
                             "scrolling [0.0s]\n");
    EXPECT_EQ(report.at(11), "SELFCHECK PASS telegram-inventory: chatTypePrivate=2 chats.main=4 "
                             "saved.files=7 [0.0s]\n");
    // The account without a stored sign-in fails that line, and its listing still runs.
    EXPECT_EQ(report.at(12), "SELFCHECK FAIL telegram-credential: Keyring sign-in for the account [0.0s]\n");
    EXPECT_THAT(report.at(13).toStdString(), StartsWith("SELFCHECK PASS account-telegram: signed in; root lists 0"));
}

TEST_F(SelfCheckTest, WithoutTheInventoryArgumentThereIsNoInventoryLine) {
    const StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"));
    storeAccounts({chats});
    for (const QStringList& arguments :
         {QStringList{"kelvanor", "-TWSelfCheck"}, QStringList{"kelvanor", "-TWSelfCheck", "-twinventory"}}) {
        lines.clear();
        env.arguments = arguments;
        const QStringList report = runCheck();
        EXPECT_FALSE(namesOf(report).contains(QStringLiteral("telegram-inventory")));
        EXPECT_TRUE(namesOf(report).contains(QStringLiteral("telegram-folders")));
    }
}

TEST_F(SelfCheckTest, TheScratchClientIsClosedBeforeItsFolderIsRemoved) {
    withTelegramCredentials();
    auto factory = std::make_shared<ScratchFactory>(ScratchClient::Close::confirmed);
    tdlib.factory = factory;
    const QStringList report = runCheck();
    EXPECT_EQ(report.last(), "SELFCHECK PASS telegram-network: Telegram answered (country code DE) [0.0s]\n");

    const ScratchClient& client = *factory->client;
    QStringList types;
    for (const TDObject& request : client.requests)
        types.append(request.type());
    EXPECT_EQ(types, QStringList({"setTdlibParameters", "getCountryCode", "close"}));
    const QJsonObject parameters = client.requests.first().fields();
    EXPECT_EQ(parameters.size(), 15); // the 14 fields and "@type"
    EXPECT_EQ(parameters.value("api_id").toInt(), 12345);
    EXPECT_EQ(parameters.value("api_hash").toString(), "hash");
    EXPECT_EQ(parameters.value("device_model").toString(), "Linux");
    EXPECT_EQ(parameters.value("system_version").toString(), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(parameters.value("application_version").toString(), "selfcheck");
    EXPECT_EQ(parameters.value("database_encryption_key").toString(), "");
    EXPECT_EQ(parameters.value("files_directory"), parameters.value("database_directory"));
    EXPECT_THAT(client.directory.toStdString(),
                StartsWith(QDir(scratchDir.path()).filePath("selfcheck-").toStdString()));
    EXPECT_TRUE(client.folderThereAtClose);
    EXPECT_FALSE(QDir(client.directory).exists());
    EXPECT_TRUE(client.shutDown);
}

TEST_F(SelfCheckTest, AScratchClientThatNeverClosesIsLeftAfterTheBound) {
    withTelegramCredentials();
    auto factory = std::make_shared<ScratchFactory>(ScratchClient::Close::never);
    tdlib.factory = factory;
    env.tdlibCloseLimit = std::chrono::milliseconds(200);
    const QStringList report = runCheck();
    EXPECT_THAT(report.last().toStdString(), HasSubstr("PASS telegram-network"));
    EXPECT_FALSE(QDir(factory->client->directory).exists());
    EXPECT_TRUE(factory->client->shutDown);
}

TEST_F(SelfCheckTest, SecondsNeverDecreaseAndAreWrittenWithADot) {
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // a comma locale where one is installed
    std::atomic<int> calls{0};
    // The clock steps back and forth; the first reading is the start.
    env.clock = [&calls] {
        static const double readings[] = {10.0, 10.04, 10.06, 10.03, 11.24, 11.2, 12.0};
        const int i = calls++;
        return readings[std::min(i, 6)];
    };
    const QStringList report = runCheck();
    std::setlocale(LC_ALL, "C");
    QStringList seconds;
    for (const QString& line : report)
        seconds.append(line.section(QLatin1Char('['), -1).chopped(3));
    EXPECT_EQ(seconds, QStringList({"0.0", "0.1", "0.1", "1.2", "1.2", "2.0", "2.0"}));
}

TEST(SelfCheckText, ReportLinesAndDescriptions) {
    EXPECT_EQ(SelfCheck::reportLine(true, "keychain", "write/read/delete", 0.04),
              "SELFCHECK PASS keychain: write/read/delete [0.0s]\n");
    EXPECT_EQ(SelfCheck::reportLine(false, "tdlib", "x", 12.35), "SELFCHECK FAIL tdlib: x [12.3s]\n");
    // A service's text never breaks the one-line shape.
    EXPECT_EQ(SelfCheck::reportLine(false, "account-telegram", "a\nb\r\nc", 1),
              "SELFCHECK FAIL account-telegram: a b  c [1.0s]\n");

    auto described = [](auto error) { return SelfCheck::describe(std::make_exception_ptr(error)); };
    EXPECT_EQ(described(StorageError(StorageError::Code::offline)), "offline");
    EXPECT_EQ(described(StorageError::fileTooLarge(2'000'000'000)), "fileTooLarge(limit: 2000000000)");
    EXPECT_EQ(described(StorageError::accountMismatch("a@example.com")),
              "accountMismatch(expectedEmail: \"a@example.com\")");
    EXPECT_EQ(described(TDError(401, "Unauthorized")), "TDError(code: 401, message: \"Unauthorized\")");
    EXPECT_EQ(described(std::runtime_error("boom")), "boom");
    EXPECT_EQ(described(42), "unknown error");
}

TEST(SelfCheckText, OnlyTheExactArgumentAsksForTheSelfCheck) {
    const struct {
        QStringList arguments;
        bool requested;
    } cases[] = {
        {{"kelvanor", "-TWSelfCheck"}, true},
        {{"kelvanor", "-TWSelfCheck", "-TWInventory"}, true},
        {{"kelvanor", "-other", "-TWSelfCheck"}, true},
        {{"kelvanor"}, false},
        {{"kelvanor", "-TWSelfCheckX"}, false},
        {{"kelvanor", "-twselfcheck"}, false},
        {{"kelvanor", "TWSelfCheck"}, false},
        {{"kelvanor", " -TWSelfCheck"}, false},
        {{"kelvanor", "-TWSelfCheck=1"}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SelfCheck::isRequested(c.arguments), c.requested) << c.arguments.join(' ').toStdString();
}

} // namespace
