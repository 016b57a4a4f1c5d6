// TW_GOOGLE_BASE_URL moves every Google endpoint (sign-in, token, revocation, Drive API,
// uploads) to another base; without it the production hosts stand.
#include "GoogleDriveProvider/Drive/DriveAPI.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"

#include <gtest/gtest.h>

using namespace tw;

TEST(GoogleEndpoints, RebaseKeepsPathAndQueryUnderTheBase) {
    const struct {
        const char* production;
        const char* base;
        const char* expected;
    } cases[] = {
        {"https://accounts.google.com/o/oauth2/v2/auth", "http://127.0.0.1:8080",
         "http://127.0.0.1:8080/o/oauth2/v2/auth"},
        {"https://oauth2.googleapis.com/token", "http://127.0.0.1:8080/", "http://127.0.0.1:8080/token"},
        {"https://www.googleapis.com/drive/v3/", "http://[::1]:9/fake/",
         "http://[::1]:9/fake/drive/v3/"},
        {"https://www.googleapis.com/upload/drive/v3/files?uploadType=resumable",
         "https://localhost:4443/google", "https://localhost:4443/google/upload/drive/v3/files?uploadType=resumable"},
        // Not a usable base: the production URL stands.
        {"https://oauth2.googleapis.com/revoke", "", "https://oauth2.googleapis.com/revoke"},
        {"https://oauth2.googleapis.com/revoke", "127.0.0.1:8080", "https://oauth2.googleapis.com/revoke"},
        {"https://oauth2.googleapis.com/revoke", "ftp://127.0.0.1/", "https://oauth2.googleapis.com/revoke"},
        {"https://oauth2.googleapis.com/revoke", "file:///tmp/x", "https://oauth2.googleapis.com/revoke"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GoogleEndpoints::rebase(QUrl(QString::fromUtf8(c.production)),
                                          QUrl(QString::fromUtf8(c.base))),
                  QUrl(QString::fromUtf8(c.expected)))
            << c.production << " under " << c.base;
    }
}

TEST(GoogleEndpoints, TheVariableMovesEveryEndpoint) {
    // Read once per process, on first use: set before anything asks for an endpoint.
    qputenv(GoogleEndpoints::overrideVariable, "http://127.0.0.1:4711");
    const QString base = QStringLiteral("http://127.0.0.1:4711/");
    EXPECT_EQ(GoogleOAuthRequests::authorizationEndpoint().toString(), base + "o/oauth2/v2/auth");
    EXPECT_EQ(GoogleOAuthRequests::tokenEndpoint().toString(), base + "token");
    EXPECT_EQ(GoogleOAuthRequests::revokeEndpoint().toString(), base + "revoke");
    EXPECT_EQ(DriveAPI::base().toString(), base + "drive/v3/");
    EXPECT_EQ(DriveAPI::uploadEndpoint().toString(), base + "upload/drive/v3/files");

    // Every request built on them goes there too.
    const GoogleOAuthConfiguration client{QStringLiteral("id"), std::nullopt, {GoogleOAuthConfiguration::driveScope()}};
    EXPECT_TRUE(GoogleOAuthRequests::authorizationURL(client, "http://127.0.0.1:1/", "s", "c", std::nullopt)
                    .toString()
                    .startsWith(base + "o/oauth2/v2/auth?"));
    EXPECT_TRUE(GoogleOAuthRequests::refresh(client, "r").url.toString().startsWith(base + "token"));
    EXPECT_TRUE(DriveAPI::list(std::nullopt, std::nullopt).url.toString().startsWith(base + "drive/v3/files"));
    LocalFile file;
    file.name = QStringLiteral("a.txt");
    file.sizeBytes = 1;
    EXPECT_TRUE(DriveAPI::initiateResumableUpload(file, std::nullopt)
                    .url.toString()
                    .startsWith(base + "upload/drive/v3/files"));
    // The scope is a name, not an endpoint: it stays.
    EXPECT_EQ(GoogleOAuthConfiguration::driveScope(), "https://www.googleapis.com/auth/drive");
}
