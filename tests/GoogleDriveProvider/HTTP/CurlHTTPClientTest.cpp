// The real libcurl client against loopback cpp-httplib servers.
#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/Completion.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RunningTask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using namespace std::chrono_literals;

namespace {

/// What a route saw of the last request.
struct Seen {
    std::mutex mutex;
    httplib::Headers headers;
    std::string body;
    std::string method;
    int count = 0;

    void record(const httplib::Request& request) {
        std::lock_guard lock(mutex);
        headers = request.headers;
        body = request.body;
        method = request.method;
        ++count;
    }
    bool has(const std::string& name) {
        std::lock_guard lock(mutex);
        return headers.find(name) != headers.end();
    }
    std::string header(const std::string& name) {
        std::lock_guard lock(mutex);
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

QByteArray pattern(qint64 size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char('a' + (i * 7 + i / 251) % 26);
    return data;
}

QStringList filesIn(const QString& directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden);
}

/// A gate that a server handler waits on until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        cv.notify_all();
    }
    void waitOpen() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return open; });
    }
};

/// Opens a gate and stops the server at the end of a test whose handlers wait on the gate:
/// declared before the client, it runs after the client closed its connections.
struct ReleaseAndStop {
    Gate& gate;
    LoopbackHTTPServer& server;
    ~ReleaseAndStop() {
        gate.release();
        server.stop();
    }
};

class CurlHTTPClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        destination = temporary.filePath(QStringLiteral("download.bin"));
    }

    HTTPRequest request(const QString& path, QByteArray method = "GET") {
        HTTPRequest result;
        result.url = QUrl(server.url(path));
        result.method = std::move(method);
        return result;
    }

    QTemporaryDir temporary;
    /// Where downloads go: their partial files are made beside it.
    QString destination;
    CurlHTTPClient::Options options;
    LoopbackHTTPServer server;
};

TEST_F(CurlHTTPClientTest, EveryStatusIsReturnedWithItsBodyAndHeaders) {
    server.http.Get(
        R"(/status/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
            response.status = std::stoi(request.matches[1]);
            response.set_header("X-Mixed-Case", "yes");
            if (response.status != 204)
                response.set_content("body of " + std::string(request.matches[1]), "text/plain");
        });
    server.start();
    CurlHTTPClient client(options);

    for (const int status : {200, 201, 204, 400, 401, 404, 429, 500, 503}) {
        SCOPED_TRACE(status);
        const HTTPReply reply = client.send(request(QStringLiteral("/status/%1").arg(status)));
        EXPECT_EQ(reply.response.statusCode, status);
        if (status != 204) {
            EXPECT_EQ(reply.body, QByteArray("body of ") + QByteArray::number(status));
        }
        EXPECT_EQ(reply.response.headers.value("x-mixed-case"), QByteArray("yes"));
        EXPECT_EQ(reply.response.headers.value("X-MIXED-CASE"), QByteArray("yes"));
    }
}

TEST_F(CurlHTTPClientTest, RequestsToOneHostReuseTheConnection) {
    std::mutex mutex;
    std::set<int> clientPorts;
    server.http.Get("/ping", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex);
        clientPorts.insert(request.remote_port);
        response.set_content("pong", "text/plain");
    });
    server.start();
    CurlHTTPClient client(options);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(client.send(request(QStringLiteral("/ping"))).body, QByteArray("pong"));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(clientPorts.size(), 1u);
    }

    // Many threads through one client at once: each call has handles of its own.
    std::atomic<int> answered = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                if (client.send(request(QStringLiteral("/ping"))).body == "pong")
                    ++answered;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(answered, 80);
}

TEST_F(CurlHTTPClientTest, BodiesAreFramedByLengthWithoutExpectOrDefaultContentType) {
    Seen seen;
    const auto record = [&seen](const httplib::Request& request, httplib::Response& response) {
        seen.record(request);
        response.set_content("ok", "text/plain");
    };
    server.http.Post("/form", record);
    server.http.Put("/chunk", record);
    server.http.Patch("/json", record);
    server.http.Delete("/item", record);
    server.start();
    CurlHTTPClient client(options);

    // A form post carries its own type; the caller's Content-Length is replaced by the real one.
    HTTPRequest form = request(QStringLiteral("/form"), "POST");
    form.headers.set("Content-Type", "application/x-www-form-urlencoded");
    form.headers.set("Content-Length", "999");
    form.headers.set("Authorization", "Bearer token-1");
    form.body = "a=1&b=%2B";
    EXPECT_EQ(client.send(form).response.statusCode, 200);
    EXPECT_EQ(seen.body, "a=1&b=%2B");
    EXPECT_EQ(seen.header("Content-Length"), "9");
    EXPECT_EQ(seen.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(seen.header("Authorization"), "Bearer token-1");
    EXPECT_FALSE(seen.has("Expect"));

    // A large chunk PUT: no Expect: 100-continue, no made-up Content-Type, exact length.
    const QByteArray chunk = pattern(2 * 1024 * 1024 + 3);
    HTTPRequest put = request(QStringLiteral("/chunk"), "PUT");
    put.headers.set("Content-Range", "bytes 0-2097154/9000000");
    EXPECT_EQ(client.upload(put, chunk).response.statusCode, 200);
    EXPECT_EQ(seen.method, "PUT");
    EXPECT_EQ(seen.header("Content-Length"), std::to_string(chunk.size()));
    EXPECT_EQ(seen.header("Content-Range"), "bytes 0-2097154/9000000");
    EXPECT_FALSE(seen.has("Expect"));
    EXPECT_FALSE(seen.has("Content-Type"));
    EXPECT_EQ(QByteArray::fromStdString(seen.body), chunk);

    // An empty PUT (a status query) still says Content-Length: 0.
    EXPECT_EQ(client.send(request(QStringLiteral("/chunk"), "PUT")).response.statusCode, 200);
    EXPECT_EQ(seen.header("Content-Length"), "0");

    HTTPRequest patch = request(QStringLiteral("/json"), "PATCH");
    patch.headers.set("Content-Type", "application/json; charset=UTF-8");
    patch.body = R"({"name":"x"})";
    EXPECT_EQ(client.send(patch).response.statusCode, 200);
    EXPECT_EQ(seen.method, "PATCH");
    EXPECT_EQ(seen.body, R"({"name":"x"})");

    EXPECT_EQ(client.send(request(QStringLiteral("/item"), "DELETE")).response.statusCode, 200);
    EXPECT_EQ(seen.method, "DELETE");
}

TEST_F(CurlHTTPClientTest, UploadReportsCumulativeProgressUpToTheBodyLength) {
    Seen seen;
    server.http.Put(
        "/upload", [&seen](const httplib::Request& request, httplib::Response& response) {
            seen.record(request);
            response.status = 308;
            response.set_header("Range", "bytes=0-" + std::to_string(request.body.size() - 1));
            response.set_header("Location", "http://127.0.0.1:1/elsewhere");
        });
    server.start();
    CurlHTTPClient client(options);

    const QByteArray body = pattern(3 * 1024 * 1024 + 17);
    QList<qint64> reports;
    std::mutex mutex;
    const HTTPReply reply =
        client.upload(request(QStringLiteral("/upload"), "PUT"), body, [&](qint64 sent) {
            std::lock_guard lock(mutex);
            reports.append(sent);
        });

    // A 308 answer to a PUT is a status for the caller, never a redirect to follow.
    EXPECT_EQ(reply.response.statusCode, 308);
    EXPECT_EQ(reply.response.headers.value("Range"),
              QByteArray("bytes=0-") + QByteArray::number(body.size() - 1));
    EXPECT_EQ(seen.count, 1);
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_GT(reports.first(), 0);
    EXPECT_EQ(reports.last(), body.size());
}

TEST_F(CurlHTTPClientTest, AProgressFunctionThatThrowsEndsTheUploadAndLeaksNothing) {
    server.http.Put("/upload", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("done", "text/plain");
    });
    const auto openDescriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    };
    CurlHTTPClient::initialiseGlobally();
    const QStringList before = openDescriptors();
    server.start();
    {
        CurlHTTPClient client(options);
        const QByteArray body = pattern(2 * 1024 * 1024);
        EXPECT_THROW(client.upload(request(QStringLiteral("/upload"), "PUT"), body,
                                   [](qint64) { throw StorageError(Code::localFileUnreadable); }),
                     StorageError);
        // The client stays usable.
        const HTTPReply reply = client.upload(request(QStringLiteral("/upload"), "PUT"), body);
        EXPECT_EQ(reply.response.statusCode, 200);
        EXPECT_EQ(reply.body, QByteArray("done"));
    }
    // With the client gone and the server stopped, every socket of the failed transfer is
    // closed again.
    server.stop();
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(CurlHTTPClientTest, UploadStreamsASliceOfAFile) {
    Seen seen;
    server.http.Put("/upload",
                    [&seen](const httplib::Request& request, httplib::Response& response) {
                        seen.record(request);
                        response.set_content("done", "text/plain");
                    });
    server.start();
    CurlHTTPClient client(options);

    const QByteArray content = pattern(1024 * 1024 + 5);
    const QString path = temporary.filePath(QStringLiteral("local.bin"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    const auto opened = ReadableFile::open(path);
    qint64 last = 0;
    const HTTPReply reply = client.upload(request(QStringLiteral("/upload"), "PUT"),
                                          HTTPBody::fromFile(opened, 262144, 600000),
                                          [&](qint64 sent) { last = sent; });
    EXPECT_EQ(reply.body, QByteArray("done"));
    EXPECT_EQ(QByteArray::fromStdString(seen.body), content.mid(262144, 600000));
    EXPECT_EQ(seen.header("Content-Length"), "600000");
    EXPECT_EQ(last, 600000);

    // A slice that runs past the end of the file is never sent; a missing file or a folder
    // cannot be opened at all.
    try {
        client.upload(request(QStringLiteral("/upload"), "PUT"),
                      HTTPBody::fromFile(opened, content.size() - 10, 11));
        ADD_FAILURE() << "expected localFileUnreadable";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::localFileUnreadable);
    }
    for (const QString& unopenable : {temporary.filePath(QStringLiteral("no")), temporary.path()}) {
        try {
            ReadableFile::open(unopenable);
            ADD_FAILURE() << "expected localFileUnreadable for " << unopenable.toStdString();
        } catch (const StorageError& error) {
            EXPECT_EQ(error.code(), Code::localFileUnreadable);
        }
    }
    EXPECT_EQ(seen.count, 1);
}

TEST_F(CurlHTTPClientTest, DownloadWritesAPrivatePartialFileBesideTheDestination) {
    const QByteArray content = pattern(700000);
    server.http.Get("/file", [&content](const httplib::Request&, httplib::Response& response) {
        response.set_content(content.toStdString(), "application/octet-stream");
    });
    server.http.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content(R"({"error":{"code":404}})", "application/json");
    });
    server.start();
    CurlHTTPClient client(options);

    const HTTPDownload first = client.download(request(QStringLiteral("/file")), destination);
    const HTTPDownload second = client.download(request(QStringLiteral("/file")), destination);
    EXPECT_EQ(first.response.statusCode, 200);
    EXPECT_NE(first.filePath, second.filePath);
    for (const HTTPDownload& download : {first, second}) {
        const QFileInfo info(download.filePath);
        EXPECT_EQ(info.absolutePath(), QFileInfo(temporary.path()).absoluteFilePath());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\.kelvanor-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-"
                                                      "F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.part$"))
                        .match(info.fileName())
                        .hasMatch())
            << info.fileName().toStdString();
        struct stat status {};
        ASSERT_EQ(::stat(download.filePath.toLocal8Bit().constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        QFile file(download.filePath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), content);
    }

    // An error status is a normal result: its body is in the file for the caller to read.
    const HTTPDownload missing = client.download(request(QStringLiteral("/missing")), destination);
    EXPECT_EQ(missing.response.statusCode, 404);
    QFile file(missing.filePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(R"({"error":{"code":404}})"));
}

TEST_F(CurlHTTPClientTest, FailedDownloadsLeaveNoFileBehind) {
    // The server promises more than it sends, then closes: a broken transfer.
    server.http.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(100000, "application/octet-stream",
                                      [](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0)
                                              return false; // abort the connection mid-body
                                          const std::string part(5000, 'x');
                                          sink.write(part.data(), part.size());
                                          return true;
                                      });
    });
    server.http.Get("/to-file", [](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", "file:///etc/hostname");
    });
    server.start();
    CurlHTTPClient client(options);

    EXPECT_THROW(client.download(request(QStringLiteral("/broken")), destination),
                 HTTPTransportError);
    // A redirect to a non-HTTP scheme gives no HTTP response at all.
    try {
        client.download(request(QStringLiteral("/to-file")), destination);
        ADD_FAILURE() << "expected invalidResponse";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::invalidResponse);
    }
    EXPECT_EQ(filesIn(temporary.path()), QStringList());

    // Not http or https from the start: refused before anything is created.
    HTTPRequest local;
    local.url = QUrl(QStringLiteral("file:///etc/hostname"));
    for (const auto& call : {std::function<void()>([&] { client.send(local); }),
                             std::function<void()>([&] { client.download(local, destination); })}) {
        try {
            call();
            ADD_FAILURE() << "expected invalidResponse";
        } catch (const StorageError& error) {
            EXPECT_EQ(error.code(), Code::invalidResponse);
        }
    }
    EXPECT_EQ(filesIn(temporary.path()), QStringList());
}

TEST_F(CurlHTTPClientTest, CancellationEndsATransferPromptlyAndLeavesNoFile) {
    Gate requestArrived;
    Gate finish;
    server.http.Get("/slow", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(10'000'000, "application/octet-stream",
                                      [&](size_t offset, size_t, httplib::DataSink& sink) {
                                          const std::string part(1000, 'y');
                                          sink.write(part.data(), part.size());
                                          if (offset == 0)
                                              requestArrived.release();
                                          else
                                              finish.waitOpen(); // then stall until the test ends
                                          return true;
                                      });
    });
    server.http.Put("/slow-upload", [&](const httplib::Request&, httplib::Response& response) {
        finish.waitOpen();
        response.set_content("late", "text/plain");
    });
    server.start();
    ReleaseAndStop releaseAndStop{finish, server}; // after the client is gone
    CurlHTTPClient client(options);

    {
        Running<HTTPDownload> download(
            [&] { return client.download(request(QStringLiteral("/slow")), destination); });
        requestArrived.waitOpen();
        download.cancel();
        try {
            download.wait();
            ADD_FAILURE() << "expected cancelled";
        } catch (const StorageError& error) {
            EXPECT_EQ(error.code(), Code::cancelled);
        }
    }
    EXPECT_EQ(filesIn(temporary.path()), QStringList());

    // Cancelling while waiting for the answer to an upload.
    std::atomic<qint64> sent = 0;
    const QByteArray body = pattern(10000);
    Gate bodySent;
    {
        Running<HTTPReply> upload([&] {
            return client.upload(request(QStringLiteral("/slow-upload"), "PUT"), body,
                                 [&](qint64 bytes) {
                                     sent = bytes;
                                     if (bytes == body.size())
                                         bodySent.release();
                                 });
        });
        bodySent.waitOpen();
        upload.cancel();
        EXPECT_THROW(upload.wait(), StorageError);
    }
    EXPECT_EQ(sent, body.size());
}

TEST_F(CurlHTTPClientTest, AnIdleTransferTimesOutButASteadySlowOneDoesNot) {
    Gate finish;
    server.http.Get("/stall", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(100000, "application/octet-stream",
                                      [&](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0) {
                                              finish.waitOpen();
                                              return false;
                                          }
                                          const std::string part(3000, 'z');
                                          sink.write(part.data(), part.size());
                                          return true;
                                      });
    });
    server.http.Get("/trickle", [](const httplib::Request&, httplib::Response& response) {
        // About 2 seconds in all, a few bytes every 150 ms: never idle for a second.
        response.set_content_provider(14, "text/plain",
                                      [](size_t, size_t, httplib::DataSink& sink) {
                                          std::this_thread::sleep_for(150ms);
                                          sink.write("a", 1);
                                          return true;
                                      });
    });
    server.start();
    options.idleLimit = 1000ms;
    ReleaseAndStop releaseAndStop{finish, server}; // after the client is gone
    CurlHTTPClient client(options);

    try {
        client.download(request(QStringLiteral("/stall")), destination);
        ADD_FAILURE() << "expected a time-out";
    } catch (const HTTPTransportError& error) {
        EXPECT_EQ(error.kind(), HTTPTransportError::Kind::timedOut);
        EXPECT_EQ(error.toStorageError().code(), Code::network);
    }
    EXPECT_EQ(filesIn(temporary.path()), QStringList());

    const HTTPReply reply = client.send(request(QStringLiteral("/trickle")));
    EXPECT_EQ(reply.response.statusCode, 200);
    EXPECT_EQ(reply.body, QByteArray(14, 'a'));
}

TEST_F(CurlHTTPClientTest, RedirectsAreFollowedForGetOnlyAndNeverCarryAuthorizationElsewhere) {
    LoopbackHTTPServer other("127.0.0.2"); // loopback too, but another host
    Seen sameHost;
    Seen otherHost;
    other.http.Get("/landing",
                   [&otherHost](const httplib::Request& request, httplib::Response& response) {
                       otherHost.record(request);
                       response.set_content("other host", "text/plain");
                   });
    other.start();
    server.http.Get("/away", [&other](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", other.url(QStringLiteral("/landing")).toStdString());
    });
    server.http.Get("/here", [](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", "/landing");
    });
    server.http.Get("/landing",
                    [&sameHost](const httplib::Request& request, httplib::Response& response) {
                        sameHost.record(request);
                        response.set_content("same host", "text/plain");
                    });
    server.http.Post("/away", [&other](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", other.url(QStringLiteral("/landing")).toStdString());
    });
    server.start();
    CurlHTTPClient client(options);

    HTTPRequest away = request(QStringLiteral("/away"));
    away.headers.set("Authorization", "Bearer secret-token");
    const HTTPReply moved = client.send(away);
    EXPECT_EQ(moved.response.statusCode, 200);
    EXPECT_EQ(moved.body, QByteArray("other host"));
    EXPECT_EQ(moved.response.url.host(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(otherHost.count, 1);
    EXPECT_FALSE(otherHost.has("Authorization"));

    HTTPRequest here = request(QStringLiteral("/here"));
    here.headers.set("Authorization", "Bearer secret-token");
    EXPECT_EQ(client.send(here).body, QByteArray("same host"));
    EXPECT_EQ(sameHost.header("Authorization"), "Bearer secret-token");

    // Anything but GET returns the redirect itself.
    HTTPRequest post = request(QStringLiteral("/away"), "POST");
    post.body = "x=1";
    EXPECT_EQ(client.send(post).response.statusCode, 302);
    EXPECT_EQ(otherHost.count, 1);
}

TEST_F(CurlHTTPClientTest, ARefusedConnectionIsATransportError) {
    // A port that was just free: nobody listens there.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(probe);

    CurlHTTPClient client(options);
    HTTPRequest refused;
    refused.url = QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(ntohs(address.sin_port)));
    try {
        client.download(refused, destination);
        ADD_FAILURE() << "expected a transport error";
    } catch (const HTTPTransportError& error) {
        EXPECT_EQ(toStorageError(std::current_exception()).code(), Code::network);
    }
    EXPECT_EQ(filesIn(temporary.path()), QStringList());

    // The general conversion at the module border.
    EXPECT_EQ(toStorageError(std::make_exception_ptr(HTTPTransportError(
                                 HTTPTransportError::Kind::offline, 6, QStringLiteral("x"))))
                  .code(),
              Code::offline);
    EXPECT_EQ(toStorageError(std::make_exception_ptr(StorageError(Code::cancelled))).code(),
              Code::cancelled);
    EXPECT_EQ(toStorageError(std::make_exception_ptr(std::runtime_error("x"))).code(),
              Code::network);
}

TEST_F(CurlHTTPClientTest, ARequestThatMustNotBeRepeatedIsSentOnceWhenItsAnswerIsLost) {
    // The server acts on the request and closes the connection before answering it. On a
    // reused connection libcurl would send the request again unasked; a folder would be made
    // twice, a single-use code replayed.
    std::mutex mutex;
    std::map<std::string, int> handled;
    std::set<int> clientPorts;
    const int* port = nullptr;
    server.http.Get("/ping", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex);
        clientPorts.insert(request.remote_port);
        response.set_content("pong", "text/plain");
    });
    const auto act = [&](const httplib::Request& request, httplib::Response& response) {
        int seen;
        {
            std::lock_guard lock(mutex);
            seen = ++handled[request.method + " " + request.body];
            clientPorts.insert(request.remote_port);
        }
        if (seen == 1)
            EXPECT_TRUE(closeWithoutAnswer(request, *port));
        else
            response.set_content("done", "text/plain");
    };
    server.http.Post("/act", act);
    server.http.Patch("/act", act);
    server.start();
    const int serverPort = server.port();
    port = &serverPort;
    CurlHTTPClient client(options);

    struct Case {
        QByteArray method;
        QByteArray body;
    };
    for (const Case& c :
         {Case{"POST", "name=folder"}, Case{"POST", ""}, Case{"PATCH", "{\"name\":\"renamed\"}"}}) {
        SCOPED_TRACE(c.method.toStdString() + " " + c.body.toStdString());
        // A kept-alive connection to the host first.
        ASSERT_EQ(client.send(request(QStringLiteral("/ping"))).body, QByteArray("pong"));
        HTTPRequest act = request(QStringLiteral("/act"), c.method);
        act.body = c.body;
        try {
            client.send(act);
            ADD_FAILURE() << "a lost answer was reported as an answer";
        } catch (const HTTPTransportError& error) {
            EXPECT_EQ(error.toStorageError().code(), Code::network);
        }
        std::lock_guard lock(mutex);
        EXPECT_EQ(handled[c.method.toStdString() + " " + c.body.toStdString()], 1);
    }
    // Idempotent requests still reuse the connection.
    {
        std::lock_guard lock(mutex);
        clientPorts.clear();
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(client.send(request(QStringLiteral("/ping"))).body, QByteArray("pong"));
    std::lock_guard lock(mutex);
    EXPECT_EQ(clientPorts.size(), 1u);
}

} // namespace
