// The real composition over private folders: nothing stored yet, both services unconfigured
// without credentials, documents and previews in the private data and cache folders.
#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tw;

TEST(AppModelLive, BuildsOverThePrivateFolders) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    // No keyring on this bus: the vault's reads fail, which the model must survive.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    qputenv("TDJSON_PATH", TW_FAKE_TDJSON_PATH); // never the real library in a test

    std::unique_ptr<AppModel> model = AppModel::live(/*runStartupTasks=*/false);
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
