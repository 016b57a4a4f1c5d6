#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"
#include "GoogleDriveProvider/OAuth/LoopbackRedirectServer.h"
#include "StorageCore/Concurrency/Cancellation.h"

#include <QLoggingCategory>
#include <QSet>

Q_LOGGING_CATEGORY(lcSignIn, "GoogleDrive.SignIn")

namespace tw {

using Code = StorageError::Code;

GoogleAuthenticator::GoogleAuthenticator(GoogleOAuthConfiguration configuration,
                                         std::shared_ptr<HTTPClient> http,
                                         std::shared_ptr<BrowserOpener> browser, Clock now,
                                         std::chrono::milliseconds timeout)
    : configuration_(std::move(configuration)), http_(std::move(http)),
      browser_(std::move(browser)), now_(std::move(now)), timeout_(timeout) {}

OAuthTokens GoogleAuthenticator::authorize(const std::optional<QString>& loginHint) {
    try {
        // Only the redirect that carries this state ends the wait: one that another local
        // process sends first is answered and ignored.
        const QString state = PKCE::randomURLSafeString(24);
        LoopbackRedirectServer server;
        const QString redirectURI = server.start(state);

        const QString verifier = PKCE::randomURLSafeString(64);
        const QString challenge = PKCE::challengeFor(verifier);
        const QUrl url = GoogleOAuthRequests::authorizationURL(configuration_, redirectURI, state,
                                                               challenge, loginHint);

        // A sign-in cancelled already never opens a browser page.
        if (Cancellation::isCancelled())
            throw StorageError(Code::authorizationCancelled);
        if (!browser_->open(url)) {
            server.stop();
            // An opener gives up with false when the task is cancelled while it waits for the
            // main thread: that is the user's cancellation, not a failure.
            if (Cancellation::isCancelled())
                throw StorageError(Code::authorizationCancelled);
            qCWarning(lcSignIn) << "the browser could not be opened";
            throw StorageError(Code::authorizationFailed);
        }

        std::optional<QUrl> callback;
        try {
            callback = server.waitForCallback(std::chrono::steady_clock::now() + timeout_);
        } catch (const StorageError& error) {
            server.stop();
            if (error.isCancelled())
                throw StorageError(Code::authorizationCancelled);
            throw;
        }
        if (!callback) {
            qCInfo(lcSignIn) << "no redirect within the time limit";
            server.stop();
            throw StorageError(Code::authorizationCancelled);
        }

        const QString code = authorizationCode(*callback, state);
        // The server keeps answering during the exchange and stops on the way out.
        return exchange(code, verifier, redirectURI);
    } catch (...) {
        // Everything leaves as a StorageError, transport failures of the exchange included.
        const StorageError error = toStorageError(std::current_exception());
        if (!error.isCancelled())
            qCWarning(lcSignIn) << "sign-in failed:" << error.caseName();
        throw error;
    }
}

QString GoogleAuthenticator::authorizationCode(const QUrl& callback, const QString& expectedState) {
    const std::optional<QString> state =
        PercentEncoding::firstValue(callback, QStringLiteral("state"));
    if (!state || *state != expectedState)
        throw StorageError(Code::authorizationFailed);
    if (const auto error = PercentEncoding::firstValue(callback, QStringLiteral("error"))) {
        throw StorageError(*error == QLatin1String("access_denied") ? Code::authorizationCancelled
                                                                    : Code::authorizationFailed);
    }
    const std::optional<QString> code =
        PercentEncoding::firstValue(callback, QStringLiteral("code"));
    if (!code || code->isEmpty())
        throw StorageError(Code::authorizationFailed);
    return *code;
}

StorageError GoogleAuthenticator::mapTokenError(const QByteArray& body) {
    const std::optional<TokenEndpointError> reply = TokenEndpointError::decode(body);
    if (!reply)
        return StorageError(Code::authorizationFailed);
    if (reply->error == QLatin1String("invalid_grant"))
        return StorageError(Code::reauthRequired);
    if (reply->error == QLatin1String("invalid_client") ||
        reply->error == QLatin1String("unauthorized_client"))
        return StorageError(Code::notConfigured);
    return StorageError(Code::authorizationFailed);
}

OAuthTokens GoogleAuthenticator::exchange(const QString& code, const QString& verifier,
                                          const QString& redirectURI) {
    const HTTPReply reply =
        http_->send(GoogleOAuthRequests::codeExchange(configuration_, code, verifier, redirectURI));
    if (!reply.response.isSuccess()) {
        qCWarning(lcSignIn) << "token endpoint refused the code, status"
                            << reply.response.statusCode;
        throw mapTokenError(reply.body);
    }
    const std::optional<TokenEndpointResponse> tokens = TokenEndpointResponse::decode(reply.body);
    if (!tokens)
        throw StorageError(Code::invalidResponse);
    if (!tokens->refreshToken || tokens->refreshToken->isEmpty())
        throw StorageError(Code::authorizationFailed);
    const QStringList granted =
        tokens->scope.value_or(QString()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QSet<QString> grantedSet(granted.begin(), granted.end());
    for (const QString& scope : configuration_.scopes) {
        if (!grantedSet.contains(scope)) {
            qCWarning(lcSignIn) << "a requested scope was not granted";
            throw StorageError(Code::authorizationFailed);
        }
    }
    return OAuthTokens{*tokens->refreshToken, tokens->accessToken,
                       now_().addSecs(tokens->expiresIn)};
}

} // namespace tw
