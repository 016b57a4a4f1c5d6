// The real composition over private folders: nothing stored yet, both services unconfigured
// without credentials, documents and previews in the private data and cache folders.
#include "App/Model/AppComposition.h"
#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Persistence/JSONDirectoryStore.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Security/SecretStore.h"
#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QJsonArray>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

using namespace tw;

TEST(AppComposition, BuildsOverThePrivateFolders) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    // No keyring on this bus: the vault's reads fail, which the model must survive.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    qputenv("TDJSON_PATH", TW_FAKE_TDJSON_PATH); // never the real library in a test

    std::unique_ptr<AppModel> model = AppComposition::live(AppComposition::StartupTasks::skip);
    ASSERT_TRUE(model);
    EXPECT_TRUE(model->accounts()->accounts().isEmpty());
    EXPECT_FALSE(model->hasCompletedOnboarding());
    EXPECT_EQ(model->selection(), SidebarItem::home());
    EXPECT_EQ(AppModel::dataFolder(), home.filePath(QStringLiteral("data/Tessarow")));
    EXPECT_TRUE(model->previewCache()->directory().startsWith(home.filePath(QStringLiteral("cache"))));
    // The test build carries no service credentials.
    EXPECT_FALSE(model->isConfigured(ProviderKind::googleDrive));
    EXPECT_FALSE(model->isConfigured(ProviderKind::telegram));
    // TDLib is loaded by the first Telegram operation, not while the model comes up.
    QCoreApplication::processEvents();
    EXPECT_FALSE(TDJSONRuntime::sharedAttempted());
    EXPECT_FALSE(model->telegramProvider()->isLibraryLoaded());
}

namespace {

/// Private XDG folders for one test, and no keyring on the bus.
struct PrivateHome {
    PrivateHome() {
        EXPECT_TRUE(home.isValid());
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
        // QSettings keeps the folder it found first for the whole process.
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope,
                               home.filePath(QStringLiteral("config")));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        qputenv("TDJSON_PATH", TW_FAKE_TDJSON_PATH);
    }
    /// One stored Google Drive account: the keyring move has an item to look for.
    void storeOneGoogleAccount() const {
        StorageAccount account;
        account.id = QUuid::createUuid();
        account.provider = ProviderKind::googleDrive;
        account.providerAccountID = QStringLiteral("p");
        account.email = QStringLiteral("a@example.com");
        account.alias = QStringLiteral("Work");
        account.createdAt = account.updatedAt = QDateTime::currentDateTimeUtc();
        JSONDirectoryStore(home.filePath(QStringLiteral("data/Tessarow")))
            .save(QJsonArray{account.toJson()}, QStringLiteral("accounts"));
    }
    QTemporaryDir home;
};

/// Legacy keyring items whose every read waits until the test opens the gate (or, so that a
/// composition that waits for them cannot hang the test for ever, until 20 s have passed).
class GatedLegacyItems : public SecretStore {
public:
    void save(const QByteArray&, const QString&) override {}
    std::optional<QByteArray> load(const QString&) override {
        std::unique_lock lock(mutex_);
        ++reads_;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
        ++finished_;
        return std::nullopt;
    }
    void remove(const QString&) override {}
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    int reads() const {
        std::lock_guard lock(mutex_);
        return reads_;
    }
    int finishedReads() const {
        std::lock_guard lock(mutex_);
        return finished_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
    int reads_ = 0;
    int finished_ = 0;
};

} // namespace

// The move of older keyring items runs on a worker: the composition (and so the window) does
// not wait for a keyring that hangs.
TEST(AppComposition, TheCompositionDoesNotWaitForTheKeyringMigration) {
    PrivateHome home;
    home.storeOneGoogleAccount();

    auto legacy = std::make_shared<GatedLegacyItems>();
    AppComposition::Seams seams;
    seams.legacyKeychain = [legacy](const QString&) { return legacy; };
    std::unique_ptr<AppModel> model = AppComposition::live(AppComposition::StartupTasks::skip, seams);
    // Built while the first legacy read is still held (or not yet made).
    EXPECT_EQ(legacy->finishedReads(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return legacy->reads() == 1; }, 20'000));
    ASSERT_EQ(model->accounts()->accounts().size(), 1);
    legacy->open();
    model.reset();
    ASSERT_TRUE(threadPool(TaskPool::general)->waitForDone(30'000));
}

// The application's start-up holds its background work (the keyring move, the clean-ups) until
// it releases it once the window's content is on screen; then it runs at once.
TEST(AppComposition, HeldStartupWorkRunsOnlyOnceReleased) {
    PrivateHome home;
    home.storeOneGoogleAccount();

    auto legacy = std::make_shared<GatedLegacyItems>();
    legacy->open();
    AppComposition::Seams seams;
    seams.legacyKeychain = [legacy](const QString&) { return legacy; };
    std::unique_ptr<AppModel> model =
        AppComposition::live(AppComposition::StartupTasks::runWhenReleased, seams);
    QTest::qWait(300);
    EXPECT_EQ(legacy->reads(), 0);
    model->releaseStartupWork();
    EXPECT_TRUE(QTest::qWaitFor([&] { return legacy->finishedReads() == 1; }, 20'000));
    model->releaseStartupWork(); // a second release starts nothing twice
    model.reset();
    ASSERT_TRUE(threadPool(TaskPool::general)->waitForDone(30'000));
    EXPECT_EQ(legacy->finishedReads(), 1);
}

// Every save of the composition's documents is made durable on a worker, never on the main
// thread; a read right after the save sees the new content.
TEST(AppComposition, DocumentsAreWrittenOffTheMainThread) {
    PrivateHome home;
    std::mutex mutex;
    QList<std::pair<QString, Qt::HANDLE>> syncs;
    JSONDirectoryStore::setSyncObserver([&](const QString& key) {
        std::lock_guard lock(mutex);
        syncs.append({key, QThread::currentThreadId()});
    });
    std::unique_ptr<AppModel> model = AppComposition::live(AppComposition::StartupTasks::skip);
    model->activity()->record(ActivityEvent::Kind::createdFolder, std::nullopt,
                              QStringLiteral("Reports"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(mutex);
            return !syncs.isEmpty();
        },
        20'000));
    model.reset(); // waits for what is pending
    JSONDirectoryStore::setSyncObserver(nullptr);
    std::lock_guard lock(mutex);
    for (const auto& [key, thread] : syncs) {
        EXPECT_EQ(key, QStringLiteral("activity"));
        EXPECT_NE(thread, QThread::currentThreadId());
    }
    const auto stored = JSONDirectoryStore(home.home.filePath(QStringLiteral("data/Tessarow")))
                            .load(QStringLiteral("activity"));
    ASSERT_TRUE(stored && stored->isArray());
    EXPECT_EQ(stored->toArray().size(), 1);
}
