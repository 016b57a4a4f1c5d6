#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Security/SecretStore.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace tw {

/// Owns the OAuth tokens of every connected Google account: persists them in the secret store
/// (key: the account's upper-case UUID, value: the tokens' JSON), keeps them in memory, hands
/// out a valid access token, refreshes it when 60 seconds or less remain or when asked to,
/// with at most one refresh per account in flight however many callers need one, and forgets
/// (and optionally revokes) an account's tokens. Every operation blocks the calling worker
/// thread; the manager may be used from many threads at once. Only StorageError leaves it.
class GoogleCredentialManager {
public:
    /// Asked at every refresh; nullopt means the Google client is not configured.
    using ConfigurationProvider = std::function<std::optional<GoogleOAuthConfiguration>()>;

    GoogleCredentialManager(std::shared_ptr<SecretStore> secrets,
                            ConfigurationProvider configuration, std::shared_ptr<HTTPClient> http,
                            Clock now);
    /// Cancels refreshes still in flight; their results are dropped.
    ~GoogleCredentialManager();

    GoogleCredentialManager(const GoogleCredentialManager&) = delete;
    GoogleCredentialManager& operator=(const GoogleCredentialManager&) = delete;

    /// Persists the tokens, then caches them. A failing secret store throws its failure
    /// converted to a StorageError (network) and leaves the cache as it was.
    void store(const OAuthTokens& tokens, const QUuid& account);

    /// A bearer token for the account: the cached one while more than 60 seconds remain and
    /// no refresh is forced, else the one of a (shared) refresh. Throws reauthRequired when
    /// the account has no readable stored tokens, notConfigured without an OAuth client, the
    /// token endpoint's refusal mapped, invalidResponse, offline, network or cancelled.
    QString accessToken(const QUuid& account, bool forceRefresh = false);

    /// Forgets the account: cancels its refresh in flight, drops the cache and the stored
    /// entry and, with `revoke`, asks the service to revoke the refresh token. Never fails.
    void remove(const QUuid& account, bool revoke) noexcept;

    /// The secret-store key of an account.
    static QString key(const QUuid& account);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tw
