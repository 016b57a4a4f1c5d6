#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Persistence/KeyValueStore.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace tw {

/// The list of connected storage accounts: loads it at start-up, adds an account after a
/// sign-in, re-authorises, renames and removes accounts, keeps quotas fresh, and saves the
/// list (the "accounts" document) after every change.
///
/// Lives on the main thread and is used only there. Its asynchronous operations run each
/// provider call as a task (runTask) and apply the result back on the main thread; they
/// never keep a position in the list across a provider call but find the account again by
/// id. Completion callbacks run on the main thread and are not called once the manager is
/// destroyed. Assigning an observable property its current value emits nothing.
class AccountManager : public QObject {
    Q_OBJECT

public:
    /// Number of account colours; colour indexes are 0…7.
    static constexpr int paletteSize = 8;
    /// The longest alias, in user-perceived characters.
    static constexpr int maxAliasLength = 40;

    /// The result of connectNewAccount().
    class ConnectOutcome {
    public:
        enum class Kind { added, alreadyConnected };
        static ConnectOutcome added(StorageAccount account) {
            return ConnectOutcome(Kind::added, std::move(account));
        }
        static ConnectOutcome alreadyConnected(StorageAccount account) {
            return ConnectOutcome(Kind::alreadyConnected, std::move(account));
        }
        Kind kind() const { return kind_; }
        const StorageAccount& account() const { return account_; }
        bool operator==(const ConnectOutcome&) const = default;

    private:
        ConnectOutcome(Kind kind, StorageAccount account)
            : kind_(kind), account_(std::move(account)) {}
        Kind kind_;
        StorageAccount account_;
    };

    template <typename T> using Callback = std::function<void(TaskResult<T>)>;

    /// Loads the list from the store's "accounts" document. A missing document gives an
    /// empty list; an unreadable one is set aside (see loadFailed()) and the list starts
    /// empty. Nothing is written.
    AccountManager(std::shared_ptr<StorageProvider> provider, std::shared_ptr<KeyValueStore> store,
                   Clock now, QObject* parent = nullptr);

    // ---- observable state -----------------------------------------------------------------
    /// In insertion order; never sorted.
    const QList<StorageAccount>& accounts() const { return accounts_; }
    /// Accounts whose quota refresh is running.
    const QSet<QUuid>& refreshingQuota() const { return refreshingQuota_; }
    /// The error of each account's last failed quota refresh.
    const QHash<QUuid, StorageError>& quotaErrors() const { return quotaErrors_; }
    /// True while the last attempt to save the list failed.
    bool persistenceError() const { return persistenceError_; }
    /// True when a stored list existed at start-up but could not be read (it was set aside):
    /// the list is then not the user's real one, and clean-ups that delete what belongs to no
    /// account must not run.
    bool loadFailed() const { return loadFailed_; }

    // ---- queries --------------------------------------------------------------------------
    std::optional<StorageAccount> account(const QUuid& id) const;
    /// The combined usage of every account with a quota except Telegram ones: used bytes add
    /// up; the limit is the sum only when every such account has one. nullopt without any.
    std::optional<StorageQuota> totalQuota() const;

    // ---- operations -----------------------------------------------------------------------
    /// Signs in to a service of the kind and adds the account, or refreshes the account of the
    /// same kind and service id already in the list. The handle cancels the sign-in.
    TaskHandle connectNewAccount(ProviderKind kind, Callback<ConnectOutcome> onDone = {});
    /// Signs the account in again (its e-mail as login hint); another identity fails with
    /// accountMismatch, an unknown or meanwhile removed account with notFound.
    TaskHandle reconnect(const QUuid& id, Callback<StorageAccount> onDone = {});
    /// Forgets (and revokes) the account's sign-in, then removes the account. Never fails; an
    /// unknown id does nothing.
    void disconnect(const QUuid& id, std::function<void()> onDone = {});
    /// Trims the alias, cuts it to maxAliasLength characters and stores it. Throws
    /// StorageError invalidName when nothing is left after trimming. Unknown id: nothing.
    void rename(const QUuid& id, const QString& alias);
    /// Marks the account as needing a new sign-in (nothing when it already is or is unknown).
    void markReauthRequired(const QUuid& id);
    /// reauthRequired marks the account; every other error is ignored.
    void handle(const StorageError& error, const QUuid& id);
    /// Fetches the account's quota; skipped while one is running for it. Failures are kept in
    /// quotaErrors(). onDone runs when this call is finished (at once when skipped).
    void refreshQuota(const QUuid& id, std::function<void()> onDone = {});
    /// Refreshes every account concurrently; onDone runs when all have finished.
    void refreshAllQuotas(std::function<void()> onDone = {});

    // ---- choices for a new account (from the given list) ----------------------------------
    /// The first free of "Personal", "Work", "Freelance", "Archive", "Clients", "Projects",
    /// "Media", "Backup" (compared without case); else "Storage <count + 1>".
    static QString suggestedAlias(const QList<StorageAccount>& accounts);
    /// The lowest colour 0…7 not in use; when all are, the number of accounts modulo 8.
    static int nextColorIndex(const QList<StorageAccount>& accounts);
    /// The alias as stored: trimmed, then cut to maxAliasLength user-perceived characters.
    static QString normalizedAlias(const QString& alias);

Q_SIGNALS:
    void accountsChanged();
    void refreshingQuotaChanged();
    void quotaErrorsChanged();
    void persistenceErrorChanged(bool failed);

private:
    qsizetype indexOf(const QUuid& id) const;
    /// Applies change to the account, stamps updatedAt and saves; unknown id: nothing.
    void update(const QUuid& id, const std::function<void(StorageAccount&)>& change);
    /// A sign-in of the account succeeded: connected again, with the identity texts and the
    /// quota (when it carries one) of the connection.
    void applyConnection(const QUuid& id, const ProviderConnection& connection);
    void persist();
    void setPersistenceError(bool failed);
    void setQuotaError(const QUuid& id, const std::optional<StorageError>& error);
    void setRefreshing(const QUuid& id, bool refreshing);
    /// Forgets a credential stored for an account that is no longer in the list.
    void dropOrphanedCredential(const QUuid& id);
    /// Calls onDone with result from the event loop (callers never see a synchronous answer).
    template <typename T> void deliverLater(Callback<T> onDone, TaskResult<T> result);
    void finishNewAccount(const std::shared_ptr<std::stop_source>& operation,
                          const ProviderConnection& connection, Callback<ConnectOutcome> onDone);
    /// Stores the connection's credential for the known account id, then applies the
    /// connection and answers with applied(); an account removed meanwhile gets its credential
    /// dropped again and the answer notFound.
    template <typename T>
    void storeForKnownAccount(const std::shared_ptr<std::stop_source>& operation, const QUuid& id,
                              const ProviderConnection& connection, Callback<T> onDone,
                              std::function<T()> applied);

    std::shared_ptr<StorageProvider> provider_;
    std::shared_ptr<KeyValueStore> store_;
    Clock now_;
    QList<StorageAccount> accounts_;
    QSet<QUuid> refreshingQuota_;
    QHash<QUuid, StorageError> quotaErrors_;
    bool persistenceError_ = false;
    bool loadFailed_ = false;
};

} // namespace tw
