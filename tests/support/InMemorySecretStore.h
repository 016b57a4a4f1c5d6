#pragma once

#include "StorageCore/Security/SecretStore.h"

#include <QHash>

#include <functional>
#include <mutex>

namespace tw::test {

/// SecretStore in memory, thread-safe, with scripted failures and a hook that runs inside
/// each call (to interleave threads in tests).
class InMemorySecretStore : public SecretStore {
public:
    void save(const QByteArray& secret, const QString& key) override;
    std::optional<QByteArray> load(const QString& key) override;
    void remove(const QString& key) override;

    /// Every following call fails with this status (and reason) until cleared (0).
    void setFailureStatus(int status,
                          SecretStoreError::Reason reason = SecretStoreError::Reason::failed);
    /// Called (outside the lock) at the start of every call with its name and key.
    void setHook(std::function<void(const QString& operation, const QString& key)> hook);
    QHash<QString, QByteArray> contents() const;
    int callCount() const;

private:
    void enter(const char* operation, const QString& key);
    mutable std::mutex mutex_;
    QHash<QString, QByteArray> values_;
    int failureStatus_ = 0;
    SecretStoreError::Reason failureReason_ = SecretStoreError::Reason::failed;
    int calls_ = 0;
    std::function<void(const QString&, const QString&)> hook_;
};

} // namespace tw::test
