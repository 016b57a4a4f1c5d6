// Runs the keyring store and the vault against a real Secret Service. CTest starts it through
// tests/support/run-with-secret-service.sh, which gives it a private session bus and an
// unlocked throw-away login keyring. Without one it skips, except in CI, where it fails.
#include "StorageCore/Security/KeychainSecretStore.h"
#include "StorageCore/Security/KeychainVault.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include "tests/support/QtPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using namespace tw;

namespace {

class KeyringLive : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariable("TW_SECRET_SERVICE") == QLatin1String("ready"))
            return;
        const QString reason =
            qEnvironmentVariableIsSet("TW_SECRET_SERVICE")
                ? qEnvironmentVariable("TW_SECRET_SERVICE_REASON")
                : QStringLiteral("not started through run-with-secret-service.sh");
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "no Secret Service in CI: " << reason.toStdString();
        GTEST_SKIP() << "no Secret Service could be started: " << reason.toStdString();
    }

    // A fresh service name per test keeps the tests apart inside the one keyring.
    const QString service = QStringLiteral("org.tessarow.Kelvanor.test-") +
                            QUuid::createUuid().toString(QUuid::WithoutBraces);
};

TEST_F(KeyringLive, ItemsAreSavedReplacedAndDeleted) {
    KeychainSecretStore store(service);
    QStringList traced;
    KeychainSecretStore::setTrace([&](const QString& line) { traced.append(line); });

    EXPECT_EQ(store.load(QStringLiteral("k")), std::nullopt);
    const QByteArray binary("\0\x01\xff secret \n\x80", 13);
    store.save(binary, QStringLiteral("k"));
    EXPECT_EQ(store.load(QStringLiteral("k")), binary);
    store.save("secret-two", QStringLiteral("k"));
    store.save("secret-three", QStringLiteral("k2"));
    EXPECT_EQ(store.load(QStringLiteral("k")), QByteArray("secret-two"));
    EXPECT_EQ(KeychainSecretStore(service + QStringLiteral(".other")).load(QStringLiteral("k")),
              std::nullopt);
    store.remove(QStringLiteral("k"));
    store.remove(QStringLiteral("k")); // absent: no error
    EXPECT_EQ(store.load(QStringLiteral("k")), std::nullopt);
    EXPECT_EQ(store.load(QStringLiteral("k2")), QByteArray("secret-three"));
    KeychainSecretStore::setTrace({});

    ASSERT_FALSE(traced.isEmpty());
    EXPECT_EQ(traced.first(), QStringLiteral("begin read ") + service + QStringLiteral("/k"));
    EXPECT_EQ(traced.at(1), QStringLiteral("end read ") + service + QStringLiteral("/k \u2192 0"));
    for (const QString& line : traced) {
        EXPECT_FALSE(line.contains(QStringLiteral("secret-two"))) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("secret-three"))) << line.toStdString();
    }
}

TEST_F(KeyringLive, TheVaultIsOneItemThatOtherToolsFindByServiceAndAccount) {
    {
        KeychainVault vault(service);
        vault.scoped(QStringLiteral("google"))->save("tokens", QStringLiteral("A"));
        vault.scoped(QStringLiteral("telegram"))->save("session", QStringLiteral("B"));
        vault.scoped(QStringLiteral("selfcheck"))->save("probe", QStringLiteral("probe"));
        vault.scoped(QStringLiteral("selfcheck"))->remove(QStringLiteral("probe"));
    }
    // A new vault (empty cache) reads what the first one wrote.
    KeychainVault vault(service);
    EXPECT_EQ(vault.scoped(QStringLiteral("google"))->load(QStringLiteral("A")),
              QByteArray("tokens"));
    EXPECT_EQ(vault.scoped(QStringLiteral("telegram"))->load(QStringLiteral("B")),
              QByteArray("session"));
    EXPECT_EQ(vault.scoped(QStringLiteral("google"))->load(QStringLiteral("B")), std::nullopt);

    QProcess lookup;
    lookup.start(QStringLiteral("secret-tool"),
                 {QStringLiteral("lookup"), QStringLiteral("service"), service,
                  QStringLiteral("account"), QStringLiteral("vault")});
    ASSERT_TRUE(lookup.waitForFinished(30'000));
    const QJsonObject item = QJsonDocument::fromJson(lookup.readAllStandardOutput()).object();
    EXPECT_EQ(item, (QJsonObject{{QStringLiteral("google/A"), QStringLiteral("dG9rZW5z")},
                                 {QStringLiteral("telegram/B"), QStringLiteral("c2Vzc2lvbg==")}}));
}

TEST_F(KeyringLive, MigrationMovesLegacyItems) {
    KeychainSecretStore legacy(service + QStringLiteral(".oauth"));
    legacy.save("legacy-token", QStringLiteral("ACCOUNT-1"));
    KeychainVault vault(service);
    vault.migrate(service + QStringLiteral(".oauth"),
                  {QStringLiteral("ACCOUNT-1"), QStringLiteral("ACCOUNT-2")},
                  QStringLiteral("google"));
    EXPECT_EQ(vault.scoped(QStringLiteral("google"))->load(QStringLiteral("ACCOUNT-1")),
              QByteArray("legacy-token"));
    EXPECT_EQ(legacy.load(QStringLiteral("ACCOUNT-1")), std::nullopt);
}

/// The vault item as other tools see it (secret-tool), decoded: full key → bytes.
QHash<QString, QByteArray> vaultSeenBySecretTool(const QString& service) {
    QProcess lookup;
    lookup.start(QStringLiteral("secret-tool"),
                 {QStringLiteral("lookup"), QStringLiteral("service"), service,
                  QStringLiteral("account"), QStringLiteral("vault")});
    EXPECT_TRUE(lookup.waitForFinished(30'000));
    QHash<QString, QByteArray> result;
    const QJsonObject item = QJsonDocument::fromJson(lookup.readAllStandardOutput()).object();
    for (auto it = item.begin(); it != item.end(); ++it)
        result.insert(it.key(), QByteArray::fromBase64(it->toString().toLatin1()));
    return result;
}

TEST_F(KeyringLive, SignInsForgottenWithSecretToolStayForgottenAfterTheNextWrite) {
    KeychainVault vault(service);
    const auto google = vault.scoped(QStringLiteral("google"));
    const auto telegram = vault.scoped(QStringLiteral("telegram"));
    google->save("token-1", QStringLiteral("A"));
    telegram->save("session", QStringLiteral("B"));
    ASSERT_EQ(telegram->load(QStringLiteral("B")), QByteArray("session")); // cached now

    // The README's way to forget every sign-in, while the vault is in use.
    QProcess clear;
    clear.start(QStringLiteral("secret-tool"),
                {QStringLiteral("clear"), QStringLiteral("service"), service,
                 QStringLiteral("account"), QStringLiteral("vault")});
    ASSERT_TRUE(clear.waitForFinished(30'000));
    ASSERT_EQ(clear.exitCode(), 0) << clear.readAllStandardError().toStdString();
    ASSERT_TRUE(vaultSeenBySecretTool(service).isEmpty());

    // A token refresh writes its own entry and nothing the keyring no longer has.
    google->save("token-2", QStringLiteral("A"));
    EXPECT_EQ(vaultSeenBySecretTool(service),
              (QHash<QString, QByteArray>{{QStringLiteral("google/A"), "token-2"}}));
    EXPECT_EQ(KeychainVault(service).scoped(QStringLiteral("telegram"))->load(QStringLiteral("B")),
              std::nullopt);
}

// Without any Secret Service (no session bus to reach one), in a process of its own so that
// libsecret's shared connection of this process stays out of it.
TEST(KeyringWithoutService, EveryCallIsAnUnavailableKeyringNeverAnAbsentItem) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + scratch.filePath(QStringLiteral("no-bus")));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("TW_KEYRING_CHILD"), QStringLiteral("no-service"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=KeyringChild.WithoutService")});
    ASSERT_TRUE(child.waitForFinished(60'000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

/// Runs only inside the process started above (passes trivially elsewhere).
TEST(KeyringChild, WithoutService) {
    if (qEnvironmentVariable("TW_KEYRING_CHILD") != QLatin1String("no-service"))
        return;
    const QString service = QStringLiteral("org.tessarow.Kelvanor.test-absent");
    KeychainSecretStore items(service);
    const std::vector<std::pair<const char*, std::function<void()>>> calls{
        {"read", [&] { items.load(QStringLiteral("k")); }},
        {"write", [&] { items.save("secret", QStringLiteral("k")); }},
        {"delete", [&] { items.remove(QStringLiteral("k")); }},
        {"vault read",
         [&] {
             KeychainVault(service).scoped(QStringLiteral("google"))->load(QStringLiteral("A"));
         }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        try {
            call();
            ADD_FAILURE() << "no failure";
        } catch (const SecretStoreError& error) {
            EXPECT_EQ(error.reason(), SecretStoreError::Reason::unavailable) << error.what();
            EXPECT_EQ(StorageError::from(std::current_exception()).code(),
                      StorageError::Code::keyringUnavailable);
        }
    }
}

/// Locks the login collection through the Secret Service (no prompt needed to lock). The
/// wrapper's bus has no prompter, so nothing can unlock it again: like a dismissed prompt.
void lockLoginCollection() {
    QProcess lock;
    lock.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                QStringLiteral("--dest=org.freedesktop.secrets"),
                QStringLiteral("/org/freedesktop/secrets"),
                QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
    ASSERT_TRUE(lock.waitForFinished(30'000));
    ASSERT_EQ(lock.exitCode(), 0) << lock.readAllStandardError().toStdString();
}

std::optional<int> readFailure(SecretStore& store, const QString& key) {
    try {
        store.load(key);
        return std::nullopt;
    } catch (const SecretStoreError& error) {
        return error.status();
    }
}

// Defined last: the keyring stays locked for the rest of the process.
TEST_F(KeyringLive, ALockedKeyringIsAFailedReadNeverAnEmptyOne) {
    const QUuid accountID = QUuid::createUuid();
    const QString sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    {
        KeychainVault vault(service);
        vault.scoped(QStringLiteral("telegram"))
            ->save(TelegramStorageProvider::Credential{sessionID, QByteArray(32, 'k')}.toJson(),
                   accountID.toString(QUuid::WithoutBraces).toUpper());
    }
    KeychainSecretStore items(service);
    ASSERT_TRUE(items.load(KeychainVault::itemKey).has_value());
    KeychainSecretStore(service + QStringLiteral(".oauth"))
        .save("legacy-token", QStringLiteral("LEGACY-ACCOUNT"));
    lockLoginCollection();

    // The item, and anything else of the locked default collection, cannot be read.
    EXPECT_EQ(readFailure(items, KeychainVault::itemKey), KeychainSecretStore::lockedStatus);
    EXPECT_EQ(readFailure(items, QStringLiteral("never-stored")),
              KeychainSecretStore::lockedStatus);
    // Reads and writes that fail on the locked keyring say so: a locked keyring, never an
    // expired sign-in or a broken connection.
    const std::vector<std::pair<const char*, std::function<void()>>> refused{
        {"read", [&] { items.load(KeychainVault::itemKey); }},
        {"write", [&] { items.save("other", QStringLiteral("written-while-locked")); }},
    };
    for (const auto& [name, call] : refused) {
        SCOPED_TRACE(name);
        try {
            call();
            ADD_FAILURE() << "no failure";
        } catch (const SecretStoreError& error) {
            EXPECT_EQ(error.reason(), SecretStoreError::Reason::locked) << error.what();
            EXPECT_EQ(StorageError::from(std::current_exception()).code(),
                      StorageError::Code::keyringLocked);
        }
    }

    // A vault over the locked keyring fails every read, again and again (nothing cached), and
    // writes nothing over the item.
    KeychainVault vault(service);
    const auto telegram = vault.scoped(QStringLiteral("telegram"));
    const QString key = accountID.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(readFailure(*telegram, key), KeychainSecretStore::lockedStatus);
    EXPECT_EQ(readFailure(*telegram, key), KeychainSecretStore::lockedStatus);
    EXPECT_THROW(telegram->save("other", QStringLiteral("NEW")), SecretStoreError);
    // Moving older items is not settled: a later start tries again.
    EXPECT_FALSE(vault.migrate(service + QStringLiteral(".oauth"),
                               {QStringLiteral("LEGACY-ACCOUNT")}, QStringLiteral("google")));

    // The start-up clean-up of Telegram sessions keeps every folder.
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    ASSERT_TRUE(QDir(base.path()).mkpath(sessionID));
    ASSERT_TRUE(QDir(base.path()).mkpath(QStringLiteral("SOMETHING-ELSE")));
    TelegramStorageProvider provider(std::optional<TelegramConfiguration>(), telegram, nullptr,
                                     nullptr, base.path());
    EXPECT_EQ(provider.removeOrphanedSessions({accountID}), 0);
    EXPECT_EQ(provider.sessionFolderCount(), 2);
}

} // namespace
