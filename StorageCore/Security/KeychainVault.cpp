#include "StorageCore/Security/KeychainVault.h"

#include "StorageCore/Security/KeychainSecretStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <mutex>
#include <optional>

namespace tw {

Q_LOGGING_CATEGORY(lcVault, "Keyring")

using Secrets = QHash<QString, QByteArray>;

struct KeychainVault::Core {
    explicit Core(std::shared_ptr<SecretStore> store) : items(std::move(store)) {}

    std::shared_ptr<SecretStore> items;
    std::mutex cacheMutex; // guards cache only; never held across a call into items
    std::optional<Secrets> cache;
    std::mutex writeMutex; // serialises each read–change–write of the item

    static Secrets decode(const QByteArray& data) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject())
            throw SecretStoreError(undecodableItem,
                                   QStringLiteral("the vault item is not a JSON object"));
        Secrets secrets;
        const QJsonObject object = document.object();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (!it->isString())
                throw SecretStoreError(undecodableItem,
                                       QStringLiteral("a vault member is not a string"));
            auto bytes = QByteArray::fromBase64Encoding(it->toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
            if (!bytes)
                throw SecretStoreError(undecodableItem,
                                       QStringLiteral("a vault member is not base64"));
            secrets.insert(it.key(), *bytes);
        }
        return secrets;
    }

    static QByteArray encode(const Secrets& secrets) {
        QJsonObject object;
        for (auto it = secrets.constBegin(); it != secrets.constEnd(); ++it)
            object.insert(it.key(), QString::fromLatin1(it->toBase64()));
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }

    Secrets loaded() {
        {
            std::lock_guard lock(cacheMutex);
            if (cache)
                return *cache;
        }
        const std::optional<QByteArray> data = items->load(itemKey);
        Secrets secrets = data ? decode(*data) : Secrets();
        std::lock_guard lock(cacheMutex);
        // A write that finished meanwhile filled the cache with newer contents: keep them.
        if (!cache)
            cache = std::move(secrets);
        return *cache;
    }

    std::optional<QByteArray> value(const QString& fullKey) {
        const Secrets secrets = loaded();
        const auto it = secrets.constFind(fullKey);
        if (it == secrets.constEnd())
            return std::nullopt;
        return *it;
    }

    void store(const std::optional<QByteArray>& bytes, const QString& fullKey) {
        std::lock_guard write(writeMutex);
        // Over what the keyring holds now, never over the cached copy: entries removed by other
        // means meanwhile (every sign-in forgotten with secret-tool) stay removed, and entries
        // others added stay. Only fullKey changes.
        const std::optional<QByteArray> current = items->load(itemKey);
        Secrets secrets = current ? decode(*current) : Secrets();
        if (bytes)
            secrets.insert(fullKey, *bytes);
        else
            secrets.remove(fullKey);
        items->save(encode(secrets), itemKey);
        std::lock_guard lock(cacheMutex);
        cache = std::move(secrets);
    }
};

namespace {

class ScopedSecretStore final : public SecretStore {
public:
    ScopedSecretStore(std::shared_ptr<KeychainVault::Core> core, QString prefix)
        : core_(std::move(core)), prefix_(std::move(prefix)) {}

    void save(const QByteArray& secret, const QString& key) override {
        core_->store(secret, prefix_ + key);
    }
    std::optional<QByteArray> load(const QString& key) override {
        return core_->value(prefix_ + key);
    }
    void remove(const QString& key) override { core_->store(std::nullopt, prefix_ + key); }

private:
    std::shared_ptr<KeychainVault::Core> core_;
    QString prefix_;
};

} // namespace

KeychainVault::KeychainVault(const QString& service)
    : KeychainVault(std::make_shared<KeychainSecretStore>(service)) {}

KeychainVault::KeychainVault(std::shared_ptr<SecretStore> items)
    : core_(std::make_shared<Core>(std::move(items))) {}

std::shared_ptr<SecretStore> KeychainVault::scoped(const QString& scope) const {
    return std::make_shared<ScopedSecretStore>(core_, scope + QLatin1Char('/'));
}

bool KeychainVault::migrate(const QString& legacyService, const QStringList& keys,
                            const QString& scope) {
    KeychainSecretStore legacy(legacyService);
    return migrate(legacy, keys, scope);
}

bool KeychainVault::migrate(SecretStore& legacy, const QStringList& keys, const QString& scope) {
    bool settled = true;
    for (const QString& key : keys) {
        std::optional<QByteArray> bytes;
        try {
            bytes = legacy.load(key);
        } catch (const std::exception& error) {
            qCWarning(lcVault) << "legacy item" << key << "cannot be read:" << error.what();
            settled = false;
            continue;
        }
        if (!bytes)
            continue;
        const QString fullKey = scope + QLatin1Char('/') + key;
        bool held = false;
        try {
            held = core_->value(fullKey).has_value();
        } catch (const std::exception&) {
            held = false; // an unreadable vault holds nothing; the store below fails too
        }
        if (!held) {
            try {
                core_->store(*bytes, fullKey);
            } catch (const std::exception& error) {
                // The legacy item stays until the vault holds its value.
                qCWarning(lcVault)
                    << "moving" << fullKey << "into the vault failed:" << error.what();
                settled = false;
                continue;
            }
        }
        try {
            legacy.remove(key);
        } catch (const std::exception& error) {
            qCInfo(lcVault) << "deleting the legacy item" << key << "failed:" << error.what();
        }
        qCInfo(lcVault) << "migrated" << fullKey;
    }
    return settled;
}

} // namespace tw
