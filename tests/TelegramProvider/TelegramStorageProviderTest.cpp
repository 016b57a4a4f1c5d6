#include "tests/TelegramProvider/TelegramProviderFixture.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

namespace {

StorageError errorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const StorageError& error) {
        return error;
    }
    return StorageError(Code::invalidName); // stands for "no error"
}

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

} // namespace

TEST_F(TelegramProviderTest, AvailabilityNeedsConfigurationAndLibrary) {
    EXPECT_TRUE(provider->isAvailable());
    EXPECT_TRUE(provider->isLibraryLoaded());
    auto noConfiguration = makeProvider(std::nullopt, runtime);
    EXPECT_FALSE(noConfiguration->isAvailable());
    EXPECT_TRUE(noConfiguration->isLibraryLoaded());
    auto noLibrary = makeProvider(testConfiguration(), nullptr);
    EXPECT_FALSE(noLibrary->isAvailable());
    EXPECT_FALSE(noLibrary->isLibraryLoaded());
    EXPECT_TRUE(TelegramStorageProvider::defaultBaseDirectory().endsWith("/Tessarow/Telegram"));
    EXPECT_EQ(TelegramStorageProvider::randomKey().size(), 32);
    EXPECT_NE(TelegramStorageProvider::randomKey(), TelegramStorageProvider::randomKey());
}

TEST_F(TelegramProviderTest, AccountOperationsCheckConfigurationThenCredential) {
    const QUuid account = addAccount();
    provider->closeAllSessions(); // the account's session is no longer open

    // Without configuration or library even a stored account is not served.
    auto noConfiguration = makeProvider(std::nullopt, runtime);
    EXPECT_EQ(errorOf([&] { noConfiguration->quota(account); }).code(), Code::notConfigured);
    auto noLibrary = makeProvider(testConfiguration(), nullptr);
    EXPECT_EQ(errorOf([&] { noLibrary->quota(account); }).code(), Code::notConfigured);

    // Missing, unreadable or undecodable credentials need a new sign-in.
    EXPECT_EQ(errorOf([&] { provider->quota(QUuid::createUuid()); }).code(), Code::reauthRequired);
    const QUuid broken = QUuid::createUuid();
    secrets->save("{\"sessionID\":1}", secretKey(broken));
    EXPECT_EQ(errorOf([&] { provider->quota(broken); }).code(), Code::reauthRequired);
    const QUuid escaping = QUuid::createUuid();
    secrets->save(R"({"sessionID":"../../etc","key":"AAAA"})", secretKey(escaping));
    EXPECT_EQ(errorOf([&] { provider->quota(escaping); }).code(), Code::reauthRequired);
    EXPECT_FALSE(provider->hasCredential(escaping));
    // A keyring that cannot be read is no expired sign-in.
    secrets->setFailureStatus(2, SecretStoreError::Reason::locked);
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::keyringLocked);
    secrets->setFailureStatus(-1, SecretStoreError::Reason::unavailable);
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::keyringUnavailable);
    secrets->setFailureStatus(0);

    // A healthy account: no quota figures, only a working session.
    EXPECT_EQ(provider->quota(account), StorageQuota{});
    // An open session is served without looking at configuration or credential again.
    secrets->setFailureStatus(-1);
    EXPECT_EQ(provider->quota(account), StorageQuota{});
    secrets->setFailureStatus(0);
}

TEST_F(TelegramProviderTest, ExportIsNeverSupportedAndFoldersAreCounted) {
    EXPECT_EQ(errorOf([&] {
                  provider->exportFile({QUuid::createUuid(), "m:1:2"}, "text/plain", QUrl());
              }).code(),
              Code::notSupported);
    EXPECT_EQ(provider->sessionFolderCount(), 0);
    QDir().mkpath(base + "/folder");
    touch(base + "/stray");
    touch(base + "/.hidden");
    EXPECT_EQ(provider->sessionFolderCount(), 3);
}

TEST_F(TelegramProviderTest, ConcurrentFirstUsesOpenOneClient) {
    const QUuid account = addAccount();
    provider->closeAllSessions();
    const int before = countRequests("setTdlibParameters");
    fakeTd().hold("getMe");
    std::vector<std::unique_ptr<Cancellable<int>>> users;
    for (int i = 0; i < 4; ++i)
        users.push_back(std::make_unique<Cancellable<int>>([&] {
            provider->quota(account);
            return 0;
        }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return countRequests("getMe") > 1; }));
    fakeTd().release("getMe");
    for (auto& user : users) {
        ASSERT_TRUE(user->finished());
        user->get();
    }
    EXPECT_EQ(countRequests("setTdlibParameters") - before, 1);
}

TEST_F(TelegramProviderTest, ASessionThatTDLibClosesByItselfEndsAndAsksForSignIn) {
    const QUuid account = addAccount();
    provider->quota(account);
    const auto session = provider->registry().existing(account);
    ASSERT_TRUE(session);
    // Signed out from another device: TDLib closes the instance on its own.
    fakeTd().setState(clientOf(session), state("authorizationStateLoggingOut"));
    fakeTd().setState(clientOf(session), state("authorizationStateClosed"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->hasEnded(); }, 5000));
    try {
        provider->quota(account);
        ADD_FAILURE() << "the closed session still served a request";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), StorageError::Code::reauthRequired);
    }
    EXPECT_NE(provider->registry().existing(account), session);
    // Requests straight to its client fail the same way instead of waiting on TDLib.
    EXPECT_THROW(session->client()->send(TDObject(QStringLiteral("getMe"), {})), StorageError);
}

TEST_F(TelegramProviderTest, SessionsThatFailToOpenAreClosedBeforeTheErrorIsReported) {
    const QUuid account = addAccount();
    const QString sessionID = sessionIDOf(account);
    provider->closeAllSessions();

    // Identity cannot be loaded: the error comes back mapped, and no TDLib instance is left
    // holding the database (else the next opening would find it locked).
    fakeTd().failNext("getMe", 500, "Internal");
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::server);
    EXPECT_EQ(fakeTd().liveClients(), 0);
    EXPECT_EQ(provider->quota(account), StorageQuota{});
    provider->closeAllSessions();

    // A wrong database key: 401, reauthRequired, nothing left open.
    const auto credential = provider->loadCredential(account);
    secrets->save(
        TelegramStorageProvider::Credential{credential.sessionID, QByteArray(32, 'x')}.toJson(),
        secretKey(account));
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::reauthRequired);
    EXPECT_EQ(fakeTd().liveClients(), 0);
    EXPECT_TRUE(folderExists(sessionID));

    // A session that is no longer signed in: closed without logging out, folder and
    // credential kept.
    const QString fresh = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    secrets->save(TelegramStorageProvider::Credential{fresh, QByteArray(32, 'y')}.toJson(),
                  secretKey(account));
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::reauthRequired);
    EXPECT_EQ(fakeTd().liveClients(), 0);
    EXPECT_TRUE(folderExists(fresh));
    EXPECT_TRUE(provider->hasCredential(account));
    EXPECT_EQ(countRequests("logOut"), 0);
}

TEST_F(TelegramProviderTest, StoringTheSameCredentialTwiceTouchesNothing) {
    const QUuid account = QUuid::createUuid();
    const ProviderConnection connection = provider->connect(std::nullopt);
    provider->storeCredential(connection.credential, account);
    const int requests = fakeTd().requests().size();
    provider->storeCredential(connection.credential, account);
    EXPECT_EQ(fakeTd().requests().size(), requests);
    EXPECT_EQ(folders(), QStringList{sessionIDOf(account)});
    EXPECT_EQ(errorOf([&] {
                  provider->storeCredential({"not json", ProviderKind::telegram}, account);
              }).code(),
              Code::invalidResponse);
    EXPECT_EQ(secrets->contents().value(secretKey(account)), connection.credential.payload);
}

TEST_F(TelegramProviderTest, ANewSignInReplacesTheOldSessionAfterItIsSaved) {
    const QUuid account = addAccount();
    const QString oldID = sessionIDOf(account);
    const auto oldSession = provider->session(account);

    const ProviderConnection again = provider->connect(std::nullopt);
    const QString newID =
        TelegramStorageProvider::Credential::fromJson(again.credential.payload)->sessionID;
    provider->storeCredential(again.credential, account);
    EXPECT_TRUE(oldSession->hasEnded());
    EXPECT_TRUE(fakeTd().requestTypes(clientOf(oldSession)).contains("logOut"));
    EXPECT_EQ(folders(), QStringList{newID});
    EXPECT_EQ(sessionIDOf(account), newID);
    // The promoted sign-in serves the account without a new TDLib client.
    const int parameters = countRequests("setTdlibParameters");
    provider->quota(account);
    EXPECT_EQ(countRequests("setTdlibParameters"), parameters);
    EXPECT_NE(oldID, newID);
}

TEST_F(TelegramProviderTest, AFailedSaveChangesNothing) {
    const QUuid account = addAccount();
    const QString oldID = sessionIDOf(account);
    const auto oldSession = provider->session(account);
    const ProviderConnection again = provider->connect(std::nullopt);

    secrets->setHook([](const QString& operation, const QString&) {
        if (operation == "save")
            throw SecretStoreError(-128, "keyring locked", SecretStoreError::Reason::locked);
    });
    // The connection says what failed: the keyring, not the network.
    EXPECT_EQ(errorOf([&] { provider->storeCredential(again.credential, account); }).code(),
              Code::keyringLocked);
    secrets->setHook({});
    // The working sign-in is untouched: same credential, same open session, same folder.
    EXPECT_EQ(sessionIDOf(account), oldID);
    EXPECT_EQ(provider->session(account), oldSession);
    EXPECT_FALSE(oldSession->hasEnded());
    EXPECT_EQ(fakeTd().requestTypes(clientOf(oldSession)).count("logOut"), 0);
    EXPECT_TRUE(folderExists(oldID));
    // The new sign-in is still pending, so a retry can complete the replacement.
    EXPECT_EQ(provider->registry().pendingIDs().size(), 1);
    provider->storeCredential(again.credential, account);
    EXPECT_TRUE(oldSession->hasEnded());
    EXPECT_FALSE(folderExists(oldID));
}

TEST_F(TelegramProviderTest, StoringAfterTheSignInWasClosedOpensFromDiskLater) {
    const QUuid account = addAccount();
    const QString oldID = sessionIDOf(account);
    const ProviderConnection again = provider->connect(std::nullopt);
    provider->closeAllSessions(); // quits before the account manager stored it
    provider->storeCredential(again.credential, account);
    // The old authorisation is ended on Telegram's side even though it was not open.
    EXPECT_EQ(countRequests("logOut"), 2) << "pending sign-in at quit, then the old session";
    EXPECT_FALSE(folderExists(oldID));
    EXPECT_EQ(fakeTd().liveClients(), 0);
    // The new sign-in was logged out at quit, so the account needs a new sign-in.
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::reauthRequired);
}

TEST_F(TelegramProviderTest, RemovingACredentialLogsOutAndDeletesEverything) {
    const QUuid account = addAccount();
    const QString sessionID = sessionIDOf(account);
    const auto session = provider->session(account);
    provider->removeCredential(account, true);
    EXPECT_TRUE(session->hasEnded());
    EXPECT_TRUE(fakeTd().requestTypes(clientOf(session)).contains("logOut"));
    EXPECT_FALSE(folderExists(sessionID));
    EXPECT_FALSE(secrets->contents().contains(secretKey(account)));
    EXPECT_EQ(errorOf([&] { provider->quota(account); }).code(), Code::reauthRequired);

    // Not revoked, session not open: opened from disk only to close it.
    const QUuid other = addAccount();
    const QString otherID = sessionIDOf(other);
    provider->closeAllSessions();
    const int logOuts = countRequests("logOut");
    provider->removeCredential(other, false);
    EXPECT_EQ(countRequests("logOut"), logOuts);
    EXPECT_FALSE(folderExists(otherID));
}

TEST_F(TelegramProviderTest, EndingAnAccountWhileItsSessionOpensWaitsForTheOpeningToLetGo) {
    auto quietQuota = [this](const QUuid& account) {
        try {
            provider->quota(account);
        } catch (const StorageError&) {
        }
        return 0;
    };
    // Revoked while its session is still opening: the opening is cancelled, and the stored
    // session is opened again to log it out only once that opening has let go of the database.
    const QUuid account = addAccount();
    provider->closeAllSessions();
    fakeTd().hold("getMe");
    int getMes = countRequests("getMe");
    Cancellable<int> user([&] { return quietQuota(account); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return countRequests("getMe") == getMes + 1; }));
    const int logOuts = countRequests("logOut");
    provider->removeCredential(account, true);
    EXPECT_EQ(countRequests("logOut"), logOuts + 1) << "the authorisation is ended on Telegram";
    ASSERT_TRUE(user.finished());
    EXPECT_EQ(fakeTd().liveClients(), 0);
    fakeTd().release("getMe");

    // Quitting while a session opens: no TDLib instance is left open once it returns.
    const QUuid other = addAccount();
    provider->closeAllSessions();
    fakeTd().hold("getMe");
    getMes = countRequests("getMe");
    Cancellable<int> second([&] { return quietQuota(other); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return countRequests("getMe") == getMes + 1; }));
    provider->closeAllSessions();
    EXPECT_EQ(fakeTd().liveClients(), 0);
    ASSERT_TRUE(second.finished());
    fakeTd().release("getMe");
}

TEST_F(TelegramProviderTest, RemovingAMissingOrBrokenCredentialDeletesNoFolder) {
    QDir().mkpath(base + "/keep");
    provider->removeCredential(QUuid::createUuid(), true);
    const QUuid broken = QUuid::createUuid();
    secrets->save("garbage", secretKey(broken));
    provider->removeCredential(broken, true);
    EXPECT_FALSE(secrets->contents().contains(secretKey(broken)));
    // A session id that is not a UUID never names a folder to delete.
    const QUuid escaping = QUuid::createUuid();
    secrets->save(R"({"sessionID":"..","key":"AAAA"})", secretKey(escaping));
    provider->removeCredential(escaping, true);
    EXPECT_TRUE(QFileInfo(base + "/keep").isDir());
    secrets->setFailureStatus(-1);
    provider->removeCredential(QUuid::createUuid(), true); // never throws
    secrets->setFailureStatus(0);
}

TEST_F(TelegramProviderTest, OrphanCleanUpSparesStoredAndPendingSessions) {
    EXPECT_EQ(provider->removeOrphanedSessions({}), 0); // no folder yet
    const QUuid stored = addAccount();
    const QString storedID = sessionIDOf(stored);
    const ProviderConnection pending = provider->connect(std::nullopt);
    const QString pendingID =
        TelegramStorageProvider::Credential::fromJson(pending.credential.payload)->sessionID;
    provider->closeAllSessions();
    provider->registry().addPending(pendingID, newSession(pendingID)); // still pending
    const QString orphan = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    QDir().mkpath(base + "/" + orphan + "/db");
    touch(base + "/stray.txt");
    touch(base + "/.hidden");
    const QUuid brokenAccount = QUuid::createUuid();
    secrets->save("garbage", secretKey(brokenAccount));

    EXPECT_EQ(provider->removeOrphanedSessions({stored, brokenAccount, QUuid::createUuid()}), 3);
    QStringList expected{storedID, pendingID};
    expected.sort();
    QStringList left = folders();
    left.sort();
    EXPECT_EQ(left, expected);
}

TEST_F(TelegramProviderTest, OrphanCleanUpDeletesNothingWhenACredentialCannotBeRead) {
    const QUuid first = addAccount();
    const QUuid second = addAccount();
    provider->closeAllSessions();
    const QStringList before = folders();
    ASSERT_EQ(before.size(), 2);
    // A keyring that is still locked at login fails every read: no session is an orphan then.
    secrets->setHook([](const QString& operation, const QString&) {
        if (operation == "load")
            throw SecretStoreError(-25308, "interaction not allowed");
    });
    EXPECT_EQ(provider->removeOrphanedSessions({first, second}), 0);
    secrets->setHook({});
    EXPECT_EQ(folders(), before);
}

TEST_F(TelegramProviderTest, CloseAllClosesAccountsAndLogsOutUnstoredSignIns) {
    provider->closeAllSessions(); // nothing open: returns at once
    const QUuid account = addAccount();
    const auto accountSession = provider->session(account);
    provider->connect(std::nullopt); // a sign-in the account manager never stores
    const auto pendingIDs = provider->registry().pendingIDs();
    ASSERT_EQ(pendingIDs.size(), 1);
    provider->closeAllSessions();
    EXPECT_TRUE(accountSession->hasEnded());
    EXPECT_TRUE(fakeTd().requestTypes(clientOf(accountSession)).contains("close"));
    EXPECT_FALSE(fakeTd().requestTypes(clientOf(accountSession)).contains("logOut"));
    EXPECT_EQ(countRequests("logOut"), 1) << "the unstored sign-in is ended on Telegram's side";
    EXPECT_TRUE(provider->registry().pendingIDs().isEmpty());
    EXPECT_EQ(fakeTd().liveClients(), 0);
    // The next use opens the account afresh from disk.
    EXPECT_EQ(provider->quota(account), StorageQuota{});
    EXPECT_NE(provider->session(account), accountSession);
}

TEST_F(TelegramProviderTest, EndingAnOldSessionIsNotCutShortByTheCallersCancellation) {
    // Removing a credential, or storing one that replaces it, under a task that is already
    // cancelled: the old session's log-out still runs to its end before its folder goes
    // (a log-out cut short would leave the authorisation alive and delete the folder under a
    // TDLib instance that still uses it).
    TelegramTimeLimits patient = fastLimits();
    patient.logOut = std::chrono::seconds(30);
    provider = std::make_unique<TelegramStorageProvider>(testConfiguration(), secrets, presenter,
                                                         runtime, base, patient, clock.clock());
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "storing a replacement" : "removing");
        const QUuid account = addAccount();
        const QString oldID = sessionIDOf(account);
        const auto oldSession = provider->session(account);
        std::optional<ProviderConnection> replacement;
        if (replacing)
            replacement = provider->connect(std::nullopt);

        // TDLib answers the log-out only after the caller's cancellation has been seen.
        fakeTd().hold("logOut");
        auto releaser = std::async(std::launch::async, [&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            bool seen = false;
            while (!seen && std::chrono::steady_clock::now() < until) {
                seen = fakeTd().requestTypes(clientOf(oldSession)).contains("logOut");
                if (!seen)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            fakeTd().release("logOut");
            return seen;
        });
        std::stop_source stop;
        stop.request_stop();
        {
            Cancellation::Scope cancelled(stop.get_token());
            if (replacing)
                provider->storeCredential(replacement->credential, account);
            else
                provider->removeCredential(account, true);
        }
        EXPECT_TRUE(releaser.get()) << "no log-out was sent";
        EXPECT_TRUE(oldSession->hasEnded());
        const QStringList requests = fakeTd().requestTypes(clientOf(oldSession));
        EXPECT_TRUE(requests.contains("logOut"));
        EXPECT_FALSE(requests.contains("close")) << "the log-out was cut short";
        EXPECT_FALSE(folderExists(oldID));
        if (replacing)
            provider->removeCredential(account, false);
    }
}
