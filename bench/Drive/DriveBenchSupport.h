#pragma once

// Shared set-up of the Drive benchmarks: the real back end (libcurl client, request engine,
// resumable upload) against the loopback fake Drive server, in this process (DriveBench) or
// with server and client in processes of their own (ServerProcess, tw-drive-client), and
// helpers to time the curl command-line tool against the same endpoints.

#include "GoogleDriveProvider/Drive/GoogleDriveProvider.h"
#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "bench/Measure.h"
#include "tests/support/FakeDriveServer.h"
#include "tests/support/InMemorySecretStore.h"
#include "tests/support/RewritingHTTPClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace tw::bench {

/// The transfer size: 128 MiB by default, 1 GiB with --full or TW_BENCH_FULL=1 (see
/// fullSizes()), or exactly
/// TW_BENCH_BYTES bytes.
inline qint64& transferBytes() {
    static qint64 bytes = 128LL * 1024 * 1024;
    return bytes;
}

/// Removes our own flags from argv before Google Benchmark reads the rest.
inline void parseOptions(int& argc, char** argv) {
    if (fullSizes())
        transferBytes() = 1024LL * 1024 * 1024;
    if (const QByteArray exact = qgetenv("TW_BENCH_BYTES"); !exact.isEmpty())
        transferBytes() = exact.toLongLong();
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0)
            transferBytes() = 1024LL * 1024 * 1024;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
}

/// Peak resident set size of this process so far, in MiB.
inline double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

inline double mibPerSecond(qint64 bytes, qint64 nanoseconds) {
    return nanoseconds > 0 ? (double(bytes) / (1024.0 * 1024.0)) / (double(nanoseconds) / 1e9) : 0;
}

/// Runs the curl tool and returns the wall time in nanoseconds (-1 on failure).
inline qint64 runCurl(const QStringList& arguments) {
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), arguments);
    if (!curl.waitForFinished(600000) || curl.exitStatus() != QProcess::NormalExit ||
        curl.exitCode() != 0) {
        qWarning("curl failed: %s", curl.readAllStandardError().constData());
        return -1;
    }
    return timer.nsecsElapsed();
}

/// Writes `bytes` synthetic bytes to a new file.
inline bool writeSyntheticFile(const QString& path, qint64 bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    constexpr qint64 block = 4 * 1024 * 1024;
    for (qint64 offset = 0; offset < bytes; offset += block) {
        const QByteArray data =
            test::FakeDriveServer::syntheticBytes(offset, std::min(block, bytes - offset));
        if (file.write(data) != data.size())
            return false;
    }
    return true;
}

/// The fake server, the real client behind the host rewriter, and a provider signed in to
/// one account.
struct DriveBench {
    explicit DriveBench(qint64 chunkSize = GoogleDriveProvider::defaultUploadChunkSize) {
        server.setRecording(false);
        curl = std::make_shared<CurlHTTPClient>();
        http = std::make_shared<test::RewritingHTTPClient>(curl, server.rewriteOrigins());
        provider = std::make_unique<GoogleDriveProvider>(
            std::optional<GoogleOAuthConfiguration>(), secrets, nullptr, http, chunkSize,
            GoogleDriveProvider::defaultMaxRetries, systemClock(), cancellableSleep());
        tokens = server.issueTokens();
        const OAuthTokens record{tokens.refreshToken, tokens.accessToken,
                                 QDateTime::currentDateTimeUtc().addSecs(3600)};
        provider->storeCredential(ProviderCredential{record.encoded(), ProviderKind::googleDrive},
                                  account);
    }

    QString bearer() const { return QStringLiteral("Authorization: Bearer ") + tokens.accessToken; }

    test::FakeDriveServer server;
    std::shared_ptr<CurlHTTPClient> curl;
    std::shared_ptr<test::RewritingHTTPClient> http;
    std::shared_ptr<test::InMemorySecretStore> secrets =
        std::make_shared<test::InMemorySecretStore>();
    std::unique_ptr<GoogleDriveProvider> provider;
    test::FakeDriveServer::Tokens tokens;
    QUuid account = QUuid::createUuid();
};

/// The origins of the Drive service, rewritten to a fake server on a loopback port.
inline QHash<QString, QUrl> loopbackOrigins(int port) {
    const QUrl target(QStringLiteral("http://127.0.0.1:%1").arg(port));
    return {{QStringLiteral("https://www.googleapis.com"), target},
            {QStringLiteral("https://oauth2.googleapis.com"), target},
            {QStringLiteral("https://accounts.google.com"), target},
            {QStringLiteral("https://lh3.googleusercontent.com"), target}};
}

/// The fake Drive server in a process of its own (tw-fake-drive), so that the memory and CPU
/// of serving are never counted as the client's. It lives until this object is destroyed.
class ServerProcess {
public:
    /// Starts it with one synthetic file of `syntheticBytes` (none when 0); false on failure.
    bool start(const QString& folder, qint64 syntheticBytes) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(folder + QStringLiteral("/tw-fake-drive"),
                       {QStringLiteral("--synthetic"), QString::number(syntheticBytes)});
        if (!process_.waitForStarted(10000))
            return false;
        QByteArray line;
        while (!line.contains('\n')) {
            if (!process_.waitForReadyRead(30000))
                return false;
            line += process_.readAll();
        }
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 4)
            return false;
        port = fields[0].toInt();
        fileID = QString::fromLatin1(fields[1]);
        accessToken = QString::fromLatin1(fields[2]);
        refreshToken = QString::fromLatin1(fields[3]);
        return port > 0;
    }
    ~ServerProcess() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel(); // it ends at the end of its input
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    int port = 0;
    QString fileID; ///< the synthetic file
    QString accessToken;
    QString refreshToken;

private:
    QProcess process_;
};

/// What tw-drive-client reports of its own memory: the resident set once everything was set
/// up, and the high-water mark at the end (so the growth is the transfer's own).
struct ClientMemory {
    double startMiB = 0;
    double peakMiB = 0;
    static ClientMemory read(const QString& path) {
        QFile file(path);
        ClientMemory memory;
        if (!file.open(QIODevice::ReadOnly))
            return memory;
        const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
        if (fields.size() == 2) {
            memory.startMiB = fields[0].toDouble() / 1024.0;
            memory.peakMiB = fields[1].toDouble() / 1024.0;
        }
        return memory;
    }
};

} // namespace tw::bench

/// main() of every Drive benchmark: a QCoreApplication (QProcess), our options, then Google
/// Benchmark.
#define TW_DRIVE_BENCH_MAIN()                                                                      \
    int main(int argc, char** argv) {                                                              \
        QCoreApplication app(argc, argv);                                                          \
        tw::bench::parseOptions(argc, argv);                                                       \
        benchmark::Initialize(&argc, argv);                                                        \
        benchmark::RunSpecifiedBenchmarks();                                                       \
        benchmark::Shutdown();                                                                     \
        return 0;                                                                                  \
    }
