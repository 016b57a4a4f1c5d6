#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace tw {

/// An upload destination: an account, a folder of it (none = the root) and the names of the
/// folders from the root down to it, shown to the user after the account's alias. The path
/// is for display: two targets name the same folder when account and folder id agree.
struct UploadTarget {
    QUuid accountID;
    std::optional<QString> folderID;
    QList<QString> folderPath;

    /// Same account and folder, whatever the shown path.
    bool sameFolder(const UploadTarget& other) const {
        return accountID == other.accountID && folderID == other.folderID;
    }

    bool operator==(const UploadTarget&) const = default;
    /// {"accountID": UUID text, "folderID": text (left out for the root), "folderPath": [...]}
    QJsonObject toJson() const;
    /// Throws DecodingError; a missing or null "folderID" reads as the root.
    static UploadTarget fromJson(const QJsonValue& value);
};
size_t qHash(const UploadTarget& target, size_t seed = 0) noexcept;

} // namespace tw
