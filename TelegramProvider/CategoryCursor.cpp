#include "TelegramProvider/CategoryCursor.h"

#include "TelegramProvider/TDLib/TDObject.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tw {

QString CategoryCursor::pairKey(qint64 chatID, const QString& filter) {
    return QString::number(chatID) + QLatin1Char('|') + filter;
}

QString CategoryCursor::encode() const {
    QJsonObject map;
    for (auto it = positions.begin(); it != positions.end(); ++it)
        map.insert(it.key(), QJsonValue(it.value()));
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("positions"), map}})
                                .toJson(QJsonDocument::Compact);
    return QString::fromLatin1(json.toBase64());
}

std::optional<CategoryCursor> CategoryCursor::decode(const QString& token) {
    const auto decoded =
        QByteArray::fromBase64Encoding(token.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || token.isEmpty())
        return std::nullopt;
    const auto object = TDObject::fromJson(*decoded);
    if (!object)
        return std::nullopt;
    const QJsonValue value = object->value(QStringLiteral("positions"));
    if (!value.isObject())
        return std::nullopt;
    CategoryCursor cursor;
    const QJsonObject map = value.toObject();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const auto position = TDObject::readInteger(it.value());
        if (!position)
            return std::nullopt;
        cursor.positions.insert(it.key(), *position);
    }
    return cursor;
}

} // namespace tw
