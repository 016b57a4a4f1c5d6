#include "StorageCore/Transfers/UploadTarget.h"

#include "StorageCore/Domain/JsonCoding.h"

#include <QHash>

namespace tw {

QJsonObject UploadTarget::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("accountID"), json::encodeUuid(accountID));
    if (folderID)
        object.insert(QStringLiteral("folderID"), *folderID);
    QJsonArray path;
    for (const QString& name : folderPath)
        path.append(name);
    object.insert(QStringLiteral("folderPath"), path);
    return object;
}

UploadTarget UploadTarget::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        throw DecodingError(QStringLiteral("upload target: not an object"));
    const QJsonObject object = value.toObject();
    UploadTarget target;
    target.accountID = json::requireUuid(object, "accountID");
    target.folderID = json::optionalString(object, "folderID");
    for (const QJsonValue& name : json::requireArray(object, "folderPath")) {
        if (!name.isString())
            throw DecodingError(QStringLiteral("upload target: folderPath holds a non-string"));
        target.folderPath.append(name.toString());
    }
    return target;
}

size_t qHash(const UploadTarget& target, size_t seed) noexcept {
    return qHashMulti(seed, target.accountID, target.folderID.has_value(),
                      target.folderID.value_or(QString()), target.folderPath);
}

} // namespace tw
