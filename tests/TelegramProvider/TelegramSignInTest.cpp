#include "tests/TelegramProvider/TelegramProviderFixture.h"

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Step = TelegramLoginStep;

namespace {

StorageError connectError(TelegramStorageProvider& provider) {
    try {
        provider.connect(std::nullopt);
    } catch (const StorageError& error) {
        return error;
    }
    return StorageError(Code::invalidName); // stands for "no error"
}

class TelegramSignInTest : public TelegramProviderTest {
protected:
    using Prompts = QList<std::pair<Step, std::optional<QString>>>;
    Prompts prompts() {
        Prompts result;
        for (const auto& prompt : presenter->prompts())
            result.append({prompt.step, prompt.error});
        return result;
    }
    /// Answers the steps in order from a list (the last answer repeats).
    void answerWith(QStringList answers) {
        auto queue = std::make_shared<QStringList>(std::move(answers));
        presenter->answer = [queue](const Step&, const std::optional<QString>&) {
            return queue->size() > 1 ? queue->takeFirst() : queue->first();
        };
    }
};

class FailingFactory : public TDClientFactory {
public:
    std::shared_ptr<TDClient> makeClient() override { throw StorageError(Code::server); }
};

/// Hands out the runtime's clients and keeps the last one.
class RecordingFactory : public TDClientFactory {
public:
    explicit RecordingFactory(std::shared_ptr<TDClientFactory> inner) : inner_(std::move(inner)) {}
    std::shared_ptr<TDClient> makeClient() override {
        auto client = inner_->makeClient();
        std::lock_guard lock(mutex_);
        last_ = client;
        return client;
    }
    std::shared_ptr<TDClient> last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    const std::shared_ptr<TDClientFactory> inner_;
    mutable std::mutex mutex_;
    std::shared_ptr<TDClient> last_;
};

} // namespace

TEST_F(TelegramSignInTest, SignsInAndReturnsTheConnection) {
    const ProviderConnection connection = provider->connect(QStringLiteral("ignored hint"));
    EXPECT_EQ(prompts(), (Prompts{{Step::phone(), std::nullopt},
                                  {Step::code("+15550100", "Telegram"), std::nullopt}}));
    EXPECT_EQ(connection.providerAccountID, QStringLiteral("42"));
    EXPECT_EQ(connection.email, QStringLiteral("@ada"));
    EXPECT_EQ(connection.displayName, QStringLiteral("Ada Lovelace"));
    EXPECT_EQ(connection.quota, std::nullopt);
    EXPECT_EQ(connection.credential.kind, ProviderKind::telegram);
    const auto credential =
        TelegramStorageProvider::Credential::fromJson(connection.credential.payload);
    ASSERT_TRUE(credential);
    EXPECT_EQ(credential->key.size(), 32);
    EXPECT_EQ(QUuid::fromString(credential->sessionID).toString(QUuid::WithoutBraces).toUpper(),
              credential->sessionID);
    EXPECT_TRUE(folderExists(credential->sessionID));
    EXPECT_EQ(provider->registry().pendingIDs(), QList<QString>{credential->sessionID});
    EXPECT_EQ(presenter->finishedCount(), 1);
    // The requests of the conversation, sent directly with the user's answers.
    const QStringList types = fakeTd().requestTypes();
    EXPECT_TRUE(types.contains("setAuthenticationPhoneNumber"));
    EXPECT_TRUE(types.contains("checkAuthenticationCode"));
    EXPECT_TRUE(types.contains("getMe") && types.contains("createPrivateChat"));

    // Every sign-in is a new session, even for the same Telegram user.
    const ProviderConnection again = provider->connect(std::nullopt);
    EXPECT_NE(TelegramStorageProvider::Credential::fromJson(again.credential.payload)->sessionID,
              credential->sessionID);
}

TEST_F(TelegramSignInTest, RejectedAnswersAreAskedAgainWithTheirMessage) {
    fakeTd().configure({{"code_type", "authenticationCodeTypeSms"},
                        {"password", "hunter2"},
                        {"password_hint", ""}});
    fakeTd().failNext("setAuthenticationPhoneNumber", 429, "Too Many Requests: retry after 30");
    answerWith({"+15550100", "+15550100", "99999", "12345", "wrong", "hunter2"});
    provider->connect(std::nullopt);
    const QString sms = QStringLiteral("SMS");
    EXPECT_EQ(prompts(),
              (Prompts{{Step::phone(), std::nullopt},
                       {Step::phone(), "Too many attempts. Try again in 30 seconds."},
                       {Step::code("+15550100", sms), std::nullopt},
                       {Step::code("+15550100", sms),
                        "That code isn't right. Check the latest message from Telegram."},
                       {Step::password(""), std::nullopt},
                       {Step::password(""), "That password isn't right."}}));
}

TEST_F(TelegramSignInTest, AfterARejectionTheStepThatTDLibNowWaitsForIsAsked) {
    // The code expired and TDLib went back to asking for the number.
    fakeTd().failNext("checkAuthenticationCode", 400, "PHONE_CODE_EXPIRED",
                      "authorizationStateWaitPhoneNumber");
    provider->connect(std::nullopt);
    const Prompts asked = prompts();
    ASSERT_EQ(asked.size(), 4);
    EXPECT_EQ(asked[2], (std::pair<Step, std::optional<QString>>{
                            Step::phone(),
                            "That code has expired. Cancel and start again to get a new one."}));
    EXPECT_EQ(asked[3].first.kind, Step::Kind::code);
}

TEST_F(TelegramSignInTest, StatesThisFlowCannotCompleteEndItAndCleanUp) {
    struct Case {
        const char* name;
        std::function<void()> script;
        Code expected;
    };
    const Case cases[] = {
        {"no account",
         [] {
             fakeTd().configure({{"registration_required", true}});
         },
         Code::network},
        {"closed meanwhile",
         [] {
             fakeTd().failNext("setAuthenticationPhoneNumber", 500, "Request aborted",
                               "authorizationStateClosing");
         },
         Code::authorizationFailed},
        {"unknown step",
         [] {
             fakeTd().failNext("setAuthenticationPhoneNumber", 400, "whatever",
                               "authorizationStateWaitOtherDeviceConfirmation");
         },
         Code::network},
        {"identity fails", [] { fakeTd().failNext("getMe", 500, "Internal"); }, Code::network},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeTd().reset();
        presenter = std::make_shared<ScriptedPresenter>();
        presenter->answer = defaultAnswer;
        provider = makeProvider(testConfiguration(), runtime);
        c.script();
        EXPECT_EQ(connectError(*provider).code(), c.expected);
        EXPECT_TRUE(folders().isEmpty());
        EXPECT_TRUE(provider->registry().pendingIDs().isEmpty());
        EXPECT_EQ(fakeTd().liveClients(), 0);
        EXPECT_GE(presenter->finishedCount(), 1);
    }
    // A failure after a finished conversation tells the presenter twice.
    EXPECT_EQ(presenter->finishedCount(), 2);
}

TEST_F(TelegramSignInTest, ASignInDiscardedAfterTDLibAcceptedItIsLoggedOut) {
    // The conversation succeeded, so the session is an authorisation on the user's account:
    // whatever ends the sign-in afterwards must end it there, not only close it locally.
    struct Case {
        const char* name;
        std::function<void()> script;
        bool cancel;
        Code expected;
    };
    const Case cases[] = {
        {"identity fails", [] { fakeTd().failNext("getMe", 500, "Internal"); }, false,
         Code::network},
        {"cancelled while loading the identity", [] { fakeTd().hold("getMe"); }, true,
         Code::authorizationCancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeTd().reset();
        c.script();
        Cancellable<StorageError> signIn([&] { return connectError(*provider); });
        if (c.cancel) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return countRequests("getMe") == 1; }));
            signIn.stop();
        }
        ASSERT_TRUE(signIn.finished());
        EXPECT_EQ(signIn.get().code(), c.expected);
        EXPECT_TRUE(fakeTd().requestTypes().contains("logOut"));
        EXPECT_TRUE(folders().isEmpty());
        EXPECT_EQ(fakeTd().liveClients(), 0);
        fakeTd().release("getMe");
    }
}

TEST_F(TelegramSignInTest, NothingIsCreatedWithoutConfigurationOrClient) {
    auto unconfigured = makeProvider(std::nullopt, runtime);
    EXPECT_EQ(connectError(*unconfigured).code(), Code::notConfigured);
    auto noLibrary = makeProvider(testConfiguration(), nullptr);
    EXPECT_EQ(connectError(*noLibrary).code(), Code::notConfigured);
    auto failing = makeProvider(testConfiguration(), std::make_shared<FailingFactory>());
    EXPECT_EQ(connectError(*failing).code(), Code::server);
    EXPECT_TRUE(presenter->prompts().isEmpty());
    EXPECT_EQ(presenter->finishedCount(), 0);
    EXPECT_TRUE(folders().isEmpty());
}

TEST_F(TelegramSignInTest, CancellingAPromptLeavesNothingBehind) {
    fakeTd().configure({{"password", "hunter2"}, {"password_hint", "pet"}});
    presenter->answer = [](const Step& step, const std::optional<QString>& error) {
        if (step.kind == Step::Kind::password)
            throw StorageError(Code::cancelled);
        return defaultAnswer(step, error);
    };
    EXPECT_EQ(connectError(*provider).code(), Code::authorizationCancelled);
    EXPECT_EQ(prompts().last().first, Step::password("pet"));
    EXPECT_TRUE(folders().isEmpty());
    EXPECT_EQ(fakeTd().liveClients(), 0);
    EXPECT_EQ(presenter->finishedCount(), 1);
}

TEST_F(TelegramSignInTest, CancellingWhileTDLibHasNotAnsweredEndsAtOnce) {
    // Offline, TDLib keeps the phone number request unanswered.
    fakeTd().hold("setAuthenticationPhoneNumber");
    Cancellable<StorageError> signIn([&] { return connectError(*provider); });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return countRequests("setAuthenticationPhoneNumber") == 1; }));
    signIn.stop();
    ASSERT_TRUE(signIn.finished());
    EXPECT_EQ(signIn.get().code(), Code::authorizationCancelled);
    EXPECT_TRUE(folders().isEmpty());
    EXPECT_TRUE(fakeTd().requestTypes().contains("close"));
    EXPECT_EQ(fakeTd().liveClients(), 0);
    fakeTd().release("setAuthenticationPhoneNumber");
}

TEST_F(TelegramSignInTest, OrphanCleanUpSparesASignInInProgress) {
    Completion<std::monostate> answered;
    Completion<std::monostate> prompted;
    presenter->answer = [&](const Step& step, const std::optional<QString>& error) {
        prompted.resolve({});
        answered.wait();
        return defaultAnswer(step, error);
    };
    Cancellable<StorageError> signIn([&] { return connectError(*provider); });
    prompted.wait();
    EXPECT_EQ(provider->removeOrphanedSessions({}), 0);
    EXPECT_EQ(folders().size(), 1);
    answered.resolve({});
    ASSERT_TRUE(signIn.finished());
    EXPECT_EQ(signIn.get().code(), Code::invalidName) << "signed in";
    EXPECT_EQ(provider->removeOrphanedSessions({}), 0) << "pending now";
}

TEST(TelegramSignInTexts, FriendlyMessages) {
    const std::pair<TDError, const char*> cases[] = {
        {TDError(429, "Too Many Requests: retry after 30"),
         "Too many attempts. Try again in 30 seconds."},
        {TDError(429, "PHONE_CODE_INVALID"),
         "That code isn't right. Check the latest message from Telegram."},
        {TDError(400, "PHONE_NUMBER_INVALID"),
         "That phone number isn't valid. Include the country code, like +1 555 123 4567."},
        {TDError(400, "PHONE_NUMBER_BANNED"), "Telegram has banned this phone number."},
        {TDError(400, "PHONE_CODE_EXPIRED"),
         "That code has expired. Cancel and start again to get a new one."},
        {TDError(400, "PASSWORD_HASH_INVALID"), "That password isn't right."},
        {TDError(400, "PASSWORD_HASH_INVALID "), "Telegram didn't accept that. Please try again."},
        {TDError(500, "SOMETHING_ELSE"), "Telegram didn't accept that. Please try again."},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(TelegramStorageProvider::friendlyMessage(error), QString::fromUtf8(text))
            << error.message().toStdString();
}

TEST(TelegramSignInTexts, UserHandles) {
    auto user = [](const char* json) { return *TDObject::fromJson(json); };
    EXPECT_EQ(TelegramStorageProvider::userHandle(user(
                  R"({"usernames":{"active_usernames":["first","second"]},"phone_number":"1"})")),
              QStringLiteral("@first"));
    EXPECT_EQ(TelegramStorageProvider::userHandle(
                  user(R"({"usernames":{"active_usernames":[]},"phone_number":"4915112345"})")),
              QStringLiteral("+4915112345"));
    EXPECT_EQ(TelegramStorageProvider::userHandle(user(R"({"phone_number":""})")),
              QStringLiteral("Telegram account"));
}

TEST_F(TelegramSignInTest, DisplayNamesLeaveOutMissingParts) {
    fakeTd().configure(
        {{"me", QJsonObject{{"@type", "user"}, {"id", "7"}, {"last_name", "Only"}}}});
    EXPECT_EQ(provider->connect(std::nullopt).displayName, QStringLiteral("Only"));
    fakeTd().configure({{"me", QJsonObject{{"@type", "user"}, {"id", 8}, {"first_name", ""}}}});
    const ProviderConnection nameless = provider->connect(std::nullopt);
    EXPECT_EQ(nameless.displayName, QString(""));
    EXPECT_EQ(nameless.email, QStringLiteral("Telegram account"));
    EXPECT_EQ(nameless.providerAccountID, QStringLiteral("8"));
}

TEST_F(TelegramSignInTest, ACancelledSignInCatchesUpWithReceivedUpdatesBeforeItDecides) {
    // TDLib accepted the code and said so, but the sign-in is cancelled while the state update
    // still waits behind a burst of others: the sign-in must see it and log the session out
    // (its folder goes, nothing else could end that authorisation later), not merely close it.
    auto factory = std::make_shared<RecordingFactory>(runtime);
    TelegramTimeLimits limits = fastLimits();
    limits.settle = std::chrono::seconds(30);
    provider = std::make_unique<TelegramStorageProvider>(testConfiguration(), secrets, presenter,
                                                         factory, base, limits, clock.clock());
    fakeTd().hold("checkAuthenticationCode");
    presenter->onFinished = [&] {
        const auto client = factory->last();
        for (int i = 0; i < 20000; ++i)
            client->updates().push(TDObject(QStringLiteral("updateOption"), {{"name", "x"}}));
        client->updates().push(
            TDObject(QStringLiteral("updateAuthorizationState"),
                     {{"authorization_state", QJsonObject{{"@type", "authorizationStateReady"}}}}));
    };
    Cancellable<StorageError> signIn([&] { return connectError(*provider); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return countRequests("checkAuthenticationCode") == 1; }));
    signIn.stop();
    ASSERT_TRUE(signIn.finished());
    EXPECT_EQ(signIn.get().code(), Code::authorizationCancelled);
    const int client = std::static_pointer_cast<TDJSONClient>(factory->last())->id();
    EXPECT_TRUE(fakeTd().requestTypes(client).contains("logOut"))
        << fakeTd().requestTypes(client).join(' ').toStdString();
    EXPECT_TRUE(folders().isEmpty());
    EXPECT_EQ(fakeTd().liveClients(), 0);
    fakeTd().release("checkAuthenticationCode");
}
