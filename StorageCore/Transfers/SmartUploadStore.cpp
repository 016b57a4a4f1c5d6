#include "StorageCore/Transfers/SmartUploadStore.h"

#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Persistence/DocumentLoader.h"

namespace tw {

SmartUploadStore::SmartUploadStore(std::shared_ptr<KeyValueStore> store, QObject* parent)
    : QObject(parent), store_(std::move(store)) {
    loadDocument(rulesKey,
                 [this](const QJsonValue& value) { rules_ = UploadRule::listFromJson(value); });
    loadDocument(historyKey,
                 [this](const QJsonValue& value) { history_ = UploadHistory::fromJson(value); });
}

// ---- documents ------------------------------------------------------------------------------

void SmartUploadStore::loadDocument(const QString& key,
                                    const std::function<void(const QJsonValue&)>& decode) {
    tw::loadDocument<bool>(*store_, key, [&](const QJsonValue& value) {
        decode(value);
        return true;
    });
}

void SmartUploadStore::saveDocument(const QString& key, const QJsonValue& value) {
    try {
        store_->save(value, key);
    } catch (...) {
        // Dropped: the change stays in memory, the document keeps its last written form.
    }
}

void SmartUploadStore::removeDocument(const QString& key) {
    try {
        store_->remove(key);
    } catch (...) {
        // Dropped, as a failed save.
    }
}

void SmartUploadStore::saveRules() {
    saveDocument(rulesKey, UploadRule::listToJson(rules_));
}

void SmartUploadStore::saveHistory() {
    saveDocument(historyKey, history_.toJson());
}

// ---- operations -----------------------------------------------------------------------------

UploadSuggestion SmartUploadStore::suggest(const LocalFile& file,
                                           const QList<UploadCandidate>& storages) const {
    return UploadRouter::suggest(file, rules_, history_, storages);
}

UploadRule SmartUploadStore::addRule(const UploadRule::Match& match, const UploadTarget& target) {
    rules_.removeIf([&](const UploadRule& rule) { return rule.match == match; });
    UploadRule rule{QUuid::createUuid(), match, target, true};
    rules_.append(rule);
    Q_EMIT rulesChanged();
    saveRules();
    return rule;
}

void SmartUploadStore::removeRule(const QUuid& id) {
    rules_.removeIf([&](const UploadRule& rule) { return rule.id == id; });
    Q_EMIT rulesChanged();
    saveRules();
}

void SmartUploadStore::setRule(const QUuid& id, bool enabled) {
    for (UploadRule& rule : rules_) {
        if (rule.id == id) {
            rule.isEnabled = enabled;
            Q_EMIT rulesChanged();
            saveRules();
            return;
        }
    }
}

void SmartUploadStore::recordUpload(const LocalFile& file, const UploadTarget& target) {
    history_.record(file, target);
    Q_EMIT historyChanged();
    saveHistory();
}

void SmartUploadStore::forget(const QUuid& accountID) {
    rules_.removeIf([&](const UploadRule& rule) { return rule.target.accountID == accountID; });
    Q_EMIT rulesChanged();
    history_.forget(accountID);
    Q_EMIT historyChanged();
    saveRules();
    saveHistory();
}

void SmartUploadStore::reset() {
    if (!rules_.isEmpty()) {
        rules_.clear();
        Q_EMIT rulesChanged();
    }
    if (!(history_ == UploadHistory())) {
        history_ = UploadHistory();
        Q_EMIT historyChanged();
    }
    removeDocument(rulesKey);
    removeDocument(historyKey);
}

} // namespace tw
