#include "TelegramProvider/SessionRegistry.h"
#include "tests/TelegramProvider/TelegramTestSupport.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using SessionPtr = SessionRegistry::SessionPtr;

namespace {

const QUuid accountA = QUuid::fromString(QStringLiteral("{11111111-1111-1111-1111-111111111111}"));

/// A maker that waits at a gate, counts its runs and can fail.
struct GatedMaker {
    std::function<SessionPtr()> make;
    Completion<std::monostate> gate;
    std::atomic<int> runs{0};
    std::atomic<bool> started{false};
    std::atomic<bool> sawStop{false};
    bool fail = false;

    SessionRegistry::Maker maker() {
        return [this] {
            ++runs;
            started = true;
            try {
                gate.wait();
            } catch (const StorageError&) {
                sawStop = true; // the opening's own token was stopped
                throw;
            }
            if (fail)
                throw StorageError(Code::server);
            return make();
        };
    }
};

class SessionRegistryTest : public FakeTDLibTest {
protected:
    Cancellable<SessionPtr> openAsync(const QUuid& account, SessionRegistry::Maker maker) {
        return Cancellable<SessionPtr>(
            [this, account, maker = std::move(maker)] { return registry.open(account, maker); });
    }
    static StorageError errorOf(Cancellable<SessionPtr>& call) {
        try {
            call.get();
        } catch (const StorageError& error) {
            return error;
        }
        return StorageError(Code::invalidResponse);
    }

    SessionRegistry registry;
};

} // namespace

TEST_F(SessionRegistryTest, ConcurrentOpensShareOneMakerRun) {
    GatedMaker maker;
    maker.make = [&] { return newSession(); };
    auto first = openAsync(accountA, maker.maker());
    ASSERT_TRUE(QTest::qWaitFor([&] { return maker.started.load(); }));
    auto second = openAsync(accountA, maker.maker());
    // A third caller gives up without disturbing the others.
    auto impatient = openAsync(accountA, maker.maker());
    impatient.stop();
    ASSERT_TRUE(impatient.finished());
    EXPECT_EQ(errorOf(impatient).code(), Code::cancelled);
    maker.gate.resolve({});
    ASSERT_TRUE(first.finished() && second.finished());
    const SessionPtr session = first.get();
    EXPECT_EQ(second.get(), session);
    EXPECT_EQ(maker.runs, 1);
    EXPECT_EQ(registry.existing(accountA), session);
    EXPECT_EQ(registry.open(accountA, []() -> SessionPtr { throw StorageError(Code::server); }),
              session);
    registry.remove(accountA)->terminate(false);
}

TEST_F(SessionRegistryTest, FailuresReachEveryCallerAndAreNotCached) {
    GatedMaker failing;
    failing.fail = true;
    auto first = openAsync(accountA, failing.maker());
    ASSERT_TRUE(QTest::qWaitFor([&] { return failing.started.load(); }));
    auto second = openAsync(accountA, failing.maker());
    failing.gate.resolve({});
    ASSERT_TRUE(first.finished() && second.finished());
    EXPECT_EQ(errorOf(first).code(), Code::server);
    EXPECT_EQ(errorOf(second).code(), Code::server);
    EXPECT_EQ(registry.existing(accountA), nullptr);

    SessionPtr made;
    const SessionPtr session = registry.open(accountA, [&] { return made = newSession(); });
    EXPECT_EQ(session, made);
    registry.remove(accountA)->terminate(false);
}

TEST_F(SessionRegistryTest, AnOpeningCancelledByRemoveIsNeverStored) {
    GatedMaker maker;
    maker.make = [&] { return newSession(); };
    auto caller = openAsync(accountA, maker.maker());
    ASSERT_TRUE(QTest::qWaitFor([&] { return maker.started.load(); }));
    EXPECT_EQ(registry.remove(accountA), nullptr);
    // Waiting callers are released at once, before the maker ends.
    ASSERT_TRUE(caller.finished());
    EXPECT_EQ(errorOf(caller).code(), Code::cancelled);
    EXPECT_TRUE(QTest::qWaitFor([&] { return maker.sawStop.load(); }))
        << "the maker runs under the opening's own stop token";

    // A maker that finishes regardless: its session is closed, not stored.
    GatedMaker stubborn;
    Completion<SessionPtr> stubbornSession;
    stubborn.make = [&] {
        auto session = newSession("B");
        stubbornSession.resolve(session);
        return session;
    };
    auto second = openAsync(accountA, [&] {
        ++stubborn.runs;
        stubborn.started = true;
        Cancellation::Scope ignoreStop{std::stop_token()};
        stubborn.gate.wait();
        return stubborn.make();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return stubborn.started.load(); }));
    registry.drainAll();
    ASSERT_TRUE(second.finished());
    EXPECT_EQ(errorOf(second).code(), Code::cancelled);
    stubborn.gate.resolve({});
    const auto madeAnyway = stubbornSession.waitFor(std::chrono::seconds(10));
    ASSERT_TRUE(madeAnyway);
    ASSERT_TRUE(QTest::qWaitFor([&] { return (*madeAnyway)->hasEnded(); }));
    EXPECT_EQ(registry.existing(accountA), nullptr);
}

TEST_F(SessionRegistryTest, AnOvertakenOpeningNeverOverwritesTheNewerOne) {
    GatedMaker older;
    Completion<SessionPtr> olderSession;
    older.make = [&] {
        auto session = newSession("A");
        olderSession.resolve(session);
        return session;
    };
    auto oldCaller = openAsync(accountA, [&] {
        older.started = true;
        Cancellation::Scope ignoreStop{std::stop_token()};
        older.gate.wait();
        return older.make();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return older.started.load(); }));
    registry.remove(accountA);
    const SessionPtr newer = registry.open(accountA, [&] { return newSession("B"); });
    older.gate.resolve({});
    ASSERT_TRUE(oldCaller.finished());
    EXPECT_EQ(errorOf(oldCaller).code(), Code::cancelled);
    const auto overtaken = olderSession.waitFor(std::chrono::seconds(10));
    ASSERT_TRUE(overtaken);
    ASSERT_TRUE(QTest::qWaitFor([&] { return (*overtaken)->hasEnded(); }));
    EXPECT_EQ(registry.existing(accountA), newer);
    EXPECT_FALSE(newer->hasEnded());
    registry.remove(accountA)->terminate(false);
}

TEST_F(SessionRegistryTest, PromoteMovesPendingAndEndsWhatItReplaces) {
    EXPECT_FALSE(registry.promote("nope", accountA, true));
    EXPECT_EQ(registry.existing(accountA), nullptr);

    fakeTd().configure({{"start_state", state("authorizationStateReady")}});
    const SessionPtr old = registry.open(accountA, [&] {
        auto session = newSession("OLD");
        session->open();
        return session;
    });
    const SessionPtr signedIn = newSession("NEW");
    registry.addPending("NEW", signedIn);
    EXPECT_EQ(registry.pendingIDs(), QList<QString>{"NEW"});
    EXPECT_TRUE(registry.promote("NEW", accountA, true));
    EXPECT_EQ(registry.existing(accountA), signedIn);
    EXPECT_TRUE(registry.pendingIDs().isEmpty());
    EXPECT_TRUE(old->hasEnded());
    EXPECT_TRUE(fakeTd()
                    .requestTypes(std::static_pointer_cast<TDJSONClient>(old->client())->id())
                    .contains("logOut"));

    // An opening in flight for the account is superseded: its callers get the promoted one.
    registry.remove(accountA)->terminate(false);
    GatedMaker maker;
    Completion<SessionPtr> stale;
    maker.make = [&] {
        auto session = newSession("STALE");
        stale.resolve(session);
        return session;
    };
    auto caller = openAsync(accountA, [&] {
        maker.started = true;
        Cancellation::Scope ignoreStop{std::stop_token()};
        maker.gate.wait();
        return maker.make();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return maker.started.load(); }));
    const SessionPtr second = newSession("SECOND");
    registry.addPending("SECOND", second);
    EXPECT_TRUE(registry.promote("SECOND", accountA, false));
    ASSERT_TRUE(caller.finished());
    EXPECT_EQ(caller.get(), second);
    maker.gate.resolve({});
    const auto superseded = stale.waitFor(std::chrono::seconds(10));
    ASSERT_TRUE(superseded);
    ASSERT_TRUE(QTest::qWaitFor([&] { return (*superseded)->hasEnded(); }));
    EXPECT_EQ(registry.existing(accountA), second);
    registry.remove(accountA)->terminate(false);
}

TEST_F(SessionRegistryTest, DrainAllReturnsAccountsThenPendingAndEmptiesEverything) {
    const QUuid accountB = QUuid::createUuid();
    const SessionPtr a = registry.open(accountA, [&] { return newSession("A"); });
    const SessionPtr b = registry.open(accountB, [&] { return newSession("B"); });
    const SessionPtr pending = newSession("P");
    registry.addPending("P", pending);
    const auto drained = registry.drainAll();
    EXPECT_EQ(drained.accountSessions.size(), 2);
    EXPECT_TRUE(drained.accountSessions.contains(a) && drained.accountSessions.contains(b));
    EXPECT_EQ(drained.pendingSessions, QList<SessionPtr>{pending});
    EXPECT_EQ(registry.existing(accountA), nullptr);
    EXPECT_TRUE(registry.pendingIDs().isEmpty());
    for (const auto& session : {a, b, pending})
        session->terminate(false);
}

TEST_F(SessionRegistryTest, AnOpeningHoldsNoWorkerOfTheGeneralPool) {
    // A general pool of two: one caller parked on the opening, one worker left for others.
    QThreadPool* general = threadPool(TaskPool::general);
    const int size = general->maxThreadCount();
    general->setMaxThreadCount(2);
    GatedMaker opening;
    opening.make = [] { return SessionPtr(); };
    Completion<std::monostate> callerEnded;
    runDetached([&] {
        try {
            registry.open(accountA, opening.maker());
        } catch (...) {
        }
        callerEnded.resolve({});
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return opening.started.load(); }, 5000));

    // Other work still runs while the opening waits on TDLib.
    Completion<std::monostate> otherRan;
    runDetached([&] { otherRan.resolve({}); });
    const bool ran = otherRan.waitFor(std::chrono::seconds(2)).has_value();
    opening.gate.resolve({});
    callerEnded.waitFor(std::chrono::seconds(10));
    otherRan.waitFor(std::chrono::seconds(10));
    general->setMaxThreadCount(size);
    EXPECT_TRUE(ran) << "the opening held the last general worker";
}
