#include "App/Model/KeychainMigration.h"

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Persistence/DocumentLoader.h"
#include "StorageCore/Persistence/KeyValueStore.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "StorageCore/Security/KeychainSecretStore.h"
#include "StorageCore/Security/KeychainVault.h"

#include <QLoggingCategory>

namespace tw {

namespace {

Q_LOGGING_CATEGORY(lcMigration, "Keyring")

class GatedSecretStore final : public SecretStore {
public:
    GatedSecretStore(std::shared_ptr<SecretStore> inner, Completion<std::monostate> gate)
        : inner_(std::move(inner)), gate_(std::move(gate)) {}

    void save(const QByteArray& secret, const QString& key) override {
        gate_.wait();
        inner_->save(secret, key);
    }
    std::optional<QByteArray> load(const QString& key) override {
        gate_.wait();
        return inner_->load(key);
    }
    void remove(const QString& key) override {
        gate_.wait();
        inner_->remove(key);
    }

private:
    std::shared_ptr<SecretStore> inner_;
    Completion<std::monostate> gate_;
};

} // namespace

Completion<std::monostate> KeychainMigration::start(std::shared_ptr<KeychainVault> vault,
                                                    std::shared_ptr<SettingsStore> defaults,
                                                    KeyValueStore& documents, const QString& bundle,
                                                    LegacyItems legacy, Launch launch) {
    Completion<std::monostate> done;
    if (defaults->value(settingsKey).toBool()) {
        done.resolve(std::monostate{});
        return done;
    }
    // The account ids name the legacy items. A list that exists but cannot be read names
    // none: nothing is moved and the flag stays unset, so the items wait for a readable list.
    QStringList googleKeys;
    QStringList telegramKeys;
    bool listRead = true;
    try {
        if (const std::optional<QJsonValue> document = documents.load(QStringLiteral("accounts"))) {
            const QList<StorageAccount> accounts =
                decodeObjectArray<StorageAccount>(*document, &StorageAccount::fromJson);
            for (const StorageAccount& account : accounts)
                (account.provider == ProviderKind::telegram ? telegramKeys : googleKeys)
                    .append(json::encodeUuid(account.id));
        }
    } catch (...) {
        listRead = false;
    }
    if (!legacy)
        legacy = [](const QString& service) {
            return std::make_shared<KeychainSecretStore>(service);
        };

    if (!launch)
        launch = [](std::function<void()> job) { runDetached(std::move(job)); };
    launch(
        [vault, defaults, bundle, legacy, googleKeys, telegramKeys, listRead, done]() mutable {
            bool settled = listRead;
            try {
                if (listRead) {
                    const std::shared_ptr<SecretStore> google =
                        legacy(bundle + QStringLiteral(".oauth"));
                    const std::shared_ptr<SecretStore> telegram =
                        legacy(bundle + QStringLiteral(".telegram"));
                    // Both are tried: one locked service does not hold back the other.
                    const bool googleDone =
                        vault->migrate(*google, googleKeys, QStringLiteral("google"));
                    const bool telegramDone =
                        vault->migrate(*telegram, telegramKeys, QStringLiteral("telegram"));
                    settled = googleDone && telegramDone;
                }
            } catch (...) {
                settled = false;
            }
            if (settled) {
                defaults->setValue(settingsKey, true);
            } else {
                qCWarning(lcMigration)
                    << "some older sign-ins stay in their keyring items until next start";
            }
            done.resolve(std::monostate{});
        });
    return done;
}

std::shared_ptr<SecretStore> KeychainMigration::gated(std::shared_ptr<SecretStore> inner,
                                                      Completion<std::monostate> migration) {
    return std::make_shared<GatedSecretStore>(std::move(inner), std::move(migration));
}

} // namespace tw
