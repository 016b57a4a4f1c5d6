// Pure parts of the OAuth client: configuration, PKCE, encoding, request builders, replies.
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "GoogleDriveProvider/HTTP/PercentEncoding.h"
#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "StorageCore/Domain/InfoDictionary.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace tw;
using Code = StorageError::Code;

namespace {

const QString drive = QStringLiteral("https://www.googleapis.com/auth/drive");

QueryItems itemsOf(const QByteArray& form) {
    QUrl url(QStringLiteral("http://x/"));
    url.setQuery(QString::fromLatin1(form), QUrl::StrictMode);
    return PercentEncoding::decodeQuery(url);
}

QStringList names(const QueryItems& items) {
    QStringList result;
    for (const auto& item : items)
        result.append(item.first);
    return result;
}

TEST(OAuthConfiguration, ReadsTheInformationDictionary) {
    struct Case {
        const char* name;
        QJsonObject info;
        std::optional<GoogleOAuthConfiguration> expected;
    };
    const QString id = QStringLiteral("123.apps.googleusercontent.com");
    const Case cases[] = {
        {"id and secret",
         {{"TWGoogleClientID", id}, {"TWGoogleClientSecret", "s3cr3t"}},
         GoogleOAuthConfiguration{id, QStringLiteral("s3cr3t"), {drive}}},
        {"trimmed",
         {{"TWGoogleClientID", "  " + id + "\n"}},
         GoogleOAuthConfiguration{id, {}, {drive}}},
        {"blank secret",
         {{"TWGoogleClientID", id}, {"TWGoogleClientSecret", " \n"}},
         GoogleOAuthConfiguration{id, std::nullopt, {drive}}},
        {"unexpanded secret",
         {{"TWGoogleClientID", id}, {"TWGoogleClientSecret", "$(SECRET)"}},
         GoogleOAuthConfiguration{id, std::nullopt, {drive}}},
        {"unexpanded id", {{"TWGoogleClientID", "$(GOOGLE_CLIENT_ID)"}}, std::nullopt},
        {"id not a string", {{"TWGoogleClientID", 42}}, std::nullopt},
        {"no id", {{"TWGoogleClientSecret", "s"}}, std::nullopt},
        {"empty id", {{"TWGoogleClientID", ""}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GoogleOAuthConfiguration::fromInfoDictionary(JsonInfoDictionary(c.info)),
                  c.expected);
    }
}

TEST(PKCE, VerifiersAreRandomBase64URLAndChallengesAreS256) {
    // RFC 7636, appendix B.
    EXPECT_EQ(PKCE::challengeFor(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
              QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));

    const QRegularExpression urlSafe(QStringLiteral("^[A-Za-z0-9_-]+$"));
    QSet<QString> seen;
    for (int i = 0; i < 20; ++i) {
        const PKCE pair = PKCE::generate();
        EXPECT_EQ(pair.verifier.size(), 86);
        EXPECT_EQ(pair.challenge.size(), 43);
        EXPECT_TRUE(urlSafe.match(pair.verifier).hasMatch());
        EXPECT_TRUE(urlSafe.match(pair.challenge).hasMatch());
        EXPECT_EQ(pair, PKCE::fromVerifier(pair.verifier));
        seen.insert(pair.verifier);
    }
    EXPECT_EQ(seen.size(), 20);
    EXPECT_EQ(PKCE::randomURLSafeString(24).size(), 32);
    EXPECT_EQ(PKCE::randomURLSafeString(1).size(), 2);
}

TEST(PercentEncoding, KeepsOnlyUnreservedCharacters) {
    const std::pair<QString, QByteArray> cases[] = {
        {QStringLiteral("a b"), "a%20b"},
        {QStringLiteral("a+b@x.org"), "a%2Bb%40x.org"},
        {QStringLiteral("/&=?#%"), "%2F%26%3D%3F%23%25"},
        {QStringLiteral("-._~AZaz09"), "-._~AZaz09"},
        {QStringLiteral("%2B"), "%252B"},
        {QStringLiteral("é"), "%C3%A9"},
        {QString(), ""},
    };
    for (const auto& [text, encoded] : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(PercentEncoding::encode(text), encoded);
    }
    EXPECT_EQ(GoogleOAuthRequests::formEncode({}), QByteArray());
    EXPECT_EQ(GoogleOAuthRequests::formEncode({{"a b", "c+d"}, {"e", ""}}), "a%20b=c%2Bd&e=");

    // Decoding gives back exactly what was encoded, "+" included.
    const QueryItems items{{"q", "a+b c"}, {"x", "%41"}, {"e", "é/&="}};
    EXPECT_EQ(PercentEncoding::decodeQuery(PercentEncoding::withQuery(QUrl("https://h/p"), items)),
              items);
    EXPECT_EQ(PercentEncoding::withQuery(QUrl("https://h/p"), items).toEncoded(),
              QByteArray("https://h/p?q=a%2Bb%20c&x=%2541&e=%C3%A9%2F%26%3D"));
}

TEST(GoogleOAuthRequests, AuthorizationURLCarriesTheItemsInOrder) {
    const GoogleOAuthConfiguration configuration{
        QStringLiteral("client"), QStringLiteral("never-in-url"), {drive}};
    const QString redirect = QStringLiteral("http://127.0.0.1:5123");
    const QUrl withoutHint = GoogleOAuthRequests::authorizationURL(
        configuration, redirect, QStringLiteral("st"), QStringLiteral("ch"), std::nullopt);
    EXPECT_EQ(withoutHint.scheme(), QStringLiteral("https"));
    EXPECT_EQ(withoutHint.host(), QStringLiteral("accounts.google.com"));
    EXPECT_EQ(withoutHint.path(), QStringLiteral("/o/oauth2/v2/auth"));
    const QueryItems expected{
        {"client_id", "client"},
        {"redirect_uri", redirect},
        {"response_type", "code"},
        {"scope", drive},
        {"state", "st"},
        {"code_challenge", "ch"},
        {"code_challenge_method", "S256"},
        {"access_type", "offline"},
        {"prompt", "consent select_account"},
    };
    EXPECT_EQ(PercentEncoding::decodeQuery(withoutHint), expected);
    EXPECT_FALSE(withoutHint.toString().contains(QStringLiteral("never-in-url")));
    EXPECT_TRUE(withoutHint.toEncoded().contains("prompt=consent%20select_account"));

    // A plus-addressed hint keeps its "+" (a bare "+" would reach the service as a space).
    const QUrl withHint = GoogleOAuthRequests::authorizationURL(
        configuration, redirect, QStringLiteral("st"), QStringLiteral("ch"),
        QStringLiteral("ann+drive@example.com"));
    QueryItems withLogin = expected;
    withLogin.append(std::pair<QString, QString>("login_hint", "ann+drive@example.com"));
    EXPECT_EQ(PercentEncoding::decodeQuery(withHint), withLogin);
    EXPECT_TRUE(withHint.toEncoded().endsWith("login_hint=ann%2Bdrive%40example.com"));
    // An empty hint still counts.
    EXPECT_EQ(PercentEncoding::decodeQuery(GoogleOAuthRequests::authorizationURL(
                                               configuration, redirect, "st", "ch", QString()))
                  .size(),
              10);
}

TEST(GoogleOAuthRequests, FormPostsHaveTheirPairsInOrder) {
    const GoogleOAuthConfiguration withSecret{"id", QStringLiteral("sec"), {drive}};
    const GoogleOAuthConfiguration withoutSecret{"id", std::nullopt, {drive}};

    const HTTPRequest refresh = GoogleOAuthRequests::refresh(withoutSecret, "1//r+t");
    EXPECT_EQ(refresh.method, QByteArray("POST"));
    EXPECT_EQ(refresh.url, QUrl("https://oauth2.googleapis.com/token"));
    EXPECT_EQ(refresh.timeout, std::chrono::seconds(60));
    EXPECT_EQ(refresh.headers.value("content-type"),
              QByteArray("application/x-www-form-urlencoded"));
    EXPECT_EQ(refresh.body,
              QByteArray("client_id=id&grant_type=refresh_token&refresh_token=1%2F%2Fr%2Bt"));
    EXPECT_EQ(names(itemsOf(GoogleOAuthRequests::refresh(withSecret, "r").body)),
              QStringList({"client_id", "grant_type", "refresh_token", "client_secret"}));

    const HTTPRequest exchange =
        GoogleOAuthRequests::codeExchange(withSecret, "4/0Ab", "verifier", "http://127.0.0.1:1234");
    EXPECT_EQ(itemsOf(exchange.body), QueryItems({{"client_id", "id"},
                                                  {"code", "4/0Ab"},
                                                  {"code_verifier", "verifier"},
                                                  {"grant_type", "authorization_code"},
                                                  {"redirect_uri", "http://127.0.0.1:1234"},
                                                  {"client_secret", "sec"}}));
    EXPECT_EQ(
        names(itemsOf(GoogleOAuthRequests::codeExchange(withoutSecret, "c", "v", "r").body)).size(),
        5);

    const HTTPRequest revoke = GoogleOAuthRequests::revocation("1//tok");
    EXPECT_EQ(revoke.url, QUrl("https://oauth2.googleapis.com/revoke"));
    EXPECT_EQ(revoke.body, QByteArray("token=1%2F%2Ftok"));
}

TEST(OAuthTokens, RoundTripTheStoredForm) {
    const QDateTime expiry(QDate(2026, 3, 1), QTime(10, 30, 15, 250), QTimeZone::utc());
    const OAuthTokens tokens{"1//refresh", "ya29.access", expiry};
    const QJsonObject json = tokens.toJson();
    EXPECT_EQ(json.keys(), QStringList({"accessToken", "expiresAt", "refreshToken"}));
    EXPECT_DOUBLE_EQ(
        json.value("expiresAt").toDouble(),
        double(QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()).msecsTo(expiry)) /
            1000.0);
    EXPECT_EQ(OAuthTokens::decode(tokens.encoded()), tokens);

    for (const char* bad :
         {R"({"refreshToken":"r","accessToken":"a"})",
          R"({"refreshToken":"r","accessToken":1,"expiresAt":0})", "[]", "junk", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(OAuthTokens::decode(bad), std::nullopt);
    }
}

TEST(TokenEndpointReplies, DecodeRequiredAndOptionalKeys) {
    const auto full = TokenEndpointResponse::decode(
        R"({"access_token":"ya29.a","expires_in":3599,"refresh_token":"1//r","scope":"a b","token_type":"Bearer"})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->accessToken, QStringLiteral("ya29.a"));
    EXPECT_EQ(full->expiresIn, 3599);
    EXPECT_EQ(full->refreshToken, QStringLiteral("1//r"));
    EXPECT_EQ(full->scope, QStringLiteral("a b"));

    const auto minimal = TokenEndpointResponse::decode(R"({"access_token":"a","expires_in":10})");
    ASSERT_TRUE(minimal);
    EXPECT_EQ(minimal->refreshToken, std::nullopt);
    EXPECT_EQ(minimal->scope, std::nullopt);

    for (const char* bad :
         {R"({"access_token":"a"})", R"({"expires_in":10})",
          R"({"access_token":"a","expires_in":"10"})", R"({"access_token":"a","expires_in":1.5})",
          R"({"access_token":"a","expires_in":10,"scope":5})", "<html>"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(TokenEndpointResponse::decode(bad));
    }
}

TEST(TokenEndpointReplies, ALifetimeMustBePositiveAndIsCutToADay) {
    constexpr qint64 day = TokenEndpointResponse::maxExpiresIn;
    struct Case {
        const char* expiresIn;
        std::optional<qint64> decoded; // nullopt: the reply is refused
    };
    const Case cases[] = {
        {"1", 1},
        {"3599", 3599},
        {"86400", day},
        {"86401", day},
        {"31536000", day},
        {"9223372036854775807", day},
        {"4611686018427387904", day},
        {"0", std::nullopt},
        {"-1", std::nullopt},
        {"-3600", std::nullopt},
        {"-9223372036854775808", std::nullopt},
        {"1e300", std::nullopt},
        {"-1e300", std::nullopt},
    };
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, QTimeZone::utc());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expiresIn);
        const auto reply = TokenEndpointResponse::decode(
            QByteArray(R"({"access_token":"a","expires_in":)") + c.expiresIn + "}");
        ASSERT_EQ(reply.has_value(), c.decoded.has_value());
        if (!reply)
            continue;
        EXPECT_EQ(reply->expiresIn, *c.decoded);
        const QDateTime expiresAt = now.addSecs(reply->expiresIn);
        ASSERT_TRUE(expiresAt.isValid());
        EXPECT_GT(expiresAt, now);
        // The stored token set keeps the date through its own encoding.
        const OAuthTokens tokens{QStringLiteral("r"), reply->accessToken, expiresAt};
        EXPECT_EQ(OAuthTokens::decode(tokens.encoded()), tokens);
    }
}

TEST(TokenEndpointReplies, RefusalsMapToStorageErrors) {
    const std::pair<const char*, Code> cases[] = {
        {R"({"error":"invalid_grant","error_description":"Bad Request"})", Code::reauthRequired},
        {R"({"error":"invalid_client"})", Code::notConfigured},
        {R"({"error":"unauthorized_client"})", Code::notConfigured},
        {R"({"error":"invalid_request"})", Code::authorizationFailed},
        {R"({"error":42})", Code::authorizationFailed},
        {"not json", Code::authorizationFailed},
        {"", Code::authorizationFailed},
    };
    for (const auto& [body, code] : cases) {
        SCOPED_TRACE(body);
        EXPECT_EQ(GoogleAuthenticator::mapTokenError(body).code(), code);
    }
}

TEST(AuthorizationCode, ChecksStateFirstThenErrorThenCode) {
    const QString base = QStringLiteral("http://127.0.0.1:4000/");
    const std::pair<const char*, std::optional<Code>> cases[] = {
        {"?code=4%2F0Ab&state=S", std::nullopt},
        {"?state=S&code=c1&code=c2", std::nullopt},
        {"?code=c&state=T", Code::authorizationFailed},
        {"?code=c", Code::authorizationFailed},
        {"?error=access_denied&state=S", Code::authorizationCancelled},
        {"?error=access_denied&state=T", Code::authorizationFailed},
        {"?error=server_error&state=S", Code::authorizationFailed},
        {"?state=S&code=", Code::authorizationFailed},
        {"?state=S", Code::authorizationFailed},
        {"", Code::authorizationFailed},
    };
    for (const auto& [query, expected] : cases) {
        SCOPED_TRACE(query);
        const QUrl url(base + QLatin1String(query));
        try {
            const QString code = GoogleAuthenticator::authorizationCode(url, QStringLiteral("S"));
            EXPECT_FALSE(expected);
            EXPECT_TRUE(code == QLatin1String("4/0Ab") || code == QLatin1String("c1"));
        } catch (const StorageError& error) {
            ASSERT_TRUE(expected);
            EXPECT_EQ(error.code(), *expected);
        }
    }
}

} // namespace
