#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"
#include "GoogleDriveProvider/HTTP/PercentEncoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace tw {

class InfoDictionary;

/// The OAuth client of the application: identifier, optional secret and requested scopes.
struct GoogleOAuthConfiguration {
    QString clientID;
    std::optional<QString> clientSecret;
    QStringList scopes;

    /// The Drive API's full-access scope.
    static QString driveScope();

    /// The configuration of the information dictionary ("TWGoogleClientID",
    /// "TWGoogleClientSecret"), with scopes [driveScope()]. A value that is missing, blank
    /// after trimming, or holds an unexpanded build setting ("$(") counts as not set; no
    /// client identifier gives no configuration, no secret a configuration without one.
    static std::optional<GoogleOAuthConfiguration> fromInfoDictionary(const InfoDictionary& info);

    bool operator==(const GoogleOAuthConfiguration&) const = default;
};

/// A PKCE verifier and its S256 challenge.
struct PKCE {
    QString verifier;
    QString challenge;

    /// The pair for a given verifier.
    static PKCE fromVerifier(const QString& verifier);
    /// A fresh pair: 64 random bytes as verifier (86 characters).
    static PKCE generate();
    /// `byteCount` bytes of the system's secure random generator as unpadded base64url text
    /// (64 bytes give 86 characters, 24 give 32).
    static QString randomURLSafeString(int byteCount);
    /// Unpadded base64url of the SHA-256 digest of the verifier's UTF-8 bytes (43 characters).
    static QString challengeFor(const QString& verifier);

    bool operator==(const PKCE&) const = default;
};

/// The token set of one Google account, as stored in the secret store. Its JSON is one flat
/// object with "refreshToken", "accessToken" and "expiresAt" (seconds since 2001-01-01 UTC).
/// Deliberately has no debug printing: the tokens are secrets.
struct OAuthTokens {
    QString refreshToken;
    QString accessToken;
    QDateTime expiresAt;

    QJsonObject toJson() const;
    /// Throws DecodingError when a key is missing or of the wrong type.
    static OAuthTokens fromJson(const QJsonObject& object);
    /// The compact JSON bytes of toJson().
    QByteArray encoded() const;
    /// nullopt when the bytes are not the JSON of a token set.
    static std::optional<OAuthTokens> decode(const QByteArray& data);

    bool operator==(const OAuthTokens&) const = default;
};

/// A successful reply of the token endpoint.
struct TokenEndpointResponse {
    QString accessToken;
    qint64 expiresIn = 0;
    std::optional<QString> refreshToken;
    std::optional<QString> scope;

    /// The longest lifetime taken from a reply. Google's access tokens live an hour; a longer
    /// promise is cut to this, so the token is refreshed early rather than trusted for years
    /// (and the expiry date stays far inside what QDateTime can hold).
    static constexpr qint64 maxExpiresIn = 24 * 60 * 60;

    /// nullopt when a required key ("access_token", "expires_in") is missing, a key has the
    /// wrong type, or "expires_in" is not a positive number of seconds (a token that is
    /// already expired is no answer); a lifetime above maxExpiresIn is cut to it. Other keys
    /// are ignored.
    static std::optional<TokenEndpointResponse> decode(const QByteArray& data);
};

/// A failed reply of the token endpoint: its OAuth error code.
struct TokenEndpointError {
    QString error;

    static std::optional<TokenEndpointError> decode(const QByteArray& data);
};

/// Where the Google endpoints live. Production code names the real URLs; when the environment
/// variable TW_GOOGLE_BASE_URL holds an http(s) URL (tests only: a loopback fake), every
/// endpoint keeps its path and query but moves to that base (scheme, host, port, path prefix).
namespace GoogleEndpoints {

inline constexpr const char* overrideVariable = "TW_GOOGLE_BASE_URL";

/// The production URL, or its rebased form under TW_GOOGLE_BASE_URL (read once per process).
QUrl resolve(const QString& productionURL);
/// The production URL moved under base: base's scheme, host and port, base's path (without
/// its trailing "/") followed by the production path, the production query. A base that is
/// empty or not an absolute http(s) URL leaves the production URL as it is.
QUrl rebase(const QUrl& production, const QUrl& base);

} // namespace GoogleEndpoints

/// The endpoints and request builders of the OAuth client. Nothing here sends anything.
namespace GoogleOAuthRequests {

QUrl authorizationEndpoint();
QUrl tokenEndpoint();
QUrl revokeEndpoint();

/// The authorisation page for one attempt: client_id, redirect_uri, response_type,
/// scope, state, code_challenge, code_challenge_method, access_type, prompt and, when given,
/// login_hint, in that order, strictly encoded. The client secret is never part of it.
QUrl authorizationURL(const GoogleOAuthConfiguration& configuration, const QString& redirectURI,
                      const QString& state, const QString& codeChallenge,
                      const std::optional<QString>& loginHint);

/// The code exchange post to the token endpoint.
HTTPRequest codeExchange(const GoogleOAuthConfiguration& configuration, const QString& code,
                         const QString& verifier, const QString& redirectURI);
/// The refresh post to the token endpoint.
HTTPRequest refresh(const GoogleOAuthConfiguration& configuration, const QString& refreshToken);
/// The revocation post of a refresh token.
HTTPRequest revocation(const QString& refreshToken);

/// A POST of the form-encoded pairs with "Content-Type: application/x-www-form-urlencoded"
/// and a 60-second time-out.
HTTPRequest formPost(const QUrl& endpoint, const QueryItems& pairs);
/// The form text of the pairs (PercentEncoding::encodeItems).
QByteArray formEncode(const QueryItems& pairs);

} // namespace GoogleOAuthRequests
} // namespace tw
