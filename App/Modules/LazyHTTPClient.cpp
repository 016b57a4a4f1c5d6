#include "App/Modules/LazyHTTPClient.h"

#include "App/Modules/ModuleLoader.h"

// The HTTP module's entry: defined when the program links the module's code (the tests), null
// in the executable, which loads libkelvanor-http.so instead.
extern "C" tw::HTTPModule* tw_http_module() __attribute__((weak));

namespace tw {

LazyHTTPClient::LazyHTTPClient(Factory factory) : factory_(std::move(factory)) {}

HTTPModule* LazyHTTPClient::module(QString* error) {
    if (tw_http_module)
        return tw_http_module();
    static QString failure;
    static HTTPModule* const loaded = [] {
        using Entry = HTTPModule* (*)();
        auto entry = reinterpret_cast<Entry>(
            ModuleLoader::entry("libkelvanor-http.so", "tw_http_module", &failure));
        return entry ? entry() : nullptr;
    }();
    if (!loaded && error)
        *error = failure;
    return loaded;
}

std::shared_ptr<HTTPClient> LazyHTTPClient::live() {
    return std::make_shared<LazyHTTPClient>([]() -> std::shared_ptr<HTTPClient> {
        QString error;
        if (HTTPModule* http = module(&error))
            return http->createClient();
        throw HTTPTransportError(HTTPTransportError::Kind::other, 0,
                                 QStringLiteral("HTTP module unavailable: %1").arg(error));
    });
}

std::shared_ptr<HTTPClient> LazyHTTPClient::real() {
    const std::lock_guard lock(mutex_);
    if (!real_)
        real_ = factory_(); // a failure throws and the next call tries again
    return real_;
}

bool LazyHTTPClient::isLoaded() const {
    const std::lock_guard lock(mutex_);
    return real_ != nullptr;
}

HTTPReply LazyHTTPClient::send(const HTTPRequest& request) {
    return real()->send(request);
}

HTTPReply LazyHTTPClient::upload(const HTTPRequest& request, const HTTPBody& body,
                                 const HTTPProgress& progress) {
    return real()->upload(request, body, progress);
}

HTTPDownload LazyHTTPClient::download(const HTTPRequest& request, const QString& destination) {
    return real()->download(request, destination);
}

} // namespace tw
