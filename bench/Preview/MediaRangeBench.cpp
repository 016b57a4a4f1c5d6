// The media source's range server:
//   - a media read pattern (ranged GETs of 1 MiB, sequential runs of 8 MiB with seeks between
//     them) through the source from the fake back end, against the same bytes from memory
//     through a plain blocking loopback HTTP server (the counter vs_plain is our throughput
//     divided by the plain server's);
//   - the main thread's longest stall while QMediaPlayer plays a WebM video through the
//     source with 120 ms per ranged read.
// Sizes: TW_BENCH_MEDIA_MB (default 64) of data read per iteration.
#include "StorageCore/Preview/RemoteMediaSource.h"
#include "tests/support/FakeStorageProvider.h"
#include "bench/WidgetBenchMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaPlayer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVideoSink>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace tw;
using test::FakeStorageProvider;

namespace {

constexpr qint64 kRequest = 1 << 20;
constexpr qint64 kRun = 8 << 20;

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

QByteArray pattern(qsizetype n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char((i * 7 + i / 4099) & 0xFF);
    return bytes;
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
        qFatal("connect failed");
    return fd;
}

/// One ranged GET; returns the body size.
qint64 rangedGet(int port, const QByteArray& path, qint64 from, qint64 to) {
    const int fd = connectTo(port);
    const QByteArray request = "GET " + path +
                               " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                               "\r\nRange: bytes=" + QByteArray::number(from) + '-' +
                               QByteArray::number(to - 1) + "\r\nConnection: close\r\n\r\n";
    (void)!::write(fd, request.constData(), size_t(request.size()));
    static thread_local QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    qint64 headerEnd = -1;
    QByteArray head;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n <= 0)
            break;
        if (headerEnd < 0) {
            head.append(buffer.constData(), n);
            const qsizetype at = head.indexOf("\r\n\r\n");
            if (at >= 0) {
                headerEnd = at + 4;
                total += head.size() - headerEnd;
            }
        } else {
            total += n;
        }
    }
    ::close(fd);
    return total;
}

/// A plain blocking loopback HTTP server for byte ranges of one buffer: the baseline.
class PlainServer {
public:
    explicit PlainServer(QByteArray data) : data_(std::move(data)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::listen(listener_, 16);
        socklen_t length = sizeof(addr);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~PlainServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    int port() const { return port_; }

private:
    void run() {
        while (!stopping_) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            QByteArray request;
            char buf[4096];
            while (!request.contains("\r\n\r\n")) {
                const ssize_t n = ::read(fd, buf, sizeof(buf));
                if (n <= 0)
                    break;
                request.append(buf, n);
            }
            const qsizetype at = request.indexOf("Range: bytes=");
            const QList<QByteArray> range =
                request.mid(at + 13, request.indexOf('\r', at) - at - 13).split('-');
            const qint64 from = range.value(0).toLongLong();
            const qint64 last = std::min<qint64>(range.value(1).toLongLong(), data_.size() - 1);
            const QByteArray head = "HTTP/1.1 206 Partial Content\r\nContent-Length: " +
                                    QByteArray::number(last - from + 1) +
                                    "\r\nConnection: close\r\n\r\n";
            (void)!::write(fd, head.constData(), size_t(head.size()));
            qint64 sent = 0;
            while (sent < last - from + 1) {
                const ssize_t n =
                    ::write(fd, data_.constData() + from + sent, size_t(last - from + 1 - sent));
                if (n <= 0)
                    break;
                sent += n;
            }
            ::close(fd);
        }
    }

    QByteArray data_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

/// Sequential runs of 1 MiB requests, with a seek between runs; returns bytes received.
qint64 readPattern(int port, const QByteArray& path, qint64 size, qint64 volume) {
    qint64 received = 0;
    qint64 offset = 0;
    int run = 0;
    while (received < volume) {
        for (qint64 inRun = 0; inRun < kRun && received < volume; inRun += kRequest) {
            const qint64 from = offset % (size - kRequest);
            received += rangedGet(port, path, from, from + kRequest);
            offset = from + kRequest;
        }
        offset = (++run * 13 * kRun + 12345) % size; // seek
    }
    return received;
}

struct Media {
    std::shared_ptr<FakeStorageProvider> fake = std::make_shared<FakeStorageProvider>();
    QByteArray content;
    FileItem item;
};

Media& media() {
    static Media m = [] {
        Media made;
        made.content = pattern(qint64(envInt("TW_BENCH_MEDIA_MB", 64)) << 20);
        made.item.ref = {QUuid::createUuid(), QStringLiteral("movie")};
        made.item.name = QStringLiteral("movie.webm");
        made.item.mimeType = QStringLiteral("video/webm");
        made.item.sizeBytes = made.content.size();
        made.fake->addItem(made.item, made.content);
        return made;
    }();
    return m;
}

void BM_RangeServerReadPattern(benchmark::State& state) {
    Media& m = media();
    auto source = RemoteMediaSource::create(m.item, m.fake);
    const QUrl url = source->makeAsset();
    const QByteArray path = url.path().toLatin1();
    PlainServer plain(m.content);
    const qint64 volume = m.content.size();
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        if (readPattern(url.port(), path, m.content.size(), volume) < volume)
            state.SkipWithError("short answer from the media source");
        ours += t.nsecsElapsed() / 1e9;
        state.PauseTiming();
        t.restart();
        readPattern(plain.port(), "/movie.webm", m.content.size(), volume);
        theirs += t.nsecsElapsed() / 1e9;
        state.ResumeTiming();
    }
    const double n = double(state.iterations());
    state.counters["MB_per_s"] = double(volume) / 1e6 / (ours / n);
    state.counters["plain_MB_per_s"] = double(volume) / 1e6 / (theirs / n);
    state.counters["vs_plain"] = theirs / ours;
}
BENCHMARK(BM_RangeServerReadPattern)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MainThreadStallWhilePlaying(benchmark::State& state) {
    QTemporaryDir dir;
    const QString file = dir.filePath("bars.webm");
    if (QProcess::execute("gst-launch-1.0", {"-q", "videotestsrc", "num-buffers=120", "!",
                                             "video/x-raw,width=640,height=360,framerate=30/1", "!",
                                             "vp8enc", "deadline=1", "target-bitrate=4000000", "!",
                                             "webmmux", "!", "filesink", "location=" + file}) !=
        0) {
        state.SkipWithError("gst-launch-1.0 failed");
        return;
    }
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    const QByteArray webm = f.readAll();
    auto fake = std::make_shared<FakeStorageProvider>();
    FileItem item;
    item.ref = {QUuid::createUuid(), QStringLiteral("bars")};
    item.name = QStringLiteral("bars.webm");
    item.mimeType = QStringLiteral("video/webm");
    item.sizeBytes = webm.size();
    fake->addItem(item, webm);
    fake->setDelay(FakeStorageProvider::Op::read, std::chrono::milliseconds(120));
    qint64 longest = 0;
    qint64 longestAt = 0;
    qint64 setup = 0;
    int frames = 0;
    for (auto _ : state) {
        auto source = RemoteMediaSource::create(item, fake);
        QMediaPlayer player;
        QVideoSink sink;
        QObject::connect(&sink, &QVideoSink::videoFrameChanged, [&] { ++frames; });
        player.setVideoSink(&sink);
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            if (now - last > longest) {
                longest = now - last;
                longestAt = now;
            }
            last = now;
        });
        timer.start(5);
        // setSource() and play() build the GStreamer pipeline on this thread (Qt's own work,
        // reported apart); the stall counted is the longest gap after they return.
        const qint64 setupStart = clock.elapsed();
        player.setSource(source->makeAsset());
        player.play();
        setup = clock.elapsed() - setupStart;
        last = clock.elapsed();
        const bool ended = QTest::qWaitFor(
            [&] {
                return player.mediaStatus() == QMediaPlayer::EndOfMedia ||
                       player.error() != QMediaPlayer::NoError;
            },
            30000);
        if (!ended)
            state.SkipWithError("playback did not end within 30 s");
        else if (player.error() != QMediaPlayer::NoError)
            state.SkipWithError(player.errorString().toLocal8Bit().constData());
        player.stop();
        source->cancelAll();
    }
    state.counters["longest_stall_ms"] = double(longest);
    state.counters["stall_ended_at_ms"] = double(longestAt);
    state.counters["setSource_play_ms"] = double(setup);
    state.counters["frames"] = double(frames);
    state.counters["video_bytes"] = double(webm.size());
}
BENCHMARK(BM_MainThreadStallWhilePlaying)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) { return tw::bench::runWidgetBenchmarks(argc, argv); }
