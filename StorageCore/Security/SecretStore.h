#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>

namespace tw {

/// A failure of the secret service (locked or missing keyring, refused call, an unreadable
/// vault item). `status` is the service's error code where it has one.
class SecretStoreError : public std::runtime_error {
public:
    SecretStoreError(int status, const QString& what)
        : std::runtime_error(what.toStdString()), status_(status) {}
    int status() const { return status_; }
    bool operator==(const SecretStoreError& other) const { return status_ == other.status_; }

private:
    int status_;
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
