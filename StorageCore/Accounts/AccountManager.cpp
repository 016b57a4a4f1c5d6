#include "StorageCore/Accounts/AccountManager.h"

#include "StorageCore/Persistence/DocumentLoader.h"

#include <QJsonArray>
#include <QLoggingCategory>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <utility>

namespace tw {

Q_LOGGING_CATEGORY(lcAccounts, "Accounts")

using Code = StorageError::Code;

namespace {

const QString kAccountsKey = QStringLiteral("accounts");

QString idText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

/// Runs one provider call of a multi-step operation as a task: the operation's stop source
/// (shared by all its steps) is the token the call sees.
template <typename Work, typename Done>
void runStep(QObject* receiver, const std::shared_ptr<std::stop_source>& operation, Work work,
             Done done) {
    runTask(
        receiver,
        [operation, work = std::move(work)]() mutable {
            Cancellation::Scope scope(operation->get_token());
            Cancellation::checkpoint();
            return work();
        },
        std::move(done));
}

} // namespace

AccountManager::AccountManager(std::shared_ptr<StorageProvider> provider,
                               std::shared_ptr<KeyValueStore> store, Clock now, QObject* parent)
    : QObject(parent), provider_(std::move(provider)), store_(std::move(store)),
      now_(std::move(now)) {
    auto loaded =
        loadDocument<QList<StorageAccount>>(*store_, kAccountsKey, [](const QJsonValue& v) {
            return decodeObjectArray<StorageAccount>(v, &StorageAccount::fromJson);
        });
    loadFailed_ = loaded.failed;
    if (loaded.value)
        accounts_ = std::move(*loaded.value);
    qCInfo(lcAccounts) << "loaded" << accounts_.size() << "accounts"
                       << (loadFailed_ ? "(the stored list was unreadable and set aside)" : "");
}

// ---- queries ------------------------------------------------------------------------------

qsizetype AccountManager::indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < accounts_.size(); ++i)
        if (accounts_[i].id == id)
            return i;
    return -1;
}

std::optional<StorageAccount> AccountManager::account(const QUuid& id) const {
    const qsizetype index = indexOf(id);
    if (index < 0)
        return std::nullopt;
    return accounts_[index];
}

std::optional<StorageQuota> AccountManager::totalQuota() const {
    std::optional<StorageQuota> total;
    bool everyLimitKnown = true;
    for (const StorageAccount& account : accounts_) {
        if (account.provider == ProviderKind::telegram || !account.quota)
            continue;
        if (!total) {
            total = StorageQuota{};
            total->limitBytes = 0;
        }
        total->usedBytes = saturatingAdd(total->usedBytes, account.quota->usedBytes);
        if (!account.quota->limitBytes)
            everyLimitKnown = false;
        else if (everyLimitKnown)
            total->limitBytes = saturatingAdd(*total->limitBytes, *account.quota->limitBytes);
    }
    if (total && !everyLimitKnown)
        total->limitBytes.reset();
    return total;
}

// ---- choices for a new account ------------------------------------------------------------

QString AccountManager::suggestedAlias(const QList<StorageAccount>& accounts) {
    QSet<QString> taken;
    for (const StorageAccount& account : accounts)
        taken.insert(account.alias.toLower());
    static const char* const names[] = {"Personal", "Work",     "Freelance", "Archive",
                                        "Clients",  "Projects", "Media",     "Backup"};
    for (const char* name : names) {
        const QString candidate = QString::fromLatin1(name);
        if (!taken.contains(candidate.toLower()))
            return candidate;
    }
    return QStringLiteral("Storage %1").arg(accounts.size() + 1);
}

int AccountManager::nextColorIndex(const QList<StorageAccount>& accounts) {
    bool used[paletteSize] = {};
    for (const StorageAccount& account : accounts)
        used[account.paletteIndex()] = true;
    for (int colour = 0; colour < paletteSize; ++colour)
        if (!used[colour])
            return colour;
    return int(accounts.size() % paletteSize);
}

QString AccountManager::normalizedAlias(const QString& alias) {
    const QString trimmed = alias.trimmed();
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, trimmed);
    int count = 0;
    qsizetype position = 0;
    while (count < maxAliasLength) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0)
            return trimmed;
        position = next;
        ++count;
    }
    return trimmed.left(position);
}

// ---- state changes ------------------------------------------------------------------------

void AccountManager::update(const QUuid& id, const std::function<void(StorageAccount&)>& change) {
    const qsizetype index = indexOf(id);
    if (index < 0)
        return;
    StorageAccount changed = accounts_[index];
    change(changed);
    changed.updatedAt = now_();
    accounts_[index] = changed;
    persist();
    Q_EMIT accountsChanged();
}

void AccountManager::applyConnection(const QUuid& id, const ProviderConnection& connection) {
    const QDateTime now = now_();
    update(id, [&](StorageAccount& account) {
        account.status = StorageAccount::Status::connected;
        account.email = connection.email;
        account.displayName = connection.displayName;
        if (connection.quota) {
            account.quota = connection.quota;
            account.quotaUpdatedAt = now;
        }
    });
}

void AccountManager::persist() {
    QJsonArray array;
    for (const StorageAccount& account : std::as_const(accounts_))
        array.append(account.toJson());
    try {
        store_->save(array, kAccountsKey);
        setPersistenceError(false);
    } catch (const std::exception& error) {
        qCWarning(lcAccounts) << "saving the account list failed:" << error.what();
        setPersistenceError(true);
    }
}

void AccountManager::setPersistenceError(bool failed) {
    if (persistenceError_ == failed)
        return;
    persistenceError_ = failed;
    Q_EMIT persistenceErrorChanged(failed);
}

void AccountManager::setQuotaError(const QUuid& id, const std::optional<StorageError>& error) {
    if (error) {
        const auto it = quotaErrors_.constFind(id);
        if (it != quotaErrors_.constEnd() && *it == *error)
            return;
        quotaErrors_.insert(id, *error);
    } else if (!quotaErrors_.remove(id)) {
        return;
    }
    Q_EMIT quotaErrorsChanged();
}

void AccountManager::setRefreshing(const QUuid& id, bool refreshing) {
    if (refreshing == refreshingQuota_.contains(id))
        return;
    if (refreshing)
        refreshingQuota_.insert(id);
    else
        refreshingQuota_.remove(id);
    Q_EMIT refreshingQuotaChanged();
}

void AccountManager::dropOrphanedCredential(const QUuid& id) {
    // The account left the list while its credential was being stored: forget the credential
    // again, without revoking (the service grant may be shared with another sign-in).
    qCInfo(lcAccounts) << "dropping the credential stored for the removed account" << idText(id);
    runDetached([provider = provider_, id] { provider->removeCredential(id, false); });
}

template <typename T> void AccountManager::deliverLater(Callback<T> onDone, TaskResult<T> result) {
    if (!onDone)
        return;
    QMetaObject::invokeMethod(
        this,
        [onDone = std::move(onDone), result = std::move(result)]() mutable {
            onDone(std::move(result));
        },
        Qt::QueuedConnection);
}

// ---- connecting ---------------------------------------------------------------------------

TaskHandle AccountManager::connectNewAccount(ProviderKind kind, Callback<ConnectOutcome> onDone) {
    auto operation = std::make_shared<std::stop_source>();
    runStep(
        this, operation,
        [provider = provider_, kind] { return provider->connect(kind, std::nullopt); },
        [this, operation,
         onDone = std::move(onDone)](TaskResult<ProviderConnection> result) mutable {
            if (!result.ok()) {
                if (onDone)
                    onDone(TaskResult<ConnectOutcome>::failure(result.error()));
                return;
            }
            const ProviderConnection connection = result.value();
            const auto existing =
                std::find_if(accounts_.cbegin(), accounts_.cend(), [&](const StorageAccount& a) {
                    return a.provider == connection.kind() &&
                           a.providerAccountID == connection.providerAccountID;
                });
            if (existing == accounts_.cend()) {
                finishNewAccount(operation, connection, std::move(onDone));
                return;
            }
            const QUuid id = existing->id;
            storeForKnownAccount<ConnectOutcome>(
                operation, id, connection, std::move(onDone), [this, id] {
                    qCInfo(lcAccounts) << "refreshed the already connected account" << idText(id);
                    return ConnectOutcome::alreadyConnected(*account(id));
                });
        });
    return TaskHandle(operation);
}

template <typename T>
void AccountManager::storeForKnownAccount(const std::shared_ptr<std::stop_source>& operation,
                                          const QUuid& id, const ProviderConnection& connection,
                                          Callback<T> onDone, std::function<T()> applied) {
    runStep(
        this, operation,
        [provider = provider_, credential = connection.credential, id] {
            provider->storeCredential(credential, id);
        },
        [this, id, connection, onDone = std::move(onDone),
         applied = std::move(applied)](TaskResult<std::monostate> stored) mutable {
            if (!stored.ok()) {
                if (onDone)
                    onDone(TaskResult<T>::failure(stored.error()));
                return;
            }
            if (indexOf(id) < 0) {
                dropOrphanedCredential(id);
                if (onDone)
                    onDone(TaskResult<T>::failure(StorageError(Code::notFound)));
                return;
            }
            applyConnection(id, connection);
            T answer = applied();
            if (onDone)
                onDone(TaskResult<T>::success(std::move(answer)));
        });
}

void AccountManager::finishNewAccount(const std::shared_ptr<std::stop_source>& operation,
                                      const ProviderConnection& connection,
                                      Callback<ConnectOutcome> onDone) {
    StorageAccount account;
    account.id = QUuid::createUuid();
    account.provider = connection.kind();
    account.providerAccountID = connection.providerAccountID;
    account.email = connection.email;
    account.displayName = connection.displayName;
    account.alias = suggestedAlias(accounts_);
    account.colorIndex = nextColorIndex(accounts_);
    account.status = StorageAccount::Status::connected;
    account.quota = connection.quota;
    if (connection.quota)
        account.quotaUpdatedAt = now_();
    account.createdAt = now_();
    account.updatedAt = now_();
    runStep(
        this, operation,
        [provider = provider_, credential = connection.credential, id = account.id] {
            provider->storeCredential(credential, id);
        },
        [this, account, onDone = std::move(onDone)](TaskResult<std::monostate> stored) mutable {
            if (!stored.ok()) {
                if (onDone)
                    onDone(TaskResult<ConnectOutcome>::failure(stored.error()));
                return;
            }
            // A second sign-in of the same identity may have added it meanwhile: keep that one
            // and forget the credential just stored for the duplicate.
            const auto twin =
                std::find_if(accounts_.cbegin(), accounts_.cend(), [&](const StorageAccount& a) {
                    return a.provider == account.provider &&
                           a.providerAccountID == account.providerAccountID;
                });
            if (twin != accounts_.cend()) {
                const StorageAccount existing = *twin;
                dropOrphanedCredential(account.id);
                if (onDone)
                    onDone(TaskResult<ConnectOutcome>::success(
                        ConnectOutcome::alreadyConnected(existing)));
                return;
            }
            accounts_.append(account);
            persist();
            Q_EMIT accountsChanged();
            qCInfo(lcAccounts) << "added account" << idText(account.id) << "of kind"
                               << ProviderKinds::rawValue(account.provider);
            if (onDone)
                onDone(TaskResult<ConnectOutcome>::success(ConnectOutcome::added(account)));
        });
}

TaskHandle AccountManager::reconnect(const QUuid& id, Callback<StorageAccount> onDone) {
    auto operation = std::make_shared<std::stop_source>();
    const std::optional<StorageAccount> known = account(id);
    if (!known) {
        deliverLater(std::move(onDone), TaskResult<StorageAccount>::failure(Code::notFound));
        return TaskHandle(operation);
    }
    const ProviderKind kind = known->provider;
    const QString hint = known->email;
    const QString expectedID = known->providerAccountID;
    runStep(
        this, operation,
        [provider = provider_, kind, hint] { return provider->connect(kind, hint); },
        [this, operation, id, hint, expectedID,
         onDone = std::move(onDone)](TaskResult<ProviderConnection> result) mutable {
            auto fail = [&](const StorageError& error) {
                if (onDone)
                    onDone(TaskResult<StorageAccount>::failure(error));
            };
            if (!result.ok())
                return fail(result.error());
            const ProviderConnection connection = result.value();
            if (connection.providerAccountID != expectedID) {
                qCInfo(lcAccounts) << "reconnect of" << idText(id) << "signed in another identity";
                return fail(StorageError::accountMismatch(hint));
            }
            if (indexOf(id) < 0)
                return fail(StorageError(Code::notFound));
            storeForKnownAccount<StorageAccount>(
                operation, id, connection, std::move(onDone), [this, id] {
                    setQuotaError(id, std::nullopt);
                    qCInfo(lcAccounts) << "reconnected account" << idText(id);
                    return *account(id);
                });
        });
    return TaskHandle(operation);
}

void AccountManager::disconnect(const QUuid& id, std::function<void()> onDone) {
    if (indexOf(id) < 0) {
        if (onDone)
            QMetaObject::invokeMethod(this, std::move(onDone), Qt::QueuedConnection);
        return;
    }
    runTask(
        this, [provider = provider_, id] { provider->removeCredential(id, true); },
        [this, id, onDone = std::move(onDone)](TaskResult<std::monostate>) {
            const qsizetype removed =
                accounts_.removeIf([&](const StorageAccount& account) { return account.id == id; });
            setQuotaError(id, std::nullopt);
            setRefreshing(id, false);
            persist();
            if (removed > 0)
                Q_EMIT accountsChanged();
            qCInfo(lcAccounts) << "disconnected account" << idText(id);
            if (onDone)
                onDone();
        });
}

// ---- local changes ------------------------------------------------------------------------

void AccountManager::rename(const QUuid& id, const QString& alias) {
    const QString normalized = normalizedAlias(alias);
    if (normalized.isEmpty())
        throw StorageError(Code::invalidName);
    update(id, [&](StorageAccount& account) { account.alias = normalized; });
}

void AccountManager::markReauthRequired(const QUuid& id) {
    const qsizetype index = indexOf(id);
    if (index < 0 || accounts_[index].status == StorageAccount::Status::reauthRequired)
        return;
    qCInfo(lcAccounts) << "account" << idText(id) << "needs a new sign-in";
    update(id, [](StorageAccount& account) {
        account.status = StorageAccount::Status::reauthRequired;
    });
}

void AccountManager::handle(const StorageError& error, const QUuid& id) {
    if (error.code() == Code::reauthRequired)
        markReauthRequired(id);
}

// ---- quotas -------------------------------------------------------------------------------

void AccountManager::refreshQuota(const QUuid& id, std::function<void()> onDone) {
    if (indexOf(id) < 0 || refreshingQuota_.contains(id)) {
        if (onDone)
            onDone();
        return;
    }
    setRefreshing(id, true);
    runTask(
        this, [provider = provider_, id] { return provider->quota(id); },
        [this, id, onDone = std::move(onDone)](TaskResult<StorageQuota> result) {
            setRefreshing(id, false);
            // An account disconnected meanwhile keeps nothing of this answer.
            if (indexOf(id) >= 0) {
                if (result.ok()) {
                    setQuotaError(id, std::nullopt);
                    const QDateTime now = now_();
                    update(id, [&](StorageAccount& account) {
                        account.quota = result.value();
                        account.quotaUpdatedAt = now;
                        account.status = StorageAccount::Status::connected;
                    });
                } else if (!result.isCancelled()) {
                    qCInfo(lcAccounts) << "quota refresh of" << idText(id)
                                       << "failed:" << result.error().caseName();
                    setQuotaError(id, result.error());
                    handle(result.error(), id);
                }
            }
            if (onDone)
                onDone();
        });
}

void AccountManager::refreshAllQuotas(std::function<void()> onDone) {
    const QList<StorageAccount> snapshot = accounts_;
    if (snapshot.isEmpty()) {
        if (onDone)
            QMetaObject::invokeMethod(this, std::move(onDone), Qt::QueuedConnection);
        return;
    }
    auto remaining = std::make_shared<qsizetype>(snapshot.size());
    auto finished = std::make_shared<std::function<void()>>(std::move(onDone));
    for (const StorageAccount& account : snapshot) {
        refreshQuota(account.id, [remaining, finished] {
            if (--*remaining == 0 && *finished)
                (*finished)();
        });
    }
}

} // namespace tw
