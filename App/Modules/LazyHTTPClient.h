#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"

#include <functional>
#include <memory>
#include <mutex>

namespace tw {

/// The HTTP module (libcurl and its TLS libraries): makes the production HTTPClient
/// (CurlHTTPClient).
class HTTPModule {
public:
    virtual ~HTTPModule() = default;
    virtual std::shared_ptr<HTTPClient> createClient() = 0;
};

/// An HTTPClient that makes the real one on its first call, on that call's thread, and hands
/// every call to it. The application's is the HTTP module's client (live()), so libcurl loads
/// with the first request, never while the first window is built. When the real client cannot
/// be made, every call fails with HTTPTransportError (Kind::other) naming the reason.
class LazyHTTPClient : public HTTPClient {
public:
    /// Returns the real client, or throws HTTPTransportError.
    using Factory = std::function<std::shared_ptr<HTTPClient>()>;

    explicit LazyHTTPClient(Factory factory);

    /// Over the HTTP module's client: linked into the program (the tests) or loaded from
    /// libkelvanor-http.so.
    static std::shared_ptr<HTTPClient> live();
    /// The HTTP module, loaded on the first call; null when it cannot be (reason in `error`).
    static HTTPModule* module(QString* error = nullptr);

    HTTPReply send(const HTTPRequest& request) override;
    HTTPReply upload(const HTTPRequest& request, const HTTPBody& body,
                     const HTTPProgress& progress = {}) override;
    HTTPDownload download(const HTTPRequest& request, const QString& destination) override;

    /// True once a call has made the real client.
    bool isLoaded() const;

private:
    std::shared_ptr<HTTPClient> real();

    Factory factory_;
    mutable std::mutex mutex_;
    std::shared_ptr<HTTPClient> real_;
};

} // namespace tw
