#pragma once

// A Drive folder of many items answered page by page, each page decoded from Drive's JSON the
// way the Drive back end decodes it, so every item holds strings, dates and links of its own
// (a folder built from shared strings would hide what a listing really costs).
#include "GoogleDriveProvider/Drive/DriveModels.h"
#include "tests/support/FakeStorageProvider.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>

namespace tw::bench {

class DriveFolderPages : public test::FakeStorageProvider {
public:
    DriveFolderPages(const QUuid& account, int items, int pageSize)
        : account_(account), items_(items), pageSize_(pageSize) {
        clock.start();
    }

    Page listFolder(const QUuid&, const std::optional<QString>&,
                    const std::optional<QString>& token) override {
        const int offset = token ? token->toInt() : 0;
        QJsonArray files;
        for (int i = offset; i < std::min(items_, offset + pageSize_); ++i)
            files.append(file(i));
        QJsonObject answer{{QStringLiteral("files"), files}};
        if (offset + pageSize_ < items_)
            answer.insert(QStringLiteral("nextPageToken"), QString::number(offset + pageSize_));
        const std::optional<DriveFileList> list =
            DriveFileList::decode(QJsonDocument(answer).toJson(QJsonDocument::Compact));
        Page page;
        for (const DriveFile& file : list->files.value_or(QList<DriveFile>()))
            page.items.append(file.item(account_));
        page.nextPageToken = list->nextPageToken;
        answeredAt.store(clock.nsecsElapsed());
        return page;
    }

    /// Started when the folder is made; answeredAt is when the latest answer left.
    QElapsedTimer clock;
    std::atomic<qint64> answeredAt{0};

private:
    static QJsonObject file(int i) {
        static const char* const kinds[][2] = {
            {"jpg", "image/jpeg"}, {"pdf", "application/pdf"}, {"mp4", "video/mp4"},
            {"mp3", "audio/mpeg"}, {"zip", "application/zip"}, {"txt", "text/plain"}};
        const auto& kind = kinds[i % 6];
        // Drive ids are 33 characters.
        const QString id =
            QStringLiteral("1%1").arg(quint64(i) * 2654435761ULL, 32, 36, QLatin1Char('x'));
        QJsonObject object{
            {QStringLiteral("id"), id},
            {QStringLiteral("name"),
             QStringLiteral("Item %1.%2").arg(i + 1).arg(QLatin1String(kind[0]))},
            {QStringLiteral("mimeType"), QLatin1String(kind[1])},
            {QStringLiteral("size"), QString::number(1000 + qint64(i) * 37)},
            {QStringLiteral("modifiedTime"),
             QDateTime(QDate(2025, 1, 1), QTime(9, 0), Qt::UTC)
                 .addSecs(-qint64(i) * 600)
                 .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))},
            {QStringLiteral("parents"), QJsonArray{QStringLiteral("0AFolderOfManyItemsUk9PVA")}},
            {QStringLiteral("webViewLink"),
             QStringLiteral("https://drive.google.com/file/d/%1/view?usp=drivesdk").arg(id)}};
        // Drive gives thumbnails for pictures, videos and PDFs.
        if (i % 6 < 3)
            object.insert(QStringLiteral("thumbnailLink"),
                          QStringLiteral("https://lh3.googleusercontent.com/drive-storage/"
                                         "AJQWtBMc%1=s220")
                              .arg(id));
        return object;
    }

    const QUuid account_;
    const int items_;
    const int pageSize_;
};

} // namespace tw::bench
