// No token, code, verifier or client secret ever reaches a log line, with every logging
// category switched on, over sign-ins, refreshes, failures and revocation.
#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"
#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "GoogleDriveProvider/OAuth/GoogleCredentialManager.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/InMemorySecretStore.h"
#include "tests/support/RewritingHTTPClient.h"

#include <QLoggingCategory>

#include <gtest/gtest.h>

#include <mutex>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

namespace {

std::mutex logMutex;
QStringList capturedLines;

void capture(QtMsgType, const QMessageLogContext& context, const QString& message) {
    std::lock_guard lock(logMutex);
    capturedLines.append(QString::fromLatin1(context.category ? context.category : "") +
                         QLatin1String(": ") + message);
}

class LogCapture {
public:
    LogCapture() {
        QLoggingCategory::setFilterRules(QStringLiteral("*=true"));
        previous_ = qInstallMessageHandler(capture);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
    }
    QStringList lines() const {
        std::lock_guard lock(logMutex);
        return capturedLines;
    }

private:
    QtMessageHandler previous_ = nullptr;
};

TEST(SecretLogging, NoSecretReachesALogLine) {
    const QString clientSecret = QStringLiteral("GOCSPX-client-secret-value");
    LogCapture logs;
    FakeOAuthServer oauth(clientSecret);
    const auto http =
        std::make_shared<RewritingHTTPClient>(std::make_shared<CurlHTTPClient>(), oauth.origins());
    FakeClock clock;
    const GoogleOAuthConfiguration configuration{
        QStringLiteral("client.apps.googleusercontent.com"),
        clientSecret,
        {GoogleOAuthConfiguration::driveScope()}};
    // A redirect with another state is ignored: that sign-in ends at its (short) time limit.
    const auto signIn = [&](FakeOAuthServer::AuthorizeAnswer answer) -> std::optional<OAuthTokens> {
        oauth.setAuthorizeAnswer(answer);
        const bool ignored = answer == FakeOAuthServer::AuthorizeAnswer::wrongState;
        GoogleAuthenticator authenticator(configuration, http,
                                          std::make_shared<CurlBrowserOpener>(http), clock.clock(),
                                          ignored ? std::chrono::milliseconds(300)
                                                  : std::chrono::milliseconds(600000));
        try {
            return authenticator.authorize(QStringLiteral("ann@example.com"));
        } catch (const StorageError&) {
            return std::nullopt;
        }
    };

    // A good sign-in, then the failing kinds.
    const std::optional<OAuthTokens> tokens = signIn(FakeOAuthServer::AuthorizeAnswer::code);
    ASSERT_TRUE(tokens);
    EXPECT_FALSE(signIn(FakeOAuthServer::AuthorizeAnswer::wrongState));
    EXPECT_FALSE(signIn(FakeOAuthServer::AuthorizeAnswer::accessDenied));
    oauth.setTokenReply(FakeOAuthServer::Reply{400, R"({"error":"invalid_grant"})"});
    EXPECT_FALSE(signIn(FakeOAuthServer::AuthorizeAnswer::code));
    oauth.setTokenReply(std::nullopt);

    // Refreshes that succeed and fail, then removal with revocation.
    const auto secrets = std::make_shared<InMemorySecretStore>();
    GoogleCredentialManager manager(
        secrets, [&] { return std::optional<GoogleOAuthConfiguration>(configuration); }, http,
        clock.clock());
    const QUuid account = QUuid::createUuid();
    manager.store(*tokens, account);
    const QString refreshed = manager.accessToken(account, true);
    EXPECT_TRUE(refreshed.startsWith(QLatin1String("ya29.")));
    oauth.setTokenReply(FakeOAuthServer::Reply{400, R"({"error":"invalid_grant"})"});
    EXPECT_THROW(manager.accessToken(account, true), StorageError);
    oauth.setTokenReply(FakeOAuthServer::Reply{200, "not json"});
    EXPECT_THROW(manager.accessToken(account, true), StorageError);
    oauth.setTokenReply(std::nullopt);
    manager.remove(account, true);
    EXPECT_EQ(oauth.revocations(), 1);

    QStringList secretsSeen = oauth.secrets();
    secretsSeen << clientSecret << tokens->refreshToken << tokens->accessToken << refreshed;
    ASSERT_GE(secretsSeen.size(), 8);
    const QStringList lines = logs.lines();
    EXPECT_FALSE(lines.isEmpty()); // the categories did log
    for (const QString& line : lines) {
        for (const QString& secret : std::as_const(secretsSeen)) {
            ASSERT_FALSE(secret.isEmpty());
            EXPECT_FALSE(line.contains(secret)) << line.toStdString();
            // Encoded forms too ("/" of a code or refresh token as %2F).
            EXPECT_FALSE(line.contains(QString::fromLatin1(PercentEncoding::encode(secret))))
                << line.toStdString();
        }
    }
}

} // namespace
