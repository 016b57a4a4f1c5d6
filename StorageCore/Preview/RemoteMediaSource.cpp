#include "StorageCore/Preview/RemoteMediaSource.h"

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Preview/PreviewKind.h"

#include <QLoggingCategory>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

Q_LOGGING_CATEGORY(lcRemoteMedia, "RemoteMedia")

namespace tw {

namespace {

using SteadyClock = std::chrono::steady_clock;

/// A name for the URL's last segment: the item's name reduced to plain characters, so that
/// the player still sees the extension while nothing needs escaping.
QString urlSafeName(const QString& name) {
    QString out;
    for (QChar c : name.right(120)) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_');
        out.append(plain ? c : QLatin1Char('_'));
    }
    while (out.startsWith(QLatin1Char('.')))
        out.remove(0, 1);
    return out.isEmpty() ? QStringLiteral("media") : out;
}

QString randomToken() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words), sizeof(words)).toHex());
}

/// Hands the chunks of one request from its read task to the server thread that sends them.
/// At most one chunk waits in the slot, so the next read overlaps the sending of the last.
struct Pipe {
    std::mutex mutex;
    std::condition_variable_any cv;
    std::optional<QByteArray> chunk;
    bool finished = false; // the task has ended (all read, an empty read, an error, cancelled)
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

/// A decimal number of digits only; values past 2^62 saturate there (a position beyond any
/// file). Nothing for an empty text or any other character.
std::optional<qint64> decimal(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    constexpr qint64 ceiling = qint64(1) << 62;
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value > (ceiling - (c - '0')) / 10 ? ceiling : value * 10 + (c - '0');
    }
    return value;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

} // namespace

/// One request head as the server reads it.
struct MediaRequest {
    std::string method;
    std::string path; // the target without its query
    bool http10 = false;
    std::vector<std::pair<std::string, std::string>> fields; // in order, names as sent

    int count(std::string_view name) const {
        int n = 0;
        for (const auto& field : fields)
            n += equalsIgnoringCase(field.first, name) ? 1 : 0;
        return n;
    }
    std::optional<std::string_view> value(std::string_view name) const {
        for (const auto& field : fields)
            if (equalsIgnoringCase(field.first, name))
                return std::string_view(field.second);
        return std::nullopt;
    }
    /// Whether the client keeps the connection for another request.
    bool keepsAlive() const {
        const auto connection = value("Connection");
        if (http10)
            return connection && equalsIgnoringCase(trimmed(*connection), "keep-alive");
        return !connection || !equalsIgnoringCase(trimmed(*connection), "close");
    }
    /// Whether a body follows the head (never expected: GET and HEAD only).
    bool hasBody() const {
        if (count("Transfer-Encoding") > 0)
            return true;
        const auto length = value("Content-Length");
        return length && decimal(trimmed(*length)).value_or(1) != 0;
    }

    /// Takes one request head off the front of `input`. Nothing while the head is incomplete;
    /// `status` 0 and a request, or `status` 400/431 for a head that cannot be one.
    static std::optional<MediaRequest> take(QByteArray& input, int& status);
};

/// The answer to one request: a head, and for a GET of the file the bytes [start, end).
struct MediaAnswer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> fields;
    qint64 start = 0;
    qint64 end = 0;
    bool streams = false;
    bool known = false; // the request named a path the server handed out

    /// A refusal without a body.
    static MediaAnswer refusal(int status) {
        MediaAnswer answer;
        answer.status = status;
        answer.fields.emplace_back("Content-Length", "0");
        return answer;
    }

    QByteArray head(bool close) const {
        std::string text =
            "HTTP/1.1 " + std::to_string(status) + ' ' + reasonPhrase(status) + "\r\n";
        for (const auto& [name, value] : fields)
            text += name + ": " + value + "\r\n";
        if (close)
            text += "Connection: close\r\n";
        text += "\r\n";
        return QByteArray::fromStdString(text);
    }
};

std::optional<MediaRequest> MediaRequest::take(QByteArray& input, int& status) {
    constexpr qsizetype maxHead = 8192;
    status = 0;
    // Empty lines before a request are allowed (RFC 9112 2.2).
    qsizetype begin = 0;
    while (begin + 1 < input.size() && input[begin] == '\r' && input[begin + 1] == '\n')
        begin += 2;
    input.remove(0, begin); // so that a stream of empty lines never piles up
    begin = 0;
    const qsizetype end = input.indexOf("\r\n\r\n", begin);
    if (end < 0) {
        if (input.size() - begin > maxHead) {
            status = 431;
            return MediaRequest();
        }
        return std::nullopt;
    }
    if (end - begin > maxHead) {
        status = 431;
        return MediaRequest();
    }
    const std::string head = input.mid(begin, end - begin).toStdString();
    input.remove(0, end + 4);

    MediaRequest request;
    status = 400;
    size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = head.size();
        const std::string_view line(head.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (line.find('\0') != std::string_view::npos || line.find('\n') != std::string_view::npos)
            return request;
        if (first) {
            first = false;
            const size_t space1 = line.find(' ');
            const size_t space2 =
                space1 == std::string_view::npos ? space1 : line.find(' ', space1 + 1);
            if (space2 == std::string_view::npos || line.find(' ', space2 + 1) != line.npos)
                return request;
            request.method = std::string(line.substr(0, space1));
            const std::string_view target = line.substr(space1 + 1, space2 - space1 - 1);
            const std::string_view version = line.substr(space2 + 1);
            if (request.method.empty() || target.empty() || target.front() != '/')
                return request;
            if (version == "HTTP/1.0")
                request.http10 = true;
            else if (version != "HTTP/1.1")
                return request;
            request.path = std::string(target.substr(0, target.find('?')));
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return request;
        const std::string_view name = line.substr(0, colon);
        if (name.find(' ') != name.npos || name.find('\t') != name.npos)
            return request;
        request.fields.emplace_back(std::string(name),
                                    std::string(trimmed(line.substr(colon + 1))));
    }
    status = 0;
    return request;
}

struct RemoteMediaSource::Impl : std::enable_shared_from_this<RemoteMediaSource::Impl> {
    /// How long a connection may take to send a complete request head, counted from its
    /// accept or from the end of its previous answer (the keep-alive time).
    static constexpr std::chrono::milliseconds headTimeout{5000};
    /// A connection is never closed to admit another before it had this long to send its
    /// head, so a flood of new connections cannot push out the player's before it is read.
    static constexpr std::chrono::milliseconds admissionGrace{100};

    std::shared_ptr<StorageProvider> provider;
    FileRef ref;
    qint64 size = 0;
    std::string contentType;

    std::thread serverThread;
    int listener = -1;
    int wakeFd = -1;
    int port = -1;
    std::atomic<int> boundPort{-1}; // read by the server thread
    std::atomic<bool> stopping{false};
    std::atomic<int> openConnections{0};

    mutable std::mutex mutex; // guards paths, tasks, nextID only
    std::set<std::string> paths;
    std::unordered_map<quint64, TaskHandle> tasks;
    quint64 nextID = 1;
    QByteArray head; // the file's first bytes, once fetched
    std::atomic<int> headReads{0};

    ~Impl() {
        if (listener >= 0)
            ::close(listener);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    bool start();
    void stop();
    void wake() const;
    void cancelAll();
    void forget(quint64 id);
    /// Cancels the task if it still runs.
    void endTask(quint64 id);
    bool knows(const std::string& path) const {
        std::lock_guard lock(mutex);
        return paths.count(path) > 0;
    }
    MediaAnswer answer(const MediaRequest& request) const;
    quint64 startTask(const std::shared_ptr<Pipe>& pipe, qint64 start, qint64 end);
    void run();

    /// Reads [start, end) through the provider in chunks of at most chunkSize, handing each
    /// to `deliver`; stops early at an empty read. Throws what the provider throws.
    template <typename Deliver>
    static void readRange(StorageProvider& provider, const FileRef& ref, qint64 start, qint64 end,
                          Deliver&& deliver) {
        qint64 offset = start;
        while (offset < end) {
            Cancellation::checkpoint();
            const qint64 want = std::min(chunkSize, end - offset);
            QByteArray data = provider.read(ref, ByteRange{offset, offset + want});
            if (data.size() > want) // never pass more than was asked for
                data.truncate(want);
            if (data.isEmpty())
                break;
            offset += data.size();
            deliver(std::move(data));
        }
    }
};

// ---- request tasks ------------------------------------------------------------------------

quint64 RemoteMediaSource::Impl::startTask(const std::shared_ptr<Pipe>& pipe, qint64 start,
                                           qint64 end) {
    std::weak_ptr<Impl> weak = weak_from_this();
    auto stop = std::make_shared<std::stop_source>();
    std::lock_guard lock(mutex);
    const quint64 id = nextID++;
    // The entry is made under the lock before the task can end and remove it.
    tasks[id] = TaskHandle(stop);
    // A range that starts inside the fetched head begins with its bytes, read from memory.
    QByteArray fromHead;
    if (start < head.size())
        fromHead = head.mid(start, std::min<qint64>(end, head.size()) - start);
    // Not runDetached: the job must run even when cancelled before it starts, so that the
    // connection waiting on the pipe learns that no data will come.
    detail::startOnPool(TaskPool::general, [pipe, provider = provider, ref = ref, start, end, weak,
                                            id, stop, fromHead = std::move(fromHead)]() mutable {
        Cancellation::Scope scope(stop->get_token());
        try {
            const auto deliver = [&](QByteArray data) {
                std::unique_lock slot(pipe->mutex);
                Cancellation::wait(pipe->cv, slot, [&] { return !pipe->chunk.has_value(); });
                pipe->chunk = std::move(data);
                slot.unlock();
                if (auto impl = weak.lock())
                    impl->wake();
            };
            const qint64 from = start + fromHead.size();
            if (!fromHead.isEmpty())
                deliver(std::move(fromHead));
            readRange(*provider, ref, from, end, deliver);
        } catch (...) {
            const StorageError error = StorageError::current();
            if (!error.isCancelled())
                qCWarning(lcRemoteMedia)
                    << "ranged read failed:" << StorageError::caseName(error.code());
        }
        {
            std::lock_guard slot(pipe->mutex);
            pipe->finished = true;
        }
        if (auto impl = weak.lock()) {
            impl->forget(id);
            impl->wake();
        }
    });
    return id;
}

void RemoteMediaSource::Impl::forget(quint64 id) {
    std::lock_guard lock(mutex);
    tasks.erase(id);
}

void RemoteMediaSource::Impl::endTask(quint64 id) {
    TaskHandle task;
    {
        std::lock_guard lock(mutex);
        auto it = tasks.find(id);
        if (it == tasks.end())
            return;
        task = it->second;
        tasks.erase(it);
    }
    task.cancel();
}

void RemoteMediaSource::Impl::cancelAll() {
    std::unordered_map<quint64, TaskHandle> taken;
    {
        std::lock_guard lock(mutex);
        taken.swap(tasks);
    }
    for (auto& [id, task] : taken)
        task.cancel();
}

void RemoteMediaSource::Impl::wake() const {
    if (wakeFd < 0)
        return;
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

// ---- HTTP ---------------------------------------------------------------------------------

MediaAnswer RemoteMediaSource::Impl::answer(const MediaRequest& request) const {
    MediaAnswer answer = MediaAnswer::refusal(0);
    // Only the player, which names this server's own address: a web page that rebinds a name
    // to the loopback address sends its own Host, and every cross-origin request of a browser
    // carries an Origin.
    const std::string ownHost = "127.0.0.1:" + std::to_string(boundPort.load());
    if (request.count("Host") != 1 || *request.value("Host") != ownHost ||
        request.count("Origin") > 0) {
        answer.status = 403;
        return answer;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        answer.status = 405;
        answer.fields.emplace_back("Allow", "GET, HEAD");
        return answer;
    }
    if (!knows(request.path)) {
        answer.status = 404;
        return answer;
    }
    answer.known = true;
    answer.fields.clear();
    answer.fields.emplace_back("Accept-Ranges", "bytes");
    answer.fields.emplace_back("Cache-Control", "no-store");

    // One satisfiable range, cut at the end of the file; several ranges, or a Range field
    // that does not parse, get the whole file; an unsatisfiable range 416.
    qint64 start = 0, last = size - 1;
    bool ranged = false;
    if (const auto range = request.value("Range")) {
        const std::string_view text = trimmed(*range);
        if (text.size() > 6 && equalsIgnoringCase(text.substr(0, 6), "bytes=") &&
            text.find(',') == text.npos) {
            const std::string_view spec = trimmed(text.substr(6));
            const size_t dash = spec.find('-');
            if (dash != spec.npos) {
                const auto first = decimal(trimmed(spec.substr(0, dash)));
                const std::string_view secondText = trimmed(spec.substr(dash + 1));
                const auto second = decimal(secondText);
                bool satisfiable = true;
                if (!first && second) { // suffix: the last `second` bytes
                    ranged = true;
                    start = std::max<qint64>(0, size - *second);
                    satisfiable = *second > 0;
                } else if (first && (secondText.empty() || (second && *second >= *first))) {
                    ranged = true;
                    start = *first;
                    last = second ? std::min(*second, size - 1) : size - 1;
                    satisfiable = start < size;
                }
                if (ranged && !satisfiable) {
                    answer.status = 416;
                    answer.fields.emplace_back("Content-Range", "bytes */" + std::to_string(size));
                    answer.fields.emplace_back("Content-Length", "0");
                    return answer;
                }
            }
        }
    }
    answer.status = ranged ? 206 : 200;
    answer.fields.emplace_back("Content-Type", contentType);
    answer.fields.emplace_back("Content-Length", std::to_string(last - start + 1));
    if (ranged)
        answer.fields.emplace_back("Content-Range", "bytes " + std::to_string(start) + '-' +
                                                        std::to_string(last) + '/' +
                                                        std::to_string(size));
    answer.start = start;
    answer.end = last + 1;
    answer.streams = request.method == "GET";
    return answer;
}

namespace {

/// One connection of the server thread.
struct Connection {
    int fd = -1;
    QByteArray input;                     // received, not yet taken as a request
    QByteArray output;                    // to send
    qsizetype sent = 0;                   // of `output`
    bool answering = false;               // an answer is under way
    bool closeAfter = false;              // the connection ends with this answer
    bool trusted = false;                 // it asked for a path the server handed out
    bool gone = false;                    // closed; removed at the end of the turn
    SteadyClock::time_point waitingSince; // for its next request head
    // The file's bytes of the answer under way.
    std::shared_ptr<Pipe> pipe;
    quint64 taskID = 0;
    qint64 remaining = 0;

    bool flushed() const { return sent == output.size(); }
};

} // namespace

void RemoteMediaSource::Impl::run() {
    pthread_setname_np(pthread_self(), "tw-media-http");
    std::list<Connection> connections;
    bool listenerReady = false;

    const auto close = [&](Connection& connection) {
        if (connection.gone)
            return;
        if (connection.taskID)
            endTask(connection.taskID);
        connection.taskID = 0;
        connection.pipe.reset();
        ::close(connection.fd);
        connection.gone = true;
        openConnections.fetch_sub(1);
    };
    // Sends what the socket takes now; false when the connection failed.
    const auto flush = [&](Connection& connection) {
        while (!connection.flushed()) {
            const ssize_t n =
                ::send(connection.fd, connection.output.constData() + connection.sent,
                       size_t(connection.output.size() - connection.sent), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return true;
            if (n <= 0)
                return false;
            connection.sent += n;
        }
        connection.output.clear();
        connection.sent = 0;
        return true;
    };
    // Moves the answer under way on: the next chunk into the output once the last is sent;
    // the end of the answer; the next request already received.
    std::function<void(Connection&)> advance = [&](Connection& connection) {
        while (!connection.gone) {
            if (!flush(connection)) {
                close(connection);
                return;
            }
            if (!connection.flushed())
                return; // the socket is full: POLLOUT resumes
            if (connection.answering && connection.remaining > 0) {
                std::unique_lock lock(connection.pipe->mutex);
                if (connection.pipe->chunk) {
                    QByteArray data = std::move(*connection.pipe->chunk);
                    connection.pipe->chunk.reset();
                    lock.unlock();
                    connection.pipe->cv.notify_all(); // the next read may start
                    if (data.size() > connection.remaining)
                        data.truncate(connection.remaining);
                    connection.remaining -= data.size();
                    connection.output = std::move(data);
                    continue;
                }
                if (!connection.pipe->finished)
                    return; // the chunk is still being read
                // Ended before everything was sent (an empty read, a failure, cancelled):
                // closing the connection tells the player.
                lock.unlock();
                close(connection);
                return;
            }
            if (connection.answering) {
                connection.answering = false;
                if (connection.taskID)
                    endTask(connection.taskID);
                connection.taskID = 0;
                connection.pipe.reset();
                if (connection.closeAfter || stopping) {
                    close(connection);
                    return;
                }
                connection.waitingSince = SteadyClock::now();
            }
            // Waiting for a request: take the next one received, if complete.
            int status = 0;
            std::optional<MediaRequest> request = MediaRequest::take(connection.input, status);
            if (!request)
                return;
            MediaAnswer reply;
            if (status != 0) {
                reply = MediaAnswer::refusal(status);
                connection.closeAfter = true;
            } else {
                reply = answer(*request);
                // A body is never expected; it is not read, so the connection ends.
                connection.closeAfter = !request->keepsAlive() || request->hasBody();
            }
            connection.trusted = connection.trusted || reply.known;
            connection.answering = true;
            connection.output = reply.head(connection.closeAfter);
            connection.sent = 0;
            connection.remaining = 0;
            if (reply.streams && reply.end > reply.start) {
                connection.pipe = std::make_shared<Pipe>();
                connection.remaining = reply.end - reply.start;
                connection.taskID = startTask(connection.pipe, reply.start, reply.end);
            }
        }
    };
    const auto receive = [&](Connection& connection) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n <= 0) {
                close(connection);
                return;
            }
            connection.input.append(buffer, n);
            if (connection.input.size() > 16384)
                break; // more than a head may hold: answered 431 below
        }
        advance(connection);
    };
    // The connection to close so that a new one can be admitted, if any may be closed now;
    // otherwise `retry` tells when one may. The player's connections go only when no other
    // waiting connection is left, however young.
    const auto evictable = [&](SteadyClock::time_point now,
                               std::optional<SteadyClock::time_point>& retry) -> Connection* {
        for (const bool trusted : {false, true}) {
            Connection* best = nullptr;
            bool any = false;
            for (Connection& connection : connections) {
                if (connection.gone || connection.answering || connection.trusted != trusted)
                    continue;
                any = true;
                const auto eligible = connection.waitingSince + admissionGrace;
                if (eligible > now) {
                    retry = retry ? std::min(*retry, eligible) : eligible;
                    continue;
                }
                if (!best || connection.waitingSince < best->waitingSince)
                    best = &connection;
            }
            if (any)
                return best;
        }
        return nullptr;
    };

    std::vector<pollfd> fds;
    std::vector<Connection*> polled;
    while (!stopping) {
        const auto now = SteadyClock::now();
        std::optional<SteadyClock::time_point> next;
        const auto until = [&](SteadyClock::time_point at) {
            next = next ? std::min(*next, at) : at;
        };

        // The listener is watched while a connection can be admitted.
        std::optional<SteadyClock::time_point> retry;
        const bool admitting =
            openConnections.load() < maxConnections || evictable(now, retry) != nullptr;
        if (!admitting && retry)
            until(*retry);

        fds.clear();
        polled.clear();
        fds.push_back({wakeFd, POLLIN, 0});
        fds.push_back({listener, short(admitting ? POLLIN : 0), 0});
        for (Connection& connection : connections) {
            short events = POLLRDHUP;
            if (!connection.answering) {
                events |= POLLIN;
                until(connection.waitingSince + headTimeout);
            } else if (!connection.flushed()) {
                events |= POLLOUT;
            }
            fds.push_back({connection.fd, events, 0});
            polled.push_back(&connection);
        }
        int timeout = -1;
        if (next) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
            timeout = int(std::clamp<qint64>(wait.count(), 0, 60000));
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            qCWarning(lcRemoteMedia) << "poll failed, errno" << errno;
            break;
        }
        if (stopping)
            break;
        if (ready > 0 && fds[0].revents) {
            quint64 count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
        }
        listenerReady = ready > 0 && (fds[1].revents & POLLIN);

        for (size_t i = 0; i < polled.size(); ++i) {
            Connection& connection = *polled[i];
            const short events = ready > 0 ? fds[i + 2].revents : 0;
            if (connection.gone)
                continue;
            if (connection.answering) {
                // The player hung up (a seek): its read is cancelled.
                if (events & (POLLRDHUP | POLLHUP | POLLERR)) {
                    close(connection);
                    continue;
                }
                advance(connection); // sends, takes the next chunk, or ends the answer
            } else if (events) {
                receive(connection);
            }
        }

        const auto after = SteadyClock::now();
        for (Connection& connection : connections) {
            if (!connection.gone && !connection.answering &&
                after >= connection.waitingSince + headTimeout)
                close(connection); // idle, or too slow with its head
        }
        connections.remove_if([](const Connection& connection) { return connection.gone; });

        // New connections, a bounded number per turn so the others keep being served.
        for (int accepted = 0; listenerReady && accepted < maxConnections; ++accepted) {
            if (openConnections.load() >= maxConnections) {
                std::optional<SteadyClock::time_point> ignored;
                Connection* victim = evictable(SteadyClock::now(), ignored);
                if (!victim)
                    break;
                close(*victim);
                connections.remove_if([](const Connection& c) { return c.gone; });
            }
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                break;
            openConnections.fetch_add(1);
            Connection& connection = connections.emplace_back();
            connection.fd = fd;
            connection.waitingSince = SteadyClock::now();
            // A request that waited in the backlog is there already.
            receive(connection);
        }
        connections.remove_if([](const Connection& connection) { return connection.gone; });
    }

    for (Connection& connection : connections)
        close(connection);
}

bool RemoteMediaSource::Impl::start() {
    if (port > 0)
        return true;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        qCWarning(lcRemoteMedia) << "no socket for the media server, errno" << errno;
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0; // the system chooses
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        qCWarning(lcRemoteMedia) << "no loopback port for the media server, errno" << errno;
        ::close(fd);
        if (event >= 0)
            ::close(event);
        return false;
    }
    listener = fd;
    wakeFd = event;
    port = ntohs(address.sin_port);
    boundPort = port;
    serverThread = std::thread([this] { run(); });
    return true;
}

void RemoteMediaSource::Impl::stop() {
    stopping = true;
    cancelAll();
    if (serverThread.joinable()) {
        wake();
        serverThread.join(); // the loop never blocks but in poll(): it ends at once
    }
}

// ---- RemoteMediaSource --------------------------------------------------------------------

std::shared_ptr<RemoteMediaSource>
RemoteMediaSource::create(const FileItem& item, std::shared_ptr<StorageProvider> provider) {
    if (!item.sizeBytes || *item.sizeBytes < 1 || !provider)
        return nullptr;
    const auto type = PreviewKinds::contentType(item.name, item.mimeType);
    if (!type)
        return nullptr;
    return std::shared_ptr<RemoteMediaSource>(
        new RemoteMediaSource(item, *item.sizeBytes, type->name(), std::move(provider)));
}

RemoteMediaSource::RemoteMediaSource(const FileItem& item, qint64 size, QString contentType,
                                     std::shared_ptr<StorageProvider> provider)
    : item_(item), size_(size), contentType_(std::move(contentType)),
      impl_(std::make_shared<Impl>()) {
    impl_->provider = std::move(provider);
    impl_->ref = item.ref;
    impl_->size = size;
    impl_->contentType = contentType_.toStdString();
}

RemoteMediaSource::~RemoteMediaSource() {
    // Stops serving at once: every connection and the listening socket close; reads already
    // under way are cancelled and end on their own worker threads.
    impl_->stop();
}

QUrl RemoteMediaSource::makeAsset() {
    if (!impl_->start())
        return QUrl();
    const QString path = QStringLiteral("/tessarow-stream/") + randomToken() + QLatin1Char('/') +
                         urlSafeName(item_.name);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->paths.insert(path.toStdString());
    }
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(impl_->port).arg(path));
}

void RemoteMediaSource::cancelAll() {
    impl_->cancelAll();
}

TaskHandle RemoteMediaSource::fetchHead(QObject* receiver, std::function<void(bool)> onDone) {
    if (hasHead())
        return runTask(
            receiver, [] {},
            [onDone = std::move(onDone)](TaskResult<std::monostate>) { onDone(true); });
    const qint64 want = std::min(headSize, size_);
    return runTask(
        receiver,
        [impl = impl_, want] {
            impl->headReads.fetch_add(1);
            const std::shared_ptr<void> done(nullptr,
                                             [impl](void*) { impl->headReads.fetch_sub(1); });
            QByteArray bytes;
            Impl::readRange(*impl->provider, impl->ref, 0, want,
                            [&](QByteArray data) { bytes.append(data); });
            Cancellation::checkpoint();
            std::lock_guard lock(impl->mutex);
            if (bytes.size() > impl->head.size())
                impl->head = std::move(bytes);
        },
        [onDone = std::move(onDone)](TaskResult<std::monostate> result) {
            if (!result.ok() && !result.isCancelled())
                qCWarning(lcRemoteMedia)
                    << "reading the head failed:" << StorageError::caseName(result.error().code());
            onDone(result.ok());
        });
}

bool RemoteMediaSource::fetchingHead() const {
    return impl_->headReads.load() > 0;
}

bool RemoteMediaSource::hasHead() const {
    std::lock_guard lock(impl_->mutex);
    return !impl_->head.isEmpty();
}

int RemoteMediaSource::runningRequests() const {
    std::lock_guard lock(impl_->mutex);
    return int(impl_->tasks.size());
}

int RemoteMediaSource::openConnections() const {
    return impl_->openConnections.load();
}

} // namespace tw
