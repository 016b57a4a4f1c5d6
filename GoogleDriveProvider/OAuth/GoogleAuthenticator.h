#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "StorageCore/Domain/Clock.h"

#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace tw {

/// Opens a URL in the user's browser. open() may be called from any thread, blocks until the
/// platform answered, never throws, and returns whether the URL was opened.
class BrowserOpener {
public:
    virtual ~BrowserOpener() = default;
    virtual bool open(const QUrl& url) = 0;
};

/// The interactive sign-in of one Google account: the authorisation-code flow with PKCE and a
/// one-shot loopback redirect server. authorize() blocks a worker thread (never the main
/// thread) until the sign-in ends; it honours the current task's cancellation.
class GoogleAuthenticator {
public:
    GoogleAuthenticator(GoogleOAuthConfiguration configuration, std::shared_ptr<HTTPClient> http,
                        std::shared_ptr<BrowserOpener> browser, Clock now,
                        std::chrono::milliseconds timeout = std::chrono::seconds(600));

    /// Runs one sign-in attempt and returns the new tokens. Throws StorageError only:
    /// authorizationCancelled (time limit, cancellation, access denied), authorizationFailed,
    /// reauthRequired / notConfigured (token endpoint refusals), invalidResponse, and offline
    /// or network for transport failures of the code exchange.
    OAuthTokens authorize(const std::optional<QString>& loginHint);

    /// The code of a callback URL, after checking its state first, then its "error" item.
    static QString authorizationCode(const QUrl& callback, const QString& expectedState);
    /// The StorageError of a refused token request, from its body.
    static StorageError mapTokenError(const QByteArray& body);

private:
    OAuthTokens exchange(const QString& code, const QString& verifier, const QString& redirectURI);

    GoogleOAuthConfiguration configuration_;
    std::shared_ptr<HTTPClient> http_;
    std::shared_ptr<BrowserOpener> browser_;
    Clock now_;
    std::chrono::milliseconds timeout_;
};

} // namespace tw
