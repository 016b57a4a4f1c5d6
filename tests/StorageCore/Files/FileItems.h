// Small builders of FileItem values shared by the listing and search tests.
#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QTimeZone>

namespace tw::test {

inline FileItem fileItem(const QUuid& account, const QString& id, const QString& name,
                         const std::optional<QString>& parent = std::nullopt,
                         std::optional<qint64> dayOfMonth = std::nullopt) {
    FileItem item;
    item.ref = FileRef{account, id};
    item.name = name;
    item.mimeType = QStringLiteral("text/plain");
    item.sizeBytes = 1;
    if (parent)
        item.parentIDs = {*parent};
    if (dayOfMonth)
        item.modifiedAt =
            QDateTime(QDate(2025, 3, int(*dayOfMonth)), QTime(10, 0), QTimeZone::utc());
    return item;
}

inline FileItem folderItem(const QUuid& account, const QString& id, const QString& name,
                           const std::optional<QString>& parent = std::nullopt) {
    FileItem item = fileItem(account, id, name, parent);
    item.mimeType = FileItem::folderMimeType;
    item.sizeBytes.reset();
    return item;
}

inline QStringList namesOf(const QList<FileItem>& items) {
    QStringList names;
    for (const FileItem& item : items)
        names.append(item.name);
    return names;
}

} // namespace tw::test
