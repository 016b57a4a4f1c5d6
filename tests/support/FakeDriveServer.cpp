#include "tests/support/FakeDriveServer.h"
#include "tests/support/LoopbackHTTPServer.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace tw::test {

namespace {

using Endpoint = FakeDriveServer::Endpoint;
using File = FakeDriveServer::File;

const QString kFolderType = QStringLiteral("application/vnd.google-apps.folder");
constexpr qint64 kChunkGranularity = 256 * 1024;
constexpr qint64 kStreamBlock = 256 * 1024;

QString percentDecode(const QByteArray& text, bool plusIsSpace) {
    QByteArray copy = text;
    if (plusIsSpace)
        copy.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(copy));
}

QList<std::pair<QString, QString>> decodeItems(const QByteArray& text, bool plusIsSpace) {
    QList<std::pair<QString, QString>> items;
    if (text.isEmpty())
        return items;
    for (const QByteArray& pair : text.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArray name = equals < 0 ? pair : pair.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        items.append({percentDecode(name, plusIsSpace), percentDecode(value, plusIsSpace)});
    }
    return items;
}

std::optional<QString> itemValue(const QList<std::pair<QString, QString>>& items,
                                 const QString& name) {
    for (const auto& item : items) {
        if (item.first == name)
            return item.second;
    }
    return std::nullopt;
}

// ---- The query language subset ------------------------------------------------------------

/// A tiny recursive-descent reader of Drive query expressions: terms joined by "and" / "or"
/// ("and" binds tighter), parentheses, and the terms the back end sends:
///   '<id>' in parents | name contains '<w>' | mimeType contains '<t>' | mimeType = '<t>' |
///   trashed = true|false
class QueryParser {
public:
    using Predicate = std::function<bool(const File&)>;

    explicit QueryParser(const QString& text) : text_(text) {}

    std::optional<Predicate> parse() {
        try {
            Predicate result = parseOr();
            skipSpace();
            if (pos_ != text_.size())
                return std::nullopt;
            return result;
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
    }

private:
    [[noreturn]] static void fail() { throw std::runtime_error("bad query"); }

    void skipSpace() {
        while (pos_ < text_.size() && text_[pos_].isSpace())
            ++pos_;
    }

    bool acceptWord(const QString& word) {
        skipSpace();
        if (text_.mid(pos_, word.size()) != word)
            return false;
        const qsizetype end = pos_ + word.size();
        if (end < text_.size() && (text_[end].isLetterOrNumber() || text_[end] == QLatin1Char('_')))
            return false;
        pos_ = end;
        return true;
    }

    bool acceptSymbol(QChar symbol) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == symbol) {
            ++pos_;
            return true;
        }
        return false;
    }

    QString readString() {
        skipSpace();
        if (pos_ >= text_.size() || text_[pos_] != QLatin1Char('\''))
            fail();
        ++pos_;
        QString value;
        while (pos_ < text_.size()) {
            const QChar ch = text_[pos_++];
            if (ch == QLatin1Char('\\')) {
                if (pos_ >= text_.size())
                    fail();
                value.append(text_[pos_++]);
            } else if (ch == QLatin1Char('\'')) {
                return value;
            } else {
                value.append(ch);
            }
        }
        fail();
    }

    Predicate parseOr() {
        Predicate left = parseAnd();
        while (acceptWord(QStringLiteral("or"))) {
            Predicate right = parseAnd();
            left = [left, right](const File& f) { return left(f) || right(f); };
        }
        return left;
    }

    Predicate parseAnd() {
        Predicate left = parseTerm();
        while (acceptWord(QStringLiteral("and"))) {
            Predicate right = parseTerm();
            left = [left, right](const File& f) { return left(f) && right(f); };
        }
        return left;
    }

    Predicate parseTerm() {
        if (acceptSymbol(QLatin1Char('('))) {
            Predicate inner = parseOr();
            if (!acceptSymbol(QLatin1Char(')')))
                fail();
            return inner;
        }
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == QLatin1Char('\'')) {
            const QString id = readString();
            if (!acceptWord(QStringLiteral("in")) || !acceptWord(QStringLiteral("parents")))
                fail();
            return [id](const File& f) { return f.parents.contains(id); };
        }
        if (acceptWord(QStringLiteral("name"))) {
            if (!acceptWord(QStringLiteral("contains")))
                fail();
            const QString word = readString();
            return [word](const File& f) { return f.name.contains(word, Qt::CaseInsensitive); };
        }
        if (acceptWord(QStringLiteral("mimeType"))) {
            if (acceptWord(QStringLiteral("contains"))) {
                const QString part = readString();
                return [part](const File& f) { return f.mimeType.contains(part); };
            }
            if (!acceptSymbol(QLatin1Char('=')))
                fail();
            const QString type = readString();
            return [type](const File& f) { return f.mimeType == type; };
        }
        if (acceptWord(QStringLiteral("trashed"))) {
            if (!acceptSymbol(QLatin1Char('=')))
                fail();
            if (acceptWord(QStringLiteral("true")))
                return [](const File& f) { return f.trashed; };
            if (acceptWord(QStringLiteral("false")))
                return [](const File& f) { return !f.trashed; };
            fail();
        }
        fail();
    }

    QString text_;
    qsizetype pos_ = 0;
};

/// Natural order: runs of digits compare by value, the rest without regard to case.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const qulonglong na = a.mid(i, ei - i).toULongLong();
            const qulonglong nb = b.mid(j, ej - j).toULongLong();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a[i].toCaseFolded(), cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    return (a.size() - i) < (b.size() - j);
}

QString driveTime(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

std::string toStd(const QByteArray& bytes) {
    return std::string(bytes.constData(), size_t(bytes.size()));
}

} // namespace

// ---- File -----------------------------------------------------------------------------------

bool FakeDriveServer::File::isFolder() const {
    return mimeType == kFolderType;
}

std::optional<qint64> FakeDriveServer::File::size() const {
    if (isFolder() || native)
        return std::nullopt;
    if (syntheticSize)
        return *syntheticSize;
    if (uploadedSize >= 0)
        return uploadedSize;
    return content.size();
}

std::optional<QString> FakeDriveServer::Recorded::queryValue(const QString& name) const {
    return itemValue(query, name);
}

QString FakeDriveServer::endpointName(Endpoint endpoint) {
    static const char* const names[] = {"list",        "metadata",     "media",     "exportFile",
                                        "about",       "create",       "patch",     "uploadStart",
                                        "uploadChunk", "uploadStatus", "thumbnail", "token",
                                        "revoke",      "authorize",    "other"};
    return QString::fromLatin1(names[int(endpoint)]);
}

namespace {

/// The synthetic content repeats a pseudo-random block whose length is prime, so chunk and page
/// boundaries never line up with it; slices are copied out of a doubled block.
constexpr qint64 kPatternLength = 1048573;

const QByteArray& doubledPattern() {
    static const QByteArray pattern = [] {
        QByteArray block(kPatternLength * 2, Qt::Uninitialized);
        quint32 x = 2463534242u;
        for (qint64 i = 0; i < kPatternLength; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            block[i] = char(x & 0xFF);
        }
        memcpy(block.data() + kPatternLength, block.constData(), size_t(kPatternLength));
        return block;
    }();
    return pattern;
}

} // namespace

char FakeDriveServer::syntheticByte(qint64 index) {
    return doubledPattern().at(index % kPatternLength);
}

QByteArray FakeDriveServer::syntheticBytes(qint64 offset, qint64 length) {
    QByteArray bytes(length, Qt::Uninitialized);
    const char* pattern = doubledPattern().constData();
    qint64 done = 0;
    while (done < length) {
        const qint64 start = (offset + done) % kPatternLength;
        const qint64 n = std::min(length - done, kPatternLength);
        memcpy(bytes.data() + done, pattern + start, size_t(n));
        done += n;
    }
    return bytes;
}

QByteArray FakeDriveServer::thumbnailBytes(const QString& id, int size) {
    return "\x89PNG-thumbnail-" + id.toUtf8() + '@' + QByteArray::number(size);
}

// ---- State ------------------------------------------------------------------------------------

namespace {
using Fault = FakeDriveServer::Fault;
using Recorded = FakeDriveServer::Recorded;
} // namespace

struct FakeDriveServer::State {
    httplib::Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable stallCv;
    bool stopping = false;
    quint64 stallGeneration = 0;

    std::map<QString, File> files;
    int nextId = 1;

    struct Session {
        QString name;
        QStringList parents;
        QString mimeType;
        qint64 declared = 0;
        qint64 held = 0;
        QByteArray data;
        std::shared_ptr<QCryptographicHash> hash;
        std::optional<QString> createdID;
    };
    std::map<QString, Session> sessions;
    QSet<QString> expiredSessions;
    bool storeUploads = true;
    /// Where upload sessions and thumbnails are said to be (empty: Google's own hosts).
    QString linkOrigin;
    std::atomic<qint64> responseDelayMs{0};

    QSet<QString> validAccess;
    QHash<QString, QString> refreshTokens; // refresh token → state ("ok"/"revoked")
    QStringList revoked;
    int refreshCount = 0;
    QHash<QString, QString> codes; // authorization code → redirect_uri
    QString clientID;
    std::optional<QString> clientSecret;
    int tokenSerial = 0;

    QString email = QStringLiteral("owner@example.com");
    std::optional<QString> displayName = QStringLiteral("Drive Owner");
    QString permissionId = QStringLiteral("perm-0001");
    QMap<QString, QString> quota{{QStringLiteral("limit"), QStringLiteral("16106127360")},
                                 {QStringLiteral("usage"), QStringLiteral("1073741824")},
                                 {QStringLiteral("usageInDrive"), QStringLiteral("1000000000")},
                                 {QStringLiteral("usageInDriveTrash"), QStringLiteral("1024")}};

    std::list<std::pair<Endpoint, std::pair<Fault, int>>> faults;
    QList<Recorded> recorded;
    bool recording = true;
    QStringList violations;

    // Helpers (mutex held by the caller unless stated) ----------------------------------
    QString newId() { return QStringLiteral("f%1x").arg(nextId++, 5, 10, QLatin1Char('0')); }

    std::optional<Fault> takeFault(Endpoint endpoint) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->first != endpoint)
                continue;
            Fault fault = it->second.first;
            if (--it->second.second <= 0)
                faults.erase(it);
            return fault;
        }
        return std::nullopt;
    }

    QJsonObject fileJson(const File& file) const {
        QJsonObject object{
            {QStringLiteral("kind"), QStringLiteral("drive#file")},
            {QStringLiteral("id"), file.id},
            {QStringLiteral("name"), file.name},
            {QStringLiteral("mimeType"), file.mimeType},
            {QStringLiteral("parents"), QJsonArray::fromStringList(file.parents)},
            {QStringLiteral("modifiedTime"), driveTime(file.modifiedTime)},
            {QStringLiteral("webViewLink"),
             QStringLiteral("https://drive.google.com/file/d/%1/view").arg(file.id)}};
        if (const auto size = file.size())
            object.insert(QStringLiteral("size"), QString::number(*size));
        if (file.hasThumbnail)
            object.insert(
                QStringLiteral("thumbnailLink"),
                (linkOrigin.isEmpty() ? QStringLiteral("https://lh3.googleusercontent.com")
                                      : linkOrigin) +
                    QStringLiteral("/t/%1=s220").arg(file.id));
        return object;
    }

    // Request handling (defined below; called without the mutex held).
    void handle(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader* reader);
    void handleTimed(const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader* reader);
    std::atomic<qint64> handlerNanos{0};
    void handleList(const Recorded& rec, httplib::Response& res);
    void handleMedia(const QString& id, const httplib::Request& req, httplib::Response& res,
                     const Fault& fault);
    void handleExport(const QString& id, const Recorded& rec, httplib::Response& res);
    void handleCreate(const Recorded& rec, httplib::Response& res);
    void handlePatch(const QString& id, const Recorded& rec, httplib::Response& res);
    void handleUploadStart(const Recorded& rec, httplib::Response& res);
    void handleUploadPut(const QString& sessionID, bool statusQuery, const httplib::Request& req,
                         httplib::Response& res, const httplib::ContentReader* reader,
                         const Fault& fault, Recorded& rec);
    void handleToken(const Recorded& rec, httplib::Response& res);
    void handleAuthorize(const Recorded& rec, httplib::Response& res);
    void stream(httplib::Response& res, int status, const std::string& contentType, qint64 length,
                std::function<QByteArray(qint64, qint64)> source, const Fault& fault);
    void setRange308(httplib::Response& res, qint64 held, const Fault& fault);
    QString issueAccess() {
        const QString token = QStringLiteral("ya29.fake-access-%1").arg(++tokenSerial);
        validAccess.insert(token);
        return token;
    }

    /// Sorted listing cache: (query, order) → ids, valid while `version` is unchanged.
    quint64 version = 0;
    std::map<QString, std::pair<quint64, QStringList>> listingCache;

    QString insert(File file) {
        if (file.id.isEmpty())
            file.id = newId();
        if (!file.modifiedTime.isValid())
            file.modifiedTime =
                QDateTime(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc()).addSecs(nextId * 60);
        const QString id = file.id;
        files[id] = std::move(file);
        ++version;
        return id;
    }
};

namespace {

void setJson(httplib::Response& res, int status, const QJsonObject& object) {
    res.status = status;
    const QByteArray body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    res.set_content(body.constData(), size_t(body.size()), "application/json; charset=UTF-8");
}

QJsonObject errorJson(int status, const QStringList& reasons) {
    QJsonArray errors;
    for (const QString& reason : reasons)
        errors.append(QJsonObject{{QStringLiteral("reason"), reason},
                                  {QStringLiteral("message"), QStringLiteral("fake failure")}});
    return QJsonObject{{QStringLiteral("error"),
                        QJsonObject{{QStringLiteral("code"), status},
                                    {QStringLiteral("message"), QStringLiteral("fake failure")},
                                    {QStringLiteral("errors"), errors}}}};
}

void setError(httplib::Response& res, int status, const QStringList& reasons = {}) {
    setJson(res, status, errorJson(status, reasons));
}

/// An answer whose body breaks off: the client sees a lost connection.
void setDropped(httplib::Response& res) {
    res.status = 200;
    res.set_content_provider(1 << 20, "application/octet-stream",
                             [](size_t, size_t, httplib::DataSink&) { return false; });
}

} // namespace

// ---- Request handling -----------------------------------------------------------------------

void FakeDriveServer::State::stream(httplib::Response& res, int status,
                                    const std::string& contentType, qint64 length,
                                    std::function<QByteArray(qint64, qint64)> source,
                                    const Fault& fault) {
    res.status = status;
    const bool stall = fault.stall;
    const qint64 stallAfter = fault.stallAfterBytes;
    const bool resume = fault.resumeAfterStall;
    quint64 generation = 0;
    {
        std::lock_guard lock(mutex);
        generation = stallGeneration;
    }
    res.set_content_provider(
        size_t(length), contentType,
        [this, source = std::move(source), length, stall, stallAfter, resume,
         generation](size_t offset, size_t, httplib::DataSink& sink) {
            const qint64 at = qint64(offset);
            if (stall && at >= stallAfter) {
                std::unique_lock lock(mutex);
                stallCv.wait(lock, [&] { return stopping || stallGeneration != generation; });
                if (!resume || stopping)
                    return false; // the connection breaks off once released
            }
            qint64 n = std::min(kStreamBlock, length - at);
            if (stall && at < stallAfter)
                n = std::min(n, stallAfter - at);
            const QByteArray block = source(at, n);
            return sink.write(block.constData(), size_t(block.size()));
        });
}

void FakeDriveServer::State::setRange308(httplib::Response& res, qint64 held, const Fault& fault) {
    res.status = 308;
    const qint64 claimed = fault.claimHeld.value_or(held);
    if (!fault.omitRange && claimed > 0)
        res.set_header("Range", "bytes=0-" + std::to_string(claimed - 1));
    res.set_header("Content-Length", "0");
}

void FakeDriveServer::State::handle(const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader* reader) {
    QElapsedTimer timer;
    timer.start();
    handleTimed(req, res, reader);
    handlerNanos += timer.nsecsElapsed();
}

void FakeDriveServer::State::handleTimed(const httplib::Request& req, httplib::Response& res,
                                         const httplib::ContentReader* reader) {
    Recorded rec;
    rec.method = QByteArray::fromStdString(req.method);
    rec.target = QByteArray::fromStdString(req.target);
    const qsizetype question = rec.target.indexOf('?');
    const QByteArray rawPath = question < 0 ? rec.target : rec.target.left(question);
    const QByteArray rawQuery = question < 0 ? QByteArray() : rec.target.mid(question + 1);
    rec.path = QString::fromUtf8(rawPath);
    rec.query = decodeItems(rawQuery, true);
    for (const auto& [name, value] : req.headers)
        rec.headers.insert(QByteArray::fromStdString(name).toLower(),
                           QByteArray::fromStdString(value));
    if (!reader) {
        rec.body = QByteArray::fromStdString(req.body);
        rec.bodySize = rec.body.size();
    }

    QList<QString> segments;
    for (const QByteArray& segment : rawPath.split('/')) {
        if (!segment.isEmpty())
            segments.append(QString::fromUtf8(QByteArray::fromPercentEncoding(segment)));
    }
    const QByteArray& method = rec.method;
    const bool isDrive = segments.size() >= 3 && segments[0] == QLatin1String("drive") &&
                         segments[1] == QLatin1String("v3");
    const bool isUpload = segments.size() == 4 && segments[0] == QLatin1String("upload") &&
                          segments[3] == QLatin1String("files");
    QString fileID;
    if (isDrive && segments[2] == QLatin1String("files") && segments.size() >= 4)
        fileID = segments[3];

    Endpoint endpoint = Endpoint::other;
    if (isDrive && segments[2] == QLatin1String("about") && method == "GET")
        endpoint = Endpoint::about;
    else if (isDrive && segments[2] == QLatin1String("files")) {
        if (segments.size() == 3)
            endpoint = method == "POST" ? Endpoint::create : Endpoint::list;
        else if (segments.size() == 5 && segments[4] == QLatin1String("export"))
            endpoint = Endpoint::exportFile;
        else if (segments.size() == 4 && method == "PATCH")
            endpoint = Endpoint::patch;
        else if (segments.size() == 4 && method == "GET")
            endpoint = rec.queryValue(QStringLiteral("alt")) == QStringLiteral("media")
                           ? Endpoint::media
                           : Endpoint::metadata;
    } else if (isUpload && method == "POST")
        endpoint = Endpoint::uploadStart;
    else if (isUpload && method == "PUT")
        endpoint = req.get_header_value("Content-Range").rfind("bytes */", 0) == 0
                       ? Endpoint::uploadStatus
                       : Endpoint::uploadChunk;
    else if (segments.size() == 2 && segments[0] == QLatin1String("t") && method == "GET")
        endpoint = Endpoint::thumbnail;
    else if (rec.path == QLatin1String("/token") && method == "POST")
        endpoint = Endpoint::token;
    else if (rec.path == QLatin1String("/revoke") && method == "POST")
        endpoint = Endpoint::revoke;
    else if (rec.path == QLatin1String("/o/oauth2/v2/auth") && method == "GET")
        endpoint = Endpoint::authorize;
    rec.endpoint = endpoint;

    Fault fault;
    bool faulted = false;
    bool authorised = true;
    // The round trip of a distant service, before the request is looked at.
    if (const auto delay = std::chrono::milliseconds(responseDelayMs.load()); delay.count() > 0)
        std::this_thread::sleep_for(delay);
    {
        std::lock_guard lock(mutex);
        if (auto taken = takeFault(endpoint)) {
            fault = *taken;
            faulted = true;
        }
        const bool needsToken = endpoint != Endpoint::token && endpoint != Endpoint::revoke &&
                                endpoint != Endpoint::authorize &&
                                endpoint != Endpoint::uploadChunk &&
                                endpoint != Endpoint::uploadStatus;
        if (needsToken) {
            const QByteArray header = rec.headers.value("authorization");
            authorised = header.startsWith("Bearer ") &&
                         validAccess.contains(QString::fromUtf8(header.mid(7)));
        }
    }

    const auto finish = [&] {
        rec.status = res.status;
        std::lock_guard lock(mutex);
        if (recording)
            recorded.append(rec);
    };

    if (endpoint == Endpoint::uploadChunk || endpoint == Endpoint::uploadStatus) {
        QString sessionID = rec.queryValue(QStringLiteral("upload_id")).value_or(QString());
        handleUploadPut(sessionID, endpoint == Endpoint::uploadStatus, req, res, reader, fault,
                        rec);
        finish();
        return;
    }
    if (reader) { // a body this server did not expect to stream: take it whole
        std::string body;
        (*reader)([&](const char* data, size_t length) {
            body.append(data, length);
            return true;
        });
        rec.body = QByteArray::fromStdString(body);
        rec.bodySize = rec.body.size();
    }

    if (faulted && fault.dropConnection) {
        setDropped(res);
        finish();
        return;
    }
    if (faulted && fault.status != 0) {
        setError(res, fault.status, fault.reasons);
        if (fault.retryAfter)
            res.set_header("Retry-After", std::to_string(*fault.retryAfter));
        finish();
        return;
    }
    if (!authorised) {
        setError(res, 401, {QStringLiteral("authError")});
        res.set_header("WWW-Authenticate", "Bearer realm=\"https://accounts.google.com/\"");
        finish();
        return;
    }

    switch (endpoint) {
    case Endpoint::list:
        handleList(rec, res);
        break;
    case Endpoint::metadata: {
        std::lock_guard lock(mutex);
        const auto found = files.find(fileID);
        if (found == files.end())
            setError(res, 404, {QStringLiteral("notFound")});
        else
            setJson(res, 200, fileJson(found->second));
        break;
    }
    case Endpoint::media:
        handleMedia(fileID, req, res, fault);
        break;
    case Endpoint::exportFile:
        handleExport(fileID, rec, res);
        break;
    case Endpoint::about: {
        std::lock_guard lock(mutex);
        QJsonObject user{{QStringLiteral("kind"), QStringLiteral("drive#user")}};
        if (!email.isEmpty())
            user.insert(QStringLiteral("emailAddress"), email);
        if (!permissionId.isEmpty())
            user.insert(QStringLiteral("permissionId"), permissionId);
        if (displayName)
            user.insert(QStringLiteral("displayName"), *displayName);
        QJsonObject about{{QStringLiteral("kind"), QStringLiteral("drive#about")},
                          {QStringLiteral("user"), user}};
        if (!quota.isEmpty()) {
            QJsonObject figures;
            for (auto it = quota.constBegin(); it != quota.constEnd(); ++it)
                figures.insert(it.key(), it.value());
            about.insert(QStringLiteral("storageQuota"), figures);
        }
        setJson(res, 200, about);
        break;
    }
    case Endpoint::create:
        handleCreate(rec, res);
        break;
    case Endpoint::patch:
        handlePatch(fileID, rec, res);
        break;
    case Endpoint::uploadStart:
        handleUploadStart(rec, res);
        break;
    case Endpoint::thumbnail: {
        const QString last = segments[1];
        static const QRegularExpression pattern(QStringLiteral("^(.+)=s(\\d+)$"));
        const auto match = pattern.match(last);
        std::lock_guard lock(mutex);
        const auto found = match.hasMatch() ? files.find(match.captured(1)) : files.end();
        if (found == files.end() || !found->second.hasThumbnail) {
            res.status = 404;
            res.set_content("not found", "text/plain");
        } else {
            const QByteArray bytes = thumbnailBytes(found->first, match.captured(2).toInt());
            res.status = 200;
            res.set_content(bytes.constData(), size_t(bytes.size()), "image/png");
        }
        break;
    }
    case Endpoint::token:
        handleToken(rec, res);
        break;
    case Endpoint::revoke: {
        const auto form = decodeItems(rec.body, true);
        std::lock_guard lock(mutex);
        const QString token = itemValue(form, QStringLiteral("token")).value_or(QString());
        revoked.append(token);
        if (refreshTokens.contains(token))
            refreshTokens[token] = QStringLiteral("revoked");
        res.status = 200;
        break;
    }
    case Endpoint::authorize:
        handleAuthorize(rec, res);
        break;
    case Endpoint::uploadChunk:
    case Endpoint::uploadStatus:
    case Endpoint::other:
        setError(res, 404, {QStringLiteral("notFound")});
        break;
    }
    finish(); // recorded before the client can learn of the lost answer
    if (faulted && fault.loseAnswer)
        closeWithoutAnswer(req, port);
}

void FakeDriveServer::State::handleList(const Recorded& rec, httplib::Response& res) {
    const QString q = rec.queryValue(QStringLiteral("q")).value_or(QString());
    const QString orderBy = rec.queryValue(QStringLiteral("orderBy")).value_or(QString());
    const int pageSize =
        rec.queryValue(QStringLiteral("pageSize")).value_or(QStringLiteral("100")).toInt();
    const auto token = rec.queryValue(QStringLiteral("pageToken"));
    const auto predicate = QueryParser(q).parse();
    if (!predicate || pageSize <= 0 || pageSize > 1000) {
        setError(res, 400, {QStringLiteral("invalid")});
        return;
    }
    qsizetype start = 0;
    if (token) {
        if (!token->startsWith(QLatin1String("page:"))) {
            setError(res, 400, {QStringLiteral("invalid")});
            return;
        }
        start = token->mid(5).toLongLong();
    }

    std::lock_guard lock(mutex);
    const QString cacheKey = q + QLatin1Char('\n') + orderBy;
    auto cached = listingCache.find(cacheKey);
    if (cached == listingCache.end() || cached->second.first != version) {
        std::vector<const File*> matching;
        for (const auto& [id, file] : files) {
            if (id != QLatin1String("root") && (*predicate)(file))
                matching.push_back(&file);
        }
        if (orderBy == QLatin1String("folder,name_natural")) {
            std::sort(matching.begin(), matching.end(), [](const File* a, const File* b) {
                if (a->isFolder() != b->isFolder())
                    return a->isFolder();
                return naturalLess(a->name, b->name);
            });
        } else {
            std::sort(matching.begin(), matching.end(), [](const File* a, const File* b) {
                if (a->modifiedTime != b->modifiedTime)
                    return a->modifiedTime > b->modifiedTime;
                return a->id < b->id;
            });
        }
        QStringList ids;
        ids.reserve(qsizetype(matching.size()));
        for (const File* file : matching)
            ids.append(file->id);
        cached = listingCache.insert_or_assign(cacheKey, std::make_pair(version, ids)).first;
    }
    const QStringList& ids = cached->second.second;
    QJsonArray page;
    const qsizetype end = std::min<qsizetype>(ids.size(), start + pageSize);
    for (qsizetype i = start; i < end; ++i)
        page.append(fileJson(files.at(ids[i])));
    QJsonObject object{{QStringLiteral("kind"), QStringLiteral("drive#fileList")},
                       {QStringLiteral("files"), page}};
    if (end < ids.size())
        object.insert(QStringLiteral("nextPageToken"), QStringLiteral("page:%1").arg(end));
    setJson(res, 200, object);
}

void FakeDriveServer::State::handleMedia(const QString& id, const httplib::Request& req,
                                         httplib::Response& res, const Fault& fault) {
    File file;
    {
        std::lock_guard lock(mutex);
        const auto found = files.find(id);
        if (found == files.end()) {
            setError(res, 404, {QStringLiteral("notFound")});
            return;
        }
        file = found->second;
    }
    if (file.native || file.isFolder()) {
        setError(res, 403, {QStringLiteral("fileNotDownloadable")});
        return;
    }
    const qint64 size = *file.size();
    std::function<QByteArray(qint64, qint64)> source;
    if (file.syntheticSize) {
        source = [](qint64 offset, qint64 length) { return syntheticBytes(offset, length); };
    } else {
        QByteArray content = file.content;
        source = [content](qint64 offset, qint64 length) { return content.mid(offset, length); };
    }
    qint64 first = 0;
    qint64 last = size - 1;
    int status = 200;
    const QString range = QString::fromStdString(req.get_header_value("Range"));
    static const QRegularExpression rangePattern(QStringLiteral(R"(^bytes=(\d+)-(\d*)$)"));
    const QRegularExpressionMatch match = rangePattern.match(range);
    if (!range.isEmpty() && !fault.ignoreRange && match.hasMatch()) {
        first = match.captured(1).toLongLong();
        if (!match.captured(2).isEmpty())
            last = std::min(last, match.captured(2).toLongLong());
        if (first >= size || first > last) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        status = 206;
        first = std::clamp<qint64>(first + fault.shiftRange, 0, size - 1);
        last = std::clamp<qint64>(last + fault.shiftRange + fault.growRange, first, size - 1);
        const std::string contentRange =
            fault.contentRange.value_or("bytes " + std::to_string(first) + '-' +
                                        std::to_string(last) + '/' + std::to_string(size));
        if (!contentRange.empty())
            res.set_header("Content-Range", contentRange);
    }
    const qint64 base = first;
    stream(
        res, status, "application/octet-stream", last - first + 1,
        [source, base](qint64 offset, qint64 length) { return source(base + offset, length); },
        fault);
}

void FakeDriveServer::State::handleExport(const QString& id, const Recorded& rec,
                                          httplib::Response& res) {
    std::lock_guard lock(mutex);
    const auto found = files.find(id);
    if (found == files.end()) {
        setError(res, 404, {QStringLiteral("notFound")});
        return;
    }
    const File& file = found->second;
    if (!file.native) {
        setError(res, 403, {QStringLiteral("fileNotExportable")});
        return;
    }
    if (file.exportTooLarge) {
        setError(res, 403, {QStringLiteral("exportSizeLimitExceeded")});
        return;
    }
    const QString type = rec.queryValue(QStringLiteral("mimeType")).value_or(QString());
    if (type.isEmpty()) {
        setError(res, 400, {QStringLiteral("badRequest")});
        return;
    }
    const QByteArray body = file.exportContent + "\nas " + type.toUtf8();
    res.status = 200;
    res.set_content(body.constData(), size_t(body.size()), type.toStdString());
}

void FakeDriveServer::State::handleCreate(const Recorded& rec, httplib::Response& res) {
    const QJsonObject body = QJsonDocument::fromJson(rec.body).object();
    File file;
    file.name = body.value(QStringLiteral("name")).toString();
    file.mimeType =
        body.value(QStringLiteral("mimeType")).toString(QStringLiteral("application/octet-stream"));
    for (const QJsonValue& parent : body.value(QStringLiteral("parents")).toArray())
        file.parents.append(parent.toString());
    if (file.name.isEmpty() || file.parents.isEmpty()) {
        setError(res, 400, {QStringLiteral("required")});
        return;
    }
    std::lock_guard lock(mutex);
    for (const QString& parent : file.parents) {
        if (!files.count(parent)) {
            setError(res, 404, {QStringLiteral("notFound")});
            return;
        }
    }
    const QString id = insert(file);
    setJson(res, 200, fileJson(files.at(id)));
}

void FakeDriveServer::State::handlePatch(const QString& id, const Recorded& rec,
                                         httplib::Response& res) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(rec.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        setError(res, 400, {QStringLiteral("parseError")});
        return;
    }
    const QJsonObject body = document.object();
    std::lock_guard lock(mutex);
    const auto found = files.find(id);
    if (found == files.end() || id == QLatin1String("root")) {
        setError(res, 404, {QStringLiteral("notFound")});
        return;
    }
    File& file = found->second;
    if (body.contains(QStringLiteral("name"))) {
        const QString name = body.value(QStringLiteral("name")).toString();
        if (name.isEmpty()) {
            setError(res, 400, {QStringLiteral("invalid")});
            return;
        }
        file.name = name;
    }
    if (body.contains(QStringLiteral("trashed")))
        file.trashed = body.value(QStringLiteral("trashed")).toBool();
    if (const auto add = rec.queryValue(QStringLiteral("addParents"))) {
        if (!files.count(*add)) {
            setError(res, 404, {QStringLiteral("notFound")});
            return;
        }
        if (!file.parents.contains(*add))
            file.parents.append(*add);
    }
    if (const auto remove = rec.queryValue(QStringLiteral("removeParents")))
        file.parents.removeAll(*remove);
    file.modifiedTime = file.modifiedTime.addSecs(1);
    ++version;
    if (rec.queryValue(QStringLiteral("fields")) == QStringLiteral("id,trashed"))
        setJson(res, 200,
                QJsonObject{{QStringLiteral("id"), file.id},
                            {QStringLiteral("trashed"), file.trashed}});
    else
        setJson(res, 200, fileJson(file));
}

void FakeDriveServer::State::handleUploadStart(const Recorded& rec, httplib::Response& res) {
    const QJsonObject body = QJsonDocument::fromJson(rec.body).object();
    Session session;
    session.name = body.value(QStringLiteral("name")).toString();
    for (const QJsonValue& parent : body.value(QStringLiteral("parents")).toArray())
        session.parents.append(parent.toString());
    session.mimeType = QString::fromUtf8(rec.headers.value("x-upload-content-type"));
    bool ok = false;
    session.declared = rec.headers.value("x-upload-content-length").toLongLong(&ok);
    std::lock_guard lock(mutex);
    if (!ok || session.declared < 0)
        violations.append(QStringLiteral("upload start without X-Upload-Content-Length"));
    if (rec.queryValue(QStringLiteral("uploadType")) != QStringLiteral("resumable"))
        violations.append(QStringLiteral("upload start without uploadType=resumable"));
    if (session.name.isEmpty() || session.parents.isEmpty()) {
        setError(res, 400, {QStringLiteral("required")});
        return;
    }
    const QString id = QUuid::createUuid().toString(QUuid::Id128);
    sessions[id] = std::move(session);
    res.status = 200;
    const std::string origin =
        linkOrigin.isEmpty() ? std::string("https://www.googleapis.com") : toStd(linkOrigin.toUtf8());
    res.set_header("Location", origin + "/upload/drive/v3/files?uploadType=resumable&upload_id=" +
                                   id.toStdString());
}

void FakeDriveServer::State::handleUploadPut(const QString& sessionID, bool statusQuery,
                                             const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader* reader,
                                             const Fault& fault, Recorded& rec) {
    const auto drain = [&] {
        if (reader) {
            (*reader)([&](const char*, size_t length) {
                rec.bodySize += qint64(length);
                return true;
            });
        }
    };
    Session* session = nullptr;
    {
        std::lock_guard lock(mutex);
        const auto found = sessions.find(sessionID);
        if (fault.expireSession)
            expiredSessions.insert(sessionID);
        if (found != sessions.end() && !expiredSessions.contains(sessionID))
            session = &found->second;
    }
    if (!session) {
        drain();
        setError(res, 404, {QStringLiteral("notFound")});
        return;
    }
    const std::string contentLengthText = req.get_header_value("Content-Length");
    const qint64 contentLength = contentLengthText.empty() ? -1 : std::stoll(contentLengthText);
    const std::string contentRange = req.get_header_value("Content-Range");

    const auto respondHeld = [&] {
        std::lock_guard lock(mutex);
        if (session->createdID)
            setJson(res, 200, fileJson(files.at(*session->createdID)));
        else
            setRange308(res, session->held, fault);
    };

    if (statusQuery) {
        drain();
        if (fault.status != 0) {
            setError(res, fault.status, fault.reasons);
            if (fault.retryAfter)
                res.set_header("Retry-After", std::to_string(*fault.retryAfter));
            return;
        }
        const std::string expected = "bytes */" + std::to_string(session->declared);
        if (contentRange != expected || contentLength != 0) {
            std::lock_guard lock(mutex);
            violations.append(QStringLiteral("status query with %1 / %2")
                                  .arg(QString::fromStdString(contentRange))
                                  .arg(contentLength));
        }
        respondHeld();
        return;
    }

    // A chunk: "bytes a-b/total", or none for the one PUT of an empty file (or a whole body).
    qint64 first = 0;
    qint64 last = -1;
    qint64 total = session->declared;
    static const QRegularExpression chunkPattern(QStringLiteral(R"(^bytes (\d+)-(\d+)/(\d+)$)"));
    QString problem;
    if (!contentRange.empty()) {
        const QRegularExpressionMatch match =
            chunkPattern.match(QString::fromStdString(contentRange));
        if (!match.hasMatch()) {
            problem = QStringLiteral("malformed Content-Range %1")
                          .arg(QString::fromStdString(contentRange));
        } else {
            first = match.captured(1).toLongLong();
            last = match.captured(2).toLongLong();
            total = match.captured(3).toLongLong();
        }
    } else if (contentLength > 0) {
        last = contentLength - 1;
    }
    const qint64 length = last - first + 1;
    if (problem.isEmpty()) {
        if (total != session->declared)
            problem = QStringLiteral("total %1 differs from the declared %2")
                          .arg(total)
                          .arg(session->declared);
        else if (first > session->held)
            problem = QStringLiteral("chunk starts at %1 past the %2 bytes held")
                          .arg(first)
                          .arg(session->held);
        else if (last >= total && total > 0)
            problem = QStringLiteral("chunk ends at %1, past the total %2").arg(last).arg(total);
        else if (contentLength != length)
            problem = QStringLiteral("Content-Length %1 for a range of %2")
                          .arg(contentLength)
                          .arg(length);
        else if (last + 1 < total && length % kChunkGranularity != 0)
            problem = QStringLiteral("chunk of %1 bytes is no multiple of 256 KiB").arg(length);
        else if (contentRange.empty() && contentLength > 0 && contentLength != total)
            problem = QStringLiteral("body without Content-Range shorter than the file");
    }
    if (!problem.isEmpty()) {
        drain();
        std::lock_guard lock(mutex);
        violations.append(problem);
        setError(res, 400, {QStringLiteral("badRequest")});
        return;
    }

    // How many bytes of this chunk the server keeps.
    qint64 keep = length;
    if (fault.keepBytes)
        keep = std::min(keep, *fault.keepBytes);
    else if (fault.dropConnection)
        keep = length / 2;
    else if (fault.status != 0)
        keep = 0;
    const qint64 keepUntil = first + keep; // absolute end (exclusive) of the kept bytes
    const bool store = storeUploads;

    qint64 position = first;
    if (reader) {
        (*reader)([&](const char* data, size_t size) {
            rec.bodySize += qint64(size);
            const qint64 chunkEnd = position + qint64(size);
            // Append what lies between the bytes held and the kept limit.
            const qint64 from = std::max(position, session->held);
            const qint64 to = std::min(chunkEnd, keepUntil);
            if (to > from) {
                if (store)
                    session->data.append(data + (from - position), to - from);
                session->held = to;
            }
            position = chunkEnd;
            // A dropped connection stops reading once the kept part arrived.
            return !(fault.dropConnection && position >= keepUntil);
        });
    }

    const bool complete =
        session->held == session->declared && (session->declared > 0 || contentLength == 0);
    if (complete && !session->createdID) {
        std::lock_guard lock(mutex);
        File file;
        file.name = session->name;
        file.parents = session->parents;
        file.mimeType = session->mimeType.isEmpty() ? QStringLiteral("application/octet-stream")
                                                    : session->mimeType;
        if (store) {
            file.content = session->data;
            file.sha256 = QCryptographicHash::hash(session->data, QCryptographicHash::Sha256);
        } else {
            file.uploadedSize = session->held;
        }
        session->data.clear();
        session->createdID = insert(file);
    }
    if (fault.dropConnection) {
        setDropped(res);
        return;
    }
    if (fault.status != 0) {
        setError(res, fault.status, fault.reasons);
        if (fault.retryAfter)
            res.set_header("Retry-After", std::to_string(*fault.retryAfter));
        return;
    }
    respondHeld();
}

void FakeDriveServer::State::handleToken(const Recorded& rec, httplib::Response& res) {
    const auto form = decodeItems(rec.body, true);
    const auto value = [&](const char* name) { return itemValue(form, QLatin1String(name)); };
    std::lock_guard lock(mutex);
    if (!clientID.isEmpty() &&
        (value("client_id") != clientID || value("client_secret") != clientSecret)) {
        setJson(res, 401, QJsonObject{{QStringLiteral("error"), QStringLiteral("invalid_client")}});
        return;
    }
    const QString grant = value("grant_type").value_or(QString());
    const QString scope = QStringLiteral("https://www.googleapis.com/auth/drive");
    if (grant == QLatin1String("refresh_token")) {
        const QString refresh = value("refresh_token").value_or(QString());
        if (refreshTokens.value(refresh) != QLatin1String("ok")) {
            setJson(res, 400,
                    QJsonObject{{QStringLiteral("error"), QStringLiteral("invalid_grant")}});
            return;
        }
        ++refreshCount;
        setJson(res, 200,
                QJsonObject{{QStringLiteral("access_token"), issueAccess()},
                            {QStringLiteral("expires_in"), 3599},
                            {QStringLiteral("scope"), scope},
                            {QStringLiteral("token_type"), QStringLiteral("Bearer")}});
        return;
    }
    if (grant == QLatin1String("authorization_code")) {
        const QString code = value("code").value_or(QString());
        const auto redirect = codes.find(code);
        if (redirect == codes.end() || value("redirect_uri") != redirect.value() ||
            value("code_verifier").value_or(QString()).isEmpty()) {
            setJson(res, 400,
                    QJsonObject{{QStringLiteral("error"), QStringLiteral("invalid_grant")}});
            return;
        }
        codes.erase(redirect);
        const QString refresh = QStringLiteral("1//fake-refresh-%1").arg(++tokenSerial);
        refreshTokens.insert(refresh, QStringLiteral("ok"));
        setJson(res, 200,
                QJsonObject{{QStringLiteral("access_token"), issueAccess()},
                            {QStringLiteral("expires_in"), 3599},
                            {QStringLiteral("refresh_token"), refresh},
                            {QStringLiteral("scope"), scope},
                            {QStringLiteral("token_type"), QStringLiteral("Bearer")}});
        return;
    }
    setJson(res, 400,
            QJsonObject{{QStringLiteral("error"), QStringLiteral("unsupported_grant_type")}});
}

void FakeDriveServer::State::handleAuthorize(const Recorded& rec, httplib::Response& res) {
    const QString redirect = rec.queryValue(QStringLiteral("redirect_uri")).value_or(QString());
    const QString state = rec.queryValue(QStringLiteral("state")).value_or(QString());
    if (redirect.isEmpty()) {
        res.status = 400;
        return;
    }
    const QString code =
        QStringLiteral("4/fake-code-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    {
        std::lock_guard lock(mutex);
        codes.insert(code, redirect);
    }
    const QByteArray location = redirect.toUtf8() + "/?code=" + QUrl::toPercentEncoding(code) +
                                "&state=" + QUrl::toPercentEncoding(state);
    res.status = 302;
    res.set_header("Location", toStd(location));
}

// ---- Server ---------------------------------------------------------------------------------

FakeDriveServer::FakeDriveServer() : state_(std::make_shared<State>()) {
    State& s = *state_;
    File root;
    root.id = QStringLiteral("root");
    root.name = QStringLiteral("My Drive");
    root.mimeType = kFolderType;
    s.files[root.id] = root;

    // cpp-httplib would cut bodies by the request's Range itself; this server answers ranges on
    // its own (and can be told to ignore them), so the parsed ranges are dropped first.
    s.server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        const_cast<httplib::Request&>(req).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.server.set_keep_alive_max_count(100000);
    // cpp-httplib's default pool (8 workers on a small machine) would make a ninth connection
    // wait until an idle kept-alive one times out.
    s.server.new_task_queue = [] { return new httplib::ThreadPool(concurrentConnections); };
    s.server.set_tcp_nodelay(true);
    s.server.set_read_timeout(10);
    s.server.set_write_timeout(10);

    // Routing is done on the raw target, so an encoded "/" inside a file id stays in its
    // segment.
    State* state = &s;
    const auto plain = [state](const httplib::Request& req, httplib::Response& res) {
        state->handle(req, res, nullptr);
    };
    const auto streamed = [state](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& reader) {
        state->handle(req, res, &reader);
    };
    s.server.Get(".*", plain);
    s.server.Post(".*", plain);
    s.server.Patch(".*", plain);
    s.server.Put(".*", streamed);

    s.port = s.server.bind_to_any_port("127.0.0.1");
    s.thread = std::thread([state] { state->server.listen_after_bind(); });
    while (!s.server.is_running())
        std::this_thread::yield();
}

FakeDriveServer::~FakeDriveServer() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->stallCv.notify_all();
    state_->server.stop();
    if (state_->thread.joinable())
        state_->thread.join();
}

int FakeDriveServer::port() const {
    return state_->port;
}

QUrl FakeDriveServer::origin() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(state_->port));
}

QHash<QString, QUrl> FakeDriveServer::rewriteOrigins() const {
    const QUrl target = origin();
    return {{QStringLiteral("https://www.googleapis.com"), target},
            {QStringLiteral("https://oauth2.googleapis.com"), target},
            {QStringLiteral("https://accounts.google.com"), target},
            {QStringLiteral("https://lh3.googleusercontent.com"), target}};
}

FakeDriveServer::Tokens FakeDriveServer::issueTokens() {
    std::lock_guard lock(state_->mutex);
    Tokens tokens;
    tokens.refreshToken = QStringLiteral("1//fake-refresh-%1").arg(++state_->tokenSerial);
    state_->refreshTokens.insert(tokens.refreshToken, QStringLiteral("ok"));
    tokens.accessToken = state_->issueAccess();
    return tokens;
}

void FakeDriveServer::expireAccessTokens() {
    std::lock_guard lock(state_->mutex);
    state_->validAccess.clear();
}

void FakeDriveServer::revokeRefreshToken(const QString& refreshToken) {
    std::lock_guard lock(state_->mutex);
    state_->refreshTokens.insert(refreshToken, QStringLiteral("revoked"));
}

int FakeDriveServer::tokenRefreshCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->refreshCount;
}

QStringList FakeDriveServer::revokedTokens() const {
    std::lock_guard lock(state_->mutex);
    return state_->revoked;
}

void FakeDriveServer::setUser(const QString& email, const std::optional<QString>& displayName,
                              const QString& permissionId) {
    std::lock_guard lock(state_->mutex);
    state_->email = email;
    state_->displayName = displayName;
    state_->permissionId = permissionId;
}

void FakeDriveServer::setQuota(const QMap<QString, QString>& figures) {
    std::lock_guard lock(state_->mutex);
    state_->quota = figures;
}

void FakeDriveServer::setClientID(const QString& clientID,
                                  const std::optional<QString>& clientSecret) {
    std::lock_guard lock(state_->mutex);
    state_->clientID = clientID;
    state_->clientSecret = clientSecret;
}

QString FakeDriveServer::addFolder(const QString& name, const QString& parent) {
    File file;
    file.name = name;
    file.mimeType = kFolderType;
    file.parents = {parent};
    std::lock_guard lock(state_->mutex);
    return state_->insert(file);
}

QString FakeDriveServer::addFile(const QString& name, const QString& mimeType,
                                 const QByteArray& content, const QString& parent) {
    File file;
    file.name = name;
    file.mimeType = mimeType;
    file.parents = {parent};
    file.content = content;
    std::lock_guard lock(state_->mutex);
    return state_->insert(file);
}

QString FakeDriveServer::addSyntheticFile(const QString& name, qint64 size, const QString& parent) {
    File file;
    file.name = name;
    file.mimeType = QStringLiteral("application/octet-stream");
    file.parents = {parent};
    file.syntheticSize = size;
    std::lock_guard lock(state_->mutex);
    return state_->insert(file);
}

QString FakeDriveServer::addNativeDocument(const QString& name, const QString& mimeType,
                                           const QByteArray& exportContent, const QString& parent) {
    File file;
    file.name = name;
    file.mimeType = mimeType;
    file.parents = {parent};
    file.native = true;
    file.exportContent = exportContent;
    std::lock_guard lock(state_->mutex);
    return state_->insert(file);
}

void FakeDriveServer::addManyFiles(const QString& parent, int count, const QString& namePrefix) {
    std::lock_guard lock(state_->mutex);
    for (int i = 0; i < count; ++i) {
        File file;
        file.name = QStringLiteral("%1 %2.txt").arg(namePrefix).arg(i);
        file.mimeType = QStringLiteral("text/plain");
        file.parents = {parent};
        file.content = QByteArray::number(i);
        state_->insert(file);
    }
}

void FakeDriveServer::setFile(const File& file) {
    std::lock_guard lock(state_->mutex);
    state_->insert(file);
}

std::optional<FakeDriveServer::File> FakeDriveServer::file(const QString& id) const {
    std::lock_guard lock(state_->mutex);
    const auto found = state_->files.find(id);
    if (found == state_->files.end())
        return std::nullopt;
    return found->second;
}

std::optional<FakeDriveServer::File> FakeDriveServer::fileNamed(const QString& name) const {
    std::lock_guard lock(state_->mutex);
    for (const auto& [id, file] : state_->files) {
        if (file.name == name && !file.trashed)
            return file;
    }
    return std::nullopt;
}

void FakeDriveServer::setResponseDelay(std::chrono::milliseconds delay) {
    state_->responseDelayMs.store(delay.count());
}

void FakeDriveServer::setLinksToItself(bool itself) {
    std::lock_guard lock(state_->mutex);
    state_->linkOrigin = itself ? origin().toString() : QString();
}

void FakeDriveServer::setStoreUploads(bool store) {
    std::lock_guard lock(state_->mutex);
    state_->storeUploads = store;
}

void FakeDriveServer::injectFault(Endpoint endpoint, const Fault& fault, int times) {
    std::lock_guard lock(state_->mutex);
    state_->faults.push_back({endpoint, {fault, times}});
}

void FakeDriveServer::clearFaults() {
    std::lock_guard lock(state_->mutex);
    state_->faults.clear();
}

void FakeDriveServer::releaseStalls() {
    {
        std::lock_guard lock(state_->mutex);
        ++state_->stallGeneration;
    }
    state_->stallCv.notify_all();
}

void FakeDriveServer::expireUploadSessions() {
    std::lock_guard lock(state_->mutex);
    for (const auto& [id, session] : state_->sessions)
        state_->expiredSessions.insert(id);
}

QList<FakeDriveServer::Recorded> FakeDriveServer::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->recorded;
}

QList<FakeDriveServer::Recorded> FakeDriveServer::requests(Endpoint endpoint) const {
    std::lock_guard lock(state_->mutex);
    QList<Recorded> matching;
    for (const Recorded& rec : state_->recorded) {
        if (rec.endpoint == endpoint)
            matching.append(rec);
    }
    return matching;
}

int FakeDriveServer::count(Endpoint endpoint) const {
    return int(requests(endpoint).size());
}

void FakeDriveServer::clearRequests() {
    std::lock_guard lock(state_->mutex);
    state_->recorded.clear();
}

void FakeDriveServer::setRecording(bool record) {
    std::lock_guard lock(state_->mutex);
    state_->recording = record;
}

qint64 FakeDriveServer::handlerNanoseconds() const {
    return state_->handlerNanos.load();
}

QStringList FakeDriveServer::violations() const {
    std::lock_guard lock(state_->mutex);
    return state_->violations;
}

} // namespace tw::test
