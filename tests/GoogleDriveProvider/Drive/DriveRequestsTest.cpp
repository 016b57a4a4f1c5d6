// The Drive request builder, the Drive models and the error table: pure, no HTTP.
#include "GoogleDriveProvider/Drive/DriveAPI.h"
#include "GoogleDriveProvider/Drive/DriveErrorMapper.h"
#include "GoogleDriveProvider/Drive/DriveModels.h"
#include "GoogleDriveProvider/HTTP/PercentEncoding.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>

using namespace tw;
using Code = StorageError::Code;

namespace {

QString query(const HTTPRequest& request, const char* name) {
    return PercentEncoding::firstValue(request.url, QLatin1String(name))
        .value_or(QStringLiteral("<none>"));
}

QStringList queryNames(const HTTPRequest& request) {
    QStringList names;
    for (const auto& item : PercentEncoding::decodeQuery(request.url))
        names.append(item.first);
    return names;
}

QJsonObject jsonBody(const HTTPRequest& request) {
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

TEST(DriveAPI, ListingQueriesEscapeIdsAndDefaultToTheRoot) {
    const HTTPRequest root = DriveAPI::list(std::nullopt, std::nullopt);
    EXPECT_EQ(root.method, "GET");
    EXPECT_EQ(root.url.toString(QUrl::RemoveQuery), "https://www.googleapis.com/drive/v3/files");
    EXPECT_EQ(query(root, "q"), "'root' in parents and trashed = false");
    EXPECT_EQ(queryNames(root), (QStringList{"q", "fields", "pageSize", "orderBy", "spaces"}));
    EXPECT_EQ(query(root, "fields"), "nextPageToken,files(id,name,mimeType,size,modifiedTime,"
                                     "parents,webViewLink,thumbnailLink)");
    EXPECT_EQ(query(root, "pageSize"), "100");
    EXPECT_EQ(query(root, "orderBy"), "folder,name_natural");
    EXPECT_EQ(query(root, "spaces"), "drive");

    const struct {
        QString id;
        QString expected;
    } cases[] = {
        {"a'b", R"('a\'b' in parents and trashed = false)"},
        {R"(a\'b)", R"('a\\\'b' in parents and trashed = false)"},
        {"plain", "'plain' in parents and trashed = false"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(query(DriveAPI::list(c.id, QStringLiteral("tok")), "q"), c.expected)
            << c.id.toStdString();
    const HTTPRequest paged = DriveAPI::list(QStringLiteral("x"), QStringLiteral("tok+/="));
    EXPECT_EQ(queryNames(paged).last(), "pageToken");
    EXPECT_EQ(query(paged, "pageToken"), "tok+/=");
}

TEST(DriveAPI, SearchExpressionSplitsWordsAndKeepsPlusSigns) {
    EXPECT_EQ(DriveAPI::searchExpression("tax 2024"),
              "name contains 'tax' and name contains '2024' and trashed = false");
    EXPECT_EQ(DriveAPI::searchExpression("   \t "), "name contains '' and trashed = false");
    EXPECT_EQ(DriveAPI::searchExpression("  it's\n me "),
              R"(name contains 'it\'s' and name contains 'me' and trashed = false)");

    const HTTPRequest request = DriveAPI::search(QStringLiteral("a+b c"), std::nullopt);
    EXPECT_EQ(query(request, "orderBy"), "modifiedTime desc");
    EXPECT_EQ(query(request, "q"), "name contains 'a+b' and name contains 'c' and trashed = false");
    const QByteArray raw = request.url.toEncoded();
    EXPECT_TRUE(raw.contains("a%2Bb")) << raw.constData();
    EXPECT_FALSE(raw.mid(raw.indexOf('?')).contains('+')) << raw.constData();
}

TEST(DriveAPI, CategoryQueriesWrapTheTypeExpression) {
    EXPECT_EQ(query(DriveAPI::category(FileCategory::photos, std::nullopt), "q"),
              "(mimeType contains 'image/') and trashed = false");
    EXPECT_EQ(DriveAPI::mimeQuery(FileCategory::videos), "mimeType contains 'video/'");
    EXPECT_EQ(DriveAPI::mimeQuery(FileCategory::audio), "mimeType contains 'audio/'");
    EXPECT_EQ(DriveAPI::mimeQuery(FileCategory::documents),
              "mimeType contains 'text/' or mimeType contains 'officedocument' or "
              "mimeType = 'application/pdf' or mimeType = 'application/rtf' or "
              "mimeType = 'application/msword' or mimeType = 'application/vnd.ms-excel' or "
              "mimeType = 'application/vnd.ms-powerpoint' or "
              "mimeType = 'application/vnd.google-apps.document' or "
              "mimeType = 'application/vnd.google-apps.spreadsheet' or "
              "mimeType = 'application/vnd.google-apps.presentation'");
    EXPECT_EQ(DriveAPI::mimeQuery(FileCategory::archives),
              "mimeType = 'application/zip' or mimeType = 'application/x-zip-compressed' or "
              "mimeType = 'application/x-7z-compressed' or mimeType = 'application/vnd.rar' or "
              "mimeType = 'application/x-rar-compressed' or mimeType = 'application/gzip' or "
              "mimeType = 'application/x-tar' or mimeType = 'application/x-apple-diskimage'");
}

TEST(DriveAPI, MutationsCarryJsonBodiesAndFieldLists) {
    const QString fields = "id,name,mimeType,size,modifiedTime,parents,webViewLink,thumbnailLink";

    const HTTPRequest folder = DriveAPI::createFolder(QStringLiteral("Taxes"), std::nullopt);
    EXPECT_EQ(folder.method, "POST");
    EXPECT_EQ(
        folder.body,
        R"({"mimeType":"application/vnd.google-apps.folder","name":"Taxes","parents":["root"]})");
    EXPECT_EQ(folder.headers.value("content-type"), "application/json; charset=UTF-8");
    EXPECT_EQ(query(folder, "fields"), fields);

    const HTTPRequest rename = DriveAPI::rename(QStringLiteral("a/b c"), QStringLiteral("New"));
    EXPECT_EQ(rename.method, "PATCH");
    EXPECT_TRUE(rename.url.toEncoded().contains("/drive/v3/files/a%2Fb%20c?"))
        << rename.url.toEncoded().constData();
    EXPECT_EQ(jsonBody(rename), (QJsonObject{{"name", "New"}}));

    const HTTPRequest moveWithout =
        DriveAPI::move(QStringLiteral("id1"), std::nullopt, QStringLiteral("dst"));
    EXPECT_EQ(queryNames(moveWithout), (QStringList{"addParents", "fields"}));
    EXPECT_EQ(moveWithout.body, "{}");
    const HTTPRequest moveWith =
        DriveAPI::move(QStringLiteral("id1"), QStringLiteral("src"), QStringLiteral("dst"));
    EXPECT_EQ(queryNames(moveWith), (QStringList{"addParents", "fields", "removeParents"}));
    EXPECT_EQ(query(moveWith, "removeParents"), "src");

    const HTTPRequest trash = DriveAPI::trash(QStringLiteral("id1"));
    EXPECT_EQ(trash.method, "PATCH");
    EXPECT_EQ(query(trash, "fields"), "id,trashed");
    EXPECT_EQ(trash.body, R"({"trashed":true})");
}

TEST(DriveAPI, DownloadsRangesExportsAndAbout) {
    const HTTPRequest range = DriveAPI::range(QStringLiteral("f1"), ByteRange{0, 65536});
    EXPECT_EQ(range.headers.value("Range"), "bytes=0-65535");
    EXPECT_EQ(query(range, "alt"), "media");
    EXPECT_EQ(DriveAPI::range(QStringLiteral("f1"), ByteRange{10, 11}).headers.value("Range"),
              "bytes=10-10");

    const HTTPRequest exported =
        DriveAPI::exportFile(QStringLiteral("doc"), QStringLiteral("application/pdf"));
    EXPECT_EQ(exported.url.path(), "/drive/v3/files/doc/export");
    EXPECT_EQ(query(exported, "mimeType"), "application/pdf");

    const HTTPRequest about = DriveAPI::about();
    EXPECT_EQ(about.url.path(), "/drive/v3/about");
    EXPECT_EQ(query(about, "fields"), "user(displayName,emailAddress,permissionId),storageQuota");
}

TEST(DriveAPI, ResumableUploadRequests) {
    LocalFile file{QUrl::fromLocalFile("/tmp/x.bin"), QStringLiteral("report.pdf"), 20000000,
                   QStringLiteral("application/pdf")};
    const HTTPRequest start = DriveAPI::initiateResumableUpload(file, std::nullopt);
    EXPECT_EQ(start.method, "POST");
    EXPECT_EQ(start.url.toString(QUrl::RemoveQuery),
              "https://www.googleapis.com/upload/drive/v3/files");
    EXPECT_EQ(queryNames(start), (QStringList{"uploadType", "fields"}));
    EXPECT_EQ(query(start, "uploadType"), "resumable");
    EXPECT_EQ(start.headers.value("X-Upload-Content-Type"), "application/pdf");
    EXPECT_EQ(start.headers.value("X-Upload-Content-Length"), "20000000");
    EXPECT_EQ(start.body, R"({"name":"report.pdf","parents":["root"]})");

    const QUrl session(
        "https://www.googleapis.com/upload/drive/v3/files?uploadType=resumable&upload_id=abc");
    const HTTPRequest status = DriveAPI::uploadStatus(session, 20000000);
    EXPECT_EQ(status.method, "PUT");
    EXPECT_EQ(status.url, session);
    EXPECT_EQ(status.headers.value("Content-Length"), "0");
    EXPECT_EQ(status.headers.value("Content-Range"), "bytes */20000000");

    const HTTPRequest chunk = DriveAPI::uploadChunk(session, 0, 8388608, 20000000);
    EXPECT_EQ(chunk.headers.value("Content-Range"), "bytes 0-8388607/20000000");
    EXPECT_EQ(chunk.headers.value("Content-Length"), "8388608");
    const HTTPRequest empty = DriveAPI::uploadChunk(session, 0, 0, 0);
    EXPECT_EQ(empty.headers.value("Content-Length"), "0");
    EXPECT_FALSE(empty.headers.contains("Content-Range"));

    for (const HTTPRequest& request :
         {start, status, chunk, DriveAPI::list({}, {}), DriveAPI::about(),
          DriveAPI::thumbnail(QUrl("https://x/y=s1"), 5)})
        EXPECT_EQ(request.timeout, std::chrono::seconds(60));
}

TEST(DriveAPI, ThumbnailLinksGetTheAskedSizeOnlyAtTheEnd) {
    const struct {
        const char* link;
        const char* expected;
    } cases[] = {
        {"https://lh3.googleusercontent.com/t/abc=s220",
         "https://lh3.googleusercontent.com/t/abc=s512"},
        {"https://lh3.googleusercontent.com/t/abc=s220-c",
         "https://lh3.googleusercontent.com/t/abc=s220-c"},
        {"https://lh3.googleusercontent.com/t/abc", "https://lh3.googleusercontent.com/t/abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DriveAPI::thumbnail(QUrl(c.link), 512).url.toString(), c.expected) << c.link;
}

TEST(DriveAPI, NextOffsetFromRangeHeaders) {
    const struct {
        std::optional<QByteArray> header;
        qint64 expected;
    } cases[] = {
        {std::nullopt, 0},
        {QByteArray("bytes=0-0"), 1},
        {QByteArray("bytes=0-"), 0},
        {QByteArray("bytes=0-abc"), 0},
        {QByteArray("bytes=0-99 "), 100},
        {QByteArray("bytes=0-8388607"), 8388608},
        {QByteArray("nothing"), 0},
        {QByteArray("bytes=0-") + QByteArray::number(std::numeric_limits<qint64>::max()), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DriveAPI::nextOffset(c.header), c.expected)
            << c.header.value_or("<none>").constData();
}

// ---- Models -------------------------------------------------------------------------------

TEST(DriveModels, FileResourcesBecomeItems) {
    const QUuid account = QUuid::createUuid();
    const auto full =
        DriveFile::decode(R"({"id":"f1","name":"a.txt","mimeType":"text/plain","size":"12345",
        "modifiedTime":"2024-05-01T12:34:56.789Z","parents":["p1"],"webViewLink":"https://drive.google.com/x",
        "thumbnailLink":"https://lh3.googleusercontent.com/t/f1=s220","extra":1})");
    ASSERT_TRUE(full);
    const FileItem item = full->item(account);
    EXPECT_EQ(item.ref, (FileRef{account, "f1"}));
    EXPECT_EQ(item.sizeBytes, 12345);
    EXPECT_EQ(item.modifiedAt,
              QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 789), QTimeZone::utc()));
    EXPECT_EQ(item.parentIDs, QList<QString>{"p1"});
    EXPECT_EQ(item.thumbnailURL, QUrl("https://lh3.googleusercontent.com/t/f1=s220"));

    const FileItem bare =
        DriveFile::decode(R"({"id":"f2","name":"b","mimeType":"x/y"})")->item(account);
    EXPECT_EQ(bare.sizeBytes, std::nullopt);
    EXPECT_EQ(bare.modifiedAt, std::nullopt);
    EXPECT_TRUE(bare.parentIDs.isEmpty());
    EXPECT_EQ(bare.webViewURL, std::nullopt);

    for (const char* size : {"", "12a", " 1", "1.5"})
        EXPECT_EQ(DriveFile::decode(QByteArray(R"({"id":"f","name":"n","mimeType":"m","size":")") +
                                    size + "\"}")
                      ->item(account)
                      .sizeBytes,
                  std::nullopt)
            << size;
    // Strict: a missing required key or a present key of the wrong type fails the record.
    EXPECT_FALSE(DriveFile::decode(R"({"id":"f","name":"n"})"));
    EXPECT_FALSE(DriveFile::decode(R"({"id":"f","name":"n","mimeType":"m","size":12})"));
    EXPECT_FALSE(DriveFile::decode("<html>"));

    const auto page = DriveFileList::decode(R"({"nextPageToken":"t2"})");
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->files);
    EXPECT_EQ(page->nextPageToken, "t2");
    EXPECT_FALSE(DriveFileList::decode(R"({"files":[{"id":"x"}]})"));
}

TEST(DriveModels, DatesAreStrictISO8601) {
    EXPECT_EQ(DriveDate::parse("2024-05-01T12:34:56Z"),
              QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56), QTimeZone::utc()));
    EXPECT_TRUE(DriveDate::parse("2024-05-01T12:34:56.789Z"));
    for (const char* bad :
         {"2024-05-01", "2024-05-01 12:34:56Z", "2024-13-01T00:00:00Z", "", "garbage"})
        EXPECT_FALSE(DriveDate::parse(bad)) << bad;
}

TEST(DriveModels, AboutQuota) {
    const auto only = DriveAbout::decode(R"({"storageQuota":{"usage":"1024"}})");
    ASSERT_TRUE(only);
    EXPECT_EQ(only->quota(), (StorageQuota{1024, std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(DriveAbout::decode(R"({"storageQuota":{}})")->quota()->usedBytes, 0);
    EXPECT_EQ(DriveAbout::decode(R"({"user":{}})")->quota(), std::nullopt);
    const auto full = DriveAbout::decode(R"({"user":{"emailAddress":"a@b","permissionId":"p"},
        "storageQuota":{"limit":"100","usage":"50","usageInDrive":"40","usageInDriveTrash":"5"}})");
    EXPECT_EQ(full->quota(), (StorageQuota{50, 100, 40, 5}));
    EXPECT_EQ(full->user->permissionId, "p");
}

TEST(DriveErrorMapper, StatusAndReasonTable) {
    const auto body = [](std::initializer_list<const char*> reasons) {
        QByteArray json = R"({"error":{"code":403,"errors":[)";
        bool first = true;
        for (const char* reason : reasons) {
            json += (first ? "" : ",") + QByteArray(R"({"reason":")") + reason + "\"}";
            first = false;
        }
        return json + "]}}";
    };
    const struct {
        int status;
        QByteArray body;
        Code expected;
    } cases[] = {
        {403, body({"storageQuotaExceeded"}), Code::storageFull},
        {403, body({"rateLimitExceeded", "quotaExceeded"}), Code::storageFull},
        {403, body({"userRateLimitExceeded"}), Code::rateLimited},
        {403, body({"fileNotDownloadable"}), Code::unsupportedDownload},
        {403, body({"exportSizeLimitExceeded"}), Code::exportTooLarge},
        {403, body({"RateLimitExceeded"}), Code::permissionDenied},
        {403, "<html>nope</html>", Code::permissionDenied},
        {401, body({"storageQuotaExceeded"}), Code::reauthRequired},
        {404, {}, Code::notFound},
        {429, "whatever", Code::rateLimited},
        {500, {}, Code::server},
        {503, {}, Code::server},
        {400, {}, Code::invalidResponse},
        {409, {}, Code::invalidResponse},
        {412, {}, Code::invalidResponse},
        {416, {}, Code::invalidResponse},
        {302, {}, Code::invalidResponse},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DriveErrorMapper::map(c.status, c.body).code(), c.expected)
            << c.status << " " << c.body.constData();
}
