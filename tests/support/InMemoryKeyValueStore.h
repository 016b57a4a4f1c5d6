#pragma once

#include "StorageCore/Persistence/KeyValueStore.h"

#include <QHash>
#include <QStringList>

#include <mutex>

namespace tw::test {

/// KeyValueStore in memory, with switches to make loads or saves fail.
class InMemoryKeyValueStore : public KeyValueStore {
public:
    std::optional<QJsonValue> load(const QString& key) override;
    void save(const QJsonValue& value, const QString& key) override;
    void remove(const QString& key) override;
    /// Moves the value to "<key>.unreadable-<n>" (see setAsideKeys()).
    std::optional<QString> setAside(const QString& key) override;

    void setFailLoads(bool fail);
    void setFailSaves(bool fail);
    void setFailSetAside(bool fail);
    /// Stores a value directly (no failure switch applies), e.g. a document of a wrong shape.
    void put(const QString& key, const QJsonValue& value);
    /// The keys documents were set aside under, in order.
    QStringList setAsideKeys() const;
    /// What is stored now under key (no failure switch applies).
    std::optional<QJsonValue> peek(const QString& key) const;
    int saveCount(const QString& key) const;

private:
    mutable std::mutex mutex_;
    QHash<QString, QJsonValue> values_;
    QHash<QString, int> saves_;
    bool failLoads_ = false;
    bool failSaves_ = false;
    bool failSetAside_ = false;
    QStringList setAside_;
};

} // namespace tw::test
