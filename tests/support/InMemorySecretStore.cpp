#include "tests/support/InMemorySecretStore.h"

namespace tw::test {

void InMemorySecretStore::enter(const char* operation, const QString& key) {
    std::function<void(const QString&, const QString&)> hook;
    int status = 0;
    SecretStoreError::Reason reason = SecretStoreError::Reason::failed;
    {
        std::lock_guard lock(mutex_);
        ++calls_;
        hook = hook_;
        status = failureStatus_;
        reason = failureReason_;
    }
    if (hook)
        hook(QString::fromLatin1(operation), key);
    if (status != 0)
        throw SecretStoreError(status, QStringLiteral("secret store failure (scripted)"), reason);
}

void InMemorySecretStore::save(const QByteArray& secret, const QString& key) {
    enter("save", key);
    std::lock_guard lock(mutex_);
    values_.insert(key, secret);
}

std::optional<QByteArray> InMemorySecretStore::load(const QString& key) {
    enter("load", key);
    std::lock_guard lock(mutex_);
    const auto it = values_.constFind(key);
    if (it == values_.constEnd())
        return std::nullopt;
    return *it;
}

void InMemorySecretStore::remove(const QString& key) {
    enter("remove", key);
    std::lock_guard lock(mutex_);
    values_.remove(key);
}

void InMemorySecretStore::setFailureStatus(int status, SecretStoreError::Reason reason) {
    std::lock_guard lock(mutex_);
    failureStatus_ = status;
    failureReason_ = reason;
}

void InMemorySecretStore::setHook(std::function<void(const QString&, const QString&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

QHash<QString, QByteArray> InMemorySecretStore::contents() const {
    std::lock_guard lock(mutex_);
    QHash<QString, QByteArray> copy = values_;
    copy.detach(); // never shared with the store's own map, which other threads change
    return copy;
}

int InMemorySecretStore::callCount() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

} // namespace tw::test
