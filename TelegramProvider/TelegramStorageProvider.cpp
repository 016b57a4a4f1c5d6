#include "TelegramProvider/TelegramStorageProvider.h"

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Domain/JsonCoding.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <thread>
#include <vector>

namespace tw {

Q_LOGGING_CATEGORY(lcTelegram, "Telegram")

namespace {

const QString stateReady = QStringLiteral("authorizationStateReady");

QString secretKey(const QUuid& accountID) {
    return json::encodeUuid(accountID);
}

bool isCanonicalUuid(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return pattern.match(text).hasMatch();
}

} // namespace

std::shared_ptr<TelegramSession> makeSessionIn(const QString& baseDirectory,
                                               const TelegramTimeLimits& limits,
                                               const QString& sessionID, const QByteArray& key,
                                               const TelegramConfiguration& configuration,
                                               TDClientFactory& factory) {
    std::shared_ptr<TDClient> client;
    try {
        client = factory.makeClient();
    } catch (...) {
        // A StorageError passes as it is; nothing else may leave the back end.
        throw StorageError::current();
    }
    return std::make_shared<TelegramSession>(client, baseDirectory + QLatin1Char('/') + sessionID,
                                             key, configuration, limits);
}

namespace {

void terminateWithOwnToken(TelegramSession& session, bool logOut) noexcept {
    Cancellation::Scope scope{std::stop_token()};
    session.terminate(logOut);
}

/// Opens a stored session and loads its identity; terminated on any failure on the way.
std::shared_ptr<TelegramSession>
openStoredSession(const QString& baseDirectory, const TelegramTimeLimits& limits,
                  const TelegramStorageProvider::Credential& credential,
                  const TelegramConfiguration& configuration, TDClientFactory& factory) {
    auto session = makeSessionIn(baseDirectory, limits, credential.sessionID, credential.key,
                                 configuration, factory);
    try {
        const TDObject state = session->open();
        if (state.type() != stateReady)
            throw StorageError(StorageError::Code::reauthRequired);
        session->loadIdentity();
        return session;
    } catch (...) {
        // No live TDLib instance may be left holding the database.
        terminateWithOwnToken(*session, false);
        throw;
    }
}

} // namespace

// MARK: Credential

QByteArray TelegramStorageProvider::Credential::toJson() const {
    QJsonObject object{{QStringLiteral("sessionID"), sessionID},
                       {QStringLiteral("key"), QString::fromLatin1(key.toBase64())}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TelegramStorageProvider::Credential>
TelegramStorageProvider::Credential::fromJson(const QByteArray& json) {
    const auto object = TDObject::fromJson(json);
    if (!object)
        return std::nullopt;
    const auto sessionID = object->string(QStringLiteral("sessionID"));
    const auto key = object->bytes(QStringLiteral("key"));
    if (!sessionID || !key || !isCanonicalUuid(*sessionID))
        return std::nullopt;
    return Credential{*sessionID, *key};
}

// MARK: Construction

TelegramStorageProvider::TelegramStorageProvider(ConfigurationSource configuration,
                                                 std::shared_ptr<SecretStore> secrets,
                                                 std::shared_ptr<TelegramLoginPresenter> presenter,
                                                 std::shared_ptr<ClientFactoryLoader> runtime,
                                                 QString baseDirectory, TelegramTimeLimits limits,
                                                 Clock clock)
    : configuration_(std::move(configuration)), secrets_(std::move(secrets)),
      presenter_(std::move(presenter)), runtime_(std::move(runtime)),
      baseDirectory_(std::move(baseDirectory)), limits_(limits), clock_(std::move(clock)) {}

TelegramStorageProvider::TelegramStorageProvider(std::optional<TelegramConfiguration> configuration,
                                                 std::shared_ptr<SecretStore> secrets,
                                                 std::shared_ptr<TelegramLoginPresenter> presenter,
                                                 std::shared_ptr<TDClientFactory> factory,
                                                 QString baseDirectory, TelegramTimeLimits limits,
                                                 Clock clock)
    : TelegramStorageProvider(ConfigurationSource([configuration] { return configuration; }),
                              std::move(secrets), std::move(presenter),
                              std::make_shared<ClientFactoryLoader>(std::move(factory)),
                              std::move(baseDirectory), limits, std::move(clock)) {}

QString TelegramStorageProvider::defaultBaseDirectory() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        return data + QStringLiteral("/Tessarow/Telegram");
    static QTemporaryDir fallback;
    return fallback.path() + QStringLiteral("/Tessarow/Telegram");
}

QByteArray TelegramStorageProvider::randomKey() {
    QByteArray key(32, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(key.data()),
                                         reinterpret_cast<quint32*>(key.data() + key.size()));
    return key;
}

bool TelegramStorageProvider::isAvailable() const {
    return runtime_->state() != ClientFactoryLoader::State::missing &&
           configuration_().has_value();
}

bool TelegramStorageProvider::isLibraryLoaded() const {
    return runtime_->state() == ClientFactoryLoader::State::loaded;
}

QString TelegramStorageProvider::sessionDirectory(const QString& sessionID) const {
    return baseDirectory_ + QLatin1Char('/') + sessionID;
}

void TelegramStorageProvider::removeSessionFolder(const QString& sessionID) const noexcept {
    if (!isCanonicalUuid(sessionID))
        return;
    QDir(sessionDirectory(sessionID)).removeRecursively();
}

void TelegramStorageProvider::terminateBounded(TelegramSession& session, bool logOut) noexcept {
    terminateWithOwnToken(session, logOut);
}

// MARK: Directory and credentials

int TelegramStorageProvider::sessionFolderCount() const {
    QDir dir(baseDirectory_);
    if (!dir.exists())
        return 0;
    return int(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

TelegramStorageProvider::Credential
TelegramStorageProvider::loadCredential(const QUuid& accountID) const {
    std::optional<QByteArray> bytes;
    try {
        bytes = secrets_->load(secretKey(accountID));
    } catch (const SecretStoreError& error) {
        // A keyring that cannot be read says nothing about the sign-in: no reconnect helps.
        throw error.storageError();
    } catch (...) {
        throw StorageError(StorageError::Code::reauthRequired);
    }
    if (!bytes)
        throw StorageError(StorageError::Code::reauthRequired);
    auto credential = Credential::fromJson(*bytes);
    if (!credential)
        throw StorageError(StorageError::Code::reauthRequired);
    return *credential;
}

std::optional<TelegramStorageProvider::Credential>
TelegramStorageProvider::tryLoadCredential(const QUuid& accountID) const noexcept {
    try {
        return loadCredential(accountID);
    } catch (...) {
        return std::nullopt;
    }
}

bool TelegramStorageProvider::hasCredential(const QUuid& accountID) const {
    return tryLoadCredential(accountID).has_value();
}

int TelegramStorageProvider::removeOrphanedSessions(const QList<QUuid>& accountIDs) noexcept {
    try {
        QSet<QString> keep;
        for (const QUuid& accountID : accountIDs) {
            std::optional<QByteArray> bytes;
            try {
                bytes = secrets_->load(secretKey(accountID));
            } catch (...) {
                // Unreadable secrets say nothing about which folders are in use.
                qCWarning(lcTelegram) << "session clean-up skipped: a credential could not be read";
                return 0;
            }
            if (!bytes)
                continue;
            if (const auto credential = Credential::fromJson(*bytes))
                keep.insert(credential->sessionID);
        }
        for (const QString& id : registry_.pendingIDs())
            keep.insert(id);
        {
            std::lock_guard lock(signInMutex_);
            for (auto it = signingIn_.cbegin(); it != signingIn_.cend(); ++it)
                keep.insert(it.key());
        }

        QDir dir(baseDirectory_);
        if (!dir.exists())
            return 0;
        int removed = 0;
        const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries) {
            if (keep.contains(entry.fileName()))
                continue;
            bool ok;
            if (entry.isDir() && !entry.isSymLink())
                ok = QDir(entry.filePath()).removeRecursively();
            else
                ok = QFile::remove(entry.filePath());
            if (ok)
                ++removed;
        }
        return removed;
    } catch (...) {
        return 0;
    }
}

// MARK: Sessions

std::shared_ptr<TelegramSession>
TelegramStorageProvider::openSession(const QUuid& accountID, const Credential& credential,
                                     const TelegramConfiguration& configuration,
                                     TDClientFactory& factory) {
    (void)accountID;
    return openStoredSession(baseDirectory_, limits_, credential, configuration, factory);
}

std::shared_ptr<TelegramSession> TelegramStorageProvider::session(const QUuid& accountID) {
    if (auto open = registry_.existing(accountID)) {
        if (!open->hasEnded())
            return open;
        // TDLib closed it by itself (signed out elsewhere): the account must sign in again.
        if (registry_.forget(accountID, open))
            qCWarning(lcTelegram) << "a session was closed by TDLib; the account must sign in";
        throw StorageError(StorageError::Code::reauthRequired);
    }
    const auto configuration = configuration_();
    const auto factory = configuration ? clientFactory() : nullptr;
    if (!factory)
        throw StorageError(StorageError::Code::notConfigured);
    const Credential credential = loadCredential(accountID);
    try {
        // The maker may outlive this provider's caller: it captures what it needs by value.
        return registry_.open(accountID, [base = baseDirectory_, limits = limits_, credential,
                                          configuration = *configuration, factory] {
            return openStoredSession(base, limits, credential, configuration, *factory);
        });
    } catch (const TDError& error) {
        throw error.storageError();
    } catch (const StorageError&) {
        throw;
    } catch (...) {
        throw StorageError::current();
    }
}

TDObject TelegramStorageProvider::request(TelegramSession& session, const QString& type,
                                          QJsonObject fields) {
    try {
        return session.client()->send(TDObject(type, std::move(fields)));
    } catch (const TDError& error) {
        throw error.storageError();
    }
}

void TelegramStorageProvider::closeStored(
    const Credential& credential, bool logOut,
    const std::optional<Completion<std::monostate>>& openingEnded) noexcept {
    const auto configuration = configuration_();
    if (!configuration)
        return;
    try {
        // Loads the library when nothing has needed it yet (this runs on a worker).
        const auto factory = clientFactory();
        if (!factory)
            return;
        // An opening of this session that was just cancelled may still hold its database.
        if (openingEnded)
            waitForOpeningEnd(*openingEnded);
        auto session = makeSessionIn(baseDirectory_, limits_, credential.sessionID, credential.key,
                                     *configuration, *factory);
        bool signedIn = false;
        try {
            signedIn = session->open().type() == stateReady;
        } catch (...) {
        }
        session->terminate(logOut && signedIn);
    } catch (...) {
    }
}

// MARK: Credentials of accounts

void TelegramStorageProvider::storeCredential(const ProviderCredential& credential,
                                              const QUuid& accountID) {
    const auto fresh = Credential::fromJson(credential.payload);
    if (!fresh)
        throw StorageError(StorageError::Code::invalidResponse);
    const auto old = tryLoadCredential(accountID);

    // Save first: when the store refuses, nothing has changed.
    try {
        secrets_->save(credential.payload, secretKey(accountID));
    } catch (const StorageError&) {
        throw;
    } catch (...) {
        throw StorageError::current();
    }

    // From here on the old session is ended and its folder deleted: a cancellation of the
    // caller must not cut the log-out short and then delete the folder under a live TDLib.
    // Every wait below is bounded by itself.
    Cancellation::Scope uninterrupted{std::stop_token()};
    const bool replacing = old && old->sessionID != fresh->sessionID;
    const auto wasOpen = registry_.existing(accountID);
    // The new session becomes the account's; an old open one it displaces is logged out.
    std::optional<Completion<std::monostate>> opening;
    const bool promoted = registry_.promote(fresh->sessionID, accountID, replacing, &opening);
    if (!replacing)
        return;
    if (!promoted) {
        // No pending sign-in to take over (closed meanwhile): the next use opens the new
        // session from disk. The old one must not serve the account any more.
        if (auto stale = registry_.remove(accountID, &opening))
            stale->terminate(true);
        else
            closeStored(*old, true, opening);
    } else if (!wasOpen) {
        closeStored(*old, true, opening);
    }
    removeSessionFolder(old->sessionID);
}

void TelegramStorageProvider::removeCredential(const QUuid& accountID, bool revoke) noexcept {
    // Bounded by itself; never cut short by the caller's cancellation, which would leave the
    // log-out undone and then delete the folder under a live TDLib.
    Cancellation::Scope uninterrupted{std::stop_token()};
    const auto credential = tryLoadCredential(accountID);
    std::optional<Completion<std::monostate>> opening;
    if (auto open = registry_.remove(accountID, &opening))
        open->terminate(revoke);
    else if (credential)
        closeStored(*credential, revoke, opening);
    if (credential)
        removeSessionFolder(credential->sessionID);
    try {
        secrets_->remove(secretKey(accountID));
    } catch (...) {
    }
}

void TelegramStorageProvider::closeAllSessions() noexcept {
    const SessionRegistry::Drained drained = registry_.drainAll();
    const std::stop_token token = Cancellation::current();
    std::vector<std::thread> closers;
    auto start = [&](const std::shared_ptr<TelegramSession>& session, bool logOut) {
        try {
            closers.emplace_back([session, logOut, token] {
                Cancellation::Scope scope(token);
                session->terminate(logOut);
            });
        } catch (...) {
            session->terminate(logOut);
        }
    };
    for (const auto& session : drained.accountSessions)
        start(session, false);
    // A sign-in that was never stored would stay a live authorisation on the user's account.
    for (const auto& session : drained.pendingSessions)
        start(session, true);
    // Sign-ins in progress hold TDLib instances too (TDLib aborts a process that exits with
    // one open); one that TDLib already reports signed in is logged out, as its own clean-up
    // would. The sign-in itself ends when it next talks to its closed session.
    QList<std::shared_ptr<TelegramSession>> signingIn;
    {
        std::lock_guard lock(signInMutex_);
        signingIn = signingIn_.values();
    }
    for (const auto& session : signingIn) {
        std::optional<TDObject> state;
        try {
            state = session->authorizationState(std::nullopt, std::chrono::steady_clock::now());
        } catch (...) {
        }
        start(session, state && state->type() == QLatin1String("authorizationStateReady"));
    }
    for (auto& closer : closers)
        closer.join();
    // Openings cancelled by the drain close what they opened on their own workers: wait for
    // them too, so that no TDLib instance is left open when the caller goes on (to quit).
    for (const auto& ended : drained.openingsEnded)
        waitForOpeningEnd(ended);
}

void TelegramStorageProvider::waitForOpeningEnd(
    const Completion<std::monostate>& ended) const noexcept {
    // A cancelled opening ends within its own bounded close; the bound here only guards
    // against a worker that never got to run.
    try {
        ended.waitFor(limits_.logOut + limits_.close);
    } catch (...) {
    }
}

// MARK: Operations

StorageQuota TelegramStorageProvider::quota(const QUuid& accountID) {
    session(accountID);
    return StorageQuota{};
}

void TelegramStorageProvider::exportFile(const FileRef&, const QString&, const QUrl&) {
    throw StorageError(StorageError::Code::notSupported);
}

} // namespace tw
