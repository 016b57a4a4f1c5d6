#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "TelegramProvider/TelegramSession.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace tw {

/// The open sessions of the Telegram back end: one per connected account, the pending
/// sessions of sign-ins whose account is not stored yet, and the openings in flight (shared by
/// every caller for the same account, so one account never gets two TDLib clients).
///
/// The maps change only under the registry's mutex; makers run outside it, on a worker of
/// the openings' own pool with their own stop token (remove() and drainAll() stop it), so one caller that
/// gives up does not fail the others. A session whose opening was cancelled, or overtaken by
/// a newer one, is terminated instead of stored; a session that replaces another terminates
/// the one it replaces.
class SessionRegistry {
public:
    using SessionPtr = std::shared_ptr<TelegramSession>;
    /// Makes and opens a session; runs with the current task's stop token set to the
    /// opening's own.
    using Maker = std::function<SessionPtr()>;

    /// Openings run on a pool of their own with this many workers, never on the general
    /// task pool.
    static constexpr int maxConcurrentOpenings = 8;

    SessionRegistry() = default;
    SessionRegistry(const SessionRegistry&) = delete;
    SessionRegistry& operator=(const SessionRegistry&) = delete;

    /// The account's open session, if any.
    SessionPtr existing(const QUuid& account) const;
    /// The account's session: the open one, the result of the opening in flight, or a new
    /// opening by maker. Waiting honours the caller's cancellation only.
    SessionPtr open(const QUuid& account, Maker maker);
    /// Forgets the account's open session when it is this one (an ended session); true when
    /// it was.
    bool forget(const QUuid& account, const SessionPtr& session);
    /// Records a signed-in session whose account is not stored yet.
    void addPending(const QString& sessionID, SessionPtr session);
    QList<QString> pendingIDs() const;
    /// Moves the pending session to the account's open session. A session it replaces is
    /// terminated (logged out when logOutReplaced). An opening in flight for the account is
    /// cancelled: its callers get the promoted session (and openingEnded its end, as in
    /// remove()). False when no such pending session.
    bool promote(const QString& sessionID, const QUuid& account, bool logOutReplaced,
                 std::optional<Completion<std::monostate>>* openingEnded = nullptr);
    /// Forgets the account's open session (returned, not terminated) and cancels its opening.
    /// With openingEnded, a cancelled opening is told there: it resolves once the opening's
    /// worker has ended and closed whatever it had opened (until then TDLib may still hold the
    /// session's database).
    SessionPtr remove(const QUuid& account,
                      std::optional<Completion<std::monostate>>* openingEnded = nullptr);
    /// Cancels every opening and empties the registry: the account sessions, then the pending
    /// ones (neither terminated), and the ends of the cancelled openings (as in remove()).
    struct Drained {
        QList<SessionPtr> accountSessions;
        QList<SessionPtr> pendingSessions;
        QList<Completion<std::monostate>> openingsEnded;
    };
    Drained drainAll();

private:
    struct Opening {
        quint64 generation = 0;
        Completion<SessionPtr> result;
        std::shared_ptr<std::stop_source> stop;
        /// Resolved when the worker has ended (after closing a session it did not store).
        Completion<std::monostate> ended;
    };
    /// Shared with the workers that run makers, so a registry may go away before they end.
    struct State {
        std::mutex mutex;
        QHash<QUuid, SessionPtr> sessions;
        QHash<QString, SessionPtr> pending;
        QHash<QUuid, Opening> opening;
        quint64 nextGeneration = 0;

        /// The account's opening, taken out of the map (the caller holds mutex).
        std::optional<Opening> takeOpening(const QUuid& account) {
            const auto it = opening.constFind(account);
            if (it == opening.constEnd())
                return std::nullopt;
            Opening taken = *it;
            opening.erase(it);
            return taken;
        }
    };
    static void finishOpening(State& state, const QUuid& account, Opening opening,
                              SessionPtr session, std::exception_ptr error);

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace tw
