#include "tests/support/RewritingHTTPClient.h"

#include <QMutexLocker>

namespace tw::test {

RewritingHTTPClient::RewritingHTTPClient(std::shared_ptr<HTTPClient> inner,
                                         QHash<QString, QUrl> origins)
    : inner_(std::move(inner)), origins_(std::move(origins)) {}

void RewritingHTTPClient::addOrigin(const QString& origin, const QUrl& target) {
    QMutexLocker lock(&mutex_);
    origins_.insert(origin, target);
}

QString RewritingHTTPClient::originOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    QString origin = scheme + QStringLiteral("://") + url.host(QUrl::FullyEncoded).toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    if (url.port() != -1 && url.port() != defaultPort)
        origin += QLatin1Char(':') + QString::number(url.port());
    return origin;
}

QUrl RewritingHTTPClient::rewrite(const QUrl& url) const {
    QMutexLocker lock(&mutex_);
    const auto found = origins_.constFind(originOf(url));
    if (found == origins_.constEnd())
        return url;
    // Only the origin changes; the encoded path and query are left exactly as they were.
    QUrl result = url;
    result.setScheme(found->scheme());
    result.setHost(found->host());
    result.setPort(found->port());
    return result;
}

QList<QUrl> RewritingHTTPClient::requestedURLs() const {
    QMutexLocker lock(&mutex_);
    return requested_;
}

HTTPRequest RewritingHTTPClient::rewritten(const HTTPRequest& request) {
    {
        QMutexLocker lock(&mutex_);
        requested_.append(request.url);
    }
    HTTPRequest copy = request;
    copy.url = rewrite(request.url);
    return copy;
}

HTTPReply RewritingHTTPClient::send(const HTTPRequest& request) {
    return inner_->send(rewritten(request));
}

HTTPReply RewritingHTTPClient::upload(const HTTPRequest& request, const HTTPBody& body,
                                      const HTTPProgress& progress) {
    return inner_->upload(rewritten(request), body, progress);
}

HTTPDownload RewritingHTTPClient::download(const HTTPRequest& request, const QString& destination) {
    return inner_->download(rewritten(request), destination);
}

} // namespace tw::test
