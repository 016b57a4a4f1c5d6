#pragma once

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "tests/support/LoopbackHTTPServer.h"

#include <QHash>
#include <QUrl>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace tw::test {

/// Google's OAuth endpoints on loopback: the authorisation page (answers with a 302 to the
/// redirect URI, as the real one does once the user agreed), the token endpoint (code
/// exchange with PKCE and redirect-URI checks, refresh) and revocation. Tokens have realistic
/// shapes so that log tests can look for them. Reach it through RewritingHTTPClient with
/// origins().
class FakeOAuthServer {
public:
    enum class AuthorizeAnswer { code, accessDenied, otherError, wrongState };

    struct Reply {
        int status = 200;
        std::string body;
    };

    explicit FakeOAuthServer(std::optional<QString> clientSecret = std::nullopt)
        : clientSecret_(std::move(clientSecret)) {
        server.http.Get("/o/oauth2/v2/auth",
                        [this](const httplib::Request& request, httplib::Response& response) {
                            authorize(request, response);
                        });
        server.http.Post("/token",
                         [this](const httplib::Request& request, httplib::Response& response) {
                             token(request, response);
                         });
        server.http.Post("/revoke",
                         [this](const httplib::Request& request, httplib::Response& response) {
                             std::lock_guard lock(mutex_);
                             ++revocations_;
                             lastRevokeForm_ = formOf(request.body);
                             response.set_content("{}", "application/json");
                         });
        server.start();
    }

    /// Production origins mapped onto this server.
    QHash<QString, QUrl> origins() const {
        const QUrl target(server.origin());
        return {{QStringLiteral("https://accounts.google.com"), target},
                {QStringLiteral("https://oauth2.googleapis.com"), target}};
    }

    void setAuthorizeAnswer(AuthorizeAnswer answer) { authorizeAnswer_ = answer; }
    /// Replaces the token endpoint's answer (code exchange and refresh alike) until cleared.
    void setTokenReply(std::optional<Reply> reply) {
        std::lock_guard lock(mutex_);
        tokenReply_ = std::move(reply);
    }
    /// The scope granted by the code exchange.
    void setGrantedScope(std::string scope) {
        std::lock_guard lock(mutex_);
        grantedScope_ = std::move(scope);
    }

    int tokenRequests() const {
        std::lock_guard lock(mutex_);
        return tokenRequests_;
    }
    int revocations() const {
        std::lock_guard lock(mutex_);
        return revocations_;
    }
    QueryItems lastTokenForm() const {
        std::lock_guard lock(mutex_);
        return lastTokenForm_;
    }
    QueryItems lastRevokeForm() const {
        std::lock_guard lock(mutex_);
        return lastRevokeForm_;
    }
    QueryItems lastAuthorizeQuery() const {
        std::lock_guard lock(mutex_);
        return lastAuthorizeQuery_;
    }
    /// Every secret this server handed out or received (codes, tokens, verifiers, secret).
    QStringList secrets() const {
        std::lock_guard lock(mutex_);
        return secrets_;
    }
    /// A problem the server found in a request (wrong PKCE, redirect URI, client secret…).
    QStringList problems() const {
        std::lock_guard lock(mutex_);
        return problems_;
    }

    LoopbackHTTPServer server;

private:
    static QueryItems formOf(const std::string& body) {
        QUrl url(QStringLiteral("http://form/"));
        url.setQuery(QString::fromStdString(body), QUrl::StrictMode);
        return PercentEncoding::decodeQuery(url);
    }
    static QString value(const QueryItems& items, const char* name) {
        for (const auto& [itemName, itemValue] : items) {
            if (itemName == QLatin1String(name))
                return itemValue;
        }
        return {};
    }

    void authorize(const httplib::Request& request, httplib::Response& response) {
        QUrl url(QStringLiteral("http://x") + QString::fromStdString(request.target));
        const QueryItems query = PercentEncoding::decodeQuery(url);
        const QString redirect = value(query, "redirect_uri");
        QString state = value(query, "state");
        std::lock_guard lock(mutex_);
        lastAuthorizeQuery_ = query;
        QString target;
        switch (authorizeAnswer_.load()) {
        case AuthorizeAnswer::code: {
            const QString code = QStringLiteral("4/0AeaYSH-code%1").arg(++issued_);
            pending_ =
                Pending{code, redirect, value(query, "code_challenge"), value(query, "client_id")};
            secrets_ << code;
            target =
                QStringLiteral("/?state=") + QString::fromLatin1(PercentEncoding::encode(state)) +
                QStringLiteral("&code=") + QString::fromLatin1(PercentEncoding::encode(code)) +
                QStringLiteral("&scope=") +
                QString::fromLatin1(PercentEncoding::encode(QString::fromStdString(grantedScope_)));
            break;
        }
        case AuthorizeAnswer::accessDenied:
            target = QStringLiteral("/?error=access_denied&state=") + state;
            break;
        case AuthorizeAnswer::otherError:
            target = QStringLiteral("/?error=server_error&state=") + state;
            break;
        case AuthorizeAnswer::wrongState:
            target = QStringLiteral("/?code=4/0AeaYSH-forged&state=not-") + state;
            break;
        }
        response.status = 302;
        response.set_header("Location", (redirect + target).toStdString());
    }

    void token(const httplib::Request& request, httplib::Response& response) {
        const QueryItems form = formOf(request.body);
        std::lock_guard lock(mutex_);
        ++tokenRequests_;
        lastTokenForm_ = form;
        if (clientSecret_.has_value() != !value(form, "client_secret").isEmpty() ||
            (clientSecret_ && value(form, "client_secret") != *clientSecret_))
            problems_ << QStringLiteral("client secret");
        if (tokenReply_) {
            response.status = tokenReply_->status;
            response.set_content(tokenReply_->body, "application/json");
            return;
        }
        const QString grant = value(form, "grant_type");
        if (grant == QLatin1String("authorization_code")) {
            const bool valid =
                pending_ && pending_->code == value(form, "code") &&
                pending_->redirectURI == value(form, "redirect_uri") &&
                pending_->clientID == value(form, "client_id") &&
                PKCE::challengeFor(value(form, "code_verifier")) == pending_->challenge;
            secrets_ << value(form, "code_verifier");
            pending_.reset(); // single use
            if (!valid) {
                problems_ << QStringLiteral("code exchange");
                response.status = 400;
                response.set_content(R"({"error":"invalid_grant"})", "application/json");
                return;
            }
            refreshToken_ = QStringLiteral("1//0gRefresh-%1").arg(issued_);
            const QString access = QStringLiteral("ya29.a0Access-%1").arg(issued_);
            secrets_ << refreshToken_ << access;
            response.set_content(
                QStringLiteral(R"({"access_token":"%1","expires_in":3599,"refresh_token":"%2",)"
                               R"("scope":"%3","token_type":"Bearer"})")
                    .arg(access, refreshToken_, QString::fromStdString(grantedScope_))
                    .toStdString(),
                "application/json");
            return;
        }
        if (grant == QLatin1String("refresh_token") &&
            value(form, "refresh_token") == refreshToken_ && !refreshToken_.isEmpty()) {
            const QString access = QStringLiteral("ya29.a0Refreshed-%1").arg(++issued_);
            secrets_ << access;
            response.set_content(
                QStringLiteral(R"({"access_token":"%1","expires_in":3599,"token_type":"Bearer"})")
                    .arg(access)
                    .toStdString(),
                "application/json");
            return;
        }
        response.status = 400;
        response.set_content(R"({"error":"invalid_grant"})", "application/json");
    }

    struct Pending {
        QString code;
        QString redirectURI;
        QString challenge;
        QString clientID;
    };

    std::optional<QString> clientSecret_;
    std::atomic<AuthorizeAnswer> authorizeAnswer_ = AuthorizeAnswer::code;
    mutable std::mutex mutex_;
    std::optional<Reply> tokenReply_;
    std::string grantedScope_ = "https://www.googleapis.com/auth/drive openid";
    std::optional<Pending> pending_;
    QString refreshToken_;
    int issued_ = 0;
    int tokenRequests_ = 0;
    int revocations_ = 0;
    QueryItems lastTokenForm_;
    QueryItems lastRevokeForm_;
    QueryItems lastAuthorizeQuery_;
    QStringList secrets_;
    QStringList problems_;
};

} // namespace tw::test

#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "StorageCore/Concurrency/Completion.h"

namespace tw::test {

/// A browser for sign-in tests: it loads the authorisation URL with a real HTTP client (in
/// tests, the libcurl client behind RewritingHTTPClient), follows the fake's 302 to the real
/// loopback redirect server and keeps what that server answered.
class CurlBrowserOpener : public BrowserOpener {
public:
    enum class Behaviour {
        fetch,  ///< load the page and follow the redirect
        ignore, ///< report the browser open but do nothing (the user never finishes)
        refuse, ///< report that no browser could be opened
    };

    explicit CurlBrowserOpener(std::shared_ptr<HTTPClient> client,
                               Behaviour behaviour = Behaviour::fetch)
        : client_(std::move(client)), behaviour_(behaviour) {}

    bool open(const QUrl& url) override {
        {
            std::lock_guard lock(mutex_);
            opened_ = url;
        }
        openedSignal.resolve(url);
        if (behaviour_ == Behaviour::refuse)
            return false;
        if (behaviour_ == Behaviour::ignore)
            return true;
        HTTPRequest request;
        request.url = url;
        try {
            const HTTPReply reply = client_->send(request);
            std::lock_guard lock(mutex_);
            page_ = reply;
        } catch (...) {
            std::lock_guard lock(mutex_);
            failed_ = true;
        }
        return true;
    }

    std::optional<QUrl> openedURL() const {
        std::lock_guard lock(mutex_);
        return opened_;
    }
    /// What the loopback redirect server answered the browser.
    std::optional<HTTPReply> page() const {
        std::lock_guard lock(mutex_);
        return page_;
    }
    bool failed() const {
        std::lock_guard lock(mutex_);
        return failed_;
    }

    /// Resolved when open() is called.
    Completion<QUrl> openedSignal;

private:
    std::shared_ptr<HTTPClient> client_;
    Behaviour behaviour_;
    mutable std::mutex mutex_;
    std::optional<QUrl> opened_;
    std::optional<HTTPReply> page_;
    bool failed_ = false;
};

} // namespace tw::test
