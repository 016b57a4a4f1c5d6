// The credential manager with a scripted token endpoint, an in-memory secret store and a
// fake clock.
#include "GoogleDriveProvider/OAuth/GoogleCredentialManager.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/Completion.h"
#include "tests/support/FakeClock.h"
#include "tests/support/InMemorySecretStore.h"
#include "tests/support/RunningTask.h"
#include "tests/support/ThreadState.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <system_error>
#include <thread>
#include <variant>

namespace {
/// Set on a thread to make its next thread creation fail as it does when the process is out
/// of threads or memory.
thread_local bool failNextThreadStart = false;
} // namespace

// Stands in for the C library's pthread_create in this test program (std::thread reaches it
// through libstdc++), so that a thread that cannot start can be shown.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (failNextThreadStart) {
        failNextThreadStart = false;
        return EAGAIN;
    }
    return real(thread, attributes, routine, argument);
}

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using namespace std::chrono_literals;

namespace {

const QUuid account = QUuid::fromString(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));

QString formValue(const QByteArray& body, const QString& name) {
    QUrl url(QStringLiteral("http://form/"));
    url.setQuery(QString::fromLatin1(body), QUrl::StrictMode);
    return PercentEncoding::firstValue(url, name).value_or(QString());
}

/// A token endpoint in memory: answers by a responder, records requests, and can hold every
/// answer until released (a held request honours cancellation, as the real client does,
/// unless told not to).
class ScriptedHTTPClient : public HTTPClient {
public:
    using Responder = std::function<HTTPReply(const HTTPRequest&)>;

    void setResponder(Responder responder) {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }
    void hold(bool cancellable = true) {
        std::lock_guard lock(mutex_);
        gate_ = Completion<std::monostate>();
        cancellable_ = cancellable;
    }
    void release() {
        std::lock_guard lock(mutex_);
        if (gate_)
            gate_->resolve({});
    }
    /// Resolved by the first request that arrives after the call.
    Completion<std::monostate> nextArrival() {
        std::lock_guard lock(mutex_);
        arrival_ = Completion<std::monostate>();
        return *arrival_;
    }
    QList<HTTPRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    HTTPReply send(const HTTPRequest& request) override {
        std::optional<Completion<std::monostate>> gate;
        bool cancellable = true;
        Responder responder;
        {
            std::lock_guard lock(mutex_);
            requests_.append(request);
            if (arrival_)
                arrival_->resolve({});
            gate = gate_;
            cancellable = cancellable_;
            responder = responder_;
        }
        if (gate) {
            if (cancellable) {
                gate->wait();
            } else {
                Cancellation::Scope deaf{std::stop_token()};
                gate->wait();
            }
        }
        return responder(request);
    }
    HTTPReply upload(const HTTPRequest& request, const HTTPBody&, const HTTPProgress&) override {
        return send(request);
    }
    HTTPDownload download(const HTTPRequest&, const QString&) override {
        throw StorageError(Code::notSupported);
    }

private:
    mutable std::mutex mutex_;
    Responder responder_;
    std::optional<Completion<std::monostate>> gate_;
    std::optional<Completion<std::monostate>> arrival_;
    bool cancellable_ = true;
    QList<HTTPRequest> requests_;
};

HTTPReply reply(int status, const QByteArray& body) {
    HTTPReply result;
    result.response.statusCode = status;
    result.body = body;
    return result;
}

class GoogleCredentialManagerTest : public ::testing::Test {
protected:
    GoogleCredentialManagerTest() {
        http->setResponder([this](const HTTPRequest& request) {
            if (request.url.path() == QLatin1String("/revoke"))
                return reply(200, "{}");
            const int n = ++refreshes;
            return reply(200, QStringLiteral(R"({"access_token":"ya29.new-%1","expires_in":3600})")
                                  .arg(n)
                                  .toUtf8());
        });
    }

    std::unique_ptr<GoogleCredentialManager> makeManager(bool configured = true) {
        return std::make_unique<GoogleCredentialManager>(
            secrets,
            [configured]() -> std::optional<GoogleOAuthConfiguration> {
                if (!configured)
                    return std::nullopt;
                return GoogleOAuthConfiguration{QStringLiteral("client"),
                                                std::nullopt,
                                                {GoogleOAuthConfiguration::driveScope()}};
            },
            http, clock.clock());
    }

    OAuthTokens tokensExpiringIn(qint64 seconds, QString access = QStringLiteral("ya29.old")) {
        return OAuthTokens{QStringLiteral("1//refresh"), std::move(access),
                           clock.now().addSecs(seconds)};
    }

    std::optional<OAuthTokens> stored() {
        const auto contents = secrets->contents();
        if (!contents.contains(GoogleCredentialManager::key(account)))
            return std::nullopt;
        return OAuthTokens::decode(contents.value(GoogleCredentialManager::key(account)));
    }

    static std::optional<Code> failureOf(const std::function<void()>& call) {
        try {
            call();
            return std::nullopt;
        } catch (const StorageError& error) {
            return error.code();
        }
    }

    FakeClock clock;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    std::shared_ptr<ScriptedHTTPClient> http = std::make_shared<ScriptedHTTPClient>();
    std::atomic<int> refreshes = 0;
};

TEST_F(GoogleCredentialManagerTest, RefreshesWhenSixtySecondsOrLessRemain) {
    struct Case {
        qint64 secondsLeft;
        bool force;
        bool refreshed;
    };
    const Case cases[] = {
        {3600, false, false}, {61, false, false}, {60, false, true},
        {1, false, true},     {-30, false, true}, {3600, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondsLeft);
        const auto manager = makeManager();
        manager->store(tokensExpiringIn(c.secondsLeft), account);
        const int before = refreshes;
        const QString token = manager->accessToken(account, c.force);
        EXPECT_EQ(refreshes - before, c.refreshed ? 1 : 0);
        EXPECT_EQ(token.startsWith(QLatin1String("ya29.new")), c.refreshed);
    }
    const HTTPRequest request = http->requests().last();
    EXPECT_EQ(request.url, QUrl(QStringLiteral("https://oauth2.googleapis.com/token")));
    EXPECT_EQ(formValue(request.body, "grant_type"), QStringLiteral("refresh_token"));
    EXPECT_EQ(formValue(request.body, "refresh_token"), QStringLiteral("1//refresh"));
}

TEST_F(GoogleCredentialManagerTest, LoadsStoredTokensOnceAndRejectsMissingOrBrokenOnes) {
    const auto manager = makeManager();
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::reauthRequired);

    secrets->save("not json", GoogleCredentialManager::key(account));
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::reauthRequired);

    secrets->save(tokensExpiringIn(3600).encoded(), GoogleCredentialManager::key(account));
    // A keyring that cannot be read is no expired sign-in: it says what is wrong with it.
    secrets->setFailureStatus(7, SecretStoreError::Reason::unavailable);
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::keyringUnavailable);
    secrets->setFailureStatus(2, SecretStoreError::Reason::locked);
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::keyringLocked);
    secrets->setFailureStatus(0);

    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.old"));
    const int calls = secrets->callCount();
    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.old")); // from memory
    EXPECT_EQ(secrets->callCount(), calls);
    EXPECT_TRUE(http->requests().isEmpty());
    EXPECT_EQ(GoogleCredentialManager::key(account),
              QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
}

TEST_F(GoogleCredentialManagerTest, ConcurrentCallersShareOneRefresh) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(10), account);
    http->hold();
    const Completion<std::monostate> arrived = http->nextArrival();
    std::vector<std::unique_ptr<Running<QString>>> callers;
    for (int i = 0; i < 10; ++i)
        callers.push_back(
            std::make_unique<Running<QString>>([&] { return manager->accessToken(account); }));
    arrived.wait();
    for (auto& caller : callers) // each one is waiting on the refresh in flight
        ASSERT_TRUE(caller->waitUntilParked());
    http->release();
    for (auto& caller : callers)
        EXPECT_EQ(caller->wait(), QStringLiteral("ya29.new-1"));
    EXPECT_EQ(http->requests().size(), 1);
    EXPECT_EQ(stored()->accessToken, QStringLiteral("ya29.new-1"));
}

TEST_F(GoogleCredentialManagerTest, ACallerThatReadTheOldTokensTakesTheFinishedRefresh) {
    // Refresh tokens rotate: the one a refresh spent is refused afterwards.
    QString current = QStringLiteral("1//refresh");
    http->setResponder([&](const HTTPRequest& request) {
        if (formValue(request.body, "refresh_token") != current)
            return reply(400, R"({"error":"invalid_grant"})");
        const int n = ++refreshes;
        current = QStringLiteral("1//rotated-%1").arg(n);
        return reply(200, QStringLiteral(R"({"access_token":"ya29.new-%1","expires_in":3600,)"
                                         R"("refresh_token":"%2"})")
                              .arg(n)
                              .arg(current)
                              .toUtf8());
    });
    // The slow caller reads the tokens and is held as it looks at the clock...
    Completion<std::monostate> slowLooking, goOn;
    std::atomic<bool> armed = false;
    const auto manager = std::make_unique<GoogleCredentialManager>(
        secrets,
        [] {
            return std::optional(GoogleOAuthConfiguration{
                QStringLiteral("client"), std::nullopt, {GoogleOAuthConfiguration::driveScope()}});
        },
        http,
        [&] {
            if (armed.exchange(false)) {
                slowLooking.resolve({});
                Cancellation::Scope deaf{std::stop_token()};
                goOn.wait();
            }
            return clock.now();
        });
    manager->store(tokensExpiringIn(10), account);
    armed = true;
    Running<QString> slow([&] { return manager->accessToken(account); });
    slowLooking.wait();
    // ...while another caller refreshes them to the end.
    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.new-1"));
    goOn.resolve({});
    ASSERT_EQ(slow.failure(), std::nullopt) << "the spent refresh token was sent again";
    EXPECT_EQ(slow.wait(), QStringLiteral("ya29.new-1"));
    EXPECT_EQ(http->requests().size(), 1);
    EXPECT_EQ(stored()->refreshToken, QStringLiteral("1//rotated-1"));
}

TEST_F(GoogleCredentialManagerTest, ARefreshKeepsOrReplacesTheRefreshToken) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(0), account);
    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.new-1"));
    EXPECT_EQ(*stored(), (OAuthTokens{QStringLiteral("1//refresh"), QStringLiteral("ya29.new-1"),
                                      clock.now().addSecs(3600)}));

    http->setResponder([](const HTTPRequest&) {
        return reply(200,
                     R"({"access_token":"ya29.b","expires_in":100,"refresh_token":"1//rotated"})");
    });
    EXPECT_EQ(manager->accessToken(account, true), QStringLiteral("ya29.b"));
    EXPECT_EQ(stored()->refreshToken, QStringLiteral("1//rotated"));
    EXPECT_EQ(stored()->expiresAt, clock.now().addSecs(100));

    // A lifetime past any sense is cut to a day: the date stays valid and the token is
    // refreshed again within that day.
    http->setResponder([](const HTTPRequest&) {
        return reply(200, R"({"access_token":"ya29.c","expires_in":9223372036854775807})");
    });
    EXPECT_EQ(manager->accessToken(account, true), QStringLiteral("ya29.c"));
    EXPECT_EQ(stored()->expiresAt, clock.now().addSecs(TokenEndpointResponse::maxExpiresIn));
}

TEST_F(GoogleCredentialManagerTest,
       FailedRefreshesChangeNothingAndReachEveryCallerAsStorageErrors) {
    struct Case {
        const char* name;
        std::function<HTTPReply()> answer;
        Code expected;
    };
    const Case cases[] = {
        {"invalid_grant", [] { return reply(400, R"({"error":"invalid_grant"})"); },
         Code::reauthRequired},
        {"invalid_client", [] { return reply(401, R"({"error":"invalid_client"})"); },
         Code::notConfigured},
        {"other refusal", [] { return reply(400, "oops"); }, Code::authorizationFailed},
        {"undecodable", [] { return reply(200, R"({"expires_in":5})"); }, Code::invalidResponse},
        {"already expired",
         [] { return reply(200, R"({"access_token":"ya29.x","expires_in":-3600})"); },
         Code::invalidResponse},
        {"offline",
         []() -> HTTPReply {
             throw HTTPTransportError(HTTPTransportError::Kind::offline, 6,
                                      QStringLiteral("no dns"));
         },
         Code::offline},
        {"connection lost",
         []() -> HTTPReply {
             throw HTTPTransportError(HTTPTransportError::Kind::connectionLost, 56,
                                      QStringLiteral("reset"));
         },
         Code::network},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto manager = makeManager();
        const OAuthTokens old = tokensExpiringIn(5);
        manager->store(old, account);
        http->setResponder([&](const HTTPRequest&) { return c.answer(); });
        http->hold();
        const qsizetype sent = http->requests().size();
        const Completion<std::monostate> arrived = http->nextArrival();
        Running<QString> starter([&] { return manager->accessToken(account); });
        arrived.wait();
        Running<QString> joiner([&] { return manager->accessToken(account); });
        ASSERT_TRUE(joiner.waitUntilParked()); // waiting on the refresh in flight
        http->release();
        // The caller that started the refresh and the one that joined it get the same, from
        // one request.
        EXPECT_EQ(starter.failure(), c.expected);
        EXPECT_EQ(joiner.failure(), c.expected);
        EXPECT_EQ(http->requests().size(), sent + 1);
        EXPECT_EQ(*stored(), old);

        // The next request tries again.
        const int before = int(http->requests().size());
        http->hold(); // (released at once below)
        http->release();
        EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), c.expected);
        EXPECT_EQ(int(http->requests().size()), before + 1);
    }
}

TEST_F(GoogleCredentialManagerTest, ACancelledStarterLeavesNoStaleRefreshBehind) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(5), account);
    http->hold();
    const Completion<std::monostate> arrived = http->nextArrival();
    Running<QString> starter([&] { return manager->accessToken(account); });
    arrived.wait();
    Running<QString> joiner([&] { return manager->accessToken(account); });
    ASSERT_TRUE(joiner.waitUntilParked()); // joined the starter's refresh
    starter.cancel();
    EXPECT_EQ(starter.failure(), Code::cancelled);
    http->release();
    EXPECT_EQ(joiner.wait(), QStringLiteral("ya29.new-1"));
    EXPECT_EQ(http->requests().size(), 1); // the joiner got the starter's refresh

    // A later forced refresh asks the endpoint again instead of reusing the finished one.
    EXPECT_EQ(manager->accessToken(account, true), QStringLiteral("ya29.new-2"));
    EXPECT_EQ(http->requests().size(), 2);
}

TEST_F(GoogleCredentialManagerTest, ARefreshWhoseThreadCannotStartFailsAndTheNextOneRuns) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(5), account);
    Running<QString> starter([&] {
        failNextThreadStart = true;
        return manager->accessToken(account);
    });
    EXPECT_EQ(starter.failure(), Code::network);
    EXPECT_TRUE(http->requests().isEmpty());

    // Nothing is left in flight: the next caller starts a refresh of its own.
    Running<QString> next([&] { return manager->accessToken(account); });
    Completion<QString> answered;
    std::thread watcher([&] {
        try {
            answered.resolve(next.wait());
        } catch (...) {
            answered.fail(std::current_exception());
        }
    });
    const auto token = answered.waitFor(10s);
    if (!token)
        next.cancel(); // the caller hangs on a refresh that never runs
    watcher.join();
    EXPECT_EQ(token, QStringLiteral("ya29.new-1"));
    EXPECT_EQ(stored()->accessToken, QStringLiteral("ya29.new-1"));
}

TEST_F(GoogleCredentialManagerTest, RemovingDuringARefreshCancelsItAndNothingComesBack) {
    for (const bool transportHonoursCancellation : {true, false}) {
        SCOPED_TRACE(transportHonoursCancellation);
        const auto manager = makeManager();
        manager->store(tokensExpiringIn(5), account);
        http->hold(transportHonoursCancellation);
        const Completion<std::monostate> arrived = http->nextArrival();
        Running<QString> caller([&] { return manager->accessToken(account); });
        arrived.wait();
        manager->remove(account, false);
        if (transportHonoursCancellation) {
            EXPECT_EQ(caller.failure(), Code::cancelled);
            http->release();
        } else {
            // Tokens that arrive anyway are handed to the waiting caller but never stored.
            http->release();
            const QString handedOver = caller.wait();
            EXPECT_EQ(handedOver, QStringLiteral("ya29.new-%1").arg(refreshes.load()));
        }
        EXPECT_EQ(stored(), std::nullopt);
        EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::reauthRequired);
    }
}

TEST_F(GoogleCredentialManagerTest, RemovalIsAtomicWithTheWriteBackOfARefresh) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(3600), account);
    // When the refresh, having found the account still stored, writes its tokens back, a
    // removal starts at once; it must not slip in between that check and the write.
    std::atomic<bool> armed = true;
    std::unique_ptr<std::thread> remover;
    Completion<pid_t> removerThread;
    Completion<std::monostate> removed;
    bool removedDuringWrite = false;
    bool removerParked = false;
    secrets->setHook([&](const QString& operation, const QString&) {
        if (operation == QLatin1String("save") && armed.exchange(false)) {
            remover = std::make_unique<std::thread>([&] {
                removerThread.resolve(test::currentThreadID());
                manager->remove(account, false);
                removed.resolve({});
            });
            // The removal runs until it waits for the write to end (it must not finish
            // meanwhile): it has either finished or parked on the lock by now.
            Cancellation::Scope deaf{std::stop_token()};
            removerParked =
                test::waitUntilParked(removerThread.wait(), [&] { return removed.isDone(); });
            removedDuringWrite = removed.isDone();
        }
    });
    EXPECT_EQ(failureOf([&] { manager->accessToken(account, true); }), std::nullopt);
    removed.wait();
    EXPECT_TRUE(removerParked);
    EXPECT_FALSE(removedDuringWrite);
    remover->join();
    secrets->setHook({});
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::reauthRequired);
}

TEST_F(GoogleCredentialManagerTest, StoringDuringARefreshIsNotOverwritten) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(5), account);
    http->hold();
    const Completion<std::monostate> arrived = http->nextArrival();
    Running<QString> caller([&] { return manager->accessToken(account); });
    arrived.wait();
    const OAuthTokens signedInAgain{QStringLiteral("1//fresh-sign-in"),
                                    QStringLiteral("ya29.signin"), clock.now().addSecs(3600)};
    manager->store(signedInAgain, account);
    http->release();
    EXPECT_EQ(caller.wait(), QStringLiteral("ya29.new-1"));
    EXPECT_EQ(*stored(), signedInAgain);
    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.signin"));
}

TEST_F(GoogleCredentialManagerTest, RemoveRevokesOnlyStoredTokensAndNeverFails) {
    const auto manager = makeManager();
    manager->remove(account, true);
    EXPECT_TRUE(http->requests().isEmpty());

    manager->store(tokensExpiringIn(3600), account);
    manager->remove(account, true);
    ASSERT_EQ(http->requests().size(), 1);
    const HTTPRequest revoke = http->requests().first();
    EXPECT_EQ(revoke.url, QUrl(QStringLiteral("https://oauth2.googleapis.com/revoke")));
    EXPECT_EQ(revoke.body, QByteArray("token=1%2F%2Frefresh"));
    EXPECT_EQ(stored(), std::nullopt);

    // Failing deletion and a failing revocation are swallowed.
    manager->store(tokensExpiringIn(3600), account);
    http->setResponder([](const HTTPRequest&) -> HTTPReply {
        throw HTTPTransportError(HTTPTransportError::Kind::offline, 6, QStringLiteral("x"));
    });
    secrets->setFailureStatus(3);
    manager->remove(account, true);
    secrets->setFailureStatus(0);
    EXPECT_EQ(http->requests().size(), 2);
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), std::nullopt) << "still stored";
}

TEST_F(GoogleCredentialManagerTest, AFailingSaveThrowsAndLeavesTheCacheAlone) {
    const auto manager = makeManager();
    manager->store(tokensExpiringIn(3600, QStringLiteral("ya29.first")), account);
    secrets->setFailureStatus(5, SecretStoreError::Reason::locked);
    EXPECT_EQ(failureOf([&] {
                  manager->store(tokensExpiringIn(3600, QStringLiteral("ya29.second")), account);
              }),
              Code::keyringLocked);
    secrets->setFailureStatus(0);
    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.first"));

    // A refresh whose write-back fails reports it.
    manager->store(tokensExpiringIn(0), account);
    secrets->setHook([&](const QString& operation, const QString&) {
        if (operation == QLatin1String("save"))
            throw SecretStoreError(9, QStringLiteral("locked"), SecretStoreError::Reason::locked);
    });
    EXPECT_EQ(failureOf([&] { manager->accessToken(account); }), Code::keyringLocked);
    secrets->setHook({});
}

TEST_F(GoogleCredentialManagerTest, WithoutAClientThereIsNoRefresh) {
    const auto manager = makeManager(false);
    manager->store(tokensExpiringIn(3600), account);
    EXPECT_EQ(manager->accessToken(account), QStringLiteral("ya29.old"));
    EXPECT_EQ(failureOf([&] { manager->accessToken(account, true); }), Code::notConfigured);
    EXPECT_TRUE(http->requests().isEmpty());
}

} // namespace
