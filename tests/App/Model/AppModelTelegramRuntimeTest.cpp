// The model over the real Telegram back end whose TDLib is loaded on first use: coming up
// (with its start-up clean-up of session folders) loads nothing; the first Telegram request
// loads it once, on a worker; a library found missing then is told as before.
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Persistence/JSONDirectoryStore.h"
#include "TelegramProvider/TDLib/ClientFactoryLoader.h"
#include "TelegramProvider/TelegramStorageProvider.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/support/InMemorySecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThreadPool>

#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace tw::test {
namespace {

using Code = StorageError::Code;

class NoClients : public TDClientFactory {
public:
    std::shared_ptr<TDClient> makeClient() override {
        throw StorageError(Code::invalidResponse);
    }
};

class NoPresenter : public TelegramLoginPresenter {
public:
    QString requestInput(const TelegramLoginStep&, const std::optional<QString>&) override {
        throw StorageError(Code::authorizationCancelled);
    }
    void loginFinished() override {}
};

class AppModelTelegramRuntime : public AppModelFixture {
protected:
    struct Loads {
        std::atomic<int> calls{0};
        std::mutex mutex;
        QList<std::thread::id> threads;
    };

    void SetUp() override {
        AppModelFixture::SetUp();
        ASSERT_TRUE(dataDir.isValid());
        base = dataDir.filePath(QStringLiteral("Telegram"));
    }

    /// The model with start-up tasks over a Telegram back end whose factory is `factory`
    /// (null: the library is missing), obtained through a counting load.
    AppModel& buildWithTelegram(std::shared_ptr<TDClientFactory> factory,
                                std::shared_ptr<KeyValueStore> documents = nullptr) {
        auto loads = loads_;
        auto loader = std::make_shared<ClientFactoryLoader>([loads, factory] {
            ++loads->calls;
            std::lock_guard lock(loads->mutex);
            loads->threads.append(std::this_thread::get_id());
            return factory;
        });
        telegramProvider = std::make_shared<TelegramStorageProvider>(
            TelegramStorageProvider::ConfigurationSource([] {
                return std::optional<TelegramConfiguration>(
                    TelegramConfiguration{12345, QStringLiteral("0123456789abcdef")});
            }),
            secrets, std::make_shared<NoPresenter>(), loader, base);
        AppModel::Parts parts;
        parts.provider = std::make_shared<ProviderRouter>(ProviderRouter::Providers{
            {ProviderKind::googleDrive, drive}, {ProviderKind::telegram, telegramProvider}});
        parts.telegramProvider = telegramProvider;
        parts.store = documents ? std::move(documents) : store;
        parts.defaults = defaults;
        parts.panels = panels;
        parts.launcher = launcher;
        parts.scheduler = scheduler.scheduler();
        parts.runStartupTasks = true;
        model = std::make_unique<AppModel>(std::move(parts));
        return *model;
    }

    /// A stored Telegram account with a credential naming a session folder that exists.
    StorageAccount telegramAccountWithSession(QString* sessionID) {
        const StorageAccount account = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"));
        *sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        secrets->save(TelegramStorageProvider::Credential{*sessionID, QByteArray(32, 'k')}.toJson(),
                      json::encodeUuid(account.id));
        EXPECT_TRUE(QDir().mkpath(base + QLatin1Char('/') + *sessionID));
        return account;
    }

    int loadCalls() const { return loads_->calls.load(); }
    QList<std::thread::id> loadThreads() const {
        std::lock_guard lock(loads_->mutex);
        return loads_->threads;
    }
    static void waitLong(const std::function<bool()>& pred) {
        ASSERT_TRUE(QTest::qWaitFor(pred, 30'000));
    }

    QTemporaryDir dataDir;
    QString base;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    std::shared_ptr<TelegramStorageProvider> telegramProvider;
    std::shared_ptr<Loads> loads_ = std::make_shared<Loads>();
};

TEST_F(AppModelTelegramRuntime, ComesUpAndCleansUpSessionFoldersWithoutLoadingTheLibrary) {
    QString kept;
    const StorageAccount account = telegramAccountWithSession(&kept);
    storeAccounts({account});
    const QString orphan = base + QStringLiteral("/") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(QDir().mkpath(orphan));

    AppModel& m = buildWithTelegram(std::make_shared<NoClients>());
    waitLong([&] { return !QFileInfo::exists(orphan); });
    QCoreApplication::processEvents();
    // The stored account's folder stays although no library has been loaded to open it.
    EXPECT_TRUE(QFileInfo(base + QLatin1Char('/') + kept).isDir());
    EXPECT_TRUE(m.isConfigured(ProviderKind::telegram));
    EXPECT_EQ(loadCalls(), 0);
}

// A stored account list that cannot be read says nothing about which session folders are in
// use: the start-up removes none, and once the set-aside list is put back the account comes
// back with its session (TDLib database and downloads) untouched.
TEST_F(AppModelTelegramRuntime, AnUnreadableAccountListRemovesNoSessionFolder) {
    QString kept;
    const StorageAccount account = telegramAccountWithSession(&kept);
    const QByteArray good = QJsonDocument(QJsonArray{account.toJson()}).toJson();
    QJsonObject newer = account.toJson();
    newer.insert(QStringLiteral("provider"), QStringLiteral("carrierPigeon"));
    QJsonObject noID = account.toJson();
    noID.remove(QStringLiteral("id"));

    const QString folder = dataDir.filePath(QStringLiteral("Tessarow"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/accounts.json");
    struct Case {
        const char* name;
        std::optional<QByteArray> bytes; // nullopt: a FIFO
    };
    const Case cases[] = {
        {"empty file", QByteArray()},
        {"cut short", good.left(good.size() / 2)},
        {"binary", QByteArray("\x00\xff\xfe\x01garbage", 11)},
        {"a string", QByteArray("\"accounts\"")},
        {"an object", QJsonDocument(account.toJson()).toJson()},
        {"a number in the list", QByteArray("[1]")},
        {"a record without id", QJsonDocument(QJsonArray{noID}).toJson()},
        {"a record of a newer version", QJsonDocument(QJsonArray{newer}).toJson()},
        {"a FIFO", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.bytes) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(*c.bytes);
        } else {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        auto documents = std::make_shared<JSONDirectoryStore>(folder);
        AppModel& m = buildWithTelegram(std::make_shared<NoClients>(), documents);
        EXPECT_TRUE(m.accounts()->loadFailed());
        EXPECT_TRUE(m.accounts()->accounts().isEmpty());
        // Every start-up task has run to its end.
        QThreadPool* general = threadPool(TaskPool::general);
        ASSERT_TRUE(general->waitForDone(30'000));
        EXPECT_TRUE(QFileInfo(base + QLatin1Char('/') + kept).isDir());
        model.reset();

        // The good list put back where the unreadable one was: the account is there again,
        // its session folder with it.
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(good);
        file.close();
        AppModel& back = buildWithTelegram(std::make_shared<NoClients>(),
                                           std::make_shared<JSONDirectoryStore>(folder));
        EXPECT_FALSE(back.accounts()->loadFailed());
        ASSERT_EQ(back.accounts()->accounts().size(), 1);
        ASSERT_TRUE(general->waitForDone(30'000));
        EXPECT_TRUE(QFileInfo(base + QLatin1Char('/') + kept).isDir());
        model.reset();
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
    }
}

TEST_F(AppModelTelegramRuntime, TheFirstTelegramRequestLoadsTheLibraryOnAWorker) {
    struct Case {
        const char* name;
        std::shared_ptr<TDClientFactory> factory;
        Code listingError; // the account has no credential: only a loaded library gets to it
        bool configuredAfter;
    };
    const Case cases[] = {
        {"library loads", std::make_shared<NoClients>(), Code::reauthRequired, true},
        {"library missing", nullptr, Code::notConfigured, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loads_ = std::make_shared<Loads>();
        const StorageAccount account =
            storedAccount(ProviderKind::telegram, QStringLiteral("Chats"));
        storeAccounts({account});
        AppModel& m = buildWithTelegram(c.factory);
        EXPECT_EQ(loadCalls(), 0);

        FolderListing* listing = m.listing(account.id, std::nullopt);
        listing->load();
        waitLong([&] { return listing->phase().kind == FolderListing::Phase::Kind::failed; });
        ASSERT_TRUE(listing->phase().error);
        EXPECT_EQ(listing->phase().error->code(), c.listingError);
        EXPECT_EQ(loadCalls(), 1);
        ASSERT_EQ(loadThreads().size(), 1);
        EXPECT_NE(loadThreads().first(), std::this_thread::get_id());
        EXPECT_EQ(m.isConfigured(ProviderKind::telegram), c.configuredAfter);
        model.reset();
    }
}

TEST_F(AppModelTelegramRuntime, ConnectingFindsTheLibraryMissingAndSaysSoForTelegram) {
    AppModel& m = buildWithTelegram(nullptr);
    ASSERT_TRUE(m.isConfigured(ProviderKind::telegram)); // not known before the first use
    m.connectAccount(ProviderKind::telegram);
    EXPECT_TRUE(m.isConnecting());
    waitLong([&] { return !m.isConnecting(); });
    ASSERT_TRUE(m.presentedError());
    EXPECT_EQ(m.presentedError()->error.code(), Code::notConfigured);
    EXPECT_EQ(m.presentedError()->kind, ProviderKind::telegram);
    ASSERT_EQ(loadThreads().size(), 1);
    EXPECT_NE(loadThreads().first(), std::this_thread::get_id());

    // From then on the model knows without asking the back end again.
    m.setPresentedError(std::nullopt);
    m.connectAccount(ProviderKind::telegram);
    EXPECT_FALSE(m.isConnecting());
    ASSERT_TRUE(m.presentedError());
    EXPECT_EQ(m.presentedError()->kind, ProviderKind::telegram);
    EXPECT_EQ(loadCalls(), 1);
}

} // namespace
} // namespace tw::test
