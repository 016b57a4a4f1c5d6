#pragma once

// Shared set-up of the end-to-end Drive suites: the real libcurl client behind a host-rewriting
// decorator, a loopback fake Drive server, an in-memory secret store, a fake clock and a sleep
// that records the back-off waits instead of waiting.

#include "GoogleDriveProvider/Drive/GoogleDriveProvider.h"
#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "tests/support/FakeDriveServer.h"
#include "tests/support/InMemorySecretStore.h"
#include "tests/support/RewritingHTTPClient.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace tw::test {

/// A clock that stands still at a fixed time.
struct StillClock {
    QDateTime time = QDateTime(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc());
    QDateTime now() const { return time; }
    Clock clock() const {
        return [time = time] { return time; };
    }
};

/// Records back-off waits without waiting; honours cancellation like the real one.
class RecordingSleep {
public:
    SleepFunction function() {
        return [this](std::chrono::milliseconds duration) {
            {
                std::lock_guard lock(mutex_);
                waits_.push_back(duration.count());
            }
            Cancellation::checkpoint();
        };
    }
    std::vector<qint64> waits() const {
        std::lock_guard lock(mutex_);
        return waits_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<qint64> waits_;
};

/// A browser that follows the authorisation page of the fake server to the loopback redirect
/// server with the real HTTP client, as a user's browser would.
class FollowingBrowser : public BrowserOpener {
public:
    explicit FollowingBrowser(std::shared_ptr<HTTPClient> http) : http_(std::move(http)) {}
    bool open(const QUrl& url) override {
        opened.append(url);
        HTTPRequest request;
        request.url = url;
        try {
            lastStatus = http_->send(request).response.statusCode;
        } catch (...) {
            lastStatus = -1;
        }
        return true;
    }
    QList<QUrl> opened;
    int lastStatus = 0;

private:
    std::shared_ptr<HTTPClient> http_;
};

class DriveFixture : public ::testing::Test {
protected:
    static constexpr qint64 kChunk = 256 * 1024;

    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        curl = std::make_shared<CurlHTTPClient>();
        http = std::make_shared<RewritingHTTPClient>(curl, server.rewriteOrigins());
        browser = std::make_shared<FollowingBrowser>(http);
        provider = makeProvider(kChunk);
        tokens = server.issueTokens();
        storeTokens(account, tokens, clock.now().addSecs(3600));
    }

    std::unique_ptr<GoogleDriveProvider>
    makeProvider(qint64 chunkSize,
                 std::optional<GoogleOAuthConfiguration> configuration = defaultConfiguration()) {
        return std::make_unique<GoogleDriveProvider>(
            configuration, secrets, browser, http, chunkSize, 3, clock.clock(), sleeps.function());
    }

    static GoogleOAuthConfiguration defaultConfiguration() {
        return GoogleOAuthConfiguration{QStringLiteral("client-1.apps.example"),
                                        std::nullopt,
                                        {GoogleOAuthConfiguration::driveScope()}};
    }

    void storeTokens(const QUuid& id, const FakeDriveServer::Tokens& issued,
                     const QDateTime& expiresAt) {
        const OAuthTokens record{issued.refreshToken, issued.accessToken, expiresAt};
        provider->storeCredential(ProviderCredential{record.encoded(), ProviderKind::googleDrive},
                                  id);
    }

    /// Partial files of downloads beside their destinations (the test's folder).
    QStringList leftoverDownloads() const {
        return QDir(temporary.path())
            .entryList({QStringLiteral(".kelvanor-*.part")}, QDir::Files | QDir::Hidden);
    }
    QString writeLocal(const QString& name, const QByteArray& bytes) {
        const QString path = temporary.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir temporary;
    FakeDriveServer server;
    std::shared_ptr<CurlHTTPClient> curl;
    std::shared_ptr<RewritingHTTPClient> http;
    std::shared_ptr<FollowingBrowser> browser;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    StillClock clock;
    RecordingSleep sleeps;
    std::unique_ptr<GoogleDriveProvider> provider;
    FakeDriveServer::Tokens tokens;
    QUuid account = QUuid::createUuid();
};

} // namespace tw::test
