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

    void setFailLoads(bool fail);
    void setFailSaves(bool fail);
    /// What is stored now under key (no failure switch applies).
    std::optional<QJsonValue> peek(const QString& key) const;
    int saveCount(const QString& key) const;

private:
    mutable std::mutex mutex_;
    QHash<QString, QJsonValue> values_;
    QHash<QString, int> saves_;
    bool failLoads_ = false;
    bool failSaves_ = false;
};

} // namespace tw::test
