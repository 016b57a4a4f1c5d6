#include "StorageCore/Domain/StorageAccount.h"

#include "StorageCore/Domain/JsonCoding.h"

#include <limits>

namespace tw {

qint64 saturatingAdd(qint64 a, qint64 b) {
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return sum;
}

QDebug operator<<(QDebug debug, const ProviderCredential& credential) {
    QDebugStateSaver saver(debug);
    debug.noquote().nospace() << credential.description();
    return debug;
}

std::optional<qint64> StorageQuota::availableBytes() const {
    if (!limitBytes)
        return std::nullopt;
    qint64 available = 0;
    if (__builtin_sub_overflow(*limitBytes, usedBytes, &available))
        available = usedBytes < 0 ? std::numeric_limits<qint64>::max() : 0;
    return available < 0 ? 0 : available;
}

std::optional<double> StorageQuota::fractionUsed() const {
    if (!limitBytes || *limitBytes <= 0)
        return std::nullopt;
    const double fraction = double(usedBytes) / double(*limitBytes);
    return fraction > 1.0 ? 1.0 : fraction;
}

bool StorageQuota::isNearlyFull() const {
    const auto fraction = fractionUsed();
    return fraction && *fraction >= 0.9;
}

QJsonObject StorageQuota::toJson() const {
    QJsonObject object{{QStringLiteral("usedBytes"), usedBytes}};
    if (limitBytes)
        object.insert(QStringLiteral("limitBytes"), *limitBytes);
    if (usedInDriveBytes)
        object.insert(QStringLiteral("usedInDriveBytes"), *usedInDriveBytes);
    if (trashBytes)
        object.insert(QStringLiteral("trashBytes"), *trashBytes);
    return object;
}

StorageQuota StorageQuota::fromJson(const QJsonObject& object) {
    return StorageQuota{
        json::requireInt64(object, "usedBytes"), json::optionalInt64(object, "limitBytes"),
        json::optionalInt64(object, "usedInDriveBytes"), json::optionalInt64(object, "trashBytes")};
}

QString statusRawValue(StorageAccount::Status status) {
    return status == StorageAccount::Status::connected ? QStringLiteral("connected")
                                                       : QStringLiteral("reauthRequired");
}

std::optional<StorageAccount::Status> statusFromRawValue(const QString& raw) {
    if (raw == QLatin1String("connected"))
        return StorageAccount::Status::connected;
    if (raw == QLatin1String("reauthRequired"))
        return StorageAccount::Status::reauthRequired;
    return std::nullopt;
}

QJsonObject StorageAccount::toJson() const {
    QJsonObject object{{QStringLiteral("id"), json::encodeUuid(id)},
                       {QStringLiteral("provider"), ProviderKinds::rawValue(provider)},
                       {QStringLiteral("providerAccountID"), providerAccountID},
                       {QStringLiteral("email"), email},
                       {QStringLiteral("alias"), alias},
                       {QStringLiteral("colorIndex"), colorIndex},
                       {QStringLiteral("status"), statusRawValue(status)},
                       {QStringLiteral("createdAt"), json::encodeDate(createdAt)},
                       {QStringLiteral("updatedAt"), json::encodeDate(updatedAt)}};
    if (displayName)
        object.insert(QStringLiteral("displayName"), *displayName);
    if (quota)
        object.insert(QStringLiteral("quota"), quota->toJson());
    if (quotaUpdatedAt)
        object.insert(QStringLiteral("quotaUpdatedAt"), json::encodeDate(*quotaUpdatedAt));
    return object;
}

StorageAccount StorageAccount::fromJson(const QJsonObject& object) {
    StorageAccount account;
    account.id = json::requireUuid(object, "id");
    const auto provider = ProviderKinds::fromRawValue(json::requireString(object, "provider"));
    if (!provider)
        throw DecodingError(QStringLiteral("member \"provider\": unknown kind"));
    account.provider = *provider;
    account.providerAccountID = json::requireString(object, "providerAccountID");
    account.email = json::requireString(object, "email");
    account.displayName = json::optionalString(object, "displayName");
    account.alias = json::requireString(object, "alias");
    const qint64 color = json::requireInt64(object, "colorIndex");
    if (color < std::numeric_limits<int>::min() || color > std::numeric_limits<int>::max())
        throw DecodingError(QStringLiteral("member \"colorIndex\": out of range"));
    account.colorIndex = int(color);
    const auto status = statusFromRawValue(json::requireString(object, "status"));
    if (!status)
        throw DecodingError(QStringLiteral("member \"status\": unknown status"));
    account.status = *status;
    if (object.contains(QLatin1String("quota")) && !object.value(QLatin1String("quota")).isNull())
        account.quota = StorageQuota::fromJson(json::requireObject(object, "quota"));
    account.quotaUpdatedAt = json::optionalDate(object, "quotaUpdatedAt");
    account.createdAt = json::requireDate(object, "createdAt");
    account.updatedAt = json::requireDate(object, "updatedAt");
    return account;
}

} // namespace tw
