// The browser's redirect at the end of a Google sign-in, as the loopback server receives it:
// the request line, its target and query, then the authenticator's reading of the callback.

#include "FuzzCheck.h"

#include "GoogleDriveProvider/HTTP/PercentEncoding.h"
#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "GoogleDriveProvider/OAuth/LoopbackRedirectServer.h"

using namespace tw;
using Code = StorageError::Code;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray request = fuzz::bytes(data, size);
    const QString redirectURI = QStringLiteral("http://127.0.0.1:53682");

    const std::optional<QUrl> callback = LoopbackRedirectServer::callbackURL(request, redirectURI);
    if (!callback)
        return 0;
    // Only a GET (blanks before the method are tolerated).
    FUZZ_CHECK(request.trimmed().startsWith("GET "));
    FUZZ_CHECK(callback->isValid());
    FUZZ_CHECK(callback->scheme() == QLatin1String("http") &&
               callback->host() == QLatin1String("127.0.0.1") && callback->port() == 53682);
    FUZZ_CHECK(callback->path() == QLatin1String("/"));

    const QueryItems items = PercentEncoding::decodeQuery(*callback);
    bool carries = false;
    for (const auto& [name, value] : items)
        carries = carries || name == QLatin1String("code") || name == QLatin1String("error");
    FUZZ_CHECK(carries);

    // Encoding the decoded items and decoding them again gives the same items.
    const QUrl rebuilt = PercentEncoding::withQuery(QUrl(redirectURI + QLatin1Char('/')), items);
    FUZZ_CHECK(PercentEncoding::decodeQuery(rebuilt) == items);

    // The authenticator's reading: the state first, then the error, then the code.
    const QString expectedState = QStringLiteral("Zm9vYmFyYmF6cXV4");
    const auto state = PercentEncoding::firstValue(*callback, QStringLiteral("state"));
    const auto error = PercentEncoding::firstValue(*callback, QStringLiteral("error"));
    try {
        const QString code = GoogleAuthenticator::authorizationCode(*callback, expectedState);
        FUZZ_CHECK(state == expectedState && !error && !code.isEmpty());
        FUZZ_CHECK(code == PercentEncoding::firstValue(*callback, QStringLiteral("code")));
    } catch (const StorageError& failure) {
        if (state != expectedState)
            FUZZ_CHECK(failure.code() == Code::authorizationFailed);
        else
            FUZZ_CHECK(failure.code() == Code::authorizationFailed ||
                       failure.code() == Code::authorizationCancelled);
    }
    return 0;
}
