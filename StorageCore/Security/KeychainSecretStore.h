#pragma once

#include "StorageCore/Security/SecretStore.h"

#include <QString>

#include <functional>

namespace tw {

/// One keyring item per key, through the Secret Service (GNOME Keyring, KWallet): key k is
/// the item whose attributes are service = service() and account = k; its secret is the
/// bytes. Items go to the default collection (the login keyring). Calls block on D-Bus and
/// must not run on the main thread; they are safe from any thread. The first call opens
/// libsecret; when it cannot be opened every call fails as an unavailable keyring.
/// Failures throw SecretStoreError with the service's error code; an absent item is never an
/// error (nullopt on load, an add on save, nothing on delete). A locked collection is a
/// failure, never an absent item: a load that finds nothing while the item sits in a locked
/// collection, or while the default collection is locked (an unlock prompt dismissed or
/// impossible), throws with lockedStatus.
class KeychainSecretStore final : public SecretStore {
public:
    /// SecretStoreError status of a read refused because the keyring is locked (libsecret's
    /// SECRET_ERROR_IS_LOCKED).
    static constexpr int lockedStatus = 2;

    explicit KeychainSecretStore(QString service);

    const QString& service() const { return service_; }

    void save(const QByteArray& secret, const QString& key) override;
    std::optional<QByteArray> load(const QString& key) override;
    void remove(const QString& key) override;

    /// Process-wide observer of keyring calls, for diagnosis; none by default. Each read,
    /// update and delete is announced ("begin read <service>/<key>") and reported ("end read
    /// <service>/<key> → <status>"); no secret ever reaches it.
    static void setTrace(std::function<void(const QString&)> trace);

private:
    QString service_;
};

} // namespace tw
