// The Telegram sign-in bridge: every request a worker makes ends exactly once (an answer, a
// cancel, a newer request or the worker's own cancellation), and the observed state follows.
#include "App/Model/ServiceCredentialStore.h"
#include "App/Model/TelegramLoginCoordinator.h"
#include "StorageCore/Domain/InfoDictionary.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;

namespace {

/// A worker asking for input, as the back end's sign-in does.
struct Asker {
    TaskHandle handle;
    std::optional<TaskResult<QString>> result;
};

std::shared_ptr<Asker> ask(TelegramLoginCoordinator& coordinator, const TelegramLoginStep& step,
                           std::optional<QString> error = std::nullopt) {
    auto asker = std::make_shared<Asker>();
    asker->handle = runTask(
        &coordinator, [&coordinator, step, error] { return coordinator.requestInput(step, error); },
        [asker](TaskResult<QString> result) { asker->result = std::move(result); });
    return asker;
}

void waitFor(const std::function<bool()>& pred) { ASSERT_TRUE(QTest::qWaitFor(pred, 5000)); }

TEST(TelegramLoginCoordinator, AnswersCancelsAndNewerRequests) {
    TelegramLoginCoordinator coordinator;
    int cancels = 0;
    coordinator.setOnCancel([&] { ++cancels; });

    auto phone = ask(coordinator, TelegramLoginStep::phone());
    waitFor([&] { return coordinator.step().has_value(); });
    EXPECT_FALSE(coordinator.isWorking());
    coordinator.submit(QStringLiteral("+1 555"));
    EXPECT_TRUE(coordinator.isWorking());
    waitFor([&] { return phone->result.has_value(); });
    EXPECT_EQ(phone->result->value(), QStringLiteral("+1 555"));
    coordinator.submit(QStringLiteral("again")); // nothing waits: ignored

    // A wrong code asks again with the reason; a newer request replaces an unanswered one.
    const auto code = TelegramLoginStep::code(QStringLiteral("+1 555"), QStringLiteral("SMS"));
    auto first = ask(coordinator, code, QStringLiteral("Wrong code"));
    waitFor([&] { return coordinator.hasPendingRequest(); });
    EXPECT_EQ(coordinator.errorText(), QStringLiteral("Wrong code"));
    EXPECT_FALSE(coordinator.isWorking());
    auto second = ask(coordinator, TelegramLoginStep::password(QStringLiteral("hint")));
    waitFor([&] { return first->result.has_value(); });
    EXPECT_TRUE(first->result->isCancelled());
    waitFor([&] { return coordinator.step() == TelegramLoginStep::password(QStringLiteral("hint")); });

    // Cancel: the request ends cancelled, the prompt closes, the model hears of it.
    coordinator.cancel();
    waitFor([&] { return second->result.has_value(); });
    EXPECT_TRUE(second->result->isCancelled());
    EXPECT_FALSE(coordinator.step());
    EXPECT_EQ(cancels, 1);
    // Cancel while nothing waits still closes the prompt and tells the model.
    coordinator.cancel();
    EXPECT_EQ(cancels, 2);

    coordinator.loginFinished();
    waitFor([&] { return !coordinator.errorText().has_value(); });
}

TEST(TelegramLoginCoordinator, AWorkerWhoseTaskIsCancelledStopsWaiting) {
    TelegramLoginCoordinator coordinator;
    auto asker = ask(coordinator, TelegramLoginStep::phone());
    waitFor([&] { return coordinator.hasPendingRequest(); });
    asker->handle.cancel();
    waitFor([&] { return asker->result.has_value(); });
    EXPECT_TRUE(asker->result->isCancelled());
    EXPECT_FALSE(coordinator.hasPendingRequest());
}

TEST(ServiceCredentialStore, ValuesMustBeRealText) {
    struct Case {
        QJsonObject info;
        bool google;
        bool telegram;
    };
    const Case cases[] = {
        {QJsonObject{{"TWGoogleClientID", "id.apps"}, {"TWTelegramAPIID", "12345"}, {"TWTelegramAPIHash", "abc"}},
         true, true},
        {QJsonObject{{"TWGoogleClientID", "   "}, {"TWTelegramAPIID", "12a45"}, {"TWTelegramAPIHash", "abc"}},
         false, false},
        {QJsonObject{{"TWGoogleClientID", "$(CLIENT_ID)"}, {"TWTelegramAPIID", "2147483648"},
                     {"TWTelegramAPIHash", "abc"}},
         false, false},
        {QJsonObject{{"TWTelegramAPIID", "-5"}, {"TWTelegramAPIHash", " x "}}, false, true},
        {QJsonObject{{"TWTelegramAPIID", "5"}}, false, false},
    };
    for (const Case& c : cases) {
        const ServiceCredentialStore store = ServiceCredentialStore::fromInfoDictionary(JsonInfoDictionary(c.info));
        EXPECT_EQ(store.bundledGoogle().has_value(), c.google);
        EXPECT_EQ(store.bundledTelegram().has_value(), c.telegram);
    }
}

} // namespace
