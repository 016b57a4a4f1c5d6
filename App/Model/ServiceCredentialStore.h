#pragma once

#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "TelegramProvider/TelegramConfiguration.h"

#include <optional>

namespace tw {

class InfoDictionary;

/// The application's own service credentials, read once from the information dictionary
/// (Info.json). A missing or unusable value turns that service off. Immutable: read from any
/// thread.
class ServiceCredentialStore {
public:
    ServiceCredentialStore(std::optional<GoogleOAuthConfiguration> google,
                           std::optional<TelegramConfiguration> telegram)
        : bundledGoogle_(std::move(google)), bundledTelegram_(std::move(telegram)) {}
    /// Values are trimmed; empty ones and unexpanded build settings ("$(") count as missing;
    /// the Telegram API id must be a signed 32-bit decimal.
    static ServiceCredentialStore fromInfoDictionary(const InfoDictionary& info);
    /// Info.json beside the executable, else the one compiled in.
    static ServiceCredentialStore bundled();

    const std::optional<GoogleOAuthConfiguration>& bundledGoogle() const { return bundledGoogle_; }
    const std::optional<TelegramConfiguration>& bundledTelegram() const { return bundledTelegram_; }

private:
    std::optional<GoogleOAuthConfiguration> bundledGoogle_;
    std::optional<TelegramConfiguration> bundledTelegram_;
};

} // namespace tw
