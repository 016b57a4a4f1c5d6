// The media source's range server: the HTTP protocol it offers the player (spoken here by a
// raw socket client, so that closing a connection half-way is under the test's control), and
// real playback of audio and video through Qt Multimedia with a slow back end.
#include "StorageCore/Preview/RemoteMediaSource.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "tests/support/ConnectionFlood.h"
#include "tests/support/FakeStorageProvider.h"
#include "tests/support/QtPrinters.h"

#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaPlayer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tw;
using test::ConnectionFlood;
using test::FakeStorageProvider;
using Op = FakeStorageProvider::Op;
using namespace std::chrono_literals;

namespace {

/// A minimal HTTP/1.1 client over a raw socket.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(quint16(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }
    ~RawClient() { close(); }
    bool connected() const { return connected_; }
    void send(const QByteArray& bytes) {
        (void)!::write(fd_, bytes.constData(), size_t(bytes.size()));
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    /// Everything until the server closes the connection (or 10 s pass).
    QByteArray readAll() {
        QByteArray all;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof(buf));
            if (n <= 0) {
                closedByServer_ = n == 0;
                break;
            }
            all.append(buf, n);
        }
        return all;
    }
    /// One answer on a kept-alive connection: its head and as many bytes as its
    /// Content-Length names (none for HEAD; less when the server closes first). Bytes of the
    /// next answer stay for the next call.
    QByteArray readOne(bool head = false) {
        char buf[65536];
        qsizetype wanted = -1;
        while (wanted < 0 || pending_.size() < wanted) {
            const qsizetype end = pending_.indexOf("\r\n\r\n");
            if (wanted < 0 && end >= 0) {
                const QByteArray fields = pending_.left(end + 2).toLower();
                const qsizetype at = fields.indexOf("content-length:");
                const qint64 length =
                    at < 0 ? 0
                           : fields.mid(at + 15, fields.indexOf("\r\n", at) - at - 15)
                                 .trimmed()
                                 .toLongLong();
                wanted = end + 4 + (head ? 0 : length);
                continue;
            }
            const ssize_t n = ::read(fd_, buf, sizeof(buf));
            if (n <= 0)
                break;
            pending_.append(buf, n);
        }
        const QByteArray one = pending_.left(wanted < 0 ? pending_.size() : wanted);
        pending_.remove(0, one.size());
        return one;
    }
    /// Whether the last readAll() ended because the server closed the connection (not the
    /// 10 s time-out).
    bool closedByServer() const { return closedByServer_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closedByServer_ = false;
    QByteArray pending_;
};

struct Reply {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

Reply parse(const QByteArray& raw) {
    Reply reply;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    reply.status = lines.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            reply.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    reply.body = raw.mid(end + 4);
    return reply;
}

/// The Host field the player sends: the server's own address and port.
QByteArray hostHeader(const QUrl& url) {
    return "Host: 127.0.0.1:" + QByteArray::number(url.port()) + "\r\n";
}

Reply request(const QUrl& url, const QByteArray& method, const QByteArray& extraHeaders = {},
              const QByteArray& path = {}) {
    RawClient client(url.port());
    EXPECT_TRUE(client.connected());
    client.send(method + ' ' + (path.isEmpty() ? url.path(QUrl::FullyEncoded).toLatin1() : path) +
                " HTTP/1.1\r\n" + (hostHeader(url) + "Connection: close\r\n") + extraHeaders +
                "\r\n");
    return parse(client.readAll());
}

QByteArray pattern(qsizetype n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

/// Tells a read that was cancelled apart from one left running: the first ranged read that
/// ends with the cancellation error resolves `cancelledRead`.
class WatchedProvider : public FakeStorageProvider {
public:
    QByteArray read(const FileRef& ref, ByteRange range) override {
        try {
            return FakeStorageProvider::read(ref, range);
        } catch (const StorageError& error) {
            if (error.isCancelled())
                cancelledRead.resolve({});
            throw;
        }
    }
    Completion<std::monostate> cancelledRead;
};

FileItem mediaItem(const QString& name, const QString& mime, qint64 size) {
    FileItem item;
    item.ref = {QUuid::createUuid(), QStringLiteral("media-") + name};
    item.name = name;
    item.mimeType = mime;
    item.sizeBytes = size;
    return item;
}

class RemoteMediaSourceTest : public ::testing::Test {
protected:
    std::shared_ptr<RemoteMediaSource> sourceFor(const QByteArray& content,
                                                 const QString& name = QStringLiteral("clip.webm"),
                                                 std::optional<qint64> size = {}) {
        item = mediaItem(name, QStringLiteral("video/webm"), size.value_or(content.size()));
        fake->addItem(item, content);
        auto source = RemoteMediaSource::create(item, fake);
        EXPECT_TRUE(source);
        return source;
    }
    QStringList reads() const {
        QStringList out;
        for (const QString& call : fake->calls())
            if (call.startsWith(QLatin1String("read(")))
                out.append(call.section(QLatin1Char(','), 1).chopped(1));
        return out;
    }

    std::shared_ptr<FakeStorageProvider> fake = std::make_shared<FakeStorageProvider>();
    FileItem item;
};

} // namespace

TEST_F(RemoteMediaSourceTest, NoSourceWithoutSizeOrType) {
    auto make = [&](std::optional<qint64> size, const QString& name, const QString& mime) {
        FileItem i = mediaItem(name, mime, 0);
        i.sizeBytes = size;
        return RemoteMediaSource::create(i, fake);
    };
    EXPECT_FALSE(make(std::nullopt, "a.mp4", "video/mp4"));
    EXPECT_FALSE(make(0, "a.mp4", "video/mp4"));
    EXPECT_FALSE(make(-5, "a.mp4", "video/mp4"));
    EXPECT_FALSE(make(10, "noextension", "application/x-unknown-thing"));
    auto ok = make(10, "Clip.MP4", "application/octet-stream");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->size(), 10);
    EXPECT_EQ(ok->contentType(), "video/mp4");
}

TEST_F(RemoteMediaSourceTest, UrlIsLoopbackAndUniquePerAsset) {
    auto source = sourceFor(pattern(100), QStringLiteral("My clip (1).webm"));
    const QUrl a = source->makeAsset();
    const QUrl b = source->makeAsset();
    EXPECT_EQ(a.scheme(), "http");
    EXPECT_EQ(a.host(), "127.0.0.1");
    EXPECT_EQ(a.port(), b.port());
    EXPECT_NE(a, b);
    const QStringList parts = a.path().split(QLatin1Char('/'));
    ASSERT_EQ(parts.size(), 4);
    EXPECT_EQ(parts[1], "tessarow-stream");
    EXPECT_EQ(parts[2].size(), 32); // 128 random bits
    EXPECT_EQ(parts[3], "My_clip__1_.webm");
}

TEST_F(RemoteMediaSourceTest, HeadGivesTypeLengthAndRangesWithoutReading) {
    auto source = sourceFor(pattern(5000));
    const Reply reply = request(source->makeAsset(), "HEAD");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers.value("content-length"), "5000");
    EXPECT_EQ(reply.headers.value("content-type"), "video/webm");
    EXPECT_EQ(reply.headers.value("accept-ranges"), "bytes");
    EXPECT_TRUE(reply.body.isEmpty());
    EXPECT_TRUE(reads().isEmpty());
}

TEST_F(RemoteMediaSourceTest, WholeFileIsReadInChunksOfTwoMebibytes) {
    const QByteArray content = pattern(5000000);
    auto source = sourceFor(content);
    const Reply reply = request(source->makeAsset(), "GET", "Range: bytes=0-\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.headers.value("content-range"), "bytes 0-4999999/5000000");
    EXPECT_TRUE(reply.body == content);
    EXPECT_EQ(reads(), QStringList({"0-2097152", "2097152-4194304", "4194304-5000000"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return source->runningRequests() == 0; }, 5000));
}

TEST_F(RemoteMediaSourceTest, RangesAreCutAtTheEndOrRefused) {
    const QByteArray content = pattern(1000);
    auto source = sourceFor(content);
    const QUrl url = source->makeAsset();
    struct Case {
        const char* range;
        int status;
        const char* contentRange;
        qsizetype from, length;
    };
    const Case cases[] = {
        {"", 200, "", 0, 1000},
        {"bytes=10-19", 206, "bytes 10-19/1000", 10, 10},
        {"bytes=990-5000", 206, "bytes 990-999/1000", 990, 10},
        {"bytes=-30", 206, "bytes 970-999/1000", 970, 30},
        {"bytes=-5000", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=999-", 206, "bytes 999-999/1000", 999, 1},
        {"bytes=1000-", 416, "bytes */1000", 0, 0},
        {"bytes=5000-6000", 416, "bytes */1000", 0, 0},
        {"bytes=0-1,5-6", 200, "", 0, 1000}, // several ranges: the whole file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        const QByteArray header =
            *c.range ? QByteArray("Range: ") + c.range + "\r\n" : QByteArray();
        const Reply reply = request(url, "GET", header);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.headers.value("content-range"), QByteArray(c.contentRange));
        EXPECT_TRUE(reply.body == content.mid(c.from, c.length)) << reply.body.size();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return source->runningRequests() == 0; }, 5000));
}

TEST_F(RemoteMediaSourceTest, AnswersOnlyItsOwnPathsAndMethods) {
    auto source = sourceFor(pattern(100));
    const QUrl url = source->makeAsset();
    const QByteArray path = url.path().toLatin1();
    const QByteArray otherToken = "/tessarow-stream/00000000000000000000000000000000/clip.webm";
    EXPECT_EQ(request(url, "GET", {}, otherToken).status, 404);
    EXPECT_EQ(request(url, "GET", {}, path.left(path.lastIndexOf('/') + 1) + "other.webm").status,
              404);
    EXPECT_EQ(request(url, "GET", {}, "/").status, 404);
    EXPECT_EQ(request(url, "POST", "Content-Length: 0\r\n").status, 405);
    EXPECT_EQ(request(url, "PUT", "Content-Length: 0\r\n").status, 405);
    EXPECT_EQ(request(url, "DELETE").status, 405);
    EXPECT_TRUE(reads().isEmpty());
}

TEST_F(RemoteMediaSourceTest, AnswersOnlyItsOwnHostAndNoOrigin) {
    // A page in a browser that rebinds a name to the loopback address names its own host, and
    // a browser's cross-origin request carries an Origin: neither is answered, token or not.
    auto source = sourceFor(pattern(100));
    const QUrl url = source->makeAsset();
    const QByteArray port = QByteArray::number(url.port());
    const QByteArray own = "Host: 127.0.0.1:" + port + "\r\n";
    struct Case {
        const char* what;
        QByteArray headers;
        int status;
    };
    const Case cases[] = {
        {"own address and port", own, 200},
        {"rebound name", "Host: attacker.example:" + port + "\r\n", 403},
        {"localhost", "Host: localhost:" + port + "\r\n", 403},
        {"no port", "Host: 127.0.0.1\r\n", 403},
        {"other port", "Host: 127.0.0.1:1\r\n", 403},
        {"no Host", "", 403},
        {"two Hosts", own + "Host: attacker.example\r\n", 403},
        {"an Origin", own + "Origin: http://attacker.example\r\n", 403},
        {"a null Origin", own + "Origin: null\r\n", 403},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawClient client(url.port());
        ASSERT_TRUE(client.connected());
        client.send("GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + c.headers +
                    "Connection: close\r\n\r\n");
        const Reply reply = parse(client.readAll());
        EXPECT_EQ(reply.status, c.status);
        if (c.status != 200) {
            EXPECT_FALSE(reply.body.contains(pattern(100)));
        }
    }
    EXPECT_EQ(reads().size(), 1); // only the player's own request was read
}

TEST_F(RemoteMediaSourceTest, FailedOrShortReadClosesTheConnectionEarly) {
    // The listed size is larger than what the back end has: the reads come back empty.
    auto stale =
        sourceFor(pattern(100), QStringLiteral("stale.webm"), 3 * RemoteMediaSource::chunkSize);
    Reply reply = request(stale->makeAsset(), "GET");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.size(), 100);

    auto source = sourceFor(pattern(3000000));
    fake->clearCalls();
    fake->failNext(Op::read, StorageError(StorageError::Code::network));
    reply = request(source->makeAsset(), "GET");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.isEmpty());
    EXPECT_EQ(reads().size(), 1); // nothing more after the failure
    // A later request is not affected.
    EXPECT_EQ(request(source->makeAsset(), "GET", "Range: bytes=0-9\r\n").body, pattern(10));
}

TEST_F(RemoteMediaSourceTest, ClosedConnectionCancelsItsRead) {
    auto watched = std::make_shared<WatchedProvider>();
    fake = watched;
    auto source = sourceFor(pattern(3000000));
    const QUrl url = source->makeAsset();
    auto gate = fake->gateNext(Op::read);
    RawClient client(url.port());
    client.send("GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url) +
                "Range: bytes=100-\r\n\r\n");
    ASSERT_TRUE(gate->waitEntered());
    EXPECT_EQ(source->runningRequests(), 1);
    client.close(); // the player seeks elsewhere: the read held at the gate is cancelled
    EXPECT_TRUE(QTest::qWaitFor([&] { return source->runningRequests() == 0; }, 5000));
    // The read itself stops: the call held at the gate ends with the cancellation.
    EXPECT_TRUE(watched->cancelledRead.waitFor(5s).has_value());
    EXPECT_EQ(reads().size(), 1);
}

TEST_F(RemoteMediaSourceTest, CancelAllStopsEveryRequest) {
    auto source = sourceFor(pattern(3000000));
    const QUrl url = source->makeAsset();
    auto first = fake->gateNext(Op::read);
    auto second = fake->gateNext(Op::read);
    RawClient a(url.port()), b(url.port());
    a.send("GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url) + "\r\n");
    ASSERT_TRUE(first->waitEntered());
    b.send("GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url) +
           "Range: bytes=2500000-\r\n\r\n");
    ASSERT_TRUE(second->waitEntered());
    EXPECT_EQ(source->runningRequests(), 2);
    source->cancelAll();
    EXPECT_EQ(source->runningRequests(), 0);
    // Both connections end without a body.
    EXPECT_TRUE(parse(a.readAll()).body.isEmpty());
    EXPECT_TRUE(parse(b.readAll()).body.isEmpty());
    EXPECT_EQ(reads().size(), 2);
}

TEST_F(RemoteMediaSourceTest, RequestCancelledBeforeItsReadStartsIsClosed) {
    // Every worker of the general pool is busy, so the request's read task waits in the queue
    // and is cancelled there, before it ever runs.
    QThreadPool* pool = threadPool(TaskPool::general);
    const int workers = pool->maxThreadCount();
    std::latch busy(workers);
    Completion<std::monostate> unblock;
    for (int i = 0; i < workers; ++i)
        detail::startOnPool(TaskPool::general, [&busy, unblock] {
            busy.count_down();
            (void)unblock.waitFor(20s);
        });
    busy.wait();
    // The workers go back to the pool however the test ends.
    const std::shared_ptr<void> freeWorkers(nullptr,
                                            [unblock](void*) mutable { unblock.resolve({}); });

    auto source = sourceFor(pattern(3000000));
    const QUrl url = source->makeAsset();
    RawClient client(url.port());
    client.send("GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url) + "\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return source->runningRequests() == 1; }, 5000));
    source->cancelAll();
    unblock.resolve({});
    // The server ends the answer by closing the connection; the player is not left waiting.
    const Reply reply = parse(client.readAll());
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.isEmpty());
    EXPECT_TRUE(client.closedByServer());
    EXPECT_TRUE(reads().isEmpty());
}

TEST_F(RemoteMediaSourceTest, DestroyingTheSourceStopsItsServer) {
    auto source = sourceFor(pattern(3000000));
    const QUrl url = source->makeAsset();
    auto gate = fake->gateNext(Op::read);
    RawClient client(url.port());
    client.send("GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url) + "\r\n");
    ASSERT_TRUE(gate->waitEntered());
    source.reset(); // neither waits for the read held at the gate nor crashes
    EXPECT_TRUE(parse(client.readAll()).body.isEmpty());
    RawClient late(url.port());
    EXPECT_FALSE(late.connected());
    gate->release();
}

TEST_F(RemoteMediaSourceTest, RangesStartingInTheFetchedHeadAreAnsweredFromIt) {
    constexpr qint64 head = RemoteMediaSource::headSize;
    const QByteArray content = pattern(head + 3000);
    auto source = sourceFor(content);
    QObject receiver;
    std::optional<bool> fetched;
    source->fetchHead(&receiver, [&](bool ok) { fetched = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fetched.has_value(); }, 5000));
    EXPECT_TRUE(*fetched);
    EXPECT_TRUE(source->hasHead());
    EXPECT_EQ(reads(), QStringList{QStringLiteral("0-%1").arg(head)});
    const QUrl url = source->makeAsset();
    struct Case {
        const char* range;
        qint64 from, length;
        QStringList providerReads; // beyond the head's own read
    };
    const Case cases[] = {
        {"bytes=0-", 0, head + 3000, {QStringLiteral("%1-%2").arg(head).arg(head + 3000)}},
        {"bytes=0-4095", 0, 4096, {}},
        {"bytes=1000-", 1000, head + 2000, {QStringLiteral("%1-%2").arg(head).arg(head + 3000)}},
        {"bytes=100-", 100, head + 2900, {QStringLiteral("%1-%2").arg(head).arg(head + 3000)}},
        {"bytes=-100",
         head + 2900,
         100,
         {QStringLiteral("%1-%2").arg(head + 2900).arg(head + 3000)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        fake->clearCalls();
        // Every read fails here: an answer from the head alone needs none.
        if (c.providerReads.isEmpty())
            fake->failAlways(Op::read, StorageError(StorageError::Code::network));
        const Reply reply = request(url, "GET", QByteArray("Range: ") + c.range + "\r\n");
        fake->failAlways(Op::read, std::nullopt);
        EXPECT_EQ(reply.status, 206);
        EXPECT_TRUE(reply.body == content.mid(c.from, c.length)) << reply.body.size();
        EXPECT_EQ(reads(), c.providerReads);
    }
}

TEST_F(RemoteMediaSourceTest, FetchingTheHeadEndsWhenCancelledOrFailed) {
    auto watched = std::make_shared<WatchedProvider>();
    fake = watched;
    auto source = sourceFor(pattern(3000000));
    auto gate = fake->gateNext(Op::read);
    QObject receiver;
    std::optional<bool> fetched;
    const TaskHandle fetch = source->fetchHead(&receiver, [&](bool ok) { fetched = ok; });
    ASSERT_TRUE(gate->waitEntered());
    fetch.cancel();
    EXPECT_TRUE(watched->cancelledRead.waitFor(5s).has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fetched.has_value(); }, 5000));
    EXPECT_FALSE(*fetched);
    EXPECT_FALSE(source->hasHead());

    // A failed read: no head, and requests are read from the provider as before.
    fetched.reset();
    fake->failNext(Op::read, StorageError(StorageError::Code::network));
    source->fetchHead(&receiver, [&](bool ok) { fetched = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fetched.has_value(); }, 5000));
    EXPECT_FALSE(*fetched);
    EXPECT_FALSE(source->hasHead());
    fake->clearCalls();
    EXPECT_EQ(request(source->makeAsset(), "GET", "Range: bytes=0-9\r\n").body, pattern(10));
    EXPECT_EQ(reads(), QStringList{QStringLiteral("0-10")});
}

TEST_F(RemoteMediaSourceTest, ConnectionsWithoutTheTokenNeitherKeepThePlayerOutNorPileUp) {
    // Other local processes hold 1,000 connections that send nothing and 8 that send a byte
    // now and then; the player's ranged requests, made after all of them, are answered while
    // they stay open, and the server holds no more than its limit of descriptors for them.
    constexpr int idle = 1000;
    constexpr int slow = 8;
    if (!ConnectionFlood::allowDescriptors(idle + slow + 200))
        GTEST_SKIP() << "the descriptor limit is below what the flood needs";
    const QByteArray content = pattern(3000000);
    auto source = sourceFor(content);
    const QUrl url = source->makeAsset();
    const int before = ConnectionFlood::openDescriptors();
    ConnectionFlood idleFlood({.port = url.port(), .connections = idle});
    ConnectionFlood slowFlood({.port = url.port(), .connections = slow, .byteInterval = 200ms});
    // The server is full of the flood's connections.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return source->openConnections() == RemoteMediaSource::maxConnections; }, 20000));

    struct Ask {
        qint64 from, to;
    };
    for (const Ask ask : {Ask{0, 99}, Ask{2500000, 2999999}, Ask{1000, 1000}, Ask{-1, -1}}) {
        const QByteArray range = ask.from < 0 ? QByteArray("bytes=-4096")
                                              : "bytes=" + QByteArray::number(ask.from) + '-' +
                                                    QByteArray::number(ask.to);
        SCOPED_TRACE(range.constData());
        const Reply reply = request(url, "GET", "Range: " + range + "\r\n");
        EXPECT_EQ(reply.status, 206);
        const qint64 from = ask.from < 0 ? content.size() - 4096 : ask.from;
        const qint64 to = ask.from < 0 ? content.size() - 1 : ask.to;
        EXPECT_TRUE(reply.body == content.mid(from, to - from + 1)) << reply.body.size();
    }
    // The server's ends of the connections are all the descriptors it holds for them; the
    // rest of the flood waits in the kernel's backlog.
    EXPECT_LE(ConnectionFlood::acceptedDescriptors(url.port()), RemoteMediaSource::maxConnections);
    EXPECT_GE(ConnectionFlood::acceptedDescriptors(url.port()), 1);
    EXPECT_LE(source->openConnections(), RemoteMediaSource::maxConnections);
    EXPECT_LE(ConnectionFlood::openDescriptors() - before, idle + slow + 2 + // the flood's
                                                               RemoteMediaSource::maxConnections);
}

TEST_F(RemoteMediaSourceTest, PlayerIsServedWhileConnectionsReconnectAsSoonAsCut) {
    // More connections than the server holds, each made again as soon as the server cuts it:
    // the player's kept-alive connection from before the flood and its new ones get answers.
    const QByteArray content = pattern(3000000);
    auto source = sourceFor(content);
    const QUrl url = source->makeAsset();
    const QByteArray ask = "GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url);
    RawClient player(url.port());
    ASSERT_TRUE(player.connected());
    player.send(ask + "Range: bytes=0-9\r\n\r\n");
    EXPECT_EQ(parse(player.readOne()).body, content.left(10));

    ConnectionFlood flood({.port = url.port(),
                           .connections = 3 * RemoteMediaSource::maxConnections,
                           .reconnect = true});
    // The flood fills the server and is being cut to admit its own new connections (soon,
    // well within the kept-alive connection's 5 s for its next request).
    ASSERT_TRUE(QTest::qWaitFor([&] { return flood.cuts() > 0; }, 20000));
    player.send(ask + "Range: bytes=10-19\r\n\r\n");
    const Reply again = parse(player.readOne());
    EXPECT_EQ(again.status, 206);
    EXPECT_EQ(again.body, content.mid(10, 10));
    for (int i = 0; i < 4; ++i) {
        const qint64 from = 700000 * i;
        const Reply reply = request(url, "GET",
                                    "Range: bytes=" + QByteArray::number(from) + '-' +
                                        QByteArray::number(from + 65535) + "\r\n");
        EXPECT_EQ(reply.status, 206);
        EXPECT_TRUE(reply.body == content.mid(from, 65536)) << i << ' ' << reply.body.size();
    }
    EXPECT_LE(source->openConnections(), RemoteMediaSource::maxConnections);
}

TEST_F(RemoteMediaSourceTest, KeptAliveConnectionAnswersRequestsOneAfterAnother) {
    // Two requests sent at once on one connection are answered in order; HEAD carries no body.
    const QByteArray content = pattern(5000);
    auto source = sourceFor(content);
    const QUrl url = source->makeAsset();
    const QByteArray ask = "GET " + url.path().toLatin1() + " HTTP/1.1\r\n" + hostHeader(url);
    RawClient client(url.port());
    client.send(ask + "Range: bytes=100-199\r\n\r\n" + "HEAD" + ask.mid(3) + "\r\n" + ask +
                "Range: bytes=4990-\r\n\r\n");
    const Reply first = parse(client.readOne());
    EXPECT_EQ(first.status, 206);
    EXPECT_EQ(first.body, content.mid(100, 100));
    const Reply head = parse(client.readOne(true));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.headers.value("content-length"), "5000");
    EXPECT_TRUE(head.body.isEmpty());
    const Reply last = parse(client.readOne());
    EXPECT_EQ(last.status, 206);
    EXPECT_EQ(last.body, content.mid(4990));
}

// ---- real playback ------------------------------------------------------------------------

namespace {

/// Makes a short media file with GStreamer's test sources.
QByteArray makeMedia(const QTemporaryDir& dir, const QString& name, const QStringList& pipeline) {
    const QString path = dir.filePath(name);
    QStringList args = {QStringLiteral("-q")};
    args += pipeline;
    args += {QStringLiteral("!"), QStringLiteral("filesink"), QStringLiteral("location=") + path};
    if (QProcess::execute(QStringLiteral("gst-launch-1.0"), args) != 0)
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Measures the longest time the main thread's event loop went without running a timer.
class LagMeter {
public:
    LagMeter() {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        timer_.start(5);
    }
    qint64 longest() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

bool waitForStatus(QMediaPlayer& player, QMediaPlayer::MediaStatus status, int ms = 20000) {
    return QTest::qWaitFor(
               [&] {
                   return player.mediaStatus() == status || player.error() != QMediaPlayer::NoError;
               },
               ms) &&
           player.error() == QMediaPlayer::NoError && player.mediaStatus() == status;
}

/// Plays until past the middle, seeks back near the start while playing, and plays to the
/// end; false on a playback error, a seek that does not take or a time-out.
/// Plays past 0.9 s, seeks back to 0.2 s and plays on to the end. Gives what went wrong, or
/// an empty text. A starved main thread may first see the player at the end: the seek back
/// then starts it again from 0.2 s.
QString playWithSeekBack(QMediaPlayer& player) {
    player.play();
    if (!QTest::qWaitFor(
            [&] {
                return player.position() >= 900 || player.error() ||
                       player.mediaStatus() == QMediaPlayer::EndOfMedia;
            },
            20000))
        return QStringLiteral("never played past 0.9 s");
    if (player.error())
        return player.errorString();
    bool wentBack = false;
    auto connection = QObject::connect(&player, &QMediaPlayer::positionChanged, [&](qint64 pos) {
        if (pos >= 150 && pos < 800 && player.mediaStatus() != QMediaPlayer::EndOfMedia)
            wentBack = true;
    });
    const bool atEnd = player.mediaStatus() == QMediaPlayer::EndOfMedia;
    player.setPosition(200);
    if (atEnd)
        player.play();
    const bool back = QTest::qWaitFor([&] { return wentBack || player.error(); }, 20000);
    QObject::disconnect(connection);
    if (player.error())
        return player.errorString();
    if (!back)
        return QStringLiteral("the seek back to 0.2 s was never seen");
    if (!waitForStatus(player, QMediaPlayer::EndOfMedia))
        return QStringLiteral("never reached the end after the seek: ") + player.errorString();
    return {};
}

} // namespace

class RemoteMediaPlaybackTest : public RemoteMediaSourceTest {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
        // GStreamer, GLib and PulseAudio are not instrumented: their threads show up as races
        // and their process-lifetime allocations as leaks.
        GTEST_SKIP() << "real playback is not run under sanitizers";
#endif
        if (QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0")).isEmpty())
            GTEST_SKIP() << "gst-launch-1.0 is not installed";
        // Every ranged read takes a while, as it would from a remote service.
        fake->setDelay(Op::read, 120ms);
    }
    QTemporaryDir dir;
};

struct MediaCase {
    const char* name;
    const char* mimeType;
    QStringList pipeline;
    bool video;
    /// Qt 6.4 seeks with an end time (the duration); the Matroska/WebM demuxer refuses such
    /// seeks on a streamed (HTTP) source, so WebM is played through without a seek.
    bool seek;
    qint64 durationMs;
};

class MediaPlaybackTest : public RemoteMediaPlaybackTest,
                          public ::testing::WithParamInterface<MediaCase> {};

TEST_P(MediaPlaybackTest, PlaysToTheEndWithTheMainThreadFree) {
    const MediaCase& c = GetParam();
    const QByteArray media = makeMedia(dir, QString::fromLatin1(c.name), c.pipeline);
    ASSERT_FALSE(media.isEmpty());
    item = mediaItem(QString::fromLatin1(c.name), QString::fromLatin1(c.mimeType), media.size());
    fake->addItem(item, media);
    auto source = RemoteMediaSource::create(item, fake);
    ASSERT_TRUE(source);

    LagMeter lag;
    QMediaPlayer player;
    QAudioOutput output;
    QVideoSink sink;
    int frames = 0;
    QSize frameSize;
    QObject::connect(&sink, &QVideoSink::videoFrameChanged, [&](const QVideoFrame& frame) {
        if (frame.isValid()) {
            ++frames;
            frameSize = frame.size();
        }
    });
    if (c.video)
        player.setVideoSink(&sink);
    else
        player.setAudioOutput(&output);

    // The main thread never waits on a read: while the first ranged read is held at a gate,
    // the event loop keeps running. (A watchdog releases the gate, so a read made on the
    // main thread fails this test instead of hanging it.)
    auto gate = fake->gateNext(Op::read);
    std::thread watchdog([gate] {
        if (!gate->released.waitFor(15s))
            gate->release();
    });
    player.setSource(source->makeAsset());
    player.play();
    const bool readStarted = QTest::qWaitFor([&] { return gate->entered.isDone(); }, 10000);
    bool eventLoopRan = false;
    QTimer::singleShot(0, [&] { eventLoopRan = true; });
    const bool loopFree = QTest::qWaitFor([&] { return eventLoopRan; }, 5000);
    const bool heldMeanwhile = !gate->released.isDone();
    gate->release();
    watchdog.join();
    ASSERT_TRUE(readStarted);
    EXPECT_TRUE(loopFree && heldMeanwhile);

    if (c.seek) {
        ASSERT_EQ(playWithSeekBack(player), QString());
        // The seek was answered by a ranged read that does not start at 0.
        bool rangedRead = false;
        for (const QString& range : reads())
            rangedRead |= range.section(QLatin1Char('-'), 0, 0).toLongLong() > 0;
        EXPECT_TRUE(rangedRead) << reads().join(QLatin1Char(' ')).toStdString();
    } else {
        player.play();
        ASSERT_TRUE(waitForStatus(player, QMediaPlayer::EndOfMedia))
            << player.errorString().toStdString();
    }
    EXPECT_NEAR(player.duration(), c.durationMs, 150);
    if (c.video) {
        EXPECT_TRUE(player.hasVideo());
        EXPECT_GT(frames, 20);
        EXPECT_EQ(frameSize, QSize(320, 240));
    }
    // Reported, not asserted (it depends on the machine's load): bench/Preview measures it.
    RecordProperty("longestMainThreadStallMs", int(lag.longest()));
    player.stop();
    source->cancelAll();
    EXPECT_EQ(source->runningRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Media, MediaPlaybackTest,
    ::testing::Values(MediaCase{"tone.wav",
                                "audio/x-wav",
                                {"audiotestsrc", "num-buffers=60", "!", "audioconvert", "!",
                                 "wavenc"},
                                false,
                                true,
                                1393},
                      MediaCase{"tone.ogg",
                                "application/octet-stream",
                                {"audiotestsrc", "num-buffers=60", "!", "audioconvert", "!",
                                 "vorbisenc", "!", "oggmux"},
                                false,
                                true,
                                1393},
                      MediaCase{"bars.webm",
                                "video/webm",
                                {"videotestsrc", "num-buffers=45", "!",
                                 "video/x-raw,width=320,height=240,framerate=30/1", "!", "vp8enc",
                                 "deadline=1", "!", "webmmux"},
                                true,
                                false,
                                1500}),
    [](const auto& info) {
        return QString::fromLatin1(info.param.name)
            .replace(QLatin1Char('.'), QLatin1Char('_'))
            .toStdString();
    });
