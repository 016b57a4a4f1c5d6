#include "GoogleDriveProvider/OAuth/GoogleCredentialManager.h"

#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Domain/JsonCoding.h"

#include <QHash>
#include <QLoggingCategory>

#include <mutex>
#include <stop_token>
#include <thread>
#include <variant>

Q_LOGGING_CATEGORY(lcCredentials, "GoogleDrive.Credentials")

namespace tw {

using Code = StorageError::Code;

namespace {

/// What a refresh gives every caller. Failures travel as values: each waiter throws its own
/// copy, so no exception object is shared between threads.
using RefreshResult = std::variant<OAuthTokens, StorageError>;

OAuthTokens unwrap(const RefreshResult& result) {
    if (const auto* error = std::get_if<StorageError>(&result))
        throw *error;
    return std::get<OAuthTokens>(result);
}

/// The one refresh in flight for an account.
struct Refresh {
    quint64 id = 0;
    Completion<RefreshResult> completion;
    std::shared_ptr<std::stop_source> stop;
};

} // namespace

/// Shared with the refresh jobs, which may outlive a call (and, cancelled, the manager).
struct GoogleCredentialManager::State {
    std::shared_ptr<SecretStore> secrets;
    ConfigurationProvider configuration;
    std::shared_ptr<HTTPClient> http;
    Clock now;

    /// Makes "is the account still stored? then write" one step against store() and
    /// remove(). Held across secret-store calls only, never across the network; taken
    /// before `mutex` when both are needed.
    std::mutex storeMutex;

    /// Guards the maps below; held only while they change.
    std::mutex mutex;
    QHash<QUuid, OAuthTokens> cache;
    QHash<QUuid, Refresh> refreshes;
    /// Bumped by every store() and remove() of an account: a refresh or a load that began
    /// before writes nothing back over newer facts.
    QHash<QUuid, quint64> generations;
    quint64 nextRefreshID = 1;

    OAuthTokens loadTokens(const QUuid& account);
    OAuthTokens refresh(const QUuid& account, const OAuthTokens& tokens,
                        const std::shared_ptr<State>& self);
    static void runRefresh(const std::shared_ptr<State>& self, QUuid account, OAuthTokens old,
                           GoogleOAuthConfiguration configuration, quint64 id, quint64 generation,
                           Completion<RefreshResult> completion);
};

QString GoogleCredentialManager::key(const QUuid& account) {
    return json::encodeUuid(account);
}

GoogleCredentialManager::GoogleCredentialManager(std::shared_ptr<SecretStore> secrets,
                                                 ConfigurationProvider configuration,
                                                 std::shared_ptr<HTTPClient> http, Clock now)
    : state_(std::make_shared<State>()) {
    state_->secrets = std::move(secrets);
    state_->configuration = std::move(configuration);
    state_->http = std::move(http);
    state_->now = std::move(now);
}

GoogleCredentialManager::~GoogleCredentialManager() {
    std::lock_guard lock(state_->mutex);
    for (const Refresh& refresh : std::as_const(state_->refreshes))
        refresh.stop->request_stop();
}

void GoogleCredentialManager::store(const OAuthTokens& tokens, const QUuid& account) {
    const QByteArray data = tokens.encoded();
    std::lock_guard storeLock(state_->storeMutex);
    try {
        state_->secrets->save(data, key(account));
    } catch (...) {
        const StorageError error = toStorageError(std::current_exception());
        qCWarning(lcCredentials) << "saving tokens failed:" << error.caseName();
        throw error;
    }
    std::lock_guard lock(state_->mutex);
    state_->cache.insert(account, tokens);
    ++state_->generations[account];
}

OAuthTokens GoogleCredentialManager::State::loadTokens(const QUuid& account) {
    quint64 generation = 0;
    {
        std::lock_guard lock(mutex);
        if (const auto cached = cache.constFind(account); cached != cache.constEnd())
            return *cached;
        generation = generations.value(account);
    }
    std::optional<QByteArray> data;
    try {
        data = secrets->load(key(account));
    } catch (const SecretStoreError& error) {
        // A keyring that cannot be read says nothing about the sign-in: no reconnect helps.
        throw error.storageError();
    } catch (...) {
        throw StorageError(Code::reauthRequired);
    }
    const std::optional<OAuthTokens> tokens = data ? OAuthTokens::decode(*data) : std::nullopt;
    if (!tokens)
        throw StorageError(Code::reauthRequired);
    std::lock_guard lock(mutex);
    // A remove() or store() meanwhile knows better than what was read before it.
    if (generations.value(account) == generation && !cache.contains(account))
        cache.insert(account, *tokens);
    return *tokens;
}

QString GoogleCredentialManager::accessToken(const QUuid& account, bool forceRefresh) {
    const OAuthTokens tokens = state_->loadTokens(account);
    if (!forceRefresh && state_->now().msecsTo(tokens.expiresAt) > 60 * 1000)
        return tokens.accessToken;
    return state_->refresh(account, tokens, state_).accessToken;
}

OAuthTokens GoogleCredentialManager::State::refresh(const QUuid& account, const OAuthTokens& tokens,
                                                    const std::shared_ptr<State>& self) {
    const auto joinRunning = [&]() -> std::optional<Completion<RefreshResult>> {
        std::lock_guard lock(mutex);
        if (const auto running = refreshes.constFind(account); running != refreshes.constEnd())
            return running->completion;
        return std::nullopt;
    };
    // Callers that arrive during a refresh share it: no second token request.
    if (const auto running = joinRunning())
        return unwrap(running->wait());

    const std::optional<GoogleOAuthConfiguration> configuration = this->configuration();
    if (!configuration)
        throw StorageError(Code::notConfigured);

    Completion<RefreshResult> completion;
    {
        std::lock_guard lock(mutex);
        const auto cached = cache.constFind(account);
        if (const auto running = refreshes.constFind(account); running != refreshes.constEnd()) {
            completion = running->completion;
        } else if (cached != cache.constEnd() && !(*cached == tokens) &&
                   now().msecsTo(cached->expiresAt) > 60 * 1000) {
            // A refresh (or a sign-in) ended after this caller read its tokens: its tokens are
            // the answer. A second request would spend a refresh token that may have rotated.
            return *cached;
        } else {
            Refresh refresh;
            refresh.id = nextRefreshID++;
            refresh.completion = completion;
            refresh.stop = std::make_shared<std::stop_source>();
            refreshes.insert(account, refresh);
            // The job runs on a thread of its own: callers parked on the worker pool wait for
            // it, so it must never wait for a free pool thread itself.
            try {
                std::thread(&State::runRefresh, self, account, tokens, *configuration,
                            refresh.id, generations.value(account), completion)
                    .detach();
            } catch (...) {
                // No thread, no refresh: its entry must not keep every later caller waiting.
                qCWarning(lcCredentials) << "token refresh could not start a thread";
                refreshes.remove(account);
                completion.resolve(StorageError(Code::network));
            }
        }
    }
    return unwrap(completion.wait());
}

void GoogleCredentialManager::State::runRefresh(const std::shared_ptr<State>& self, QUuid account,
                                                OAuthTokens old,
                                                GoogleOAuthConfiguration configuration, quint64 id,
                                                quint64 generation,
                                                Completion<RefreshResult> completion) {
    std::stop_token token;
    {
        std::lock_guard lock(self->mutex);
        const auto entry = self->refreshes.constFind(account);
        if (entry == self->refreshes.constEnd() || entry->id != id) {
            completion.resolve(StorageError(Code::cancelled)); // removed before it began
            return;
        }
        token = entry->stop->get_token();
    }
    Cancellation::Scope scope(token);

    const auto finish = [&] {
        std::lock_guard lock(self->mutex);
        const auto entry = self->refreshes.constFind(account);
        if (entry != self->refreshes.constEnd() && entry->id == id)
            self->refreshes.erase(entry);
    };

    try {
        const HTTPReply reply =
            self->http->send(GoogleOAuthRequests::refresh(configuration, old.refreshToken));
        if (!reply.response.isSuccess()) {
            qCWarning(lcCredentials)
                << "token refresh refused, status" << reply.response.statusCode;
            throw GoogleAuthenticator::mapTokenError(reply.body);
        }
        const std::optional<TokenEndpointResponse> response =
            TokenEndpointResponse::decode(reply.body);
        if (!response)
            throw StorageError(Code::invalidResponse);
        const OAuthTokens fresh{response->refreshToken.value_or(old.refreshToken),
                                response->accessToken, self->now().addSecs(response->expiresIn)};

        {
            // Written back only while the account still has stored tokens and nobody stored
            // or removed them since this refresh began; remove() cannot slip in between.
            std::lock_guard storeLock(self->storeMutex);
            bool current = false;
            {
                std::lock_guard lock(self->mutex);
                current = self->generations.value(account) == generation;
            }
            std::optional<QByteArray> stored;
            if (current) {
                try {
                    stored = self->secrets->load(key(account));
                } catch (...) {
                    stored.reset();
                }
            }
            if (current && stored) {
                self->secrets->save(fresh.encoded(), key(account));
                std::lock_guard lock(self->mutex);
                self->cache.insert(account, fresh);
            }
        }
        finish();
        completion.resolve(fresh);
    } catch (...) {
        // Every caller, the one that started it and those that joined, gets a StorageError.
        const StorageError error = toStorageError(std::current_exception());
        if (!error.isCancelled())
            qCWarning(lcCredentials) << "token refresh failed:" << error.caseName();
        finish();
        completion.resolve(error);
    }
}

void GoogleCredentialManager::remove(const QUuid& account, bool revoke) noexcept {
    std::optional<OAuthTokens> tokens;
    try {
        tokens = state_->loadTokens(account);
    } catch (...) {
        tokens.reset();
    }
    {
        std::lock_guard storeLock(state_->storeMutex);
        {
            std::lock_guard lock(state_->mutex);
            if (const auto running = state_->refreshes.constFind(account);
                running != state_->refreshes.constEnd()) {
                running->stop->request_stop();
                state_->refreshes.erase(running);
            }
            state_->cache.remove(account);
            ++state_->generations[account];
        }
        try {
            state_->secrets->remove(key(account));
        } catch (...) {
            qCWarning(lcCredentials) << "deleting stored tokens failed";
        }
    }
    if (revoke && tokens) {
        try {
            const HTTPReply reply =
                state_->http->send(GoogleOAuthRequests::revocation(tokens->refreshToken));
            qCInfo(lcCredentials) << "revocation answered, status" << reply.response.statusCode;
        } catch (...) {
            qCInfo(lcCredentials) << "revocation failed; ignored";
        }
    }
}

} // namespace tw
