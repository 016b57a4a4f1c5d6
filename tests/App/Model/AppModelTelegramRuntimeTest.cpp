// The model over the real Telegram back end whose TDLib is loaded on first use: coming up
// (with its start-up clean-up of session folders) loads nothing; the first Telegram request
// loads it once, on a worker; a library found missing then is told as before.
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Files/FolderListing.h"
#include "TelegramProvider/TDLib/ClientFactoryLoader.h"
#include "TelegramProvider/TelegramStorageProvider.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/support/InMemorySecretStore.h"

#include <QDir>
#include <QFileInfo>

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
    AppModel& buildWithTelegram(std::shared_ptr<TDClientFactory> factory) {
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
        parts.store = store;
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
