#pragma once
// Fixture of the provider suites: a provider over the fake libtdjson, an in-memory secret
// store and a scripted presenter, with helpers to sign accounts in.

#include "TelegramProvider/TelegramStorageProvider.h"
#include "tests/TelegramProvider/TelegramTestSupport.h"
#include "tests/support/InMemorySecretStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>

namespace tw::test {

/// A clock that stands still until advanced.
class ManualClock {
public:
    void advance(qint64 seconds) {
        std::lock_guard lock(state_->mutex);
        state_->now = state_->now.addSecs(seconds);
    }
    Clock clock() const {
        return [state = state_] {
            std::lock_guard lock(state->mutex);
            return state->now;
        };
    }

private:
    struct State {
        std::mutex mutex;
        QDateTime now = QDateTime::fromSecsSinceEpoch(1'767'268'800, QTimeZone::utc());
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class TelegramProviderTest : public FakeTDLibTest {
protected:
    void SetUp() override {
        FakeTDLibTest::SetUp();
        secrets = std::make_shared<InMemorySecretStore>();
        presenter = std::make_shared<ScriptedPresenter>();
        presenter->answer = defaultAnswer;
        provider = makeProvider(testConfiguration(), runtime);
    }
    void TearDown() override {
        provider->closeAllSessions();
        FakeTDLibTest::TearDown();
    }

    std::unique_ptr<TelegramStorageProvider>
    makeProvider(std::optional<TelegramConfiguration> configuration,
                 std::shared_ptr<TDClientFactory> factory) {
        return std::make_unique<TelegramStorageProvider>(configuration, secrets, presenter, factory,
                                                         base, fastLimits(), clock.clock());
    }

    /// A sign-in through the provider, stored for a new account.
    QUuid addAccount() {
        const QUuid account = QUuid::createUuid();
        const ProviderConnection connection = provider->connect(std::nullopt);
        provider->storeCredential(connection.credential, account);
        return account;
    }
    QString sessionIDOf(const QUuid& account) {
        return provider->loadCredential(account).sessionID;
    }
    QString secretKey(const QUuid& account) {
        return account.toString(QUuid::WithoutBraces).toUpper();
    }
    bool folderExists(const QString& sessionID) {
        return QFileInfo(base + "/" + sessionID).isDir();
    }
    QStringList folders() {
        return QDir(base).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                    QDir::NoDotAndDotDot);
    }
    int clientOf(const std::shared_ptr<TelegramSession>& session) {
        return std::static_pointer_cast<TDJSONClient>(session->client())->id();
    }
    int countRequests(const QString& type) { return fakeTd().requestTypes().count(type); }

    ManualClock clock;
    std::shared_ptr<InMemorySecretStore> secrets;
    std::shared_ptr<ScriptedPresenter> presenter;
    std::unique_ptr<TelegramStorageProvider> provider;
};

} // namespace tw::test
