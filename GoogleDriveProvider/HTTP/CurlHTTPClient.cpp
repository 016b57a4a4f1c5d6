#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"

#include "StorageCore/Concurrency/Cancellation.h"

#include <QDir>
#include <QLoggingCategory>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <stop_token>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

Q_LOGGING_CATEGORY(lcHTTP, "GoogleDrive.HTTP")

namespace tw {
namespace {

using Code = StorageError::Code;

/// Where a transfer's reply body goes.
enum class Sink { memory, file };

/// The state one transfer shares with libcurl's callbacks.
struct Transfer {
    // Reply
    HTTPHeaders headers;
    QByteArray body;
    Sink sink = Sink::memory;
    int fileDescriptor = -1;

    // Request body
    const QByteArray* bodyData = nullptr;
    int bodyFile = -1;
    qint64 bodyOffset = 0;
    qint64 bodyLength = 0;
    qint64 bodyPosition = 0;

    // Progress and cancellation
    const HTTPProgress* progress = nullptr;
    qint64 lastProgress = -1;
    std::stop_token token;

    /// A failure found inside a callback, thrown once libcurl has returned: no exception may
    /// unwind through libcurl's frames.
    std::exception_ptr callbackError;
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response begins (after a 1xx or a followed redirect): keep only its fields.
        transfer->headers = HTTPHeaders();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        transfer->headers.add(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
    }
    return length;
}

size_t onWrite(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (transfer->sink == Sink::memory) {
        transfer->body.append(data, qsizetype(length));
        return length;
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t written = ::write(transfer->fileDescriptor, data + done, length - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            transfer->callbackError = std::make_exception_ptr(StorageError(Code::localWriteFailed));
            return 0; // libcurl ends the transfer with a write error
        }
        done += size_t(written);
    }
    return length;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const qint64 wanted =
        std::min<qint64>(qint64(size * count), transfer->bodyLength - transfer->bodyPosition);
    if (wanted <= 0)
        return 0;
    if (transfer->bodyData) {
        std::memcpy(buffer, transfer->bodyData->constData() + transfer->bodyPosition,
                    size_t(wanted));
        transfer->bodyPosition += wanted;
        return size_t(wanted);
    }
    for (;;) {
        const ssize_t got = ::pread(transfer->bodyFile, buffer, size_t(wanted),
                                    off_t(transfer->bodyOffset + transfer->bodyPosition));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // Unreadable, or the file ended before the slice: never send a short body.
            transfer->callbackError =
                std::make_exception_ptr(StorageError(Code::localFileUnreadable));
            return CURL_READFUNC_ABORT;
        }
        transfer->bodyPosition += got;
        return size_t(got);
    }
}

int onSeek(void* user, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(user);
    if (origin != SEEK_SET || offset < 0 || offset > transfer->bodyLength)
        return CURL_SEEKFUNC_CANTSEEK;
    transfer->bodyPosition = offset;
    return CURL_SEEKFUNC_OK;
}

int onTransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->token.stop_requested())
        return 1; // aborts the transfer
    if (transfer->progress && *transfer->progress && uploaded > transfer->lastProgress &&
        uploaded > 0) {
        transfer->lastProgress = uploaded;
        try {
            (*transfer->progress)(qint64(uploaded));
        } catch (...) {
            // The caller's failure ends the transfer; it is rethrown once libcurl has returned.
            transfer->callbackError = std::current_exception();
            return 1;
        }
    }
    return 0;
}

HTTPTransportError transportError(CURLcode code, long osErrno) {
    using Kind = HTTPTransportError::Kind;
    Kind kind = Kind::other;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        kind = Kind::offline;
        break;
    case CURLE_COULDNT_CONNECT:
        kind = (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? Kind::offline : Kind::other;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        kind = Kind::timedOut;
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        kind = Kind::connectionLost;
        break;
    default:
        break;
    }
    // Only libcurl's fixed text: its error buffer may name hosts and paths.
    return HTTPTransportError(kind, int(code), QString::fromLatin1(curl_easy_strerror(code)));
}

/// Bytes moved so far in either direction, headers included.
qint64 bytesMoved(CURL* easy) {
    curl_off_t down = 0;
    curl_off_t up = 0;
    long headers = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
    return qint64(down) + qint64(up) + qint64(headers);
}

/// The piece of a file body libcurl reads and sends at once.
constexpr long uploadBufferBytes = 1024 * 1024;

bool isHTTPScheme(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

/// Methods whose repetition has no further effect (RFC 9110 9.2.2). Anything else (a folder
/// made, a single-use code exchanged, a rotating refresh token spent, an upload session
/// opened) must reach the server at most once.
bool isIdempotent(const QByteArray& method) {
    return method == "GET" || method == "HEAD" || method == "PUT" || method == "DELETE" ||
           method == "OPTIONS";
}

bool carriesBody(const QByteArray& method) {
    return method != "GET" && method != "HEAD" && method != "DELETE";
}

/// An easy handle and the multi handle that drives it. They are kept between calls (used by
/// one call at a time), so the multi handle's connection cache lets the next call to the
/// same host reuse its connection.
class Handles {
public:
    Handles() : easy(curl_easy_init()), multi(curl_multi_init()) {}
    ~Handles() {
        if (multi)
            curl_multi_cleanup(multi);
        if (easy)
            curl_easy_cleanup(easy);
    }
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;

    CURL* easy;
    CURLM* multi;
};

/// Idle handles of one client, and the name cache and TLS sessions all its calls share
/// (connections themselves are never shared between threads: libcurl does not support it).
class HandlePool {
public:
    HandlePool() {
        share = curl_share_init();
        if (!share)
            return;
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~HandlePool() {
        // Every easy handle goes before the share they use: libcurl refuses to free a share
        // that a handle still names.
        idle_.clear();
        if (share)
            curl_share_cleanup(share);
    }
    HandlePool(const HandlePool&) = delete;
    HandlePool& operator=(const HandlePool&) = delete;

    /// Handles for one call: an idle pair with its options reset (its connections kept), or
    /// a new one.
    std::unique_ptr<Handles> acquire() {
        std::unique_ptr<Handles> handles;
        {
            std::lock_guard lock(poolMutex_);
            if (!idle_.empty()) {
                handles = std::move(idle_.back());
                idle_.pop_back();
            }
        }
        if (handles)
            curl_easy_reset(handles->easy);
        else
            handles = std::make_unique<Handles>();
        return handles;
    }

    /// Takes back the handles of a call that ended with a complete response; beyond the idle
    /// limit they are freed at once (outside the lock), closing their connection.
    void release(std::unique_ptr<Handles> handles) {
        std::lock_guard lock(poolMutex_);
        if (idle_.size() < maxIdle)
            idle_.push_back(std::move(handles));
    }

    CURLSH* share = nullptr;

private:
    static constexpr size_t maxIdle = 8;

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<HandlePool*>(user)->shareMutexes_[index(data)].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<HandlePool*>(user)->shareMutexes_[index(data)].unlock();
    }
    static size_t index(curl_lock_data data) {
        return std::min<size_t>(size_t(data), size_t(CURL_LOCK_DATA_LAST) - 1);
    }

    std::mutex shareMutexes_[CURL_LOCK_DATA_LAST];
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Handles>> idle_;
};

/// The header list of one call.
struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() {
        if (list)
            curl_slist_free_all(list);
    }
    void append(const char* line) { list = curl_slist_append(list, line); }
};

/// Keeps the easy handle attached to its multi handle for the length of one transfer.
class Attachment {
public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        curl_multi_add_handle(multi_, easy_);
    }
    ~Attachment() { detach(); }
    void detach() {
        if (multi_)
            curl_multi_remove_handle(multi_, easy_);
        multi_ = nullptr;
    }

private:
    CURLM* multi_;
    CURL* easy_;
};

} // namespace

void CurlHTTPClient::initialiseGlobally() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A peer that closes its end must not kill the process through SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

struct CurlHTTPClient::Shared : HandlePool {};

CurlHTTPClient::CurlHTTPClient() : CurlHTTPClient(Options{}) {}

CurlHTTPClient::CurlHTTPClient(Options options) : options_(std::move(options)) {
    initialiseGlobally();
    shared_ = std::make_unique<Shared>();
}

CurlHTTPClient::~CurlHTTPClient() = default;

namespace {

/// Runs one transfer to its end. `transfer` is prepared by the caller (sink, body, progress).
HTTPResponse perform(const HTTPRequest& request, Transfer& transfer, HandlePool& pool,
                     const std::optional<std::chrono::milliseconds>& idleOverride) {
    if (!isHTTPScheme(request.url) || !request.url.isValid())
        throw StorageError(Code::invalidResponse);
    Cancellation::checkpoint();

    std::unique_ptr<Handles> handles = pool.acquire();
    if (!handles->easy || !handles->multi)
        throw HTTPTransportError(HTTPTransportError::Kind::other, int(CURLE_OUT_OF_MEMORY),
                                 QStringLiteral("Out of memory"));
    CURL* easy = handles->easy;
    transfer.token = Cancellation::current();

    const QByteArray url = request.url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (pool.share)
        curl_easy_setopt(easy, CURLOPT_SHARE, pool.share);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "127.0.0.0/8,localhost,::1");

    // The time-out is an idle limit, never a limit on the whole transfer.
    const auto idle = idleOverride.value_or(request.timeout);
    const long idleMs = std::max<long>(1, long(idle.count()));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, idleMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max<long>(1, (idleMs + 999) / 1000));

    const QByteArray method = request.method.toUpper();
    if (method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
        // Credentials given in headers stay with the host they were meant for.
        curl_easy_setopt(easy, CURLOPT_UNRESTRICTED_AUTH, 0L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }
    // libcurl silently sends a request again on a new connection when a kept-alive one
    // closes before any byte of the answer arrives ("Connection died, retrying a fresh
    // connect"), although the server may have acted on it. It does so only for a reused
    // connection: a request that must not be repeated goes out on a fresh one, and a lost
    // answer is then a transport error for the caller to judge.
    if (!isIdempotent(method))
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    if (carriesBody(method) || transfer.bodyLength > 0) {
        // Every body goes through the read callback with its length known up front, so
        // libcurl writes "Content-Length" itself and never chunks.
        curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(transfer.bodyLength));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, onSeek);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, &transfer);
        // A file body is read and sent in pieces of up to 1 MiB instead of libcurl's 64 KiB:
        // an 8 MiB upload chunk takes 8 turns of reading, sending and polling, not 128.
        if (transfer.bodyFile >= 0)
            curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferBytes);
    }

    HeaderList headers;
    bool hasContentType = false;
    for (const auto& [name, value] : request.headers.fields()) {
        // libcurl frames the body itself.
        if (HTTPHeaders::sameName(name, "Content-Length") ||
            HTTPHeaders::sameName(name, "Transfer-Encoding") ||
            HTTPHeaders::sameName(name, "Expect"))
            continue;
        if (HTTPHeaders::sameName(name, "Content-Type"))
            hasContentType = true;
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        headers.append(line.constData());
    }
    headers.append("Expect:");
    if (!hasContentType)
        headers.append("Content-Type:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);

    Attachment attachment(handles->multi, easy);

    CURLcode result = CURLE_OK;
    {
        // Wakes the poll below at once when the task is asked to stop.
        CURLM* multi = handles->multi;
        std::stop_callback wake(transfer.token, [multi] { curl_multi_wakeup(multi); });
        int running = 1;
        // The idle limit, measured precisely here: libcurl's own low-speed check (kept as a
        // backstop) averages over several seconds and fires late after a burst.
        const auto limit = std::chrono::milliseconds(idleMs);
        auto lastActivity = std::chrono::steady_clock::now();
        qint64 lastMoved = -1;
        for (;;) {
            CURLMcode status = curl_multi_perform(handles->multi, &running);
            if (status != CURLM_OK)
                throw HTTPTransportError(HTTPTransportError::Kind::other, int(status),
                                         QString::fromLatin1(curl_multi_strerror(status)));
            if (transfer.token.stop_requested())
                Cancellation::throwCancelled();
            if (!running)
                break;
            const auto now = std::chrono::steady_clock::now();
            const qint64 moved = bytesMoved(easy);
            if (moved != lastMoved) {
                lastMoved = moved;
                lastActivity = now;
            } else if (now - lastActivity >= limit) {
                qCWarning(lcHTTP) << "transfer idle for too long";
                throw HTTPTransportError(HTTPTransportError::Kind::timedOut,
                                         int(CURLE_OPERATION_TIMEDOUT),
                                         QStringLiteral("Timeout was reached"));
            }
            const auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(lastActivity + limit - now);
            const int wait = int(std::clamp<qint64>(remaining.count() + 1, 1, 1000));
            status = curl_multi_poll(handles->multi, nullptr, 0, wait, nullptr);
            if (status != CURLM_OK)
                throw HTTPTransportError(HTTPTransportError::Kind::other, int(status),
                                         QString::fromLatin1(curl_multi_strerror(status)));
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(handles->multi, &queued)) {
            if (message->msg == CURLMSG_DONE)
                result = message->data.result;
        }
    }

    if (transfer.token.stop_requested())
        Cancellation::throwCancelled();
    if (transfer.callbackError)
        std::rethrow_exception(transfer.callbackError);
    if (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT)
        throw StorageError(Code::invalidResponse);
    if (result != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        const HTTPTransportError error = transportError(result, osErrno);
        qCWarning(lcHTTP) << "transfer failed:" << error.what();
        throw error;
    }

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 100 || status > 999)
        throw StorageError(Code::invalidResponse); // no HTTP response at all
    HTTPResponse response;
    response.statusCode = int(status);
    response.headers = transfer.headers;
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    response.url = effective ? QUrl::fromEncoded(QByteArray(effective)) : request.url;

    // A complete response: the handles, and the connection if the server keeps it open, serve
    // a later call. (After a failure they are dropped, and their connections closed.)
    attachment.detach();
    pool.release(std::move(handles));

    if (transfer.progress && *transfer.progress && transfer.bodyLength > transfer.lastProgress &&
        transfer.bodyLength > 0) {
        transfer.lastProgress = transfer.bodyLength;
        (*transfer.progress)(transfer.bodyLength);
    }
    return response;
}

} // namespace

HTTPReply CurlHTTPClient::send(const HTTPRequest& request) {
    Transfer transfer;
    transfer.bodyData = &request.body;
    transfer.bodyLength = request.body.size();
    HTTPReply reply;
    reply.response = perform(request, transfer, *shared_, options_.idleLimit);
    reply.body = std::move(transfer.body);
    return reply;
}

HTTPReply CurlHTTPClient::upload(const HTTPRequest& request, const HTTPBody& body,
                                 const HTTPProgress& progress) {
    Transfer transfer;
    transfer.progress = &progress;
    if (body.isFile()) {
        const ReadableFile& file = *body.file();
        const qint64 available = file.currentSize();
        if (body.fileOffset() < 0 || body.size() < 0 || available < body.fileOffset() + body.size())
            throw StorageError(Code::localFileUnreadable);
        transfer.bodyFile = file.descriptor();
        transfer.bodyOffset = body.fileOffset();
        // The slice is read once, front to back: the kernel reads it ahead at once, so a file
        // that is not cached is not read in small synchronous steps.
        ::posix_fadvise(file.descriptor(), off_t(body.fileOffset()), off_t(body.size()),
                        POSIX_FADV_WILLNEED);
    } else {
        transfer.bodyData = &body.data();
    }
    transfer.bodyLength = body.size();
    HTTPReply reply;
    reply.response = perform(request, transfer, *shared_, options_.idleLimit);
    reply.body = std::move(transfer.body);
    return reply;
}

HTTPDownload CurlHTTPClient::download(const HTTPRequest& request, const QString& destination) {
    Transfer transfer;
    transfer.sink = Sink::file;
    transfer.bodyData = &request.body;
    transfer.bodyLength = request.body.size();
    // A failed transfer, a cancelled one or a reply that is no HTTP response: the partial file
    // goes with this object, so none stays behind.
    auto file = std::make_shared<PartialFile>(destination);
    transfer.fileDescriptor = file->handle();
    HTTPDownload result;
    result.response = perform(request, transfer, *shared_, options_.idleLimit);
    result.filePath = file->path();
    result.file = std::move(file);
    return result;
}

} // namespace tw
