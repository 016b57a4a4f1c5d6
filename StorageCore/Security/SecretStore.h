#pragma once

#include "StorageCore/Domain/StorageError.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>

namespace tw {

/// A failure of the secret service (locked or missing keyring, refused call, an unreadable
/// vault item). `status` is the service's error code where it has one; `reason` says what the
/// user can do about it.
class SecretStoreError : public std::runtime_error {
public:
    enum class Reason {
        locked,      ///< the keyring is locked and could not be unlocked (no prompt, dismissed)
        unavailable, ///< no Secret Service answers (none running, no session bus)
        failed,      ///< any other refusal, or a vault item that cannot be read
    };

    SecretStoreError(int status, const QString& what, Reason reason = Reason::failed)
        : std::runtime_error(what.toStdString()), status_(status), reason_(reason) {}
    int status() const { return status_; }
    Reason reason() const { return reason_; }
    /// keyringLocked for a locked keyring, keyringUnavailable for everything else: never a
    /// sign-in that expired, never a broken connection.
    StorageError storageError() const {
        return StorageError(reason_ == Reason::locked ? StorageError::Code::keyringLocked
                                                      : StorageError::Code::keyringUnavailable);
    }
    bool operator==(const SecretStoreError& other) const {
        return status_ == other.status_ && reason_ == other.reason_;
    }

private:
    int status_;
    Reason reason_;
};

/// Bytes saved, loaded and deleted under a string key. Implementations are safe to call from
/// any thread.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual void save(const QByteArray& secret, const QString& key) = 0;
    /// nullopt when nothing is stored under the key.
    virtual std::optional<QByteArray> load(const QString& key) = 0;
    /// Deleting an absent key is no error.
    virtual void remove(const QString& key) = 0;
};

} // namespace tw
