#include "GoogleDriveProvider/Drive/DriveAPI.h"

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <charconv>
#include <limits>

namespace tw::DriveAPI {

namespace {

const QByteArray kJsonContentType = "application/json; charset=UTF-8";
constexpr auto kTimeout = std::chrono::seconds(60);

/// A file id as one path segment: everything but the unreserved characters encoded, "/"
/// included, so an id never adds a path level.
QByteArray pathEscape(const QString& id) {
    return PercentEncoding::encode(id);
}

/// `relativePath` (already encoded) appended to base() with the query items in order.
QUrl url(const QByteArray& relativePath, const QueryItems& items) {
    const QUrl joined = QUrl::fromEncoded(base().toEncoded() + relativePath, QUrl::StrictMode);
    Q_ASSERT(joined.isValid());
    return PercentEncoding::withQuery(joined, items);
}

HTTPRequest request(const QByteArray& method, QUrl target) {
    HTTPRequest request;
    request.method = method;
    request.url = std::move(target);
    request.timeout = kTimeout;
    return request;
}

HTTPRequest jsonRequest(const QByteArray& method, QUrl target, const QJsonObject& body) {
    HTTPRequest built = request(method, std::move(target));
    built.headers.set("Content-Type", kJsonContentType);
    built.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return built;
}

QueryItems listingItems(const QString& q, const QString& orderBy,
                        const std::optional<QString>& pageToken) {
    QueryItems items{{QStringLiteral("q"), q},
                     {QStringLiteral("fields"), listFields},
                     {QStringLiteral("pageSize"), QStringLiteral("100")},
                     {QStringLiteral("orderBy"), orderBy},
                     {QStringLiteral("spaces"), QStringLiteral("drive")}};
    if (pageToken)
        items.append({QStringLiteral("pageToken"), *pageToken});
    return items;
}

QString exactTypes(std::initializer_list<const char*> types) {
    QStringList terms;
    for (const char* type : types)
        terms.append(QStringLiteral("mimeType = '%1'").arg(QLatin1String(type)));
    return terms.join(QStringLiteral(" or "));
}

QByteArray fileSegment(const QString& fileID) {
    return "files/" + pathEscape(fileID);
}

} // namespace

const QString fileFields =
    QStringLiteral("id,name,mimeType,size,modifiedTime,parents,webViewLink,thumbnailLink");
const QString listFields = QStringLiteral(
    "nextPageToken,files(id,name,mimeType,size,modifiedTime,parents,webViewLink,thumbnailLink)");
const QString aboutFields =
    QStringLiteral("user(displayName,emailAddress,permissionId),storageQuota");

const QUrl& base() {
    static const QUrl url =
        GoogleEndpoints::resolve(QStringLiteral("https://www.googleapis.com/drive/v3/"));
    return url;
}

const QUrl& uploadEndpoint() {
    static const QUrl url =
        GoogleEndpoints::resolve(QStringLiteral("https://www.googleapis.com/upload/drive/v3/files"));
    return url;
}

QString escapeQueryValue(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return escaped;
}

QString searchExpression(const QString& text) {
    QStringList terms;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty())
            terms.append(QStringLiteral("name contains '%1'").arg(escapeQueryValue(word)));
        word.clear();
    };
    for (const QChar ch : text) {
        if (ch.isSpace())
            flush();
        else
            word.append(ch);
    }
    flush();
    if (terms.isEmpty())
        terms.append(QStringLiteral("name contains ''"));
    return terms.join(QStringLiteral(" and ")) + QStringLiteral(" and trashed = false");
}

QString mimeQuery(FileCategory category) {
    switch (category) {
    case FileCategory::photos:
        return QStringLiteral("mimeType contains 'image/'");
    case FileCategory::videos:
        return QStringLiteral("mimeType contains 'video/'");
    case FileCategory::audio:
        return QStringLiteral("mimeType contains 'audio/'");
    case FileCategory::documents:
        return QStringLiteral(
                   "mimeType contains 'text/' or mimeType contains 'officedocument' or ") +
               exactTypes({"application/pdf", "application/rtf", "application/msword",
                           "application/vnd.ms-excel", "application/vnd.ms-powerpoint",
                           "application/vnd.google-apps.document",
                           "application/vnd.google-apps.spreadsheet",
                           "application/vnd.google-apps.presentation"});
    case FileCategory::archives:
        return exactTypes({"application/zip", "application/x-zip-compressed",
                           "application/x-7z-compressed", "application/vnd.rar",
                           "application/x-rar-compressed", "application/gzip", "application/x-tar",
                           "application/x-apple-diskimage"});
    }
    return {};
}

HTTPRequest list(const std::optional<QString>& parentID, const std::optional<QString>& pageToken) {
    const QString q = QStringLiteral("'%1' in parents and trashed = false")
                          .arg(escapeQueryValue(parentID.value_or(QStringLiteral("root"))));
    return request("GET",
                   url("files", listingItems(q, QStringLiteral("folder,name_natural"), pageToken)));
}

HTTPRequest search(const QString& text, const std::optional<QString>& pageToken) {
    return request("GET",
                   url("files", listingItems(searchExpression(text),
                                             QStringLiteral("modifiedTime desc"), pageToken)));
}

HTTPRequest category(FileCategory category, const std::optional<QString>& pageToken) {
    const QString q = QStringLiteral("(%1) and trashed = false").arg(mimeQuery(category));
    return request("GET",
                   url("files", listingItems(q, QStringLiteral("modifiedTime desc"), pageToken)));
}

HTTPRequest createFolder(const QString& name, const std::optional<QString>& parentID) {
    const QJsonObject body{
        {QStringLiteral("mimeType"), FileItem::folderMimeType},
        {QStringLiteral("name"), name},
        {QStringLiteral("parents"), QJsonArray{parentID.value_or(QStringLiteral("root"))}}};
    return jsonRequest("POST", url("files", {{QStringLiteral("fields"), fileFields}}), body);
}

HTTPRequest rename(const QString& fileID, const QString& name) {
    return jsonRequest("PATCH", url(fileSegment(fileID), {{QStringLiteral("fields"), fileFields}}),
                       QJsonObject{{QStringLiteral("name"), name}});
}

HTTPRequest move(const QString& fileID, const std::optional<QString>& from, const QString& to) {
    QueryItems items{{QStringLiteral("addParents"), to}, {QStringLiteral("fields"), fileFields}};
    if (from)
        items.append({QStringLiteral("removeParents"), *from});
    return jsonRequest("PATCH", url(fileSegment(fileID), items), QJsonObject());
}

HTTPRequest trash(const QString& fileID) {
    return jsonRequest(
        "PATCH",
        url(fileSegment(fileID), {{QStringLiteral("fields"), QStringLiteral("id,trashed")}}),
        QJsonObject{{QStringLiteral("trashed"), true}});
}

HTTPRequest download(const QString& fileID) {
    return request("GET",
                   url(fileSegment(fileID), {{QStringLiteral("alt"), QStringLiteral("media")}}));
}

HTTPRequest range(const QString& fileID, ByteRange range) {
    HTTPRequest built = download(fileID);
    built.headers.set("Range", "bytes=" + QByteArray::number(range.lower) + '-' +
                                   QByteArray::number(range.upper - 1));
    return built;
}

HTTPRequest exportFile(const QString& fileID, const QString& mimeType) {
    return request("GET",
                   url(fileSegment(fileID) + "/export", {{QStringLiteral("mimeType"), mimeType}}));
}

HTTPRequest about() {
    return request("GET", url("about", {{QStringLiteral("fields"), aboutFields}}));
}

HTTPRequest initiateResumableUpload(const LocalFile& file, const std::optional<QString>& parentID) {
    const QJsonObject body{
        {QStringLiteral("name"), file.name},
        {QStringLiteral("parents"), QJsonArray{parentID.value_or(QStringLiteral("root"))}}};
    HTTPRequest built = jsonRequest(
        "POST",
        PercentEncoding::withQuery(uploadEndpoint(),
                                   {{QStringLiteral("uploadType"), QStringLiteral("resumable")},
                                    {QStringLiteral("fields"), fileFields}}),
        body);
    built.headers.set("X-Upload-Content-Type", file.mimeType.toUtf8());
    built.headers.set("X-Upload-Content-Length", QByteArray::number(file.sizeBytes));
    return built;
}

HTTPRequest uploadStatus(const QUrl& sessionURL, qint64 total) {
    HTTPRequest built = request("PUT", sessionURL);
    built.headers.set("Content-Length", "0");
    built.headers.set("Content-Range", "bytes */" + QByteArray::number(total));
    return built;
}

HTTPRequest uploadChunk(const QUrl& sessionURL, qint64 offset, qint64 length, qint64 total) {
    HTTPRequest built = request("PUT", sessionURL);
    built.headers.set("Content-Length", QByteArray::number(length));
    if (total > 0) {
        built.headers.set("Content-Range", "bytes " + QByteArray::number(offset) + '-' +
                                               QByteArray::number(offset + length - 1) + '/' +
                                               QByteArray::number(total));
    }
    return built;
}

HTTPRequest thumbnail(const QUrl& link, int maxPixelSize) {
    static const QRegularExpression sizeSuffix(QStringLiteral("=s\\d+$"));
    QString text = QString::fromUtf8(link.toEncoded());
    const QRegularExpressionMatch match = sizeSuffix.match(text);
    if (match.hasMatch())
        text.replace(match.capturedStart(), match.capturedLength(),
                     QStringLiteral("=s%1").arg(maxPixelSize));
    QUrl target = QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
    if (!target.isValid())
        target = link;
    return request("GET", target);
}

qint64 nextOffset(const std::optional<QByteArray>& rangeHeader) {
    if (!rangeHeader)
        return 0;
    const qsizetype dash = rangeHeader->lastIndexOf('-');
    if (dash < 0)
        return 0;
    QByteArray last = rangeHeader->mid(dash + 1).trimmed();
    if (last.isEmpty())
        return 0;
    const char* begin = last.constData();
    const char* end = begin + last.size();
    if (*begin == '+')
        ++begin;
    if (begin == end || *begin == '+')
        return 0;
    qint64 value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || value == std::numeric_limits<qint64>::max())
        return 0;
    return value + 1;
}

} // namespace tw::DriveAPI
