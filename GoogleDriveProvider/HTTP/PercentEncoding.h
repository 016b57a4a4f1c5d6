#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>

namespace tw {

/// Name–value pairs of a query or a form body, in the order they are sent.
using QueryItems = QList<std::pair<QString, QString>>;

/// The one percent-encoder for every query and every form body. It keeps exactly the 66
/// unreserved characters (A–Z, a–z, 0–9, "-", ".", "_", "~") and writes every other byte of
/// the UTF-8 form as "%" and two upper-case hexadecimal digits: a space is %20, "+" is %2B,
/// "%" is %25. (QUrlQuery is not used: it leaves "+" alone and takes "%XX" in a value as
/// already encoded.)
namespace PercentEncoding {

QByteArray encode(const QString& text);

/// "name=value" pairs, each side encoded, joined with "&" in the given order; empty for no
/// pairs.
QByteArray encodeItems(const QueryItems& items);

/// `url` with its query replaced by encodeItems(items) byte for byte (no query for no items).
QUrl withQuery(QUrl url, const QueryItems& items);

/// The query items of `url` fully decoded, in order ("+" stays "+").
QueryItems decodeQuery(const QUrl& url);

/// The value of the first query item named `name`, fully decoded.
std::optional<QString> firstValue(const QUrl& url, const QString& name);

} // namespace PercentEncoding
} // namespace tw
