#include "StorageCore/Accounts/AccountManager.h"

#include "tests/support/FakeClock.h"
#include "tests/support/FakeStorageProvider.h"
#include "tests/support/InMemoryKeyValueStore.h"
#include "tests/support/QtPrinters.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using namespace std::chrono_literals;
using Code = StorageError::Code;
using Op = test::FakeStorageProvider::Op;
using Outcome = AccountManager::ConnectOutcome;

namespace {

template <typename T> T waitFor(std::optional<T>& slot) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return slot.has_value(); }, 5000));
    return *slot;
}

StorageAccount makeAccount(const QString& alias, ProviderKind kind = ProviderKind::googleDrive,
                           const QString& providerID = QString(), int colour = 0) {
    StorageAccount a;
    a.id = QUuid::createUuid();
    a.provider = kind;
    a.providerAccountID = providerID.isEmpty() ? alias + QStringLiteral("-id") : providerID;
    a.email = alias.toLower() + QStringLiteral("@example.com");
    a.alias = alias;
    a.colorIndex = colour;
    a.createdAt = QDateTime(QDate(2025, 1, 1), QTime(0, 0), QTimeZone::utc());
    a.updatedAt = a.createdAt;
    return a;
}

ProviderConnection connectionFor(const QString& providerID, ProviderKind kind,
                                 const QString& email = QStringLiteral("new@example.com")) {
    return ProviderConnection{providerID, email, QStringLiteral("New Name"), StorageQuota{10, 100},
                              ProviderCredential{"secret-" + providerID.toUtf8(), kind}};
}

class AccountManagerTest : public ::testing::Test {
protected:
    void storeAccounts(const QList<StorageAccount>& accounts) {
        QJsonArray array;
        for (const auto& a : accounts)
            array.append(a.toJson());
        store->put(QStringLiteral("accounts"), array);
    }

    std::unique_ptr<AccountManager> makeManager() {
        return std::make_unique<AccountManager>(provider, store, clock.clock());
    }

    QList<StorageAccount> stored() const {
        QList<StorageAccount> list;
        const auto value = store->peek(QStringLiteral("accounts"));
        if (value)
            for (const QJsonValue& v : value->toArray())
                list.append(StorageAccount::fromJson(v.toObject()));
        return list;
    }

    TaskResult<Outcome> connect(AccountManager& m, ProviderKind kind) {
        std::optional<TaskResult<Outcome>> result;
        m.connectNewAccount(kind, [&](TaskResult<Outcome> r) { result = std::move(r); });
        return waitFor(result);
    }

    TaskResult<StorageAccount> reconnect(AccountManager& m, const QUuid& id) {
        std::optional<TaskResult<StorageAccount>> result;
        m.reconnect(id, [&](TaskResult<StorageAccount> r) { result = std::move(r); });
        return waitFor(result);
    }

    void refresh(AccountManager& m, const QUuid& id) {
        std::optional<bool> done;
        m.refreshQuota(id, [&] { done = true; });
        waitFor(done);
    }

    std::shared_ptr<test::FakeStorageProvider> provider =
        std::make_shared<test::FakeStorageProvider>();
    std::shared_ptr<test::InMemoryKeyValueStore> store =
        std::make_shared<test::InMemoryKeyValueStore>();
    test::FakeClock clock;
};

TEST_F(AccountManagerTest, StartsEmptyWithoutADocumentAndWritesNothing) {
    auto m = makeManager();
    EXPECT_TRUE(m->accounts().isEmpty());
    EXPECT_EQ(m->totalQuota(), std::nullopt);
    EXPECT_FALSE(m->loadFailed());
    EXPECT_FALSE(m->persistenceError());
    EXPECT_EQ(AccountManager::suggestedAlias(m->accounts()), QStringLiteral("Personal"));
    EXPECT_EQ(AccountManager::nextColorIndex(m->accounts()), 0);
    EXPECT_EQ(store->saveCount(QStringLiteral("accounts")), 0);
}

TEST_F(AccountManagerTest, LoadsTheStoredListInOrder) {
    const QList<StorageAccount> list = {
        makeAccount(QStringLiteral("Zeta")),
        makeAccount(QStringLiteral("Alpha"), ProviderKind::telegram)};
    storeAccounts(list);
    auto m = makeManager();
    EXPECT_EQ(m->accounts(), list);
    EXPECT_EQ(m->account(list[1].id), list[1]);
    EXPECT_EQ(m->account(QUuid::createUuid()), std::nullopt);
    EXPECT_EQ(store->saveCount(QStringLiteral("accounts")), 0);
}

TEST_F(AccountManagerTest, AnUnreadableListIsSetAsideAndNeverOverwritten) {
    QJsonObject badRecord = makeAccount(QStringLiteral("A")).toJson();
    badRecord.insert(QStringLiteral("status"), QStringLiteral("suspended")); // a newer version's
    const QJsonValue documents[] = {
        QJsonArray{makeAccount(QStringLiteral("Good")).toJson(), badRecord},
        QJsonObject{{QStringLiteral("accounts"), QJsonArray()}},
        QJsonArray{1, 2},
    };
    for (const QJsonValue& document : documents) {
        store = std::make_shared<test::InMemoryKeyValueStore>();
        store->put(QStringLiteral("accounts"), document);
        auto m = makeManager();
        EXPECT_TRUE(m->accounts().isEmpty());
        EXPECT_TRUE(m->loadFailed());
        EXPECT_FALSE(m->persistenceError());
        ASSERT_EQ(store->setAsideKeys().size(), 1);
        provider->setConnection(connectionFor(QStringLiteral("p1"), ProviderKind::googleDrive));
        ASSERT_TRUE(connect(*m, ProviderKind::googleDrive).ok());
        // The new list is saved; the unreadable one is still there, unchanged.
        EXPECT_EQ(stored().size(), 1);
        EXPECT_EQ(store->peek(store->setAsideKeys().first()), document);
    }

    // A store that cannot read the document at all: set aside too.
    store = std::make_shared<test::InMemoryKeyValueStore>();
    storeAccounts({makeAccount(QStringLiteral("Kept"))});
    store->setFailLoads(true);
    auto m = makeManager();
    store->setFailLoads(false);
    EXPECT_TRUE(m->loadFailed());
    EXPECT_EQ(store->setAsideKeys().size(), 1);
    EXPECT_EQ(store->peek(QStringLiteral("accounts")), std::nullopt);
}

TEST_F(AccountManagerTest, ConnectingANewIdentityAddsAnAccount) {
    storeAccounts({makeAccount(QStringLiteral("personal"), ProviderKind::googleDrive, {}, 0)});
    // Each reading of this clock is one second later than the one before.
    auto ticks = std::make_shared<int>(0);
    const QDateTime start(QDate(2026, 3, 1), QTime(9, 0), QTimeZone::utc());
    AccountManager m(provider, store, [ticks, start] { return start.addSecs((*ticks)++); });
    QSignalSpy changed(&m, &AccountManager::accountsChanged);
    provider->setConnection(
        connectionFor(QStringLiteral("tg-1"), ProviderKind::telegram, QStringLiteral("+44 7700")));

    const auto result = connect(m, ProviderKind::telegram);
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.value().kind(), Outcome::Kind::added);
    const StorageAccount added = result.value().account();
    EXPECT_EQ(m.accounts().size(), 2);
    EXPECT_EQ(m.accounts().last(), added);
    EXPECT_EQ(added.provider, ProviderKind::telegram);
    EXPECT_EQ(added.providerAccountID, QStringLiteral("tg-1"));
    EXPECT_EQ(added.email, QStringLiteral("+44 7700"));
    EXPECT_EQ(added.displayName, QStringLiteral("New Name"));
    EXPECT_EQ(added.alias, QStringLiteral("Work")); // "personal" is taken, whatever its case
    EXPECT_EQ(added.colorIndex, 1);
    EXPECT_EQ(added.status, StorageAccount::Status::connected);
    EXPECT_EQ(added.quota, StorageQuota(10, 100));
    EXPECT_EQ(added.quotaUpdatedAt, start);
    EXPECT_EQ(added.createdAt, start.addSecs(1));
    EXPECT_EQ(added.updatedAt, start.addSecs(2));
    EXPECT_FALSE(added.id.isNull());
    EXPECT_EQ(changed.count(), 1);
    // The credential was stored under the new id before the account was saved.
    EXPECT_EQ(provider->storedCredentials().value(added.id).payload, QByteArray("secret-tg-1"));
    EXPECT_EQ(provider->calls().first(), QStringLiteral("connect()"));
    EXPECT_EQ(stored(), m.accounts());
}

TEST_F(AccountManagerTest, ConnectingAKnownIdentityRefreshesItInPlace) {
    StorageAccount known =
        makeAccount(QStringLiteral("Mine"), ProviderKind::googleDrive, QStringLiteral("g-1"), 5);
    known.status = StorageAccount::Status::reauthRequired;
    known.displayName = QStringLiteral("Old");
    const StorageAccount twinOnOtherKind =
        makeAccount(QStringLiteral("Other"), ProviderKind::telegram, QStringLiteral("g-2"), 1);
    storeAccounts({known, twinOnOtherKind, makeAccount(QStringLiteral("Last"))});
    auto m = makeManager();
    // Leave a quota error in place: connecting does not clear it.
    provider->failNext(Op::quota, StorageError(Code::server));
    refresh(*m, known.id);
    ASSERT_TRUE(m->quotaErrors().contains(known.id));

    clock.advance(60);
    ProviderConnection connection = connectionFor(QStringLiteral("g-1"), ProviderKind::googleDrive,
                                                  QStringLiteral("renamed@example.com"));
    connection.displayName.reset();
    provider->setConnection(connection);
    const auto result = connect(*m, ProviderKind::googleDrive);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().kind(), Outcome::Kind::alreadyConnected);
    const StorageAccount& updated = result.value().account();
    EXPECT_EQ(updated.id, known.id);
    EXPECT_EQ(m->accounts().at(0), updated);
    EXPECT_EQ(m->accounts().size(), 3);
    EXPECT_EQ(updated.alias, known.alias);
    EXPECT_EQ(updated.colorIndex, 5);
    EXPECT_EQ(updated.createdAt, known.createdAt);
    EXPECT_EQ(updated.email, QStringLiteral("renamed@example.com"));
    EXPECT_EQ(updated.displayName, std::nullopt);
    EXPECT_EQ(updated.status, StorageAccount::Status::connected);
    EXPECT_EQ(updated.quota, StorageQuota(10, 100));
    EXPECT_EQ(updated.updatedAt, clock.now());
    EXPECT_TRUE(m->quotaErrors().contains(known.id));
    EXPECT_EQ(provider->storedCredentials().value(known.id).payload, QByteArray("secret-g-1"));
    EXPECT_EQ(stored(), m->accounts());

    // The same service id under the other kind is another account.
    provider->setConnection(connectionFor(QStringLiteral("g-2"), ProviderKind::googleDrive));
    const auto other = connect(*m, ProviderKind::googleDrive);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(other.value().kind(), Outcome::Kind::added);
    EXPECT_EQ(m->accounts().size(), 4);
}

TEST_F(AccountManagerTest, SignInAndCredentialFailuresChangeNothing) {
    storeAccounts(
        {makeAccount(QStringLiteral("Mine"), ProviderKind::googleDrive, QStringLiteral("g-1"))});
    auto m = makeManager();
    const auto before = m->accounts();

    provider->failNext(Op::connect, StorageError(Code::authorizationCancelled));
    EXPECT_EQ(connect(*m, ProviderKind::googleDrive).error().code(), Code::authorizationCancelled);

    provider->setConnection(connectionFor(QStringLiteral("new"), ProviderKind::googleDrive));
    provider->failNext(Op::storeCredential, StorageError(Code::network));
    EXPECT_EQ(connect(*m, ProviderKind::googleDrive).error().code(), Code::network);

    provider->setConnection(connectionFor(QStringLiteral("g-1"), ProviderKind::googleDrive));
    provider->failNext(Op::storeCredential, StorageError(Code::server));
    EXPECT_EQ(connect(*m, ProviderKind::googleDrive).error().code(), Code::server);

    EXPECT_EQ(m->accounts(), before);
    EXPECT_EQ(store->saveCount(QStringLiteral("accounts")), 0);
}

TEST_F(AccountManagerTest, AccountRemovedWhileItsCredentialIsStoredFailsAndLeavesNoCredential) {
    const StorageAccount known =
        makeAccount(QStringLiteral("Mine"), ProviderKind::googleDrive, QStringLiteral("g-1"));
    storeAccounts({known});
    auto m = makeManager();
    provider->setConnection(connectionFor(QStringLiteral("g-1"), ProviderKind::googleDrive));
    auto gate = provider->gateNext(Op::storeCredential);
    std::optional<TaskResult<Outcome>> result;
    m->connectNewAccount(ProviderKind::googleDrive,
                         [&](TaskResult<Outcome> r) { result = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->entered.isDone(); }, 5000));

    std::optional<bool> removed;
    m->disconnect(known.id, [&] { removed = true; });
    waitFor(removed);
    gate->release();
    EXPECT_EQ(waitFor(result).error().code(), Code::notFound);
    EXPECT_TRUE(m->accounts().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return provider->storedCredentials().isEmpty(); }, 5000));
    EXPECT_TRUE(provider->calls().contains(
        QStringLiteral("removeCredential(%1)").arg(known.id.toString(QUuid::WithoutBraces))));
}

TEST_F(AccountManagerTest, OverlappingSignInsOfOneIdentityAddOneAccount) {
    auto m = makeManager();
    provider->setConnection(connectionFor(QStringLiteral("g-1"), ProviderKind::googleDrive));
    auto firstStore = provider->gateNext(Op::storeCredential);
    std::optional<TaskResult<Outcome>> first, second;
    m->connectNewAccount(ProviderKind::googleDrive,
                         [&](TaskResult<Outcome> r) { first = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstStore->entered.isDone(); }, 5000));
    m->connectNewAccount(ProviderKind::googleDrive,
                         [&](TaskResult<Outcome> r) { second = std::move(r); });
    ASSERT_TRUE(waitFor(second).ok());
    EXPECT_EQ(second->value().kind(), Outcome::Kind::added);
    firstStore->release();
    ASSERT_TRUE(waitFor(first).ok());
    EXPECT_EQ(first->value().kind(), Outcome::Kind::alreadyConnected);
    EXPECT_EQ(first->value().account().id, second->value().account().id);
    EXPECT_EQ(m->accounts().size(), 1);
    // Only the kept account's credential remains.
    EXPECT_TRUE(QTest::qWaitFor([&] { return provider->storedCredentials().size() == 1; }, 5000));
    EXPECT_TRUE(provider->storedCredentials().contains(m->accounts().first().id));
}

TEST_F(AccountManagerTest, CancellingASignInChangesNothing) {
    auto m = makeManager();
    provider->setConnection(connectionFor(QStringLiteral("g-1"), ProviderKind::googleDrive));
    auto gate = provider->gateNext(Op::connect);
    std::optional<TaskResult<Outcome>> result;
    TaskHandle handle = m->connectNewAccount(ProviderKind::googleDrive,
                                             [&](TaskResult<Outcome> r) { result = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->entered.isDone(); }, 5000));
    handle.cancel();
    EXPECT_TRUE(waitFor(result).isCancelled());
    EXPECT_TRUE(m->accounts().isEmpty());
    EXPECT_EQ(provider->callCount(Op::storeCredential), 0);
}

TEST_F(AccountManagerTest, ReconnectSignsTheSameIdentityInAgain) {
    StorageAccount known =
        makeAccount(QStringLiteral("Mine"), ProviderKind::telegram, QStringLiteral("t-1"));
    known.status = StorageAccount::Status::reauthRequired;
    storeAccounts({known});
    auto m = makeManager();
    provider->failNext(Op::quota, StorageError(Code::rateLimited));
    refresh(*m, known.id);
    ASSERT_TRUE(m->quotaErrors().contains(known.id));

    // Another identity: refused with the stored address, nothing stored or changed.
    provider->setConnection(connectionFor(QStringLiteral("t-2"), ProviderKind::telegram));
    EXPECT_EQ(reconnect(*m, known.id).error(), StorageError::accountMismatch(known.email));
    EXPECT_EQ(provider->calls().last(), QStringLiteral("connect(%1)").arg(known.email));
    EXPECT_EQ(provider->callCount(Op::storeCredential), 0);
    EXPECT_EQ(m->account(known.id)->status, StorageAccount::Status::reauthRequired);

    clock.advance(5);
    provider->setConnection(connectionFor(QStringLiteral("t-1"), ProviderKind::telegram,
                                          QStringLiteral("changed@example.com")));
    const auto result = reconnect(*m, known.id);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), *m->account(known.id));
    EXPECT_EQ(result.value().status, StorageAccount::Status::connected);
    EXPECT_EQ(result.value().email, QStringLiteral("changed@example.com"));
    EXPECT_EQ(result.value().quota, StorageQuota(10, 100));
    EXPECT_EQ(result.value().quotaUpdatedAt, clock.now());
    EXPECT_EQ(result.value().alias, known.alias);
    EXPECT_FALSE(m->quotaErrors().contains(known.id));
    EXPECT_EQ(stored(), m->accounts());

    EXPECT_EQ(reconnect(*m, QUuid::createUuid()).error().code(), Code::notFound);
}

TEST_F(AccountManagerTest, ReconnectOfAnAccountRemovedDuringSignInIsNotFound) {
    const StorageAccount known =
        makeAccount(QStringLiteral("Mine"), ProviderKind::telegram, QStringLiteral("t-1"));
    storeAccounts({known});
    auto m = makeManager();
    provider->setConnection(connectionFor(QStringLiteral("t-1"), ProviderKind::telegram));
    auto gate = provider->gateNext(Op::connect);
    std::optional<TaskResult<StorageAccount>> result;
    m->reconnect(known.id, [&](TaskResult<StorageAccount> r) { result = std::move(r); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->entered.isDone(); }, 5000));
    std::optional<bool> removed;
    m->disconnect(known.id, [&] { removed = true; });
    waitFor(removed);
    gate->release();
    EXPECT_EQ(waitFor(result).error().code(), Code::notFound);
    EXPECT_EQ(provider->callCount(Op::storeCredential), 0);
}

TEST_F(AccountManagerTest, DisconnectRemovesTheAccountAndItsState) {
    const StorageAccount a = makeAccount(QStringLiteral("A"));
    const StorageAccount b = makeAccount(QStringLiteral("B"));
    const StorageAccount c = makeAccount(QStringLiteral("C"));
    storeAccounts({a, b, c});
    auto m = makeManager();
    provider->failNext(Op::quota, StorageError(Code::server));
    refresh(*m, b.id);
    ASSERT_TRUE(m->quotaErrors().contains(b.id));

    std::optional<bool> unknownDone;
    m->disconnect(QUuid::createUuid(), [&] { unknownDone = true; });
    waitFor(unknownDone);
    EXPECT_EQ(provider->callCount(Op::removeCredential), 0);
    EXPECT_EQ(store->saveCount(QStringLiteral("accounts")), 0);

    std::optional<bool> done;
    m->disconnect(b.id, [&] { done = true; });
    waitFor(done);
    EXPECT_EQ(m->accounts(), (QList<StorageAccount>{a, c}));
    EXPECT_TRUE(m->quotaErrors().isEmpty());
    EXPECT_EQ(
        provider->calls().last(),
        QStringLiteral("removeCredential(%1,revoke)").arg(b.id.toString(QUuid::WithoutBraces)));
    EXPECT_EQ(stored(), m->accounts());
}

TEST_F(AccountManagerTest, RenameTrimsAndCutsTheAlias) {
    const StorageAccount a = makeAccount(QStringLiteral("A"));
    storeAccounts({a});
    auto m = makeManager();
    const QString family =
        QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // one character
    struct Case {
        QString input;
        QString stored;
    };
    const Case cases[] = {
        {QStringLiteral("  Work \n"), QStringLiteral("Work")},
        {QStringLiteral("\u00A0Nbsp\u2028"), QStringLiteral("Nbsp")},
        {QString(50, QLatin1Char('x')), QString(40, QLatin1Char('x'))},
        {family.repeated(41), family.repeated(40)},
        {QStringLiteral("e\u0301").repeated(45), QStringLiteral("e\u0301").repeated(40)},
        // Cut, not trimmed again: the 40th character is a blank.
        {QString(39, QLatin1Char('y')) + QStringLiteral(" z"),
         QString(39, QLatin1Char('y')) + QLatin1Char(' ')},
    };
    for (const Case& c : cases) {
        clock.advance(1);
        m->rename(a.id, c.input);
        EXPECT_EQ(m->account(a.id)->alias, c.stored);
        EXPECT_EQ(m->account(a.id)->updatedAt, clock.now());
    }
    EXPECT_EQ(stored(), m->accounts());
    const int saves = store->saveCount(QStringLiteral("accounts"));
    for (const QString& blank : {QString(), QStringLiteral("   "), QStringLiteral("\n\t")}) {
        try {
            m->rename(a.id, blank);
            ADD_FAILURE() << "no error for a blank alias";
        } catch (const StorageError& error) {
            EXPECT_EQ(error.code(), Code::invalidName);
        }
    }
    m->rename(QUuid::createUuid(), QStringLiteral("Nobody"));
    EXPECT_EQ(store->saveCount(QStringLiteral("accounts")), saves);
}

TEST_F(AccountManagerTest, MarkingReauthRequiredHappensOnce) {
    const StorageAccount a = makeAccount(QStringLiteral("A"));
    storeAccounts({a});
    auto m = makeManager();
    clock.advance(10);
    m->handle(StorageError(Code::network), a.id);
    EXPECT_EQ(m->account(a.id)->status, StorageAccount::Status::connected);
    m->handle(StorageError(Code::reauthRequired), a.id);
    EXPECT_EQ(m->account(a.id)->status, StorageAccount::Status::reauthRequired);
    EXPECT_EQ(m->account(a.id)->updatedAt, clock.now());
    clock.advance(10);
    m->markReauthRequired(a.id);
    m->markReauthRequired(QUuid::createUuid());
    EXPECT_EQ(m->account(a.id)->updatedAt, clock.now().addSecs(-10));
    EXPECT_EQ(store->saveCount(QStringLiteral("accounts")), 1);
}

TEST_F(AccountManagerTest, QuotaRefreshStoresTheQuotaOrTheError) {
    StorageAccount a = makeAccount(QStringLiteral("A"));
    storeAccounts({a});
    auto m = makeManager();
    QSignalSpy refreshing(m.get(), &AccountManager::refreshingQuotaChanged);

    provider->failNext(Op::quota, StorageError(Code::reauthRequired));
    refresh(*m, a.id);
    EXPECT_EQ(m->quotaErrors().value(a.id, StorageError(Code::server)).code(),
              Code::reauthRequired);
    EXPECT_EQ(m->account(a.id)->status, StorageAccount::Status::reauthRequired);
    EXPECT_EQ(m->account(a.id)->quota, std::nullopt);
    EXPECT_EQ(refreshing.count(), 2);
    EXPECT_TRUE(m->refreshingQuota().isEmpty());

    clock.advance(30);
    provider->setQuota(a.id, StorageQuota{5, 50});
    refresh(*m, a.id);
    EXPECT_TRUE(m->quotaErrors().isEmpty());
    EXPECT_EQ(m->account(a.id)->status, StorageAccount::Status::connected);
    EXPECT_EQ(m->account(a.id)->quota, StorageQuota(5, 50));
    EXPECT_EQ(m->account(a.id)->quotaUpdatedAt, clock.now());
    EXPECT_EQ(stored(), m->accounts());

    // The same failure twice is one change for observers.
    QSignalSpy errors(m.get(), &AccountManager::quotaErrorsChanged);
    provider->failNext(Op::quota, StorageError(Code::offline), 2);
    refresh(*m, a.id);
    refresh(*m, a.id);
    EXPECT_EQ(errors.count(), 1);

    // A later failure keeps the last known quota.
    provider->failNext(Op::quota, StorageError(Code::offline));
    refresh(*m, a.id);
    EXPECT_EQ(m->quotaErrors().value(a.id, StorageError(Code::server)).code(), Code::offline);
    EXPECT_EQ(m->account(a.id)->quota, StorageQuota(5, 50));
    EXPECT_EQ(m->account(a.id)->status, StorageAccount::Status::connected);
}

TEST_F(AccountManagerTest, ASecondRefreshOfOneAccountIsDropped) {
    const StorageAccount a = makeAccount(QStringLiteral("A"));
    storeAccounts({a});
    auto m = makeManager();
    auto gate = provider->gateNext(Op::quota);
    std::optional<bool> first, second;
    m->refreshQuota(a.id, [&] { first = true; });
    EXPECT_TRUE(m->refreshingQuota().contains(a.id));
    m->refreshQuota(a.id, [&] { second = true; });
    EXPECT_TRUE(second.has_value()); // finished at once
    gate->release();
    waitFor(first);
    EXPECT_EQ(provider->callCount(Op::quota), 1);
}

TEST_F(AccountManagerTest, RefreshOfAnAccountDisconnectedMeanwhileLeavesNothing) {
    const StorageAccount a = makeAccount(QStringLiteral("A"));
    storeAccounts({a});
    auto m = makeManager();
    auto gate = provider->gateNext(Op::quota);
    provider->failNext(Op::quota, StorageError(Code::server));
    std::optional<bool> refreshed, removed;
    m->refreshQuota(a.id, [&] { refreshed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->entered.isDone(); }, 5000));
    m->disconnect(a.id, [&] { removed = true; });
    waitFor(removed);
    gate->release();
    waitFor(refreshed);
    EXPECT_TRUE(m->quotaErrors().isEmpty());
    EXPECT_TRUE(m->accounts().isEmpty());
}

TEST_F(AccountManagerTest, RefreshAllRunsTheAccountsConcurrently) {
    const StorageAccount a = makeAccount(QStringLiteral("A"));
    const StorageAccount b = makeAccount(QStringLiteral("B"));
    storeAccounts({a, b});
    auto m = makeManager();
    provider->setQuota(a.id, StorageQuota{1});
    provider->setQuota(b.id, StorageQuota{2});
    auto gateA = provider->gateNext(Op::quota);
    auto gateB = provider->gateNext(Op::quota);
    std::optional<bool> done;
    m->refreshAllQuotas([&] { done = true; });
    // Both calls are in flight before either is let go.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return gateA->entered.isDone() && gateB->entered.isDone(); }, 5000));
    EXPECT_EQ(m->refreshingQuota(), (QSet<QUuid>{a.id, b.id}));
    EXPECT_FALSE(done.has_value());
    gateA->release();
    gateB->release();
    waitFor(done);
    EXPECT_EQ(m->account(a.id)->quota, StorageQuota(1));
    EXPECT_EQ(m->account(b.id)->quota, StorageQuota(2));

    std::optional<bool> emptyDone;
    auto empty = std::make_shared<test::InMemoryKeyValueStore>();
    AccountManager none(provider, empty, clock.clock());
    none.refreshAllQuotas([&] { emptyDone = true; });
    waitFor(emptyDone);
}

TEST_F(AccountManagerTest, TotalQuota) {
    auto with = [](StorageAccount a, std::optional<StorageQuota> q) {
        a.quota = q;
        return a;
    };
    const auto drive = ProviderKind::googleDrive;
    const auto telegram = ProviderKind::telegram;
    const qint64 max = std::numeric_limits<qint64>::max();
    struct Case {
        QList<StorageAccount> accounts;
        std::optional<StorageQuota> total;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{with(makeAccount(QStringLiteral("a"), drive), std::nullopt)}, std::nullopt},
        {{with(makeAccount(QStringLiteral("t"), telegram), StorageQuota{5, 10})}, std::nullopt},
        {{with(makeAccount(QStringLiteral("a"), drive), StorageQuota{100, 1000}),
          with(makeAccount(QStringLiteral("b"), drive), StorageQuota{50})},
         StorageQuota{150}},
        {{with(makeAccount(QStringLiteral("a"), drive), StorageQuota{100, 1000, 7, 8}),
          with(makeAccount(QStringLiteral("t"), telegram), StorageQuota{1, 1}),
          with(makeAccount(QStringLiteral("b"), drive), StorageQuota{50, 2000})},
         StorageQuota{150, 3000}},
        {{with(makeAccount(QStringLiteral("a"), drive), StorageQuota{max, max}),
          with(makeAccount(QStringLiteral("b"), drive), StorageQuota{max, max})},
         StorageQuota{max, max}},
    };
    for (const Case& c : cases) {
        store = std::make_shared<test::InMemoryKeyValueStore>();
        storeAccounts(c.accounts);
        auto m = makeManager();
        EXPECT_EQ(m->totalQuota(), c.total) << c.accounts.size();
    }
    // reauthRequired accounts count with their last known quota.
    StorageAccount stale = with(makeAccount(QStringLiteral("s"), drive), StorageQuota{9, 10});
    stale.status = StorageAccount::Status::reauthRequired;
    store = std::make_shared<test::InMemoryKeyValueStore>();
    storeAccounts({stale});
    EXPECT_EQ(makeManager()->totalQuota(), StorageQuota(9, 10));
}

TEST(AccountManagerChoices, SuggestedAliasAndNextColour) {
    auto list = [](std::initializer_list<std::pair<const char*, int>> entries) {
        QList<StorageAccount> accounts;
        for (const auto& [alias, colour] : entries)
            accounts.append(
                makeAccount(QString::fromUtf8(alias), ProviderKind::googleDrive, {}, colour));
        return accounts;
    };
    EXPECT_EQ(AccountManager::suggestedAlias(list({{"PERSONAL", 0}, {"work", 1}})),
              QStringLiteral("Freelance"));
    EXPECT_EQ(AccountManager::suggestedAlias(list({{"Work", 0}})), QStringLiteral("Personal"));
    const auto eight = list({{"Personal", 0},
                             {"Work", 1},
                             {"Freelance", 2},
                             {"Archive", 3},
                             {"Clients", 4},
                             {"Projects", 5},
                             {"Media", 6},
                             {"Backup", 7}});
    EXPECT_EQ(AccountManager::suggestedAlias(eight), QStringLiteral("Storage 9"));
    EXPECT_EQ(AccountManager::nextColorIndex(eight), 0);
    EXPECT_EQ(AccountManager::nextColorIndex(list({{"a", 0}, {"b", 1}, {"c", 3}})), 2);
    auto nine = eight;
    nine.append(makeAccount(QStringLiteral("x")));
    EXPECT_EQ(AccountManager::nextColorIndex(nine), 1);
    // Colours out of the palette (an edited document) count as the colour they show.
    EXPECT_EQ(AccountManager::nextColorIndex(list({{"a", 8}, {"b", -7}})), 2);
}

TEST_F(AccountManagerTest, AFailedSaveRaisesTheFlagUntilTheNextGoodSave) {
    auto m = makeManager();
    QSignalSpy flag(m.get(), &AccountManager::persistenceErrorChanged);
    store->setFailSaves(true);
    provider->setConnection(connectionFor(QStringLiteral("g-1"), ProviderKind::googleDrive));
    const auto result = connect(*m, ProviderKind::googleDrive);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(m->persistenceError());
    EXPECT_EQ(m->accounts().size(), 1);
    m->rename(m->accounts().first().id, QStringLiteral("Still failing"));
    EXPECT_EQ(flag.count(), 1);
    store->setFailSaves(false);
    m->rename(m->accounts().first().id, QStringLiteral("Saved"));
    EXPECT_FALSE(m->persistenceError());
    EXPECT_EQ(flag.count(), 2);
    EXPECT_EQ(stored(), m->accounts());
}

} // namespace
