#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace tw {

/// A Drive file resource as the service sends it. Decoding is strict: a missing required
/// key, or a present key of the wrong JSON type, fails the whole record.
struct DriveFile {
    QString id;
    QString name;
    QString mimeType;
    std::optional<QString> size;
    std::optional<QString> modifiedTime;
    std::optional<QList<QString>> parents;
    std::optional<QString> webViewLink;
    std::optional<QString> thumbnailLink;

    FileItem item(const QUuid& accountID) const;

    static std::optional<DriveFile> fromJson(const QJsonObject& object);
    /// nullopt when the bytes are not a JSON object holding a file resource.
    static std::optional<DriveFile> decode(const QByteArray& data);
    QJsonObject toJson() const;
    bool operator==(const DriveFile&) const = default;
};

/// One page of a files listing.
struct DriveFileList {
    std::optional<QList<DriveFile>> files;
    std::optional<QString> nextPageToken;

    static std::optional<DriveFileList> decode(const QByteArray& data);
    QJsonObject toJson() const;
};

/// The "about" resource, asked for the user and the storage quota only.
struct DriveAbout {
    struct User {
        std::optional<QString> displayName;
        std::optional<QString> emailAddress;
        std::optional<QString> permissionId;
    };
    struct Quota {
        std::optional<QString> limit;
        std::optional<QString> usage;
        std::optional<QString> usageInDrive;
        std::optional<QString> usageInDriveTrash;
    };

    std::optional<User> user;
    std::optional<Quota> storageQuota;

    /// The storage figures as the shared model has them; none without a quota object.
    std::optional<StorageQuota> quota() const;

    static std::optional<DriveAbout> decode(const QByteArray& data);
    QJsonObject toJson() const;
};

/// The error body Drive sends with an unsuccessful status; only the reasons are used.
struct DriveErrorEnvelope {
    struct Detail {
        std::optional<QString> reason;
    };
    struct Body {
        std::optional<qint64> code;
        std::optional<QList<Detail>> errors;
    };
    std::optional<Body> error;

    /// The reason of every detail that has one, in the order sent.
    QList<QString> reasons() const;

    static std::optional<DriveErrorEnvelope> decode(const QByteArray& data);
    QJsonObject toJson() const;
};

namespace DriveDate {
/// An ISO 8601 UTC timestamp with or without fractional seconds ("2024-05-01T12:34:56.789Z",
/// "2024-05-01T12:34:56Z"); a bare date or anything else gives none.
std::optional<QDateTime> parse(const QString& text);
} // namespace DriveDate

/// Strict signed 64-bit decimal, an optional leading sign accepted, no blanks.
std::optional<qint64> parseDecimalInt64(QStringView text);

} // namespace tw
