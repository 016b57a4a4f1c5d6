#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>
#include <stdexcept>

namespace tw {

/// Thrown by the fromJson functions of the stored value types when a document does not have
/// the expected shape. It never leaves StorageCore: the owners of the documents catch it.
class DecodingError : public std::runtime_error {
public:
    explicit DecodingError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

/// The helpers below fix the stored forms shared by every document: dates are JSON numbers of
/// seconds since 2001-01-01 00:00:00 UTC, UUIDs their canonical upper-case text, URLs their
/// full text.
namespace json {

double encodeDate(const QDateTime& date);
QDateTime decodeDate(const QJsonValue& value, const char* key);
QString encodeUuid(const QUuid& id);
QUuid decodeUuid(const QJsonValue& value, const char* key);

/// Required members: throw DecodingError when missing or of the wrong type.
QString requireString(const QJsonObject& object, const char* key);
qint64 requireInt64(const QJsonObject& object, const char* key);
bool requireBool(const QJsonObject& object, const char* key);
QJsonObject requireObject(const QJsonObject& object, const char* key);
QJsonArray requireArray(const QJsonObject& object, const char* key);
QDateTime requireDate(const QJsonObject& object, const char* key);
QUuid requireUuid(const QJsonObject& object, const char* key);

/// Optional members: absent (or null) gives nullopt; a present member of the wrong type throws.
std::optional<QString> optionalString(const QJsonObject& object, const char* key);
std::optional<qint64> optionalInt64(const QJsonObject& object, const char* key);
std::optional<QDateTime> optionalDate(const QJsonObject& object, const char* key);
std::optional<QUrl> optionalUrl(const QJsonObject& object, const char* key);

/// Integral JSON number check shared by the decoders (no fraction, inside the 64-bit range).
std::optional<qint64> toInt64(const QJsonValue& value);

} // namespace json
} // namespace tw
