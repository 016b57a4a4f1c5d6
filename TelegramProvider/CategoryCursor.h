#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace tw {

/// Where a category listing continues: per pair of chat and search filter (key
/// "<chatID>|<filter type>") the message id its next search starts from (0: the newest).
/// A pair that is absent is finished. Travels inside the page token, so any caller can
/// resume a listing.
struct CategoryCursor {
    QMap<QString, qint64> positions;

    static QString pairKey(qint64 chatID, const QString& filter);
    /// Standard Base64 (padded) of the JSON {"positions": {key: id, …}}.
    QString encode() const;
    /// nullopt for anything that is not such a token.
    static std::optional<CategoryCursor> decode(const QString& token);

    bool operator==(const CategoryCursor&) const = default;
};

} // namespace tw
