#pragma once

#include "GoogleDriveProvider/HTTP/ReadableFile.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Persistence/PartialFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

namespace tw {

/// An ordered list of header fields. Names compare without regard to ASCII case.
class HTTPHeaders {
public:
    using Field = std::pair<QByteArray, QByteArray>;

    HTTPHeaders() = default;
    HTTPHeaders(std::initializer_list<Field> fields) : fields_(fields) {}

    /// Replaces every field of that name by one field with the value.
    void set(const QByteArray& name, const QByteArray& value) {
        remove(name);
        fields_.append({name, value});
    }
    /// Appends a field, keeping the ones of the same name.
    void add(const QByteArray& name, const QByteArray& value) { fields_.append({name, value}); }
    void remove(const QByteArray& name) {
        fields_.removeIf([&](const Field& field) { return sameName(field.first, name); });
    }
    /// The value of the first field of that name.
    std::optional<QByteArray> value(const QByteArray& name) const {
        for (const Field& field : fields_) {
            if (sameName(field.first, name))
                return field.second;
        }
        return std::nullopt;
    }
    bool contains(const QByteArray& name) const { return value(name).has_value(); }
    const QList<Field>& fields() const { return fields_; }
    bool isEmpty() const { return fields_.isEmpty(); }
    bool operator==(const HTTPHeaders&) const = default;

    static bool sameName(const QByteArray& a, const QByteArray& b) {
        return a.compare(b, Qt::CaseInsensitive) == 0;
    }

private:
    QList<Field> fields_;
};

/// One HTTP request as the Drive back end builds it.
struct HTTPRequest {
    QUrl url;
    QByteArray method = "GET";
    HTTPHeaders headers;
    /// The body sent by HTTPClient::send (form posts, JSON bodies); upload() takes its body
    /// separately and ignores this one.
    QByteArray body;
    /// Idle limit of the request: the connection must be made within it, and the transfer
    /// fails when no byte moves in either direction for this long. It is no limit on the
    /// duration of the whole transfer.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);

    bool operator==(const HTTPRequest&) const = default;
};

/// The final response of a request (after any redirects that were followed).
struct HTTPResponse {
    int statusCode = 0;
    /// Header fields of the final response only.
    HTTPHeaders headers;
    /// The URL that answered (differs from the request's after a redirect).
    QUrl url;

    bool isSuccess() const { return statusCode >= 200 && statusCode <= 299; }
};

/// The body and response of send() and upload().
struct HTTPReply {
    QByteArray body;
    HTTPResponse response;
};

/// The result of download(): the body in a partial file beside the destination (see
/// PartialFile). The caller commits it over the destination; when the last copy of the result
/// goes without a commit, the file is deleted.
struct HTTPDownload {
    std::shared_ptr<PartialFile> file;
    /// The partial file's path (for reading an error body).
    QString filePath;
    HTTPResponse response;
};

/// The body of an upload: bytes in memory, or a slice of a local file that is read while it
/// is sent (never loaded whole). A file slice reads from the descriptor opened once for the
/// whole upload (ReadableFile), never from the file's path again.
class HTTPBody {
public:
    HTTPBody() = default;
    HTTPBody(QByteArray data) : data_(std::move(data)) {} // NOLINT: implicit by design

    /// `length` bytes of the opened file from `offset`. The client throws StorageError
    /// localFileUnreadable when the file cannot be read or ends before the slice.
    static HTTPBody fromFile(std::shared_ptr<const ReadableFile> file, qint64 offset,
                             qint64 length) {
        HTTPBody body;
        body.file_ = std::move(file);
        body.fileOffset_ = offset;
        body.fileLength_ = length;
        return body;
    }

    bool isFile() const { return file_ != nullptr; }
    const QByteArray& data() const { return data_; }
    const std::shared_ptr<const ReadableFile>& file() const { return file_; }
    qint64 fileOffset() const { return fileOffset_; }
    qint64 size() const { return isFile() ? fileLength_ : qint64(data_.size()); }

private:
    QByteArray data_;
    std::shared_ptr<const ReadableFile> file_;
    qint64 fileOffset_ = 0;
    qint64 fileLength_ = 0;
};

/// Called, from any thread, with the number of body bytes of this one request sent so far
/// (cumulative, never the increment).
using HTTPProgress = std::function<void(qint64 bytesSent)>;

/// A transfer that failed below HTTP: no route or no name resolution (offline), a time-out,
/// a reset connection, a TLS failure. `code` is the transport library's own error code.
class HTTPTransportError : public std::runtime_error {
public:
    enum class Kind {
        offline,        ///< no network: the host name does not resolve, the network is down
        timedOut,       ///< connecting or the transfer was idle for longer than the limit
        connectionLost, ///< the connection broke off mid-transfer
        other,          ///< TLS failures, malformed replies and the rest
    };

    HTTPTransportError(Kind kind, int code, const QString& detail)
        : std::runtime_error(detail.toStdString()), kind_(kind), code_(code) {}

    Kind kind() const { return kind_; }
    int code() const { return code_; }
    /// offline for Kind::offline, network for every other kind.
    StorageError toStorageError() const {
        return StorageError(kind_ == Kind::offline ? StorageError::Code::offline
                                                   : StorageError::Code::network);
    }

private:
    Kind kind_;
    int code_;
};

/// The general conversion of any failure into a StorageError: a StorageError passes unchanged
/// (cancellation is StorageError cancelled already), a transport error becomes offline or
/// network, the rest as StorageError::from converts it (a keyring failure says so, anything
/// else is network).
inline StorageError toStorageError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const HTTPTransportError& transportError) {
        return transportError.toStorageError();
    } catch (...) {
        return StorageError::current();
    }
}

/// The transport of the Drive back end. Every operation blocks the calling worker thread,
/// may be called from many threads at once, and honours the current task's cancellation
/// (Cancellation): a stopped task ends the transfer promptly with StorageError cancelled.
/// Every HTTP status is returned to the caller, a 404 or 500 as much as a 200: judging
/// statuses is the callers' business. Transport failures are thrown as HTTPTransportError; a
/// URL whose scheme is not http or https fails with StorageError invalidResponse.
class HTTPClient {
public:
    virtual ~HTTPClient() = default;

    /// Sends the request with its own body; returns the reply body and the response.
    virtual HTTPReply send(const HTTPRequest& request) = 0;

    /// Sends the request with `body` as its body, reporting body bytes sent through
    /// `progress` when one is given.
    virtual HTTPReply upload(const HTTPRequest& request, const HTTPBody& body,
                             const HTTPProgress& progress = {}) = 0;

    /// Sends the request and writes the reply body into a new partial file in the folder of
    /// `destination` (private, locked, never in the temporary directory, so a large download
    /// never fills a memory-backed /tmp or needs a copy across file systems). A failed
    /// transfer leaves no file behind; a folder that cannot hold it is localWriteFailed.
    virtual HTTPDownload download(const HTTPRequest& request, const QString& destination) = 0;
};

} // namespace tw
