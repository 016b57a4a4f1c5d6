// The media range server's request handling, without the network: each input is what one
// connection sends, taken apart into request heads by the server's own reader and answered by
// its own handler, with the file's bytes read the way its request tasks read them. Whatever
// the method, path, fields and Range header, every answer is 400, 403, 404, 405, 416 or 431
// without the file, or the file's bytes: all of them, or exactly the one range the
// Content-Range field names.
//
// The source file is compiled into this target so that its private server state can be set
// up without a RemoteMediaSource (no listener is started; the server's port is taken as 40000).

#include "FuzzCheck.h"

#include "StorageCore/Preview/RemoteMediaSource.cpp"

#include <QRegularExpression>

using namespace tw;

namespace {

constexpr qint64 fileSize = 5003;
const std::string knownPath = "/tessarow-stream/00112233445566778899aabbccddeeff/clip.mp4";

char byteAt(qint64 offset) {
    return char((offset * 31 + 7) & 0xFF);
}

/// Serves a file of fileSize bytes whose contents follow byteAt(); every other call fails.
class PatternProvider final : public StorageProvider {
public:
    QByteArray read(const FileRef&, ByteRange range) override {
        // The server asks for ranges inside the file, one chunk at a time.
        FUZZ_CHECK(range.lower >= 0 && range.lower < range.upper && range.upper <= fileSize);
        FUZZ_CHECK(range.length() <= RemoteMediaSource::chunkSize);
        QByteArray bytes(range.length(), Qt::Uninitialized);
        for (qint64 i = 0; i < bytes.size(); ++i)
            bytes[i] = byteAt(range.lower + i);
        return bytes;
    }

    ProviderConnection connect(const std::optional<QString>&) override { throw refused(); }
    void storeCredential(const ProviderCredential&, const QUuid&) override { throw refused(); }
    void removeCredential(const QUuid&, bool) noexcept override {}
    StorageQuota quota(const QUuid&) override { throw refused(); }
    Page listFolder(const QUuid&, const std::optional<QString>&,
                    const std::optional<QString>&) override {
        throw refused();
    }
    Page search(const QUuid&, const QString&, const std::optional<QString>&) override {
        throw refused();
    }
    Page listCategory(const QUuid&, FileCategory, const std::optional<QString>&) override {
        throw refused();
    }
    FileItem createFolder(const QUuid&, const QString&, const std::optional<QString>&) override {
        throw refused();
    }
    FileItem rename(const FileRef&, const QString&) override { throw refused(); }
    FileItem move(const FileRef&, const std::optional<QString>&, const QString&) override {
        throw refused();
    }
    void trash(const FileRef&) override { throw refused(); }
    FileItem upload(const QUuid&, const LocalFile&, const std::optional<QString>&,
                    const ProgressCallback&) override {
        throw refused();
    }
    void download(const FileRef&, const QUrl&, const ProgressCallback&) override {
        throw refused();
    }
    void exportFile(const FileRef&, const QString&, const QUrl&) override { throw refused(); }
    std::optional<QByteArray> thumbnail(const FileItem&, int) override { throw refused(); }

private:
    static StorageError refused() { return StorageError::Code::notSupported; }
};

/// The server state of one source, made once.
std::shared_ptr<RemoteMediaSource::Impl> source() {
    static const auto* impl = new std::shared_ptr<RemoteMediaSource::Impl>([] {
        auto made = std::make_shared<RemoteMediaSource::Impl>();
        made->provider = std::make_shared<PatternProvider>();
        made->ref = FileRef{QUuid(), QStringLiteral("clip")};
        made->size = fileSize;
        made->contentType = "video/mp4";
        made->paths.insert(knownPath);
        made->boundPort = 40000;
        return made;
    }());
    return *impl;
}

struct Answer {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

Answer parse(const std::string& written) {
    const QByteArray raw = QByteArray::fromStdString(written);
    const qsizetype end = raw.indexOf("\r\n\r\n");
    FUZZ_CHECK(end > 0);
    const QList<QByteArray> lines = raw.left(end).split('\n');
    Answer answer;
    FUZZ_CHECK(lines[0].startsWith("HTTP/1.1 "));
    answer.status = lines[0].mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        FUZZ_CHECK(colon > 0);
        answer.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    answer.body = raw.mid(end + 4);
    return answer;
}

QByteArray fileBytes(qint64 first, qint64 last) {
    QByteArray bytes;
    for (qint64 i = first; i <= last; ++i)
        bytes.append(byteAt(i));
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)source();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto impl = source();
    QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // Requests one after another, as on a kept-alive connection, until one ends it.
    for (int served = 0; served < 16; ++served) {
        const qsizetype before = input.size();
        int status = 0;
        const std::optional<MediaRequest> request = MediaRequest::take(input, status);
        if (!request)
            return 0; // an incomplete head: the server waits for more
        FUZZ_CHECK(input.size() < before || status == 431);
        MediaAnswer reply;
        if (status != 0) {
            FUZZ_CHECK(status == 400 || status == 431);
            reply = MediaAnswer::refusal(status);
        } else {
            reply = impl->answer(*request);
        }
        QByteArray written = reply.head(false);
        if (reply.streams) {
            RemoteMediaSource::Impl::readRange(*impl->provider, impl->ref, reply.start, reply.end,
                                               [&](QByteArray chunk) { written += chunk; });
        }
        if (std::getenv("TW_FUZZ_TRACE")) // the answer's status and headers, to check the seeds
            std::fprintf(stderr, "%s\n", written.left(written.indexOf("\r\n\r\n")).constData());
        const Answer answer = parse(written.toStdString());
        const bool head = status == 0 && request->method == "HEAD";
        FUZZ_CHECK(answer.status == reply.status);

        switch (answer.status) {
        case 200: {
            FUZZ_CHECK(answer.headers.value("content-length") == QByteArray::number(fileSize));
            FUZZ_CHECK(answer.body == (head ? QByteArray() : fileBytes(0, fileSize - 1)));
            break;
        }
        case 206: {
            static const QRegularExpression pattern(
                QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"));
            const auto match =
                pattern.match(QString::fromLatin1(answer.headers.value("content-range")));
            FUZZ_CHECK(match.hasMatch());
            const qint64 first = match.captured(1).toLongLong();
            const qint64 last = match.captured(2).toLongLong();
            FUZZ_CHECK(match.captured(3).toLongLong() == fileSize);
            FUZZ_CHECK(first <= last && last < fileSize);
            FUZZ_CHECK(answer.headers.value("content-length") ==
                       QByteArray::number(last - first + 1));
            FUZZ_CHECK(answer.body == (head ? QByteArray() : fileBytes(first, last)));
            break;
        }
        default:
            // Refusals carry none of the file.
            FUZZ_CHECK(answer.body.isEmpty());
            FUZZ_CHECK(answer.headers.value("content-length") == "0");
            FUZZ_CHECK(answer.status >= 400 && answer.status < 500);
            break;
        }
        if (answer.status == 200 || answer.status == 206)
            FUZZ_CHECK(answer.headers.value("accept-ranges") == "bytes");
        if (status != 0 || !request->keepsAlive() || request->hasBody())
            return 0; // the connection ends here
    }
    return 0;
}
