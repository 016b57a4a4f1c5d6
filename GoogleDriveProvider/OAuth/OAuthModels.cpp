#include "GoogleDriveProvider/OAuth/OAuthModels.h"

#include "StorageCore/Domain/InfoDictionary.h"
#include "StorageCore/Domain/JsonCoding.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <algorithm>
#include <vector>

namespace tw {
namespace {

QByteArray base64URL(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

/// A dictionary value that counts as set: trimmed, not empty, no unexpanded build setting.
std::optional<QString> configuredValue(const InfoDictionary& info, const QString& key) {
    const std::optional<QString> value = info.string(key);
    if (!value)
        return std::nullopt;
    const QString text = value->trimmed();
    if (text.isEmpty() || text.contains(QLatin1String("$(")))
        return std::nullopt;
    return text;
}

std::optional<QJsonObject> jsonObject(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

// MARK: - Configuration

QString GoogleOAuthConfiguration::driveScope() {
    return QStringLiteral("https://www.googleapis.com/auth/drive");
}

std::optional<GoogleOAuthConfiguration>
GoogleOAuthConfiguration::fromInfoDictionary(const InfoDictionary& info) {
    const std::optional<QString> clientID =
        configuredValue(info, QStringLiteral("TWGoogleClientID"));
    if (!clientID)
        return std::nullopt;
    return GoogleOAuthConfiguration{
        *clientID, configuredValue(info, QStringLiteral("TWGoogleClientSecret")), {driveScope()}};
}

// MARK: - PKCE

QString PKCE::randomURLSafeString(int byteCount) {
    std::vector<quint32> words((size_t(byteCount) + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), byteCount);
    return QString::fromLatin1(base64URL(bytes));
}

QString PKCE::challengeFor(const QString& verifier) {
    return QString::fromLatin1(
        base64URL(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)));
}

PKCE PKCE::fromVerifier(const QString& verifier) {
    return PKCE{verifier, challengeFor(verifier)};
}

PKCE PKCE::generate() {
    return fromVerifier(randomURLSafeString(64));
}

// MARK: - Tokens

QJsonObject OAuthTokens::toJson() const {
    return QJsonObject{{QStringLiteral("refreshToken"), refreshToken},
                       {QStringLiteral("accessToken"), accessToken},
                       {QStringLiteral("expiresAt"), json::encodeDate(expiresAt)}};
}

OAuthTokens OAuthTokens::fromJson(const QJsonObject& object) {
    return OAuthTokens{json::requireString(object, "refreshToken"),
                       json::requireString(object, "accessToken"),
                       json::requireDate(object, "expiresAt")};
}

QByteArray OAuthTokens::encoded() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<OAuthTokens> OAuthTokens::decode(const QByteArray& data) {
    const std::optional<QJsonObject> object = jsonObject(data);
    if (!object)
        return std::nullopt;
    try {
        return fromJson(*object);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

std::optional<TokenEndpointResponse> TokenEndpointResponse::decode(const QByteArray& data) {
    const std::optional<QJsonObject> object = jsonObject(data);
    if (!object)
        return std::nullopt;
    try {
        TokenEndpointResponse response{
            json::requireString(*object, "access_token"), json::requireInt64(*object, "expires_in"),
            json::optionalString(*object, "refresh_token"), json::optionalString(*object, "scope")};
        if (response.expiresIn <= 0)
            return std::nullopt;
        response.expiresIn = std::min(response.expiresIn, maxExpiresIn);
        return response;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

std::optional<TokenEndpointError> TokenEndpointError::decode(const QByteArray& data) {
    const std::optional<QJsonObject> object = jsonObject(data);
    if (!object)
        return std::nullopt;
    try {
        return TokenEndpointError{json::requireString(*object, "error")};
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

// MARK: - Requests

namespace GoogleEndpoints {

QUrl rebase(const QUrl& production, const QUrl& base) {
    const QString scheme = base.scheme();
    if (!base.isValid() || base.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return production;
    QUrl url = base;
    QString prefix = base.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + production.path());
    url.setQuery(production.query());
    url.setFragment(QString());
    return url;
}

QUrl resolve(const QString& productionURL) {
    static const QUrl base = QUrl(qEnvironmentVariable(overrideVariable).trimmed());
    return rebase(QUrl(productionURL), base);
}

} // namespace GoogleEndpoints

namespace GoogleOAuthRequests {

QUrl authorizationEndpoint() {
    return GoogleEndpoints::resolve(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
}

QUrl tokenEndpoint() {
    return GoogleEndpoints::resolve(QStringLiteral("https://oauth2.googleapis.com/token"));
}

QUrl revokeEndpoint() {
    return GoogleEndpoints::resolve(QStringLiteral("https://oauth2.googleapis.com/revoke"));
}

QUrl authorizationURL(const GoogleOAuthConfiguration& configuration, const QString& redirectURI,
                      const QString& state, const QString& codeChallenge,
                      const std::optional<QString>& loginHint) {
    QueryItems items{
        {QStringLiteral("client_id"), configuration.clientID},
        {QStringLiteral("redirect_uri"), redirectURI},
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("scope"), configuration.scopes.join(QLatin1Char(' '))},
        {QStringLiteral("state"), state},
        {QStringLiteral("code_challenge"), codeChallenge},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
        {QStringLiteral("access_type"), QStringLiteral("offline")},
        {QStringLiteral("prompt"), QStringLiteral("consent select_account")},
    };
    if (loginHint)
        items.append({QStringLiteral("login_hint"), *loginHint});
    return PercentEncoding::withQuery(authorizationEndpoint(), items);
}

namespace {
void appendSecret(QueryItems& pairs, const GoogleOAuthConfiguration& configuration) {
    if (configuration.clientSecret)
        pairs.append({QStringLiteral("client_secret"), *configuration.clientSecret});
}
} // namespace

HTTPRequest codeExchange(const GoogleOAuthConfiguration& configuration, const QString& code,
                         const QString& verifier, const QString& redirectURI) {
    QueryItems pairs{
        {QStringLiteral("client_id"), configuration.clientID},
        {QStringLiteral("code"), code},
        {QStringLiteral("code_verifier"), verifier},
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("redirect_uri"), redirectURI},
    };
    appendSecret(pairs, configuration);
    return formPost(tokenEndpoint(), pairs);
}

HTTPRequest refresh(const GoogleOAuthConfiguration& configuration, const QString& refreshToken) {
    QueryItems pairs{
        {QStringLiteral("client_id"), configuration.clientID},
        {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
        {QStringLiteral("refresh_token"), refreshToken},
    };
    appendSecret(pairs, configuration);
    return formPost(tokenEndpoint(), pairs);
}

HTTPRequest revocation(const QString& refreshToken) {
    return formPost(revokeEndpoint(), {{QStringLiteral("token"), refreshToken}});
}

HTTPRequest formPost(const QUrl& endpoint, const QueryItems& pairs) {
    HTTPRequest request;
    request.url = endpoint;
    request.method = "POST";
    request.headers.set("Content-Type", "application/x-www-form-urlencoded");
    request.body = formEncode(pairs);
    request.timeout = std::chrono::seconds(60);
    return request;
}

QByteArray formEncode(const QueryItems& pairs) {
    return PercentEncoding::encodeItems(pairs);
}

} // namespace GoogleOAuthRequests
} // namespace tw
