// The move of older keyring items into the vault, on a worker: the caller does not wait, the
// back ends' secret stores wait for it, and the done-flag is set only when every item settled.
#include "App/Model/KeychainMigration.h"

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "StorageCore/Security/KeychainVault.h"
#include "tests/support/InMemoryKeyValueStore.h"
#include "tests/support/InMemorySecretStore.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace tw;

namespace {

/// Opens the gate of legacy reads.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    int waiting = 0;
    void pass() {
        std::unique_lock lock(mutex);
        ++waiting;
        cv.notify_all();
        // Bounded, so that a caller that waits for the move fails the test instead of hanging.
        cv.wait_for(lock, std::chrono::seconds(20), [this] { return open; });
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        cv.notify_all();
    }
    bool someoneWaits() {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(20), [this] { return waiting > 0; });
    }
};

StorageAccount account(ProviderKind kind) {
    StorageAccount a;
    a.id = QUuid::createUuid();
    a.provider = kind;
    a.providerAccountID = QStringLiteral("p");
    a.email = QStringLiteral("a@example.com");
    a.alias = QStringLiteral("A");
    a.createdAt = a.updatedAt = QDateTime::currentDateTimeUtc();
    return a;
}

class KeychainMigrationTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        defaults = std::make_shared<SettingsStore>(folder.filePath(QStringLiteral("settings.ini")),
                                                   QSettings::IniFormat);
        vault = std::make_shared<KeychainVault>(items);
        legacy[QStringLiteral("bundle.oauth")] = std::make_shared<test::InMemorySecretStore>();
        legacy[QStringLiteral("bundle.telegram")] = std::make_shared<test::InMemorySecretStore>();
    }

    Completion<std::monostate> start() {
        auto stores = legacy;
        return KeychainMigration::start(
            vault, defaults, documents, QStringLiteral("bundle"), [stores](const QString& service) {
                return std::shared_ptr<SecretStore>(stores.value(service));
            });
    }

    bool migrated() const { return defaults->value(KeychainMigration::settingsKey).toBool(); }

    QTemporaryDir folder;
    std::shared_ptr<SettingsStore> defaults;
    std::shared_ptr<test::InMemorySecretStore> items =
        std::make_shared<test::InMemorySecretStore>();
    std::shared_ptr<KeychainVault> vault;
    QHash<QString, std::shared_ptr<test::InMemorySecretStore>> legacy;
    test::InMemoryKeyValueStore documents;
};

TEST_F(KeychainMigrationTest, ReturnsAtOnceAndTheBackEndsWaitForTheMovedCredential) {
    const StorageAccount google = account(ProviderKind::googleDrive);
    documents.put(QStringLiteral("accounts"), QJsonArray{google.toJson()});
    const QString key = json::encodeUuid(google.id);
    legacy[QStringLiteral("bundle.oauth")]->save("token", key);
    Gate gate;
    legacy[QStringLiteral("bundle.oauth")]->setHook(
        [&gate](const QString& operation, const QString&) {
            if (operation == QLatin1String("load"))
                gate.pass();
        });

    const Completion<std::monostate> migration = start();
    ASSERT_TRUE(gate.someoneWaits()); // the move runs, on a worker, held at the keyring
    EXPECT_FALSE(migration.isDone());

    // A back end's read meanwhile waits for the move, then finds the moved credential.
    const std::shared_ptr<SecretStore> googleSecrets =
        KeychainMigration::gated(vault->scoped(QStringLiteral("google")), migration);
    Completion<std::optional<QByteArray>> read;
    runDetached([googleSecrets, key, read]() mutable { read.resolve(googleSecrets->load(key)); });
    gate.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return read.isDone(); }, 20'000));
    EXPECT_EQ(read.wait(), std::optional<QByteArray>("token"));
    EXPECT_TRUE(migration.isDone());
    ASSERT_TRUE(QTest::qWaitFor([&] { return migrated(); }, 20'000));
    EXPECT_TRUE(legacy[QStringLiteral("bundle.oauth")]->contents().isEmpty());
}

TEST_F(KeychainMigrationTest, TheFlagIsSetOnlyWhenEveryItemSettled) {
    struct Case {
        const char* name;
        std::function<void(KeychainMigrationTest&)> arrange;
        bool settled;
        bool legacyAsked;
    };
    const Case cases[] = {
        {"nothing stored", [](KeychainMigrationTest&) {}, true, false},
        {"items absent",
         [](KeychainMigrationTest& t) {
             t.documents.put(QStringLiteral("accounts"),
                             QJsonArray{account(ProviderKind::googleDrive).toJson(),
                                        account(ProviderKind::telegram).toJson()});
         },
         true, true},
        {"locked keyring",
         [](KeychainMigrationTest& t) {
             t.documents.put(QStringLiteral("accounts"),
                             QJsonArray{account(ProviderKind::telegram).toJson()});
             t.legacy[QStringLiteral("bundle.telegram")]->setFailureStatus(2);
         },
         false, true},
        {"unreadable account list",
         [](KeychainMigrationTest& t) {
             t.documents.put(QStringLiteral("accounts"), QJsonArray{QStringLiteral("garbage")});
         },
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        defaults->remove(KeychainMigration::settingsKey);
        documents.remove(QStringLiteral("accounts"));
        c.arrange(*this);
        const Completion<std::monostate> migration = start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return migration.isDone(); }, 20'000));
        EXPECT_EQ(migrated(), c.settled); // set before the move is reported done
        const int asked = legacy[QStringLiteral("bundle.oauth")]->callCount() +
                          legacy[QStringLiteral("bundle.telegram")]->callCount();
        EXPECT_EQ(asked > 0, c.legacyAsked);
    }

    // Once set, a start does nothing at all.
    defaults->setValue(KeychainMigration::settingsKey, true);
    documents.put(QStringLiteral("accounts"), QJsonArray{account(ProviderKind::telegram).toJson()});
    legacy[QStringLiteral("bundle.telegram")] = std::make_shared<test::InMemorySecretStore>();
    EXPECT_TRUE(start().isDone());
    EXPECT_EQ(legacy[QStringLiteral("bundle.telegram")]->callCount(), 0);
}

} // namespace
