#pragma once

#include "App/Model/ModelTypes.h"
#include "App/Model/ServiceCredentialStore.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Transfers/UploadCandidate.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

namespace tw {

class AccountManager;
class ActivityLog;
class ApplicationLauncher;
class FileSearch;
class FolderListing;
class KeyValueStore;
class Panels;
class PreviewCache;
class PreviewLoader;
class ProviderRouter;
class SettingsStore;
class StartupWork;
class SmartUploadStore;
class TelegramLoginCoordinator;
class TelegramStorageProvider;
class UploadManager;
struct UploadJob;

/// The application's one model: over the back ends, stores and engines it is given (the
/// application's own are composed by AppComposition), it holds what the screens show
/// (selection, paths, sheets, alerts, the upload toast, the smart-upload batch) and carries
/// out every user operation. Main thread only; back-end work runs as
/// tasks whose results come back to the main thread and are dropped once the model is gone.
///
/// Observation: each observed property has a getter and a …Changed signal that fires only on
/// a real change (notice, presentedError and smartBatch on every assignment). Screens that
/// react to several properties should also listen to stateChanged(), which fires once per
/// event-loop turn after any number of changes, so one change is applied as one update.
class AppModel : public QObject {
    Q_OBJECT
public:
    /// Delays the toast's dismissal: runs fn after the delay unless the returned canceller
    /// was called first. Tests pass one they drive by hand.
    using Scheduler =
        std::function<std::function<void()>(std::chrono::milliseconds, std::function<void()>)>;

    /// Everything the model is built from.
    struct Parts {
        std::shared_ptr<ProviderRouter> provider;
        /// May be null (tests without Telegram): Telegram is then not configured.
        std::shared_ptr<TelegramStorageProvider> telegramProvider;
        std::shared_ptr<TelegramLoginCoordinator> telegramLogin;
        ServiceCredentialStore serviceCredentials{std::nullopt, std::nullopt};
        std::shared_ptr<KeyValueStore> store;
        std::shared_ptr<PreviewCache> previewCache;
        std::shared_ptr<SettingsStore> defaults;
        std::shared_ptr<Panels> panels;
        std::shared_ptr<ApplicationLauncher> launcher;
        Clock now = systemClock();
        Scheduler scheduler; // default: a main-thread timer
        /// Run the start-up clean-ups (expired previews, orphaned Telegram sessions).
        bool runStartupTasks = true;
        /// Where the clean-ups run: held until releaseStartupWork(); null: at once.
        std::shared_ptr<StartupWork> startupWork;
    };

    static constexpr int previewLoaderLimit = 30;
    static constexpr std::chrono::milliseconds toastDuration{3000};

    explicit AppModel(Parts parts, QObject* parent = nullptr);
    ~AppModel() override;

    /// "Tessarow" in the user's data folder (documents, Telegram sessions).
    static QString dataFolder();

    /// Hands the start-up's held background work to the workers (Parts::startupWork); nothing
    /// when none is held.
    void releaseStartupWork();

    // ---- objects handed to the screens -----------------------------------------------------
    AccountManager* accounts() const { return accounts_; }
    UploadManager* uploads() const { return uploads_; }
    ActivityLog* activity() const { return activity_; }
    SmartUploadStore* smartUpload() const { return smartUpload_; }
    FileSearch* search() const { return search_; }
    PreviewCache* previewCache() const { return previewCache_.get(); }
    const std::shared_ptr<PreviewCache>& sharedPreviewCache() const { return previewCache_; }
    const std::shared_ptr<ProviderRouter>& provider() const { return provider_; }
    TelegramLoginCoordinator* telegramLogin() const { return telegramLogin_.get(); }
    const std::shared_ptr<TelegramStorageProvider>& telegramProvider() const { return telegramProvider_; }
    const ServiceCredentialStore& serviceCredentials() const { return serviceCredentials_; }
    ApplicationLauncher* launcher() const { return launcher_.get(); }
    /// The application's settings (one store per settings file in the process: the quick-look
    /// panel keeps its frame in this one too).
    const std::shared_ptr<SettingsStore>& defaults() const { return defaults_; }

    // ---- observed state --------------------------------------------------------------------
    const std::optional<SidebarItem>& selection() const { return selection_; }
    void setSelection(const std::optional<SidebarItem>& selection);
    const std::optional<Notice>& notice() const { return notice_; }
    void setNotice(const std::optional<Notice>& notice);
    const std::optional<PresentedError>& presentedError() const { return presentedError_; }
    void setPresentedError(const std::optional<PresentedError>& error);
    bool isConnecting() const { return isConnecting_; }
    const std::optional<ProviderKind>& connectingKind() const { return connectingKind_; }
    ProviderKind lastConnectKind() const { return lastConnectKind_; }
    const std::optional<StorageAccount>& accountToName() const { return accountToName_; }
    void setAccountToName(const std::optional<StorageAccount>& account);
    bool isUploadsPopoverShown() const { return isUploadsPopoverShown_; }
    void setUploadsPopoverShown(bool shown);
    const std::optional<UploadToast>& uploadToast() const { return uploadToast_; }
    bool hasCompletedOnboarding() const { return hasCompletedOnboarding_; }
    /// Also writes "hasCompletedOnboarding" to the user defaults, whether or not it changed.
    void setHasCompletedOnboarding(bool done);
    const QString& searchText() const { return searchText_; }
    void setSearchText(const QString& text);
    SearchScope searchScope() const { return searchScope_; }
    void setSearchScope(SearchScope scope);
    const QHash<QUuid, QList<FolderCrumb>>& paths() const { return paths_; }
    void setPath(const QUuid& accountID, const QList<FolderCrumb>& path);
    const QList<SmartUploadItem>& smartBatch() const { return smartBatch_; }
    void setSmartBatch(const QList<SmartUploadItem>& batch);
    /// Last playback position of media files, in seconds (memory only).
    QHash<FileRef, double>& playbackPositions() { return playbackPositions_; }

    // ---- accounts --------------------------------------------------------------------------
    bool isConfigured(ProviderKind kind) const;
    void connectAccount(ProviderKind kind);
    void reconnect(const QUuid& accountID);
    /// Cancels a running connect or reconnect (its sheet's Cancel).
    void cancelConnection();
    void rename(const QUuid& accountID, const QString& alias);
    /// onDone runs when every step is done (also for an unknown id).
    void disconnect(const QUuid& accountID, std::function<void()> onDone = {});
    void recover(RecoveryAction action, const std::optional<QUuid>& accountID);

    // ---- navigation ------------------------------------------------------------------------
    void open(const FileItem& folder);
    void goUp(const QUuid& accountID);
    /// Keeps the first depth crumbs; a negative depth goes to the root.
    void navigate(const QUuid& accountID, int depth);
    /// The one listing of a folder; a new one of a known account starts loading at once, so a
    /// listing handed out is never left unloaded (a reconnect replaces an account's listings,
    /// and windows that show them never start loads themselves).
    FolderListing* listing(const QUuid& accountID, const std::optional<QString>& folderID);
    static QString listingKey(const QUuid& accountID, const std::optional<QString>& folderID);
    UploadDestination destination(const QUuid& accountID, const std::optional<QString>& folderID) const;

    // ---- uploads and smart upload ----------------------------------------------------------
    void upload(const QList<QUrl>& urls, const UploadDestination& destination);
    void chooseFilesToUpload(const UploadDestination& destination);
    QList<UploadCandidate> uploadCandidates() const;
    QString displayName(const UploadTarget& target) const;
    void addToSmartUpload(const QList<QUrl>& urls);
    void chooseFilesForSmartUpload();
    void setTarget(const UploadTarget& target, const QUuid& itemID);
    void setTargetForAll(const UploadTarget& target);
    void makeRule(const SmartUploadItem& item);
    void removeFromSmartUpload(const QUuid& itemID);
    void startSmartUpload();

    // ---- file operations (failures end in the error alert) ---------------------------------
    void createFolder(const QString& name, const UploadDestination& destination);
    void rename(const FileItem& item, const QString& name, const std::optional<QString>& folderID);
    void trash(const FileItem& item, const std::optional<QString>& folderID);

    // ---- previews, copies, other applications ----------------------------------------------
    /// The loader of the item's preview, shared: the model keeps the last previewLoaderLimit
    /// loaders it handed out (a changed modification date gets a new one) and lets go of the
    /// oldest; a loader lives on while anyone holds it, so views keep theirs.
    std::shared_ptr<PreviewLoader> previewLoader(const FileItem& item);
    /// Asks where to save a copy, proposing the item's name made safe for this computer.
    void saveCopy(const FileItem& item);
    /// Copies to destination now (the save panel's answer, checked as by checkedSaveTarget);
    /// onDone after success, failure or refusal.
    void saveCopy(const FileItem& item, const QUrl& destination, std::function<void()> onDone = {});
    /// The local path of a save panel's answer when it names a regular file inside an
    /// existing folder (LocalFileName::saveTarget); otherwise none, and an alert says why.
    std::optional<QString> checkedSaveTarget(const QUrl& answer);
    void openWith(const FileItem& item);
    /// Opens a local copy of the item with the application (the chooser's answer). The
    /// copy's result comes back here whatever happens to the loader meanwhile.
    void openWith(const FileItem& item, const QString& applicationID);
    /// Lets go of every preview loader and deletes the cached files nobody uses: previews on
    /// screen keep their loaders and files.
    void clearPreviewCache(std::function<void()> onDone = {});

    /// Turns a failure of an account's operation into the error alert: cancelled is silent,
    /// reauthRequired also marks the account.
    void report(const StorageError& error, const std::optional<QUuid>& accountID);

Q_SIGNALS:
    void selectionChanged();
    void noticeChanged();
    void presentedErrorChanged();
    void isConnectingChanged();
    void connectingKindChanged();
    void accountToNameChanged();
    void isUploadsPopoverShownChanged();
    void uploadToastChanged();
    void hasCompletedOnboardingChanged();
    void searchTextChanged();
    void searchScopeChanged();
    void pathsChanged();
    void smartBatchChanged();
    /// Fires once per event-loop turn after any observed property changed.
    void stateChanged();

private:
    void markChanged();
    void setConnecting(bool connecting, std::optional<ProviderKind> kind);
    void invalidateListings(const QUuid& accountID);
    std::optional<StorageAccount> account(const QUuid& id) const;
    void uploadCompleted(const UploadJob& job, const FileItem& item);
    void showSavedToast(const UploadJob& job);
    SmartUploadItem suggested(const LocalFile& file) const;
    void refuse(const QList<std::pair<QUrl, StorageError>>& refused);
    FolderListing* cachedListing(const QUuid& accountID, const std::optional<QString>& folderID) const;
    void runStartupTasks();
    void runStartupJob(std::function<void()> job);

    std::shared_ptr<ProviderRouter> provider_;
    std::shared_ptr<TelegramStorageProvider> telegramProvider_;
    std::shared_ptr<TelegramLoginCoordinator> telegramLogin_;
    ServiceCredentialStore serviceCredentials_;
    std::shared_ptr<PreviewCache> previewCache_;
    std::shared_ptr<SettingsStore> defaults_;
    std::shared_ptr<StartupWork> startupWork_;
    std::shared_ptr<Panels> panels_;
    std::shared_ptr<ApplicationLauncher> launcher_;
    Clock now_;
    Scheduler scheduler_;

    AccountManager* accounts_;
    UploadManager* uploads_;
    ActivityLog* activity_;
    SmartUploadStore* smartUpload_;
    FileSearch* search_;

    std::optional<SidebarItem> selection_ = SidebarItem::home();
    std::optional<Notice> notice_;
    std::optional<PresentedError> presentedError_;
    bool isConnecting_ = false;
    std::optional<ProviderKind> connectingKind_;
    ProviderKind lastConnectKind_ = ProviderKind::googleDrive;
    std::optional<StorageAccount> accountToName_;
    bool isUploadsPopoverShown_ = false;
    std::optional<UploadToast> uploadToast_;
    std::function<void()> cancelToastDismissal_;
    bool hasCompletedOnboarding_ = false;
    QString searchText_;
    SearchScope searchScope_ = SearchScope::all;
    QHash<QUuid, QList<FolderCrumb>> paths_;
    QList<SmartUploadItem> smartBatch_;
    QHash<QString, FolderListing*> listings_;
    QHash<FileRef, std::shared_ptr<PreviewLoader>> previewLoaders_;
    QList<FileRef> previewLoaderOrder_;
    QHash<FileRef, double> playbackPositions_;
    TaskHandle connectTask_;
    std::optional<QUuid> reconnectingAccount_;
    bool stateChangePending_ = false;
};

} // namespace tw
