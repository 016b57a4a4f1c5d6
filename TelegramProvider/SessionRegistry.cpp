#include "TelegramProvider/SessionRegistry.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QThreadPool>

namespace tw {

namespace {
/// The workers that open sessions: a pool of their own, so openings that wait on TDLib never
/// hold the general pool's workers (which the callers waiting for them already park). One
/// opening per account at a time, so few are ever needed; never destroyed (nothing joins a
/// worker blocked on TDLib at exit).
QThreadPool* openingPool() {
    static QThreadPool* const pool = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("Tessarow.SessionOpenings"));
        p->setMaxThreadCount(SessionRegistry::maxConcurrentOpenings);
        p->setExpiryTimeout(30'000);
        return p;
    }();
    return pool;
}

/// Terminates with a token of its own: a closing must not be cut short because the caller
/// that triggered it was cancelled (terminate is bounded by itself).
void terminateDetached(const SessionRegistry::SessionPtr& session, bool logOut) {
    if (!session)
        return;
    Cancellation::Scope scope{std::stop_token()};
    session->terminate(logOut);
}
} // namespace

SessionRegistry::SessionPtr SessionRegistry::existing(const QUuid& account) const {
    std::lock_guard lock(state_->mutex);
    return state_->sessions.value(account);
}

SessionRegistry::SessionPtr SessionRegistry::open(const QUuid& account, Maker maker) {
    Opening opening;
    bool start = false;
    {
        std::lock_guard lock(state_->mutex);
        if (auto session = state_->sessions.value(account))
            return session;
        const auto it = state_->opening.constFind(account);
        if (it != state_->opening.constEnd()) {
            opening = *it;
        } else {
            opening.generation = ++state_->nextGeneration;
            opening.stop = std::make_shared<std::stop_source>();
            state_->opening.insert(account, opening);
            start = true;
        }
    }
    if (start) {
        openingPool()->start(
            [state = state_, account, opening, maker = std::move(maker)]() mutable {
                Cancellation::Scope scope(opening.stop->get_token());
                SessionPtr session;
                std::exception_ptr error;
                try {
                    session = maker();
                } catch (...) {
                    error = std::current_exception();
                }
                finishOpening(*state, account, opening, std::move(session), error);
                opening.ended.resolve({});
            });
    }
    return opening.result.wait();
}

void SessionRegistry::finishOpening(State& state, const QUuid& account, Opening opening,
                                    SessionPtr session, std::exception_ptr error) {
    bool current = false;
    {
        std::lock_guard lock(state.mutex);
        const auto it = state.opening.constFind(account);
        current = it != state.opening.constEnd() && it->generation == opening.generation &&
                  !opening.stop->stop_requested();
        if (current) {
            state.opening.remove(account);
            // A current opening means the account has no session: open() starts one only
            // then, and promote() takes the opening away when it stores one.
            if (session)
                state.sessions.insert(account, session);
        }
    }
    if (!session) {
        opening.result.fail(
            error ? error
                  : std::make_exception_ptr(StorageError(StorageError::Code::invalidResponse)));
        return;
    }
    if (!current) {
        // Removed, drained or overtaken while it opened: never store it.
        terminateDetached(session, false);
        opening.result.fail(StorageError(StorageError::Code::cancelled));
        return;
    }
    opening.result.resolve(session);
}

bool SessionRegistry::forget(const QUuid& account, const SessionPtr& session) {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->sessions.find(account);
    if (it == state_->sessions.end() || *it != session)
        return false;
    state_->sessions.erase(it);
    return true;
}

void SessionRegistry::addPending(const QString& sessionID, SessionPtr session) {
    SessionPtr replaced;
    {
        std::lock_guard lock(state_->mutex);
        replaced = state_->pending.value(sessionID);
        state_->pending.insert(sessionID, session);
    }
    if (replaced && replaced != session)
        terminateDetached(replaced, true);
}

QList<QString> SessionRegistry::pendingIDs() const {
    std::lock_guard lock(state_->mutex);
    return state_->pending.keys();
}

bool SessionRegistry::promote(const QString& sessionID, const QUuid& account, bool logOutReplaced,
                              std::optional<Completion<std::monostate>>* openingEnded) {
    SessionPtr replaced;
    SessionPtr promoted;
    std::optional<Opening> cancelled;
    {
        std::lock_guard lock(state_->mutex);
        promoted = state_->pending.take(sessionID);
        if (!promoted)
            return false;
        replaced = state_->sessions.value(account);
        state_->sessions.insert(account, promoted);
        cancelled = state_->takeOpening(account);
    }
    if (cancelled) {
        cancelled->stop->request_stop();
        cancelled->result.resolve(promoted);
        if (openingEnded)
            *openingEnded = cancelled->ended;
    }
    if (replaced && replaced != promoted)
        terminateDetached(replaced, logOutReplaced);
    return true;
}

SessionRegistry::SessionPtr
SessionRegistry::remove(const QUuid& account,
                        std::optional<Completion<std::monostate>>* openingEnded) {
    SessionPtr removed;
    std::optional<Opening> cancelled;
    {
        std::lock_guard lock(state_->mutex);
        removed = state_->sessions.take(account);
        cancelled = state_->takeOpening(account);
    }
    if (cancelled) {
        cancelled->stop->request_stop();
        cancelled->result.fail(StorageError(StorageError::Code::cancelled));
        if (openingEnded)
            *openingEnded = cancelled->ended;
    }
    return removed;
}

SessionRegistry::Drained SessionRegistry::drainAll() {
    Drained drained;
    QList<Opening> cancelled;
    {
        std::lock_guard lock(state_->mutex);
        cancelled = state_->opening.values();
        state_->opening.clear();
        drained.accountSessions = state_->sessions.values();
        drained.pendingSessions = state_->pending.values();
        state_->sessions.clear();
        state_->pending.clear();
    }
    for (auto& opening : cancelled) {
        opening.stop->request_stop();
        opening.result.fail(StorageError(StorageError::Code::cancelled));
        drained.openingsEnded.append(opening.ended);
    }
    return drained;
}

} // namespace tw
