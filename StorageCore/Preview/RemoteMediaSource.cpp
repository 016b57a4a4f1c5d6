#include "StorageCore/Preview/RemoteMediaSource.h"

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Preview/PreviewKind.h"

#include <QLoggingCategory>
#include <QRandomGenerator>

#include <httplib.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>

Q_LOGGING_CATEGORY(lcRemoteMedia, "RemoteMedia")

namespace tw {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);

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

/// Hands the chunks of one request from its read task to the connection that sends them.
/// At most one chunk waits in the slot, so the next read overlaps the sending of the last.
struct Pipe {
    std::mutex mutex;
    std::condition_variable_any cv;
    std::optional<QByteArray> chunk;
    bool finished = false; // the task has ended (all read, an empty read, an error, cancelled)
};

} // namespace

struct RemoteMediaSource::Impl : std::enable_shared_from_this<RemoteMediaSource::Impl> {
    std::shared_ptr<StorageProvider> provider;
    FileRef ref;
    qint64 size = 0;
    std::string contentType;

    httplib::Server server;
    std::thread listener;
    int port = -1;
    std::atomic<int> boundPort{-1}; // read by the server's threads
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex; // guards paths, tasks, nextID only
    std::set<std::string> paths;
    std::unordered_map<quint64, TaskHandle> tasks;
    quint64 nextID = 1;

    bool start();
    void cancelAll();
    void forget(quint64 id);
    bool knows(const std::string& path) const {
        std::lock_guard lock(mutex);
        return paths.count(path) > 0;
    }
    void serve(const httplib::Request& request, httplib::Response& response);
    quint64 startTask(const std::shared_ptr<Pipe>& pipe, qint64 start, qint64 end);
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
    // Not runDetached: the job must run even when cancelled before it starts, so that the
    // connection waiting on the pipe learns that no data will come.
    detail::startOnPool(
        TaskPool::general, [pipe, provider = provider, ref = ref, start, end, weak, id, stop] {
            Cancellation::Scope scope(stop->get_token());
            try {
                qint64 offset = start;
                while (offset < end) {
                    Cancellation::checkpoint();
                    const qint64 want = std::min(chunkSize, end - offset);
                    QByteArray data = provider->read(ref, ByteRange{offset, offset + want});
                    if (data.size() > want) // never pass more than was asked for
                        data.truncate(want);
                    if (data.isEmpty())
                        break;
                    offset += data.size();
                    std::unique_lock slot(pipe->mutex);
                    Cancellation::wait(pipe->cv, slot, [&] { return !pipe->chunk.has_value(); });
                    pipe->chunk = std::move(data);
                    slot.unlock();
                    pipe->cv.notify_all();
                }
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
            pipe->cv.notify_all();
            if (auto impl = weak.lock())
                impl->forget(id);
        });
    return id;
}

void RemoteMediaSource::Impl::forget(quint64 id) {
    std::lock_guard lock(mutex);
    tasks.erase(id);
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

// ---- HTTP ---------------------------------------------------------------------------------

void RemoteMediaSource::Impl::serve(const httplib::Request& request, httplib::Response& response) {
    if (!knows(request.path)) {
        response.status = 404;
        return;
    }
    response.set_header("Accept-Ranges", "bytes");
    response.set_header("Cache-Control", "no-store");

    // The HTTP library applies the parsed ranges to the content provider as they stand,
    // without clamping them to the length; normalise them here: one satisfiable range, cut at
    // the end of the file, or the whole file, or 416.
    auto& ranges = const_cast<httplib::Request&>(request).ranges;
    if (ranges.size() > 1)
        ranges.clear(); // several ranges: answer with the whole file
    if (ranges.size() == 1) {
        const qint64 first = ranges[0].first;
        const qint64 second = ranges[0].second;
        qint64 start, last;
        if (first < 0) { // suffix: the last `second` bytes
            start = std::max<qint64>(0, size - std::max<qint64>(second, 0));
            last = size - 1;
            if (second <= 0)
                start = size; // "bytes=-0" is unsatisfiable
        } else {
            start = first;
            last = second < 0 ? size - 1 : std::min<qint64>(second, size - 1);
        }
        if (start >= size || start > last) {
            ranges.clear();
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        ranges[0] = {static_cast<ssize_t>(start), static_cast<ssize_t>(last)};
    }

    auto pipe = std::make_shared<Pipe>();
    auto taskID = std::make_shared<std::optional<quint64>>();
    response.set_content_provider(
        static_cast<size_t>(size), contentType,
        [this, pipe, taskID](size_t offset, size_t length, httplib::DataSink& sink) {
            if (!*taskID) // first call: the whole range still to send
                *taskID = startTask(pipe, qint64(offset), qint64(offset + length));
            std::unique_lock lock(pipe->mutex);
            for (;;) {
                if (pipe->chunk) {
                    QByteArray data = std::move(*pipe->chunk);
                    pipe->chunk.reset();
                    lock.unlock();
                    pipe->cv.notify_all();
                    return sink.write(data.constData(), size_t(data.size()));
                }
                // Ended before everything was sent (an empty read, a failure, cancelled):
                // closing the connection tells the player.
                if (pipe->finished || stopping)
                    return false;
                pipe->cv.wait_for(lock, kPollInterval);
                lock.unlock();
                const bool open = sink.is_writable(); // false once the player hung up
                lock.lock();
                if (!open)
                    return false;
            }
        },
        [this, taskID](bool) {
            // The connection is done with this request: cancel its read if it still runs.
            if (!*taskID)
                return;
            TaskHandle task;
            {
                std::lock_guard lock(mutex);
                auto it = tasks.find(**taskID);
                if (it == tasks.end())
                    return;
                task = it->second;
                tasks.erase(it);
            }
            task.cancel();
        });
}

bool RemoteMediaSource::Impl::start() {
    if (port > 0)
        return true;
    server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            // Only the player, which names this server's own address: a web page that rebinds
            // a name to the loopback address sends its own Host, and every cross-origin
            // request of a browser carries an Origin.
            const std::string ownHost = "127.0.0.1:" + std::to_string(boundPort.load());
            if (request.get_header_value_count("Host") != 1 ||
                request.get_header_value("Host") != ownHost || request.has_header("Origin")) {
                response.status = 403;
                return httplib::Server::HandlerResponse::Handled;
            }
            if (request.method != "GET" && request.method != "HEAD") {
                response.status = 405;
                response.set_header("Allow", "GET, HEAD");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    server.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
        serve(request, response);
    });
    server.set_keep_alive_timeout(2);
    // The player keeps a few connections at most; the library's default is one thread per
    // core for every source.
    server.new_task_queue = [] { return new httplib::ThreadPool(4); };
    const int bound = server.bind_to_any_port("127.0.0.1");
    boundPort = bound;
    if (bound <= 0) {
        qCWarning(lcRemoteMedia) << "no loopback port for the media server";
        return false;
    }
    listener = std::thread([this] {
        pthread_setname_np(pthread_self(), "tw-media-http");
        server.listen_after_bind();
    });
    // stop() only takes effect once the server runs: wait for that (microseconds).
    while (!server.is_running())
        std::this_thread::yield();
    port = bound;
    return true;
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
    // Stop serving at once; the server's threads are joined on a thread of their own, since
    // an idle keep-alive connection holds its worker for up to the keep-alive time-out and
    // this may be the main thread.
    impl_->stopping = true;
    impl_->cancelAll();
    if (impl_->listener.joinable()) {
        impl_->server.stop(); // closes the listening socket now; no new connection is taken
        std::thread([impl = impl_] { impl->listener.join(); }).detach();
    }
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

int RemoteMediaSource::runningRequests() const {
    std::lock_guard lock(impl_->mutex);
    return int(impl_->tasks.size());
}

} // namespace tw
