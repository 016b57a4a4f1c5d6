// The whole browser sign-in end to end: real libcurl client, real loopback redirect server,
// fake authorisation and token endpoints on loopback.
#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"
#include "GoogleDriveProvider/OAuth/LoopbackRedirectServer.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/RewritingHTTPClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Behaviour = CurlBrowserOpener::Behaviour;
using namespace std::chrono_literals;

namespace {

const QString driveScope = QStringLiteral("https://www.googleapis.com/auth/drive");

QString valueOf(const QueryItems& items, const QString& name) {
    for (const auto& [itemName, value] : items) {
        if (itemName == name)
            return value;
    }
    return {};
}

bool acceptsConnections(const QUrl& redirectURI) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(redirectURI.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

class GoogleAuthenticatorTest : public ::testing::Test {
protected:
    GoogleAuthenticatorTest()
        : oauth(QStringLiteral("client-secret-value")),
          http(std::make_shared<RewritingHTTPClient>(std::make_shared<CurlHTTPClient>(),
                                                     oauth.origins())) {}

    GoogleOAuthConfiguration configuration() const {
        return {QStringLiteral("client-id.apps.googleusercontent.com"),
                QStringLiteral("client-secret-value"),
                {driveScope}};
    }

    std::shared_ptr<CurlBrowserOpener> browser(Behaviour behaviour = Behaviour::fetch) {
        return std::make_shared<CurlBrowserOpener>(http, behaviour);
    }

    GoogleAuthenticator authenticator(std::shared_ptr<BrowserOpener> opener,
                                      std::chrono::milliseconds timeout = 30s) {
        return GoogleAuthenticator(configuration(), http, std::move(opener), clock.clock(),
                                   timeout);
    }

    /// The code of the error authorize() throws.
    static Code failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const StorageError& error) {
            return error.code();
        } catch (...) {
            ADD_FAILURE() << "a foreign exception left the sign-in";
            return Code::network;
        }
        ADD_FAILURE() << "expected a failure";
        return Code::network;
    }

    FakeOAuthServer oauth;
    std::shared_ptr<RewritingHTTPClient> http;
    FakeClock clock;
};

TEST_F(GoogleAuthenticatorTest, ASignInExchangesTheCodeForTokens) {
    const auto opener = browser();
    const OAuthTokens tokens =
        authenticator(opener).authorize(QStringLiteral("ann+drive@example.com"));

    EXPECT_TRUE(tokens.refreshToken.startsWith(QLatin1String("1//")));
    EXPECT_TRUE(tokens.accessToken.startsWith(QLatin1String("ya29.")));
    EXPECT_EQ(tokens.expiresAt, clock.now().addSecs(3599));
    EXPECT_EQ(oauth.tokenRequests(), 1);
    EXPECT_EQ(oauth.problems(), QStringList()); // PKCE, redirect URI and client secret matched

    // The browser saw the confirmation page of the loopback server.
    const std::optional<HTTPReply> page = opener->page();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->response.statusCode, 200);
    EXPECT_EQ(page->body, LoopbackRedirectServer::confirmationPage());

    // The authorisation page got every item; the hint kept its "+".
    const QueryItems query = oauth.lastAuthorizeQuery();
    EXPECT_EQ(query.size(), 10);
    EXPECT_EQ(valueOf(query, "login_hint"), QStringLiteral("ann+drive@example.com"));
    EXPECT_EQ(valueOf(query, "scope"), driveScope);
    EXPECT_EQ(valueOf(query, "state").size(), 32);
    EXPECT_EQ(valueOf(query, "code_challenge").size(), 43);
    const QString redirect = valueOf(query, "redirect_uri");
    EXPECT_TRUE(redirect.startsWith(QLatin1String("http://127.0.0.1:")));
    EXPECT_FALSE(opener->openedURL()->toString().contains(QLatin1String("client-secret-value")));

    const QueryItems form = oauth.lastTokenForm();
    EXPECT_EQ(valueOf(form, "redirect_uri"), redirect);
    EXPECT_EQ(valueOf(form, "code_verifier").size(), 86);
    EXPECT_EQ(valueOf(form, "client_secret"), QStringLiteral("client-secret-value"));

    // Every way out stops the server.
    EXPECT_FALSE(acceptsConnections(QUrl(redirect)));
}

TEST_F(GoogleAuthenticatorTest, TheRedirectDecidesBeforeAnyTokenRequest) {
    const std::pair<FakeOAuthServer::AuthorizeAnswer, Code> cases[] = {
        {FakeOAuthServer::AuthorizeAnswer::accessDenied, Code::authorizationCancelled},
        {FakeOAuthServer::AuthorizeAnswer::otherError, Code::authorizationFailed},
    };
    for (const auto& [answer, expected] : cases) {
        SCOPED_TRACE(int(answer));
        oauth.setAuthorizeAnswer(answer);
        const auto opener = browser();
        EXPECT_EQ(failureOf([&] { authenticator(opener).authorize(std::nullopt); }), expected);
        ASSERT_TRUE(opener->page());
        EXPECT_EQ(opener->page()->response.statusCode, 200);
    }
    EXPECT_EQ(oauth.tokenRequests(), 0);
}

TEST_F(GoogleAuthenticatorTest, ARedirectWithAnotherStateNeitherEndsNorFailsTheSignIn) {
    // Another local process reaches the redirect server before the browser does, with a denial
    // and a forged code: both are answered and ignored, and the browser's redirect completes
    // the sign-in.
    struct RacingOpener : BrowserOpener {
        RacingOpener(std::shared_ptr<HTTPClient> client, std::shared_ptr<CurlBrowserOpener> real)
            : client(std::move(client)), real(std::move(real)) {}
        bool open(const QUrl& url) override {
            const QString redirect = PercentEncoding::firstValue(url, "redirect_uri").value();
            for (const char* target : {"/?error=access_denied", "/?code=forged&state=guess"}) {
                HTTPRequest request;
                request.url = QUrl(redirect + QLatin1String(target));
                statuses.push_back(client->send(request).response.statusCode);
            }
            return real->open(url);
        }
        std::shared_ptr<HTTPClient> client;
        std::shared_ptr<CurlBrowserOpener> real;
        std::vector<int> statuses;
    };
    const auto real = browser();
    const auto opener = std::make_shared<RacingOpener>(http, real);
    const OAuthTokens tokens = authenticator(opener).authorize(std::nullopt);
    EXPECT_TRUE(tokens.accessToken.startsWith(QLatin1String("ya29.")));
    EXPECT_EQ(opener->statuses, std::vector<int>({400, 400}));
    EXPECT_EQ(oauth.tokenRequests(), 1);
    ASSERT_TRUE(real->page());
    EXPECT_EQ(real->page()->response.statusCode, 200);

    // A redirect that only ever comes with another state ends at the time limit, with no
    // token request.
    oauth.setAuthorizeAnswer(FakeOAuthServer::AuthorizeAnswer::wrongState);
    const auto forged = browser();
    EXPECT_EQ(failureOf([&] { authenticator(forged, 300ms).authorize(std::nullopt); }),
              Code::authorizationCancelled);
    ASSERT_TRUE(forged->page());
    EXPECT_EQ(forged->page()->response.statusCode, 400);
    EXPECT_EQ(oauth.tokenRequests(), 1);
}

TEST_F(GoogleAuthenticatorTest, ABrowserThatCannotOpenFailsAtOnceAndStopsTheServer) {
    const auto opener = browser(Behaviour::refuse);
    EXPECT_EQ(failureOf([&] { authenticator(opener).authorize(std::nullopt); }),
              Code::authorizationFailed);
    ASSERT_TRUE(opener->openedURL());
    const QUrl redirect(PercentEncoding::firstValue(*opener->openedURL(), "redirect_uri").value());
    EXPECT_FALSE(acceptsConnections(redirect));
    EXPECT_EQ(oauth.tokenRequests(), 0);
}

TEST_F(GoogleAuthenticatorTest, NoRedirectInTimeOrACancelledTaskIsACancelledSignIn) {
    EXPECT_EQ(failureOf([&] {
                  authenticator(browser(Behaviour::ignore), 300ms).authorize(std::nullopt);
              }),
              Code::authorizationCancelled);

    const auto opener = browser(Behaviour::ignore);
    std::stop_source source;
    std::optional<Code> result;
    std::thread signIn([&] {
        Cancellation::Scope scope(source.get_token());
        result = failureOf([&] { authenticator(opener).authorize(std::nullopt); });
    });
    opener->openedSignal.wait(); // the page is open, the sign-in waits for the redirect
    source.request_stop();
    signIn.join();
    EXPECT_EQ(result, Code::authorizationCancelled);
    EXPECT_EQ(oauth.tokenRequests(), 0);

    // A task cancelled before the page opens never shows it.
    const auto unopened = browser();
    std::stop_source stopped;
    stopped.request_stop();
    Cancellation::Scope scope(stopped.get_token());
    EXPECT_EQ(failureOf([&] { authenticator(unopened).authorize(std::nullopt); }),
              Code::authorizationCancelled);
    EXPECT_FALSE(unopened->openedURL());
}

TEST_F(GoogleAuthenticatorTest, CancellingWhileTheBrowserOpensIsACancelledSignIn) {
    // Like the desktop opener, this one waits for another thread and gives up with false when
    // the task is cancelled meanwhile.
    struct WaitingOpener : BrowserOpener {
        Completion<QUrl> asked;
        bool open(const QUrl& url) override {
            asked.resolve(url);
            try {
                Completion<bool>().wait();
            } catch (const StorageError&) {
            }
            return false;
        }
    };
    const auto opener = std::make_shared<WaitingOpener>();
    std::stop_source source;
    std::optional<Code> result;
    std::thread signIn([&] {
        Cancellation::Scope scope(source.get_token());
        result = failureOf([&] { authenticator(opener).authorize(std::nullopt); });
    });
    const QUrl asked = opener->asked.wait();
    source.request_stop();
    signIn.join();
    EXPECT_EQ(result, Code::authorizationCancelled);
    EXPECT_FALSE(
        acceptsConnections(QUrl(PercentEncoding::firstValue(asked, "redirect_uri").value())));
}

TEST_F(GoogleAuthenticatorTest, TokenEndpointAnswersAreJudged) {
    struct Case {
        const char* name;
        std::optional<FakeOAuthServer::Reply> reply;
        std::string grantedScope;
        std::optional<Code> expected;
    };
    const std::string drive = driveScope.toStdString();
    const Case cases[] = {
        {"extra scopes are fine", std::nullopt, "openid " + drive + " email", std::nullopt},
        {"drive scope not granted", std::nullopt, "openid email", Code::authorizationFailed},
        {"no refresh token",
         FakeOAuthServer::Reply{200, R"({"access_token":"ya29.x","expires_in":3599,"scope":")" +
                                         drive + "\"}"},
         drive, Code::authorizationFailed},
        {"no scope at all",
         FakeOAuthServer::Reply{
             200, R"({"access_token":"ya29.x","expires_in":3599,"refresh_token":"1//r"})"},
         drive, Code::authorizationFailed},
        {"undecodable", FakeOAuthServer::Reply{200, R"({"access_token":"ya29.x"})"}, drive,
         Code::invalidResponse},
        {"invalid_grant", FakeOAuthServer::Reply{400, R"({"error":"invalid_grant"})"}, drive,
         Code::reauthRequired},
        {"invalid_client", FakeOAuthServer::Reply{401, R"({"error":"invalid_client"})"}, drive,
         Code::notConfigured},
        {"not JSON", FakeOAuthServer::Reply{400, "<html>Bad Request</html>"}, drive,
         Code::authorizationFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oauth.setTokenReply(c.reply);
        oauth.setGrantedScope(c.grantedScope);
        try {
            authenticator(browser()).authorize(std::nullopt);
            EXPECT_FALSE(c.expected);
        } catch (const StorageError& error) {
            ASSERT_TRUE(c.expected) << error.caseName().toStdString();
            EXPECT_EQ(error.code(), *c.expected);
        }
    }
}

TEST_F(GoogleAuthenticatorTest, ATransportFailureOfTheExchangeLeavesAsAStorageError) {
    // The token endpoint's host is unreachable: a port that nobody listens on.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    http->addOrigin(QStringLiteral("https://oauth2.googleapis.com"),
                    QUrl(QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port))));

    EXPECT_EQ(failureOf([&] { authenticator(browser()).authorize(std::nullopt); }), Code::network);
}

} // namespace
