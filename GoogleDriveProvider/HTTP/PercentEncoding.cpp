#include "GoogleDriveProvider/HTTP/PercentEncoding.h"

#include <QUrlQuery>

namespace tw::PercentEncoding {

QByteArray encode(const QString& text) {
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved) {
            out.append(char(byte));
        } else {
            out.append('%');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 0x0F]);
        }
    }
    return out;
}

QByteArray encodeItems(const QueryItems& items) {
    QByteArray out;
    for (const auto& [name, value] : items) {
        if (!out.isEmpty())
            out.append('&');
        out.append(encode(name));
        out.append('=');
        out.append(encode(value));
    }
    return out;
}

QUrl withQuery(QUrl url, const QueryItems& items) {
    if (items.isEmpty()) {
        url.setQuery(QString());
        return url;
    }
    // The text holds only unreserved characters and %XX escapes, which QUrl keeps as given.
    url.setQuery(QString::fromLatin1(encodeItems(items)), QUrl::StrictMode);
    return url;
}

QueryItems decodeQuery(const QUrl& url) {
    QueryItems items;
    if (!url.hasQuery())
        return items;
    // Split the encoded text ourselves: QUrlQuery would keep "%2B" apart from "+" only in some
    // modes, and a "+" in a query is a plus sign here, never a space.
    const QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    for (const QByteArray& part : query.split('&')) {
        if (part.isEmpty())
            continue;
        const qsizetype equals = part.indexOf('=');
        const QByteArray name = equals < 0 ? part : part.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : part.mid(equals + 1);
        items.append({QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value))});
    }
    return items;
}

std::optional<QString> firstValue(const QUrl& url, const QString& name) {
    for (const auto& [itemName, value] : decodeQuery(url)) {
        if (itemName == name)
            return value;
    }
    return std::nullopt;
}

} // namespace tw::PercentEncoding
