#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Transfers/UploadTarget.h"

#include <QJsonObject>
#include <QMap>
#include <QStringList>

namespace tw {

/// Where past uploads went, grouped by a history key: "ext:" + the normalised extension, and
/// "type:" + the category's raw value. Nothing ages out; entries leave only through
/// forget().
struct UploadHistory {
    struct Entry {
        UploadTarget target;
        qint64 count = 1;

        bool operator==(const Entry&) const = default;
        QJsonObject toJson() const;
        static Entry fromJson(const QJsonValue& value);
    };

    /// Per key, the destinations in the order each was first recorded under it.
    QMap<QString, QList<Entry>> byKey;

    /// The file's keys: the extension key first (when it has an extension), then the
    /// category key (when it has a category).
    static QStringList keys(const LocalFile& file);
    /// Counts one upload of the file to the target under each of its keys. An entry is the
    /// same destination when account and folder id agree; its shown path follows the latest.
    void record(const LocalFile& file, const UploadTarget& target);
    /// The entries of the extension key by count (most first), then those of the category
    /// key by count; equal counts keep the order of first recording.
    QList<Entry> candidates(const LocalFile& file) const;
    /// Drops every entry of the account; keys left empty stay.
    void forget(const QUuid& accountID);

    bool operator==(const UploadHistory&) const = default;
    /// {"byKey": {key: [{"count": n, "target": {...}}]}}
    QJsonObject toJson() const;
    static UploadHistory fromJson(const QJsonValue& value);
};

} // namespace tw
