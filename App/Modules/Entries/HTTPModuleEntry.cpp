// The entry of libkelvanor-http.so (and of programs that link the HTTP client's code directly).
#include "App/Modules/LazyHTTPClient.h"
#include "GoogleDriveProvider/HTTP/CurlHTTPClient.h"

namespace tw {
namespace {

class CurlHTTPModule final : public HTTPModule {
public:
    std::shared_ptr<HTTPClient> createClient() override {
        return std::make_shared<CurlHTTPClient>();
    }
};

} // namespace
} // namespace tw

extern "C" __attribute__((visibility("default"))) tw::HTTPModule* tw_http_module() {
    static tw::CurlHTTPModule module;
    return &module;
}
