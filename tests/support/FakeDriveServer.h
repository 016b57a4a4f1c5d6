#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace tw::test {

/// A loopback stand-in for Google Drive (REST v3 subset), its resumable upload protocol,
/// thumbnail links and the OAuth endpoints, built on cpp-httplib and started on 127.0.0.1 at
/// a port the system picks. Tests reach it through RewritingHTTPClient with rewriteOrigins(),
/// so production code keeps its real endpoint constants.
///
/// It holds files in memory (or, for large ones, as a deterministic synthetic pattern that is
/// streamed, never buffered), checks bearer tokens, follows the query-language subset the
/// back end sends, records every request, and injects faults on demand. Every answer is
/// streamed: large downloads through content providers, uploads through content receivers.
class FakeDriveServer {
public:
    /// Connections served at once, kept-alive idle ones included (one worker each): more than
    /// any test holds open, so that no request waits for an idle connection's time-out.
    static constexpr int concurrentConnections = 64;

    /// The places a fault can be injected.
    enum class Endpoint {
        list,         ///< GET files (listing, search, category)
        metadata,     ///< GET files/<id>
        media,        ///< GET files/<id>?alt=media
        exportFile,   ///< GET files/<id>/export
        about,        ///< GET about
        create,       ///< POST files
        patch,        ///< PATCH files/<id> (rename, move, trash)
        uploadStart,  ///< POST upload/drive/v3/files
        uploadChunk,  ///< PUT <session> with a chunk
        uploadStatus, ///< PUT <session> with "bytes */total"
        thumbnail,    ///< GET <thumbnail link>
        token,        ///< POST /token
        revoke,       ///< POST /revoke
        authorize,    ///< GET /o/oauth2/v2/auth
        other,
    };
    static QString endpointName(Endpoint endpoint);

    struct Fault {
        /// The status to answer with (0: answer normally, apart from the flags below).
        int status = 0;
        /// A "Retry-After" header in seconds.
        std::optional<int> retryAfter;
        /// Reasons of a Drive error body ({"error":{"errors":[{"reason":…}]}}).
        QStringList reasons;
        /// Close the connection without a complete answer (a chunk is then kept only in part:
        /// keepBytes of it, default half).
        bool dropConnection = false;
        /// For a chunk: keep only this many bytes of it and answer 308 with the shorter range.
        std::optional<qint64> keepBytes;
        /// For a chunk or status query: answer 308 without a "Range" header.
        bool omitRange = false;
        /// For a ranged download: ignore "Range" and answer 200 with the whole file.
        bool ignoreRange = false;
        /// For a ranged download: answer 206 for the asked range moved by this many bytes
        /// ("Content-Range" and body both for the other bytes).
        qint64 shiftRange = 0;
        /// For a ranged download: answer 206 with this many bytes more than asked.
        qint64 growRange = 0;
        /// For a ranged download: send this "Content-Range" instead of the true one (an empty
        /// text sends none).
        std::optional<std::string> contentRange;
        /// For a 308: claim this many bytes held ("Range: bytes=0-(n−1)").
        std::optional<qint64> claimHeld;
        /// Hold the answer (after its headers and `stallAfterBytes` bytes of body) until
        /// releaseStalls() or the server stops; the connection then breaks off, or with
        /// `resumeAfterStall` the rest of the body follows.
        bool stall = false;
        bool resumeAfterStall = false;
        /// For a chunk or status query: the session expires first (the answer is 404).
        bool expireSession = false;
        /// Act on the request as usual, then close the connection before any byte of the
        /// answer (the server went away after doing the work).
        bool loseAnswer = false;

        /// An error answer with the status, an optional Retry-After and Drive error reasons.
        static Fault http(int status, std::optional<int> retryAfter = std::nullopt,
                          QStringList reasons = {}) {
            Fault fault;
            fault.status = status;
            fault.retryAfter = retryAfter;
            fault.reasons = std::move(reasons);
            return fault;
        }
        /// A connection that breaks off before the answer is complete.
        static Fault dropped() {
            Fault fault;
            fault.dropConnection = true;
            return fault;
        }
        qint64 stallAfterBytes = 0;

        /// The request is handled, its answer never arrives.
        static Fault lostAnswer() {
            Fault fault;
            fault.loseAnswer = true;
            return fault;
        }
    };

    /// One file or folder of the fake account.
    struct File {
        QString id;
        QString name;
        QString mimeType;
        QStringList parents;
        bool trashed = false;
        QDateTime modifiedTime;
        /// The bytes of a stored file.
        QByteArray content;
        /// A large file whose bytes are syntheticByte(i), never held in memory.
        std::optional<qint64> syntheticSize;
        /// Google-native documents have no size and can only be exported.
        bool native = false;
        QByteArray exportContent;
        bool exportTooLarge = false;
        bool hasThumbnail = false;
        /// SHA-256 of an uploaded file's bytes (uploads made with storeUploads off keep only it).
        QByteArray sha256;
        qint64 uploadedSize = -1;

        bool isFolder() const;
        std::optional<qint64> size() const;
    };

    /// One request as the server saw it.
    struct Recorded {
        Endpoint endpoint = Endpoint::other;
        QByteArray method;
        /// The raw request target (encoded path and query).
        QByteArray target;
        QString path;
        /// Query items, decoded, in order.
        QList<std::pair<QString, QString>> query;
        QMap<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;                      // small bodies only (not chunk PUTs)
        qint64 bodySize = 0;
        int status = 0;

        std::optional<QString> queryValue(const QString& name) const;
    };

    FakeDriveServer();
    ~FakeDriveServer();
    FakeDriveServer(const FakeDriveServer&) = delete;
    FakeDriveServer& operator=(const FakeDriveServer&) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>".
    QUrl origin() const;
    /// The production origins this server stands in for, for RewritingHTTPClient.
    QHash<QString, QUrl> rewriteOrigins() const;

    // ---- Account and tokens ---------------------------------------------------------------
    struct Tokens {
        QString refreshToken;
        QString accessToken;
        qint64 expiresIn = 3599;
    };
    /// A fresh refresh token and a valid access token for it.
    Tokens issueTokens();
    /// Every access token issued so far answers 401 from now on.
    void expireAccessTokens();
    /// The refresh token is refused ("invalid_grant") from now on.
    void revokeRefreshToken(const QString& refreshToken);
    int tokenRefreshCount() const;
    QStringList revokedTokens() const;
    void setUser(const QString& email, const std::optional<QString>& displayName,
                 const QString& permissionId);
    /// The "storageQuota" object of the about answer; an empty map omits it.
    void setQuota(const QMap<QString, QString>& figures);
    /// The client id the token endpoint expects (empty: any).
    void setClientID(const QString& clientID, const std::optional<QString>& clientSecret);

    // ---- Files ----------------------------------------------------------------------------
    QString addFolder(const QString& name, const QString& parent = QStringLiteral("root"));
    QString addFile(const QString& name, const QString& mimeType, const QByteArray& content,
                    const QString& parent = QStringLiteral("root"));
    QString addSyntheticFile(const QString& name, qint64 size,
                             const QString& parent = QStringLiteral("root"));
    QString addNativeDocument(const QString& name, const QString& mimeType,
                              const QByteArray& exportContent,
                              const QString& parent = QStringLiteral("root"));
    /// Adds many plain files at once (fast; for large listings).
    void addManyFiles(const QString& parent, int count, const QString& namePrefix);
    void setFile(const File& file);
    std::optional<File> file(const QString& id) const;
    /// The file (not trashed) named `name`, if any.
    std::optional<File> fileNamed(const QString& name) const;
    /// Byte i of every synthetic file.
    static char syntheticByte(qint64 index);
    static QByteArray syntheticBytes(qint64 offset, qint64 length);

    /// Every request waits this long before it is handled (benchmarks: a distant service).
    void setResponseDelay(std::chrono::milliseconds delay);
    /// Upload session and thumbnail links name this server rather than Google's hosts: for a
    /// client that reaches it through TW_GOOGLE_BASE_URL instead of RewritingHTTPClient.
    void setLinksToItself(bool itself);
    /// Keep uploaded bytes (default) or only their SHA-256 and size (benchmarks).
    void setStoreUploads(bool store);
    /// Thumbnail bytes served for `id` (the requested size is appended as "@<size>").
    static QByteArray thumbnailBytes(const QString& id, int size);

    // ---- Faults and records ---------------------------------------------------------------
    /// The next `times` requests to the endpoint get the fault.
    void injectFault(Endpoint endpoint, const Fault& fault, int times = 1);
    void clearFaults();
    void releaseStalls();
    /// Upload sessions answer 404 from now on (an expired session).
    void expireUploadSessions();

    QList<Recorded> requests() const;
    QList<Recorded> requests(Endpoint endpoint) const;
    int count(Endpoint endpoint) const;
    void clearRequests();
    /// Requests recorded so far are not kept (benchmarks).
    void setRecording(bool record);
    /// Time spent inside request handlers (building answers, not sending streamed bodies).
    qint64 handlerNanoseconds() const;
    /// Protocol rules a client broke (empty when it behaved).
    QStringList violations() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tw::test
