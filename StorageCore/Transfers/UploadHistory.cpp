#include "StorageCore/Transfers/UploadHistory.h"

#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Transfers/UploadRule.h"

#include <algorithm>

namespace tw {

QStringList UploadHistory::keys(const LocalFile& file) {
    QStringList result;
    const QString extension = LocalFiles::normalizedExtension(file);
    if (!extension.isEmpty())
        result.append(QStringLiteral("ext:") + extension);
    if (const auto category = LocalFiles::category(file))
        result.append(QStringLiteral("type:") + FileCategories::rawValue(*category));
    return result;
}

void UploadHistory::record(const LocalFile& file, const UploadTarget& target) {
    for (const QString& key : keys(file)) {
        QList<Entry>& entries = byKey[key];
        auto found = std::find_if(entries.begin(), entries.end(),
                                  [&](const Entry& e) { return e.target.sameFolder(target); });
        if (found != entries.end()) {
            found->count += 1;
            found->target.folderPath = target.folderPath;
        } else {
            entries.append(Entry{target, 1});
        }
    }
}

QList<UploadHistory::Entry> UploadHistory::candidates(const LocalFile& file) const {
    QList<Entry> result;
    for (const QString& key : keys(file)) {
        QList<Entry> entries = byKey.value(key);
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return a.count > b.count; });
        result.append(entries);
    }
    return result;
}

void UploadHistory::forget(const QUuid& accountID) {
    for (auto it = byKey.begin(); it != byKey.end(); ++it)
        it->removeIf([&](const Entry& e) { return e.target.accountID == accountID; });
}

QJsonObject UploadHistory::Entry::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("count"), count);
    object.insert(QStringLiteral("target"), target.toJson());
    return object;
}

UploadHistory::Entry UploadHistory::Entry::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        throw DecodingError(QStringLiteral("history entry: not an object"));
    const QJsonObject object = value.toObject();
    Entry entry;
    entry.count = json::requireInt64(object, "count");
    if (!object.contains(QStringLiteral("target")))
        throw DecodingError(QStringLiteral("history entry: missing target"));
    entry.target = UploadTarget::fromJson(object.value(QStringLiteral("target")));
    return entry;
}

QJsonObject UploadHistory::toJson() const {
    QJsonObject keysObject;
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) {
        QJsonArray entries;
        for (const Entry& entry : it.value())
            entries.append(entry.toJson());
        keysObject.insert(it.key(), entries);
    }
    return QJsonObject{{QStringLiteral("byKey"), keysObject}};
}

UploadHistory UploadHistory::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        throw DecodingError(QStringLiteral("history: not an object"));
    const QJsonObject keysObject = json::requireObject(value.toObject(), "byKey");
    UploadHistory history;
    for (auto it = keysObject.constBegin(); it != keysObject.constEnd(); ++it) {
        if (!it.value().isArray())
            throw DecodingError(QStringLiteral("history: entries are not an array"));
        QList<Entry> entries;
        for (const QJsonValue& element : it.value().toArray())
            entries.append(Entry::fromJson(element));
        history.byKey.insert(it.key(), entries);
    }
    return history;
}

} // namespace tw
