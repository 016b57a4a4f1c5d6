#include "StorageCore/Security/KeychainVault.h"
#include "StorageCore/Concurrency/Completion.h"

#include "tests/support/InMemorySecretStore.h"
#include "tests/support/QtPrinters.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace tw;
using namespace std::chrono_literals;

namespace {

/// The vault's item store, with a pause after the next load has read its value, a pause
/// before the next save writes, and failing saves.
class ScriptedItems : public SecretStore {
public:
    struct Pause {
        Completion<std::monostate> reached;
        Completion<std::monostate> resume;
    };

    void save(const QByteArray& secret, const QString& key) override {
        std::shared_ptr<Pause> pause;
        {
            std::lock_guard lock(mutex_);
            pause = std::exchange(pauseSave_, nullptr);
            if (failSaves_)
                throw SecretStoreError(5, QStringLiteral("refused"));
        }
        if (pause) {
            pause->reached.resolve({});
            pause->resume.wait();
        }
        inner.save(secret, key);
    }
    std::optional<QByteArray> load(const QString& key) override {
        auto value = inner.load(key);
        std::shared_ptr<Pause> pause;
        {
            std::lock_guard lock(mutex_);
            pause = std::exchange(pauseLoad_, nullptr);
        }
        if (pause) {
            pause->reached.resolve({});
            pause->resume.wait();
        }
        return value;
    }
    void remove(const QString& key) override { inner.remove(key); }

    std::shared_ptr<Pause> pauseNextLoad() {
        std::lock_guard lock(mutex_);
        return pauseLoad_ = std::make_shared<Pause>();
    }
    std::shared_ptr<Pause> pauseNextSave() {
        std::lock_guard lock(mutex_);
        return pauseSave_ = std::make_shared<Pause>();
    }
    void setFailSaves(bool fail) {
        std::lock_guard lock(mutex_);
        failSaves_ = fail;
    }
    /// The vault item decoded: full key → bytes.
    QHash<QString, QByteArray> vault() const {
        QHash<QString, QByteArray> result;
        const QByteArray data = inner.contents().value(KeychainVault::itemKey);
        const QJsonObject object = QJsonDocument::fromJson(data).object();
        for (auto it = object.begin(); it != object.end(); ++it)
            result.insert(it.key(), QByteArray::fromBase64(it->toString().toLatin1()));
        return result;
    }

    test::InMemorySecretStore inner;

private:
    std::mutex mutex_;
    std::shared_ptr<Pause> pauseLoad_, pauseSave_;
    bool failSaves_ = false;
};

class KeychainVaultTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedItems> items = std::make_shared<ScriptedItems>();
    KeychainVault vault{items};
};

TEST_F(KeychainVaultTest, ScopesKeepTheirKeysApart) {
    auto google = vault.scoped(QStringLiteral("google"));
    auto telegram = vault.scoped(QStringLiteral("telegram"));
    EXPECT_EQ(google->load(QStringLiteral("k")), std::nullopt);
    EXPECT_TRUE(items->inner.contents().isEmpty()); // a read creates no item

    google->save(QByteArray("g\0bytes", 7), QStringLiteral("k"));
    EXPECT_EQ(telegram->load(QStringLiteral("k")), std::nullopt);
    EXPECT_EQ(google->load(QStringLiteral("k")), QByteArray("g\0bytes", 7));
    telegram->save("t", QStringLiteral("k"));
    google->save("g2", QStringLiteral("k")); // replaces
    EXPECT_EQ(items->vault(), (QHash<QString, QByteArray>{{QStringLiteral("google/k"), "g2"},
                                                          {QStringLiteral("telegram/k"), "t"}}));
    // The item itself: one compact JSON object of standard base64 strings.
    const QByteArray data = items->inner.contents().value(QStringLiteral("vault"));
    EXPECT_FALSE(data.contains('\n'));
    EXPECT_EQ(QJsonDocument::fromJson(data).object().value(QStringLiteral("google/k")).toString(),
              QStringLiteral("ZzI="));

    // A second vault over the same item sees the same secrets.
    KeychainVault again(items);
    EXPECT_EQ(again.scoped(QStringLiteral("telegram"))->load(QStringLiteral("k")), QByteArray("t"));

    google->remove(QStringLiteral("k"));
    EXPECT_EQ(google->load(QStringLiteral("k")), std::nullopt);
    EXPECT_EQ(items->vault().keys(), QStringList{QStringLiteral("telegram/k")});
}

TEST_F(KeychainVaultTest, DeletingAnAbsentKeyStillWritesTheItem) {
    vault.scoped(QStringLiteral("selfcheck"))->remove(QStringLiteral("probe"));
    EXPECT_EQ(items->inner.contents().value(QStringLiteral("vault")), QByteArray("{}"));
}

TEST_F(KeychainVaultTest, AFailedWriteLeavesItemAndCacheAsTheyWere) {
    auto scope = vault.scoped(QStringLiteral("google"));
    scope->save("old", QStringLiteral("a"));
    items->setFailSaves(true);
    try {
        scope->save("new", QStringLiteral("a"));
        ADD_FAILURE() << "no error";
    } catch (const SecretStoreError& error) {
        EXPECT_EQ(error.status(), 5);
    }
    EXPECT_THROW(scope->save("b", QStringLiteral("b")), SecretStoreError);
    items->setFailSaves(false);
    EXPECT_EQ(scope->load(QStringLiteral("a")), QByteArray("old"));
    EXPECT_EQ(scope->load(QStringLiteral("b")), std::nullopt);
    scope->save("c", QStringLiteral("c"));
    EXPECT_EQ(items->vault().keys().size(), 2); // "b" never reached the item
}

TEST_F(KeychainVaultTest, ServiceFailuresSurfaceWithTheirStatus) {
    items->inner.setFailureStatus(2);
    try {
        vault.scoped(QStringLiteral("google"))->load(QStringLiteral("a"));
        ADD_FAILURE() << "no error";
    } catch (const SecretStoreError& error) {
        EXPECT_EQ(error.status(), 2);
    }
}

TEST_F(KeychainVaultTest, AnUndecodableItemIsNeverDiscarded) {
    const QByteArray bad[] = {"not json", "[]", "{\"google/a\": 5}", "{\"google/a\": \"!!!\"}"};
    for (const QByteArray& data : bad) {
        auto store = std::make_shared<test::InMemorySecretStore>();
        store->save(data, QStringLiteral("vault"));
        KeychainVault broken(store);
        auto scope = broken.scoped(QStringLiteral("google"));
        EXPECT_THROW(scope->load(QStringLiteral("a")), SecretStoreError) << data.constData();
        EXPECT_THROW(scope->save("x", QStringLiteral("a")), SecretStoreError);
        EXPECT_THROW(scope->remove(QStringLiteral("a")), SecretStoreError);
        EXPECT_EQ(store->contents().value(QStringLiteral("vault")), data);
    }
}

TEST_F(KeychainVaultTest, ASlowFirstReadNeverPutsOlderContentsBackAfterAWrite) {
    auto google = vault.scoped(QStringLiteral("google"));
    auto telegram = vault.scoped(QStringLiteral("telegram"));
    // A reader finds the cache empty, reads the (still empty) item and is held up.
    auto pause = items->pauseNextLoad();
    std::optional<QByteArray> seen;
    std::thread reader([&] { seen = telegram->load(QStringLiteral("session")); });
    ASSERT_TRUE(pause->reached.waitFor(5s).has_value());
    // Meanwhile a token is written.
    google->save("refreshed-token", QStringLiteral("account"));
    pause->resume.resolve({});
    reader.join();
    EXPECT_EQ(seen, std::nullopt);
    // The next write must build on the written token, not on the reader's older copy.
    telegram->save("session-record", QStringLiteral("session"));
    EXPECT_EQ(items->vault(),
              (QHash<QString, QByteArray>{{QStringLiteral("google/account"), "refreshed-token"},
                                          {QStringLiteral("telegram/session"), "session-record"}}));
}

TEST_F(KeychainVaultTest, OverlappingWritesOfDifferentKeysBothSurvive) {
    auto google = vault.scoped(QStringLiteral("google"));
    auto telegram = vault.scoped(QStringLiteral("telegram"));
    google->load(QStringLiteral("warm")); // fill the cache
    auto pause = items->pauseNextSave();
    std::thread first([&] { google->save("token", QStringLiteral("a")); });
    ASSERT_TRUE(pause->reached.waitFor(5s).has_value());
    std::thread second([&] { telegram->save("session", QStringLiteral("b")); });
    pause->resume.resolve({});
    first.join();
    second.join();
    EXPECT_EQ(items->vault().size(), 2);

    // Many writers at once: every key survives.
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&, t] {
            auto scope = vault.scoped(QStringLiteral("s%1").arg(t));
            for (int i = 0; i < 25; ++i)
                scope->save(QByteArray::number(i), QString::number(i));
        });
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(items->vault().size(), 2 + 8 * 25);
}

TEST_F(KeychainVaultTest, MigrationMovesLegacyItemsIntoTheVault) {
    test::InMemorySecretStore legacy;
    legacy.save("legacy-a", QStringLiteral("A"));
    legacy.save("legacy-b", QStringLiteral("B"));
    vault.scoped(QStringLiteral("google"))->save("vault-b", QStringLiteral("B"));

    EXPECT_TRUE(vault.migrate(
        legacy, {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Missing")},
        QStringLiteral("google")));
    auto google = vault.scoped(QStringLiteral("google"));
    EXPECT_EQ(google->load(QStringLiteral("A")), QByteArray("legacy-a"));
    EXPECT_EQ(google->load(QStringLiteral("B")), QByteArray("vault-b")); // the vault's value wins
    EXPECT_EQ(google->load(QStringLiteral("Missing")), std::nullopt);
    EXPECT_TRUE(legacy.contents().isEmpty());
}

TEST_F(KeychainVaultTest, MigrationKeepsLegacyItemsTheVaultCouldNotTake) {
    test::InMemorySecretStore legacy;
    legacy.save("legacy-a", QStringLiteral("A"));
    items->setFailSaves(true);
    EXPECT_FALSE(vault.migrate(legacy, {QStringLiteral("A")}, QStringLiteral("telegram")));
    EXPECT_EQ(legacy.contents().value(QStringLiteral("A")), QByteArray("legacy-a"));

    // An unreadable vault holds nothing and takes nothing: the legacy item stays.
    items->setFailSaves(false);
    auto store = std::make_shared<test::InMemorySecretStore>();
    store->save("garbage", QStringLiteral("vault"));
    KeychainVault broken(store);
    EXPECT_FALSE(broken.migrate(legacy, {QStringLiteral("A")}, QStringLiteral("telegram")));
    EXPECT_EQ(legacy.contents().value(QStringLiteral("A")), QByteArray("legacy-a"));

    // An unreadable legacy store: skipped, nothing thrown.
    legacy.setFailureStatus(9);
    EXPECT_FALSE(vault.migrate(legacy, {QStringLiteral("A")}, QStringLiteral("telegram")));
    legacy.setFailureStatus(0);
    EXPECT_EQ(vault.scoped(QStringLiteral("telegram"))->load(QStringLiteral("A")), std::nullopt);

    EXPECT_TRUE(vault.migrate(legacy, {QStringLiteral("A")}, QStringLiteral("telegram")));
    EXPECT_EQ(vault.scoped(QStringLiteral("telegram"))->load(QStringLiteral("A")),
              QByteArray("legacy-a"));
    EXPECT_TRUE(legacy.contents().isEmpty());
}

} // namespace

TEST_F(KeychainVaultTest, AWriteChangesOnlyItsOwnKeyOverWhatTheKeyringHoldsNow) {
    auto google = vault.scoped(QStringLiteral("google"));
    auto telegram = vault.scoped(QStringLiteral("telegram"));
    google->save("token-1", QStringLiteral("A"));
    telegram->save("session", QStringLiteral("B"));
    ASSERT_EQ(telegram->load(QStringLiteral("B")), QByteArray("session")); // cached

    // Every sign-in is forgotten by other means while the vault is in use.
    items->inner.remove(KeychainVault::itemKey);
    // A token refresh writes its own entry, and nothing of what was cached.
    google->save("token-2", QStringLiteral("A"));
    EXPECT_EQ(items->vault(),
              (QHash<QString, QByteArray>{{QStringLiteral("google/A"), "token-2"}}));
    EXPECT_EQ(telegram->load(QStringLiteral("B")), std::nullopt);

    // Another program's change to the item (a second entry) survives our next write, and a
    // removal takes out only its own key.
    {
        QJsonObject object =
            QJsonDocument::fromJson(items->inner.contents().value(KeychainVault::itemKey)).object();
        object.insert(QStringLiteral("telegram/C"),
                      QString::fromLatin1(QByteArray("other").toBase64()));
        items->inner.save(QJsonDocument(object).toJson(QJsonDocument::Compact),
                          KeychainVault::itemKey);
    }
    google->remove(QStringLiteral("A"));
    EXPECT_EQ(items->vault(),
              (QHash<QString, QByteArray>{{QStringLiteral("telegram/C"), "other"}}));
}

TEST(SecretStoreError, KeyringFaultsReadAsKeyringFaults) {
    // However a keyring fault travels (thrown as is, or through the general conversion), it
    // says "locked" or "unavailable", never a sign-in that expired or a broken connection.
    using Reason = SecretStoreError::Reason;
    using Code = StorageError::Code;
    const std::vector<std::pair<SecretStoreError, Code>> cases{
        {SecretStoreError(2, QStringLiteral("locked"), Reason::locked), Code::keyringLocked},
        {SecretStoreError(2, QStringLiteral("no service"), Reason::unavailable),
         Code::keyringUnavailable},
        {SecretStoreError(KeychainVault::undecodableItem, QStringLiteral("bad item")),
         Code::keyringUnavailable},
    };
    for (const auto& [error, code] : cases) {
        SCOPED_TRACE(error.what());
        EXPECT_EQ(error.storageError().code(), code);
        EXPECT_EQ(StorageError::from(std::make_exception_ptr(error)).code(), code);
        const ErrorPresentation shown = error.storageError().presentation();
        EXPECT_TRUE(shown.title.contains(QStringLiteral("keyring"))) << shown.title.toStdString();
        EXPECT_TRUE(shown.message.contains(QStringLiteral("Nothing was removed.")));
        EXPECT_EQ(shown.recovery, RecoveryAction::retry);
    }
}
