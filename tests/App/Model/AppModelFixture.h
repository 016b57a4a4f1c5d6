// An application model over fakes: the router with a fake back end for each service, an
// in-memory document store, a private settings file, panels that answer as the test says,
// a launcher that records launches and a toast scheduler the test fires by hand.
#pragma once

#include "App/Model/AppModel.h"
#include "App/Model/ApplicationLauncher.h"
#include "App/Model/Panels.h"
#include "App/Model/StartupWork.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "tests/StorageCore/Files/FileItems.h"
#include "tests/support/FakeStorageProvider.h"
#include "tests/support/InMemoryKeyValueStore.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace tw::test {

/// Answers each panel with what the test put in; records what was asked.
class ScriptedPanels : public Panels {
public:
    std::optional<QList<QUrl>> files;
    std::optional<QUrl> saveLocation;
    std::optional<QString> application;
    QStringList asked;

    void chooseFiles(const QString& prompt, const QString& message,
                     std::function<void(const QList<QUrl>&)> onChosen) override {
        asked.append(prompt + QStringLiteral(" | ") + message);
        if (files)
            onChosen(*files);
    }
    void chooseSaveLocation(const QString& proposedName, std::function<void(const QUrl&)> onChosen) override {
        asked.append(QStringLiteral("save | ") + proposedName);
        if (saveLocation)
            onChosen(*saveLocation);
    }
    void chooseApplication(const FileItem&, const QString& message,
                           std::function<void(const QString&)> onChosen) override {
        asked.append(QStringLiteral("app | ") + message);
        if (application)
            onChosen(*application);
    }
};

class RecordingLauncher : public ApplicationLauncher {
public:
    QList<std::pair<QString, QUrl>> launches;
    std::optional<QString> failWith;
    QList<ApplicationInfo> recommended(const QString&) const override { return {}; }
    QList<ApplicationInfo> all() const override { return {}; }
    void launch(const QString& id, const QUrl& file) override {
        if (failWith)
            throw LaunchError(failWith->toStdString());
        launches.append({id, file});
    }
};

/// Runs scheduled functions only when the test says so.
class ManualScheduler {
public:
    struct Entry {
        std::chrono::milliseconds delay;
        std::function<void()> fn;
        bool cancelled = false;
    };
    AppModel::Scheduler scheduler() {
        return [this](std::chrono::milliseconds delay, std::function<void()> fn) {
            auto entry = std::make_shared<Entry>(Entry{delay, std::move(fn)});
            entries.append(entry);
            return std::function<void()>([entry] { entry->cancelled = true; });
        };
    }
    /// Runs every pending entry that was not cancelled.
    void fire() {
        const auto pending = entries;
        entries.clear();
        for (const auto& entry : pending) {
            if (!entry->cancelled)
                entry->fn();
        }
    }
    QList<std::shared_ptr<Entry>> entries;
};

inline StorageAccount storedAccount(ProviderKind kind, const QString& alias, int color = 0) {
    StorageAccount account;
    account.id = QUuid::createUuid();
    account.provider = kind;
    account.providerAccountID = alias + QStringLiteral("-id");
    account.email = alias.toLower() + QStringLiteral("@example.com");
    account.alias = alias;
    account.colorIndex = color;
    account.createdAt = account.updatedAt = QDateTime::currentDateTimeUtc();
    return account;
}

class AppModelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        defaults = std::make_shared<SettingsStore>(
            settingsDir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    }

    /// Stores the accounts as the account list document before the model is built.
    void storeAccounts(const QList<StorageAccount>& accounts) {
        QJsonArray list;
        for (const StorageAccount& account : accounts)
            list.append(account.toJson());
        store->put(QStringLiteral("accounts"), list);
    }

    AppModel& build(bool googleConfigured = true) {
        AppModel::Parts parts;
        parts.provider = std::make_shared<ProviderRouter>(ProviderRouter::Providers{
            {ProviderKind::googleDrive, drive}, {ProviderKind::telegram, telegram}});
        if (googleConfigured)
            parts.serviceCredentials = ServiceCredentialStore(
                GoogleOAuthConfiguration{QStringLiteral("client"), std::nullopt, {}}, std::nullopt);
        parts.store = store;
        parts.defaults = defaults;
        parts.panels = panels;
        parts.launcher = launcher;
        parts.scheduler = scheduler.scheduler();
        parts.previewCache =
            previewCache
                ? *previewCache
                : std::make_shared<PreviewCache>(cacheDir.filePath(QStringLiteral("Previews")),
                                                 PreviewCache::standardMaxBytes,
                                                 PreviewCache::standardMaxAge);
        parts.runStartupTasks = false;
        parts.startupWork = startupWork;
        model = std::make_unique<AppModel>(std::move(parts));
        return *model;
    }

    ProviderConnection connection(const QString& id, ProviderKind kind = ProviderKind::googleDrive) {
        ProviderConnection c;
        c.providerAccountID = id;
        c.email = id + QStringLiteral("@example.com");
        c.credential = ProviderCredential{QByteArray("token-") + id.toUtf8(), kind};
        return c;
    }

    /// Waits until pred holds, processing events (results come back through the event loop).
    static void waitFor(const std::function<bool()>& pred) { ASSERT_TRUE(QTest::qWaitFor(pred, 5000)); }

    QTemporaryDir settingsDir;
    QTemporaryDir cacheDir;
    /// The preview cache build() hands the model: unset, a fresh one in cacheDir; null, none.
    std::optional<std::shared_ptr<PreviewCache>> previewCache;
    std::shared_ptr<SettingsStore> defaults;
    std::shared_ptr<FakeStorageProvider> drive = std::make_shared<FakeStorageProvider>();
    std::shared_ptr<FakeStorageProvider> telegram = std::make_shared<FakeStorageProvider>();
    std::shared_ptr<InMemoryKeyValueStore> store = std::make_shared<InMemoryKeyValueStore>();
    std::shared_ptr<ScriptedPanels> panels = std::make_shared<ScriptedPanels>();
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    /// Where the model's start-up work waits for its release (none: it runs at once).
    std::shared_ptr<StartupWork> startupWork;
    ManualScheduler scheduler;
    std::unique_ptr<AppModel> model;
};

} // namespace tw::test
