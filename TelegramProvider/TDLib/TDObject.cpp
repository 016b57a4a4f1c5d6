#include "TelegramProvider/TDLib/TDObject.h"

#include "StorageCore/Domain/ProviderKind.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace tw {

TDObject::TDObject(const QString& type, QJsonObject fields) : fields_(std::move(fields)) {
    fields_.insert(QStringLiteral("@type"), type);
}

std::optional<TDObject> TDObject::fromJson(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return TDObject(document.object());
}

QByteArray TDObject::jsonData() const {
    return QJsonDocument(fields_).toJson(QJsonDocument::Compact);
}

QString TDObject::type() const {
    const QJsonValue value = fields_.value(QStringLiteral("@type"));
    return value.isString() ? value.toString() : QString();
}

std::optional<QString> TDObject::string(const QString& key) const {
    const QJsonValue value = fields_.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<qint64> TDObject::parseDecimal(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    qsizetype index = 0;
    bool negative = false;
    if (text.at(0) == QLatin1Char('+') || text.at(0) == QLatin1Char('-')) {
        negative = text.at(0) == QLatin1Char('-');
        index = 1;
    }
    if (index == text.size())
        return std::nullopt;
    // Accumulate negatively so that the smallest value parses too.
    qint64 result = 0;
    constexpr qint64 minValue = std::numeric_limits<qint64>::min();
    for (; index < text.size(); ++index) {
        const QChar c = text.at(index);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - '0';
        if (result < (minValue + digit) / 10)
            return std::nullopt;
        result = result * 10 - digit;
    }
    if (negative)
        return result;
    if (result == minValue)
        return std::nullopt;
    return -result;
}

std::optional<qint64> TDObject::readInteger(const QJsonValue& value) {
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    if (value.isDouble()) {
        constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
        const qint64 exact = value.toInteger(sentinel);
        if (exact != sentinel)
            return exact;
        const double d = std::trunc(value.toDouble());
        // 2^63 is exactly representable; everything below it fits.
        if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<qint64>(d);
    }
    if (value.isString())
        return parseDecimal(value.toString());
    return std::nullopt;
}

std::optional<qint64> TDObject::integer(const QString& key) const {
    if (!fields_.contains(key))
        return std::nullopt;
    return readInteger(fields_.value(key));
}

bool TDObject::boolean(const QString& key) const {
    const QJsonValue value = fields_.value(key);
    return value.isBool() && value.toBool();
}

std::optional<TDObject> TDObject::object(const QString& key) const {
    const QJsonValue value = fields_.value(key);
    if (!value.isObject())
        return std::nullopt;
    return TDObject(value.toObject());
}

QList<TDObject> TDObject::objects(const QString& key) const {
    const QJsonValue value = fields_.value(key);
    if (!value.isArray())
        return {};
    QList<TDObject> result;
    const QJsonArray array = value.toArray();
    result.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return {};
        result.append(TDObject(element.toObject()));
    }
    return result;
}

QList<qint64> TDObject::integers(const QString& key) const {
    const QJsonValue value = fields_.value(key);
    if (!value.isArray())
        return {};
    QList<qint64> result;
    for (const QJsonValue& element : value.toArray()) {
        if (const auto number = readInteger(element))
            result.append(*number);
    }
    return result;
}

std::optional<QByteArray> TDObject::bytes(const QString& key) const {
    const QJsonValue value = fields_.value(key);
    if (!value.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

TDObject TDObject::withExtra(const QString& tag) const {
    TDObject copy(*this);
    copy.fields_.insert(QStringLiteral("@extra"), tag);
    return copy;
}

QString TDObject::description() const {
    return QStringLiteral("TDObject(%1)").arg(type());
}

TDError TDError::fromObject(const TDObject& object) {
    const qint64 code = object.integer(QStringLiteral("code")).value_or(0);
    const int bounded =
        code > std::numeric_limits<int>::max() || code < std::numeric_limits<int>::min()
            ? 0
            : static_cast<int>(code);
    return TDError(bounded, object.string(QStringLiteral("message")).value_or(QString()));
}

std::optional<qint64> TDError::retryAfter() const {
    if (code_ != 429)
        return std::nullopt;
    static const QRegularExpression pattern(QStringLiteral("retry after (\\d+)"));
    const QRegularExpressionMatch match = pattern.match(message_);
    if (!match.hasMatch())
        return std::nullopt;
    const QStringList pieces = match.captured(0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return TDObject::parseDecimal(pieces.last());
}

StorageError TDError::storageError() const {
    using Code = StorageError::Code;
    if (message_.contains(QLatin1String("Can't lock file")))
        return Code::sessionInUse;
    if (code_ == 401)
        return Code::reauthRequired;
    if (code_ == 403)
        return Code::permissionDenied;
    if (code_ == 404)
        return Code::notFound;
    if (code_ == 429)
        return Code::rateLimited;
    if (code_ >= 500 && code_ <= 599)
        return Code::server;
    if (message_.contains(QLatin1String("FILE_PARTS")) ||
        message_.contains(QLatin1String("FILE_TOO_BIG")))
        return StorageError::fileTooLarge(telegramMaxFileSize);
    return Code::invalidResponse;
}

const char* TDError::what() const noexcept { return what_.c_str(); }

} // namespace tw
