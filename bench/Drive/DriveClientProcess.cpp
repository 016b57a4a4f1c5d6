// tw-drive-client: one transfer through the real back end (libcurl client, request engine,
// resumable upload) as a whole process, so that the benchmarks time it the way they time the
// curl tool.
//
//   tw-drive-client download <port> <access> <refresh> <file id> <destination>
//   tw-drive-client upload   <port> <access> <refresh> <local file> [chunk bytes]
//
// Prints "<resident KiB before the transfer> <high-water mark KiB after it>".
#include "bench/Drive/DriveBenchSupport.h"

#include <QFileInfo>

#include <cstdio>
#include <cstring>

using namespace tw;

namespace {

/// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
qint64 statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(int(std::strlen(field)) + 1).trimmed().split(' ').first().toLongLong();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool download = argc >= 7 && std::strcmp(argv[1], "download") == 0;
    const bool upload = argc >= 6 && std::strcmp(argv[1], "upload") == 0;
    if (!download && !upload) {
        std::fprintf(stderr, "usage: tw-drive-client download <port> <access> <refresh> <id> "
                             "<destination> | upload <port> <access> <refresh> <file> [chunk]\n");
        return 2;
    }
    const int port = QByteArray(argv[2]).toInt();
    const qint64 chunk = upload && argc >= 7 ? QByteArray(argv[6]).toLongLong()
                                             : GoogleDriveProvider::defaultUploadChunkSize;
    auto secrets = std::make_shared<test::InMemorySecretStore>();
    auto http = std::make_shared<test::RewritingHTTPClient>(std::make_shared<CurlHTTPClient>(),
                                                            bench::loopbackOrigins(port));
    GoogleDriveProvider provider(std::optional<GoogleOAuthConfiguration>(), secrets, nullptr, http,
                                 chunk, GoogleDriveProvider::defaultMaxRetries, systemClock(),
                                 cancellableSleep());
    const QUuid account = QUuid::createUuid();
    const OAuthTokens record{QString::fromLatin1(argv[4]), QString::fromLatin1(argv[3]),
                             QDateTime::currentDateTimeUtc().addSecs(3600)};
    provider.storeCredential(ProviderCredential{record.encoded(), ProviderKind::googleDrive},
                             account);

    const qint64 before = statusKiB("VmRSS");
    try {
        if (download) {
            provider.download(FileRef{account, QString::fromLatin1(argv[5])},
                              QUrl::fromLocalFile(QString::fromLocal8Bit(argv[6])), {});
        } else {
            const QFileInfo info(QString::fromLocal8Bit(argv[5]));
            const LocalFile file{QUrl::fromLocalFile(info.absoluteFilePath()), info.fileName(),
                                 info.size(), QStringLiteral("application/octet-stream")};
            const FileItem item = provider.upload(account, file, std::nullopt, {});
            if (item.sizeBytes != info.size()) {
                std::fprintf(stderr, "the upload lost bytes\n");
                return 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "transfer failed: %s\n", error.what());
        return 1;
    }
    std::printf("%lld %lld\n", before, statusKiB("VmHWM"));
    return 0;
}
