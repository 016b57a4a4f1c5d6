#pragma once

#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "TelegramProvider/TelegramConfiguration.h"

#include <memory>
#include <optional>

namespace tw {

class InfoDictionary;

/// The application's own service credentials, read once from the information dictionary
/// (Info.json). A missing or unusable value turns that service off. Immutable: read from any
/// thread.
class ServiceCredentialStore {
public:
    ServiceCredentialStore(std::optional<GoogleOAuthConfiguration> google,
                           std::optional<TelegramConfiguration> telegram);
    /// Values are trimmed; empty ones and unexpanded build settings ("$(") count as missing;
    /// the Telegram API id must be a signed 32-bit decimal.
    static ServiceCredentialStore fromInfoDictionary(const InfoDictionary& info);
    /// Info.json beside the executable, else the one compiled in.
    static ServiceCredentialStore bundled();

    const std::optional<GoogleOAuthConfiguration>& bundledGoogle() const { return values_->google; }
    const std::optional<TelegramConfiguration>& bundledTelegram() const { return values_->telegram; }

private:
    struct Values {
        std::optional<GoogleOAuthConfiguration> google;
        std::optional<TelegramConfiguration> telegram;
    };
    // Shared and immutable: copies of the store (the back ends' configuration functions
    // hold one each) cost a reference count.
    std::shared_ptr<const Values> values_;
};

} // namespace tw
