#include "StorageCore/Security/Redactor.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct Case {
    const char* input;
    const char* expected;
};

class Redaction : public ::testing::TestWithParam<Case> {};

TEST_P(Redaction, MasksWhatMustNotBeLogged) {
    EXPECT_EQ(Redactor::redact(QString::fromUtf8(GetParam().input)),
              QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Redaction,
    ::testing::Values(
        Case{"GET /drive/v3/files status 200", "GET /drive/v3/files status 200"}, Case{"", ""},
        // Google tokens.
        Case{"token ya29.a0AfB_byC-x.y_z end", "token <access-token> end"},
        Case{"rt=1//0gAbC-d_e", "rt=<refresh-token>"},
        // Bearer credentials: a Google token is masked by its own rule first.
        Case{"Authorization: Bearer ya29.abc", "Authorization: Bearer <access-token>"},
        Case{"authorization: bearer abc123", "authorization: Bearer <redacted>"},
        Case{"BEARER\tabc", "Bearer <redacted>"},
        // The full token alphabet, including "+", "/", "~" and "=".
        Case{"Bearer AbC+dEf/GhI~jK-l.m_n==, next", "Bearer <redacted>, next"},
        Case{"Bearer abc/def+ghi=", "Bearer <redacted>"},
        // Parameters in forms, queries and JSON.
        Case{"code=X&code_verifier=Y&grant_type=authorization_code",
             "code=<redacted>&code_verifier=<redacted>&grant_type=authorization_code"},
        Case{"{\"refresh_token\": \"1//abc\", \"expires_in\": 3599}",
             "{\"refresh_token\": \"<redacted>\", \"expires_in\": 3599}"},
        Case{"{\"access_token\":\"ya29.x\",\"id_token\":\"e.y.z\"}",
             "{\"access_token\":\"<redacted>\",\"id_token\":\"<redacted>\"}"},
        Case{"?client_secret=s3cr3t&x=1", "?client_secret=<redacted>&x=1"},
        Case{"Access_Token = abc, next", "Access_Token = <redacted>, next"},
        Case{"access_token=ya29.abc", "access_token=<redacted>"},
        Case{"zipcode=123 barcode=9", "zipcode=123 barcode=9"},
        // E-mail addresses.
        Case{"signed in as ada.lovelace+drive@example.co.uk today", "signed in as <email> today"},
        // Home folders.
        Case{"/Users/ada/Library/Caches", "/Users/<user>/Library/Caches"},
        Case{"open /home/ada/Downloads/a.pdf failed", "open /home/<user>/Downloads/a.pdf failed"},
        Case{"/var/home/ada/x", "/var/home/<user>/x"},
        Case{"/root/.local/share/Tessarow", "/<home>/.local/share/Tessarow"},
        Case{"path=\"/root\"", "path=\"/<home>\""},
        Case{"/rootfs/a /srv/root/b", "/rootfs/a /srv/root/b"}));

} // namespace
