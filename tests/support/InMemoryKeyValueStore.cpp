#include "tests/support/InMemoryKeyValueStore.h"

namespace tw::test {

std::optional<QJsonValue> InMemoryKeyValueStore::load(const QString& key) {
    std::lock_guard lock(mutex_);
    if (failLoads_)
        throw StoreError(QStringLiteral("load failed (scripted)"));
    const auto it = values_.constFind(key);
    if (it == values_.constEnd())
        return std::nullopt;
    return *it;
}

void InMemoryKeyValueStore::save(const QJsonValue& value, const QString& key) {
    std::lock_guard lock(mutex_);
    if (failSaves_)
        throw StoreError(QStringLiteral("save failed (scripted)"));
    values_.insert(key, value);
    saves_[key] += 1;
}

void InMemoryKeyValueStore::remove(const QString& key) {
    std::lock_guard lock(mutex_);
    values_.remove(key);
}

std::optional<QString> InMemoryKeyValueStore::setAside(const QString& key) {
    std::lock_guard lock(mutex_);
    if (failSetAside_)
        throw StoreError(QStringLiteral("set aside failed (scripted)"));
    const auto it = values_.constFind(key);
    if (it == values_.constEnd())
        return std::nullopt;
    const QString target = key + QStringLiteral(".unreadable-%1").arg(setAside_.size() + 1);
    values_.insert(target, *it);
    values_.remove(key);
    setAside_.append(target);
    return target;
}

void InMemoryKeyValueStore::setFailSetAside(bool fail) {
    std::lock_guard lock(mutex_);
    failSetAside_ = fail;
}

void InMemoryKeyValueStore::put(const QString& key, const QJsonValue& value) {
    std::lock_guard lock(mutex_);
    values_.insert(key, value);
}

QStringList InMemoryKeyValueStore::setAsideKeys() const {
    std::lock_guard lock(mutex_);
    return setAside_;
}

void InMemoryKeyValueStore::setFailLoads(bool fail) {
    std::lock_guard lock(mutex_);
    failLoads_ = fail;
}

void InMemoryKeyValueStore::setFailSaves(bool fail) {
    std::lock_guard lock(mutex_);
    failSaves_ = fail;
}

std::optional<QJsonValue> InMemoryKeyValueStore::peek(const QString& key) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.constFind(key);
    if (it == values_.constEnd())
        return std::nullopt;
    return *it;
}

int InMemoryKeyValueStore::saveCount(const QString& key) const {
    std::lock_guard lock(mutex_);
    return saves_.value(key);
}

} // namespace tw::test
