#include "App/Model/AppComposition.h"

#include "App/Model/AppModel.h"
#include "App/Model/ApplicationLauncher.h"
#include "App/Model/KeychainMigration.h"
#include "App/Model/QtPanels.h"
#include "App/Model/StartupWork.h"
#include "App/Model/TelegramLoginCoordinator.h"
#include "App/Modules/LazyHTTPClient.h"
#include "GoogleDriveProvider/Drive/GoogleDriveProvider.h"
#include "GoogleDriveProvider/OAuth/WorkspaceBrowserOpener.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Persistence/JSONDirectoryStore.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "StorageCore/Persistence/WriteBehindStore.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Security/KeychainVault.h"
#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QLoggingCategory>

namespace tw {

namespace {

Q_LOGGING_CATEGORY(lcComposition, "Composition")

/// The documents in the data folder, else in a temporary folder, else nowhere; saves return at
/// once and a worker writes them (each write ends with fdatasync).
std::shared_ptr<KeyValueStore> documentStore() {
    std::shared_ptr<KeyValueStore> store;
    try {
        store = std::make_shared<JSONDirectoryStore>(JSONDirectoryStore::applicationSupport());
    } catch (...) {
        try {
            store = std::make_shared<JSONDirectoryStore>(JSONDirectoryStore::temporaryFallback());
        } catch (...) {
            qCWarning(lcComposition) << "no folder for documents; nothing will be saved";
            store = std::make_shared<JSONDirectoryStore>(QString());
        }
    }
    return std::make_shared<WriteBehindStore>(std::move(store));
}

} // namespace

std::unique_ptr<AppModel> AppComposition::live(StartupTasks tasks, Seams seams) {
    AppModel::Parts parts;
    if (tasks == StartupTasks::runWhenReleased)
        parts.startupWork = std::make_shared<StartupWork>();
    KeychainMigration::Launch launch;
    if (parts.startupWork)
        launch = [work = parts.startupWork](std::function<void()> job) {
            work->run(std::move(job));
        };
    parts.serviceCredentials = ServiceCredentialStore::bundled();
    parts.defaults = std::make_shared<SettingsStore>();
    parts.store = documentStore();

    auto vault = std::make_shared<KeychainVault>(PreviewCache::bundleIdentifier);
    // The keyring is D-Bus away and may be locked: the move of older items runs on a worker
    // and the window does not wait for it; the back ends' credentials wait for it instead.
    const Completion<std::monostate> migration = KeychainMigration::start(
        vault, parts.defaults, *parts.store, PreviewCache::bundleIdentifier, seams.legacyKeychain,
        std::move(launch));

    const ServiceCredentialStore credentials = parts.serviceCredentials;
    auto google = std::make_shared<GoogleDriveProvider>(
        [credentials] { return credentials.bundledGoogle(); },
        KeychainMigration::gated(vault->scoped(QStringLiteral("google")), migration),
        seams.browser ? seams.browser : std::make_shared<WorkspaceBrowserOpener>(),
        LazyHTTPClient::live(), // libcurl loads with the first request
        qint64(8 * 1024 * 1024), 3, systemClock(),
        [](std::chrono::milliseconds delay) { Cancellation::sleepFor(delay); });

    parts.telegramLogin = std::make_shared<TelegramLoginCoordinator>();
    // TDLib is loaded by the first Telegram operation, on its worker: never while starting.
    parts.telegramProvider = std::make_shared<TelegramStorageProvider>(
        [credentials] { return credentials.bundledTelegram(); },
        KeychainMigration::gated(vault->scoped(QStringLiteral("telegram")), migration),
        parts.telegramLogin,
        std::make_shared<ClientFactoryLoader>(
            []() -> std::shared_ptr<TDClientFactory> { return TDJSONRuntime::shared(); }),
        TelegramStorageProvider::defaultBaseDirectory());

    parts.provider = std::make_shared<ProviderRouter>(ProviderRouter::Providers{
        {ProviderKind::googleDrive, google}, {ProviderKind::telegram, parts.telegramProvider}});

    try {
        parts.previewCache = PreviewCache::standard();
    } catch (...) {
        parts.previewCache = PreviewCache::temporaryFallback();
    }
    parts.launcher = std::make_shared<DesktopApplicationLauncher>();
    parts.panels = seams.panels ? seams.panels : std::make_shared<QtPanels>(parts.launcher);
    parts.runStartupTasks = tasks != StartupTasks::skip;
    return std::make_unique<AppModel>(std::move(parts));
}

} // namespace tw
