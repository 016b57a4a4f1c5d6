#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QUrl>

#include <memory>

namespace tw::test {

/// An HTTPClient that sends every request through another one after rewriting the scheme,
/// host and port of URLs whose origin it knows (for example "https://oauth2.googleapis.com"
/// → "http://127.0.0.1:<port>"). The path and query are kept byte for byte, so production
/// code keeps its real endpoint constants and tests reach a loopback fake. Requests to
/// unknown origins pass unchanged. It records the original URLs it was asked for.
class RewritingHTTPClient : public HTTPClient {
public:
    RewritingHTTPClient(std::shared_ptr<HTTPClient> inner, QHash<QString, QUrl> origins);

    /// Adds or replaces one rewrite: `origin` is "scheme://host[:port]" (no path), `target`
    /// the URL whose scheme, host and port replace it.
    void addOrigin(const QString& origin, const QUrl& target);

    /// The URL as it is sent.
    QUrl rewrite(const QUrl& url) const;

    /// The URLs of the requests made so far, before rewriting.
    QList<QUrl> requestedURLs() const;

    HTTPReply send(const HTTPRequest& request) override;
    HTTPReply upload(const HTTPRequest& request, const HTTPBody& body,
                     const HTTPProgress& progress = {}) override;
    HTTPDownload download(const HTTPRequest& request, const QString& destination) override;

    /// "scheme://host[:port]" of a URL; the port only when it is not the scheme's default.
    static QString originOf(const QUrl& url);

private:
    HTTPRequest rewritten(const HTTPRequest& request);

    std::shared_ptr<HTTPClient> inner_;
    mutable QMutex mutex_;
    QHash<QString, QUrl> origins_;
    QList<QUrl> requested_;
};

} // namespace tw::test
