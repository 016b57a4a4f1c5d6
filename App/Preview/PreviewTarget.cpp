#include "App/Preview/PreviewTarget.h"

#include "StorageCore/Domain/JsonCoding.h"

#include <QHashFunctions>
#include <QJsonValue>

namespace tw {

QJsonObject PreviewTarget::toJson() const {
    QJsonObject object{{QStringLiteral("file"), file.toJson()}};
    if (folderID)
        object.insert(QStringLiteral("folderID"), *folderID);
    if (filter)
        object.insert(QStringLiteral("filter"), FileCategories::rawValue(*filter));
    if (searchQuery)
        object.insert(QStringLiteral("searchQuery"), *searchQuery);
    return object;
}

std::optional<PreviewTarget> PreviewTarget::fromJson(const QJsonObject& object) {
    const QJsonValue file = object.value(QStringLiteral("file"));
    if (!file.isObject())
        return std::nullopt;
    PreviewTarget target;
    try {
        target.file = FileRef::fromJson(file.toObject());
    } catch (const DecodingError&) {
        return std::nullopt;
    }
    auto optionalText = [&](const QString& key, std::optional<QString>& out) {
        if (!object.contains(key))
            return true;
        const QJsonValue value = object.value(key);
        if (!value.isString())
            return false;
        out = value.toString();
        return true;
    };
    if (!optionalText(QStringLiteral("folderID"), target.folderID)
        || !optionalText(QStringLiteral("searchQuery"), target.searchQuery))
        return std::nullopt;
    std::optional<QString> filter;
    if (!optionalText(QStringLiteral("filter"), filter))
        return std::nullopt;
    if (filter) {
        target.filter = FileCategories::fromRawValue(*filter);
        if (!target.filter)
            return std::nullopt;
    }
    return target;
}

size_t qHash(const PreviewTarget& target, size_t seed) noexcept {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, target.file.accountID);
    seed = combine(seed, target.file.providerID);
    auto optional = [&](const std::optional<QString>& value) {
        seed = combine(seed, value.has_value());
        if (value)
            seed = combine(seed, *value);
    };
    optional(target.folderID);
    optional(target.filter ? std::optional<QString>(FileCategories::rawValue(*target.filter))
                           : std::nullopt);
    optional(target.searchQuery);
    return seed;
}

} // namespace tw
