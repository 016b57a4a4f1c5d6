#include "StorageCore/Domain/JsonCoding.h"

#include <QTimeZone>

#include <cmath>

namespace tw::json {
namespace {

const QDateTime& referenceDate() {
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return reference;
}

[[noreturn]] void fail(const char* key, const char* what) {
    throw DecodingError(
        QStringLiteral("member \"%1\": %2").arg(QString::fromUtf8(key), QString::fromUtf8(what)));
}

QJsonValue member(const QJsonObject& object, const char* key) {
    const auto it = object.constFind(QLatin1String(key));
    if (it == object.constEnd())
        fail(key, "missing");
    return *it;
}

bool absent(const QJsonObject& object, const char* key) {
    const auto it = object.constFind(QLatin1String(key));
    return it == object.constEnd() || it->isNull();
}

} // namespace

double encodeDate(const QDateTime& date) {
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime decodeDate(const QJsonValue& value, const char* key) {
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        fail(key, "not a date number");
    const double seconds = value.toDouble();
    // Beyond about ±290 million years the millisecond count would overflow.
    if (std::fabs(seconds) > 9.0e12)
        fail(key, "date out of range");
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0)));
}

QString encodeUuid(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QUuid decodeUuid(const QJsonValue& value, const char* key) {
    if (!value.isString())
        fail(key, "not a UUID string");
    const QUuid id = QUuid::fromString(value.toString());
    if (id.isNull() && value.toString() != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        fail(key, "malformed UUID");
    return id;
}

std::optional<qint64> toInt64(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() gives its default for anything that is not a whole number inside the 64-bit
    // range, and keeps integers the parser stored exactly (beyond 2^53) unchanged.
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second)
        return std::nullopt;
    return first;
}

QString requireString(const QJsonObject& object, const char* key) {
    const QJsonValue value = member(object, key);
    if (!value.isString())
        fail(key, "not a string");
    return value.toString();
}

qint64 requireInt64(const QJsonObject& object, const char* key) {
    const auto number = toInt64(member(object, key));
    if (!number)
        fail(key, "not an integer");
    return *number;
}

bool requireBool(const QJsonObject& object, const char* key) {
    const QJsonValue value = member(object, key);
    if (!value.isBool())
        fail(key, "not a Boolean");
    return value.toBool();
}

QJsonObject requireObject(const QJsonObject& object, const char* key) {
    const QJsonValue value = member(object, key);
    if (!value.isObject())
        fail(key, "not an object");
    return value.toObject();
}

QJsonArray requireArray(const QJsonObject& object, const char* key) {
    const QJsonValue value = member(object, key);
    if (!value.isArray())
        fail(key, "not an array");
    return value.toArray();
}

QDateTime requireDate(const QJsonObject& object, const char* key) {
    return decodeDate(member(object, key), key);
}

QUuid requireUuid(const QJsonObject& object, const char* key) {
    return decodeUuid(member(object, key), key);
}

std::optional<QString> optionalString(const QJsonObject& object, const char* key) {
    if (absent(object, key))
        return std::nullopt;
    return requireString(object, key);
}

std::optional<qint64> optionalInt64(const QJsonObject& object, const char* key) {
    if (absent(object, key))
        return std::nullopt;
    return requireInt64(object, key);
}

std::optional<QDateTime> optionalDate(const QJsonObject& object, const char* key) {
    if (absent(object, key))
        return std::nullopt;
    return requireDate(object, key);
}

std::optional<QUrl> optionalUrl(const QJsonObject& object, const char* key) {
    if (absent(object, key))
        return std::nullopt;
    const QUrl url(requireString(object, key), QUrl::StrictMode);
    if (!url.isValid())
        fail(key, "malformed URL");
    return url;
}

} // namespace tw::json
