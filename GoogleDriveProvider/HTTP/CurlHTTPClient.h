#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace tw {

/// The production HTTPClient over libcurl: one easy handle per call, blocking on the calling
/// worker thread.
///
/// - The request's time-out is an idle limit: connecting must finish within it, and a
///   transfer that moves less than one byte per second for that long fails with
///   HTTPTransportError timedOut. A long transfer that keeps moving never times out.
/// - Redirects are followed for GET only (a 308 to an upload PUT is a status, not a
///   redirect), at most 10, and an "Authorization" header is never sent to another host.
/// - Only http and https are spoken, on the request and on every redirect; any other scheme
///   fails with StorageError invalidResponse.
/// - No "Expect: 100-continue"; no signals (NOSIGNAL; SIGPIPE is ignored process-wide).
/// - Cancellation of the current task and upload progress go through the transfer-info
///   callback; a cancelled transfer ends with StorageError cancelled, and one whose progress
///   function throws ends with that exception.
/// - Downloads go to a new file in the temporary folder, created with O_EXCL and mode 0600,
///   named by a fresh upper-case UUID; every failure removes it.
/// - A call that ended with a complete response leaves its handles, and the connection, to a
///   later call of the same client, so a run of requests to one host reuses its connection;
///   all calls of a client share the name cache and TLS sessions. A request whose method is
///   not idempotent (POST, PATCH) opens a fresh connection, so that libcurl never sends it a
///   second time after a reused connection died: it reaches the server at most once.
class CurlHTTPClient : public HTTPClient {
public:
    struct Options {
        /// Replaces every request's own idle limit when set (tests use a short one).
        std::optional<std::chrono::milliseconds> idleLimit;
    };

    CurlHTTPClient();
    explicit CurlHTTPClient(Options options);
    ~CurlHTTPClient() override;

    CurlHTTPClient(const CurlHTTPClient&) = delete;
    CurlHTTPClient& operator=(const CurlHTTPClient&) = delete;

    HTTPReply send(const HTTPRequest& request) override;
    HTTPReply upload(const HTTPRequest& request, const HTTPBody& body,
                     const HTTPProgress& progress = {}) override;
    HTTPDownload download(const HTTPRequest& request, const QString& destination) override;

    /// Process-wide set-up of libcurl and SIGPIPE; called by the constructor, safe to call
    /// again from any thread.
    static void initialiseGlobally();

private:
    struct Shared;
    Options options_;
    std::unique_ptr<Shared> shared_;
};

} // namespace tw
