#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageProvider.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace tw {

/// Builds every request of the Drive REST interface (version 3). It holds no state and does
/// no I/O; the request engine adds the bearer token and sends. Every Drive path, query key,
/// query expression and field list of the back end is spelled here and nowhere else.
namespace DriveAPI {

/// "https://www.googleapis.com/drive/v3/": every request but the upload ones is relative to it.
const QUrl& base();
/// "https://www.googleapis.com/upload/drive/v3/files".
const QUrl& uploadEndpoint();

/// The fields of a file resource the back end reads.
extern const QString fileFields;
/// The fields of a listing page.
extern const QString listFields;
extern const QString aboutFields;

HTTPRequest list(const std::optional<QString>& parentID, const std::optional<QString>& pageToken);
HTTPRequest search(const QString& text, const std::optional<QString>& pageToken);
HTTPRequest category(FileCategory category, const std::optional<QString>& pageToken);
HTTPRequest createFolder(const QString& name, const std::optional<QString>& parentID);
HTTPRequest rename(const QString& fileID, const QString& name);
HTTPRequest move(const QString& fileID, const std::optional<QString>& from, const QString& to);
HTTPRequest trash(const QString& fileID);
HTTPRequest download(const QString& fileID);
/// The bytes [range.lower, range.upper) of a file; callers never pass an empty range.
HTTPRequest range(const QString& fileID, ByteRange range);
HTTPRequest exportFile(const QString& fileID, const QString& mimeType);
HTTPRequest about();

/// Opens a resumable upload session for the file in the folder (none = the root).
HTTPRequest initiateResumableUpload(const LocalFile& file, const std::optional<QString>& parentID);
/// Asks an upload session how many bytes it holds.
HTTPRequest uploadStatus(const QUrl& sessionURL, qint64 total);
/// One chunk of `length` bytes at `offset` of a file of `total` bytes; an empty file is one
/// PUT without "Content-Range".
HTTPRequest uploadChunk(const QUrl& sessionURL, qint64 offset, qint64 length, qint64 total);

/// The thumbnail link with its "=s<size>" suffix (at the very end) set to maxPixelSize.
HTTPRequest thumbnail(const QUrl& url, int maxPixelSize);

/// The query expression that selects one category.
QString mimeQuery(FileCategory category);
/// The search expression of a text: every word a "name contains" term.
QString searchExpression(const QString& text);
/// A value made safe between single quotes of a query expression.
QString escapeQueryValue(const QString& value);

/// The next byte offset of a resumable upload from the server's "Range" header value
/// ("bytes=0-N" gives N + 1); 0 when there is no usable value.
qint64 nextOffset(const std::optional<QByteArray>& rangeHeader);

} // namespace DriveAPI
} // namespace tw
