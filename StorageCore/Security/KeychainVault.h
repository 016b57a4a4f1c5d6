#pragma once

#include "StorageCore/Security/SecretStore.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

namespace tw {

/// Every secret of the application in one keyring item (account "vault" of the service),
/// whose secret is a JSON object from full key ("<scope>/<key>") to the bytes in base64.
/// scoped() hands out SecretStores that share this vault.
///
/// Thread-safe. The decoded item is cached for reads: the cache is filled only while it is
/// empty (a slow read never puts older contents back over a write). Each write is a
/// read–change–write of the item as the keyring holds it at that moment (never of the cache),
/// serialised, so concurrent writes of different keys all survive and entries removed from
/// the keyring by other means are never written back. Neither lock
/// is held by a reader that finds the cache filled. An item that cannot be decoded makes
/// every call throw until it is rewritten or removed by other means; it is never discarded.
class KeychainVault {
public:
    /// The account attribute of the one item.
    static inline const QString itemKey = QStringLiteral("vault");
    /// SecretStoreError status of an item that is not a JSON object of base64 strings.
    static constexpr int undecodableItem = -1;

    /// The vault in the keyring under service (touches no keyring yet).
    explicit KeychainVault(const QString& service);
    /// The vault over any store of items (tests use an in-memory one).
    explicit KeychainVault(std::shared_ptr<SecretStore> items);

    /// A store whose keys become "<scope>/<key>" in this vault.
    std::shared_ptr<SecretStore> scoped(const QString& scope) const;

    /// Moves the items of the earlier one-item-per-key layout under legacyService into the
    /// vault under scope. For each key: a legacy item that exists and can be read is copied
    /// unless the vault already holds that key (the vault's value wins); the legacy item is
    /// deleted once the vault holds the value, and kept otherwise. Never throws. Answers whether
    /// every key was settled (moved, already held or absent): false when a legacy item could
    /// not be read or the vault could not take it, so that a later start can try again.
    bool migrate(const QString& legacyService, const QStringList& keys, const QString& scope);
    /// The same over any legacy store.
    bool migrate(SecretStore& legacy, const QStringList& keys, const QString& scope);

    /// Shared state of a vault and its scoped stores (defined in the source file).
    struct Core;

private:
    std::shared_ptr<Core> core_;
};

} // namespace tw
