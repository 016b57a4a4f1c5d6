// The token endpoint's replies (success and error bodies), the refusal mapper and the stored
// token set, all fed the same bytes. A stored token set encodes back to itself.

#include "FuzzCheck.h"

#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"

#include <QDateTime>

using namespace tw;
using Code = StorageError::Code;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);

    if (const auto reply = TokenEndpointResponse::decode(body)) {
        // A decoded lifetime is positive and bounded, so an expiry date made from it is valid.
        FUZZ_CHECK(reply->expiresIn > 0 &&
                   reply->expiresIn <= TokenEndpointResponse::maxExpiresIn);
        FUZZ_CHECK(QDateTime::currentDateTimeUtc().addSecs(reply->expiresIn).isValid());
    }

    const auto refusal = TokenEndpointError::decode(body);
    const StorageError mapped = GoogleAuthenticator::mapTokenError(body);
    FUZZ_CHECK(mapped.code() == Code::authorizationFailed || mapped.code() == Code::reauthRequired ||
               mapped.code() == Code::notConfigured);
    if (!refusal)
        FUZZ_CHECK(mapped.code() == Code::authorizationFailed);

    if (const auto tokens = OAuthTokens::decode(body)) {
        FUZZ_CHECK(tokens->expiresAt.isValid());
        const auto again = OAuthTokens::decode(tokens->encoded());
        FUZZ_CHECK(again && again->refreshToken == tokens->refreshToken &&
                   again->accessToken == tokens->accessToken);
        // Stored with millisecond precision: the round trip keeps the instant.
        FUZZ_CHECK(again->expiresAt == tokens->expiresAt);
    }
    return 0;
}
