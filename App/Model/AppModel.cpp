#include "App/Model/AppModel.h"

#include "App/Model/ApplicationLauncher.h"
#include "App/Model/Panels.h"
#include "App/Model/StartupWork.h"
#include "App/Model/TelegramLoginCoordinator.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Files/FileSearch.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Persistence/PartialFile.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Preview/PreviewLoader.h"
#include "StorageCore/Transfers/SmartUploadStore.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcAppModel, "AppModel")

namespace tw {

namespace {

const QString kOnboardingKey = QStringLiteral("hasCompletedOnboarding");

AppModel::Scheduler timerScheduler() {
    return [](std::chrono::milliseconds delay, std::function<void()> fn) {
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, fn = std::move(fn)] {
            timer->deleteLater();
            fn();
        });
        timer->start(delay);
        QPointer<QTimer> guard(timer);
        return std::function<void()>([guard] {
            if (guard) {
                guard->stop();
                guard->deleteLater();
            }
        });
    };
}

} // namespace

QString AppModel::dataFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/Tessarow");
}

AppModel::AppModel(Parts parts, QObject* parent)
    : QObject(parent), provider_(std::move(parts.provider)),
      telegramProvider_(std::move(parts.telegramProvider)),
      telegramLogin_(parts.telegramLogin ? std::move(parts.telegramLogin)
                                         : std::make_shared<TelegramLoginCoordinator>()),
      serviceCredentials_(std::move(parts.serviceCredentials)),
      previewCache_(std::move(parts.previewCache)),
      defaults_(parts.defaults ? std::move(parts.defaults) : std::make_shared<SettingsStore>()),
      startupWork_(std::move(parts.startupWork)),
      panels_(std::move(parts.panels)), launcher_(std::move(parts.launcher)), now_(parts.now),
      scheduler_(parts.scheduler ? std::move(parts.scheduler) : timerScheduler()) {
    accounts_ = new AccountManager(provider_, parts.store, now_, this);
    uploads_ = new UploadManager(provider_, 2, now_, this);
    activity_ = new ActivityLog(parts.store, 200, now_, this);
    smartUpload_ = new SmartUploadStore(parts.store, this);
    search_ = new FileSearch(provider_, this);

    for (const StorageAccount& account : accounts_->accounts())
        provider_->registerAccount(account.id, account.provider);

    const QVariant stored = defaults_->value(kOnboardingKey);
    hasCompletedOnboarding_ = stored.isValid() ? stored.toBool() : !accounts_->accounts().isEmpty();

    QPointer<AppModel> self(this);
    uploads_->setOnCompleted([self](const UploadJob& job, const FileItem& item) {
        if (self)
            self->uploadCompleted(job, item);
    });
    uploads_->setOnFailed([self](const UploadJob& job, const StorageError& error) {
        if (self && error.code() == StorageError::Code::reauthRequired)
            self->accounts_->markReauthRequired(job.accountID);
    });
    telegramLogin_->setOnCancel([self] {
        if (self)
            self->cancelConnection();
    });
    for (auto signal : {&AppModel::selectionChanged, &AppModel::noticeChanged,
                        &AppModel::presentedErrorChanged, &AppModel::isConnectingChanged,
                        &AppModel::connectingKindChanged, &AppModel::accountToNameChanged,
                        &AppModel::isUploadsPopoverShownChanged, &AppModel::uploadToastChanged,
                        &AppModel::hasCompletedOnboardingChanged, &AppModel::searchTextChanged,
                        &AppModel::searchScopeChanged, &AppModel::pathsChanged,
                        &AppModel::smartBatchChanged})
        connect(this, signal, this, &AppModel::markChanged);
    connect(accounts_, &AccountManager::accountsChanged, this, &AppModel::markChanged);
    // A scope narrowed to a kind of account of which none is left falls back to all accounts:
    // its scope bar is gone then, and the search would otherwise stay empty with no way out.
    connect(accounts_, &AccountManager::accountsChanged, this, [this] {
        const std::optional<ProviderKind> kind = SearchScopes::providerKind(searchScope_);
        if (!kind)
            return;
        const auto& list = accounts_->accounts();
        if (std::none_of(list.begin(), list.end(),
                         [&](const StorageAccount& account) { return account.provider == *kind; }))
            setSearchScope(SearchScope::all);
    });

    if (parts.runStartupTasks)
        runStartupTasks();
}

AppModel::~AppModel() {
    if (cancelToastDismissal_)
        cancelToastDismissal_();
    connectTask_.cancel();
}

void AppModel::runStartupTasks() {
    // A: expired previews. B: session folders no stored account owns (a sign-in that starts
    // meanwhile keeps its folder: the back end spares sign-ins in progress). C: partial files
    // of downloads that a killed run left beside their destinations (only ours, by name, and
    // only those no live process holds).
    if (const QString data = dataFolder(); !data.isEmpty()) {
        PartialFile::setJournalPath(data + QStringLiteral("/partial-folders"));
        runStartupJob([] { PartialFile::removeLeftovers(); });
    }
    if (previewCache_) {
        std::shared_ptr<PreviewCache> cache = previewCache_;
        runStartupJob([cache] { cache->purgeExpired(); });
    }
    if (telegramProvider_ && accounts_->loadFailed()) {
        // The stored list could not be read: which session folders it owned is unknown, and
        // putting the set-aside file back must find them still there.
        qCWarning(lcAppModel) << "session clean-up skipped: the stored account list was unreadable";
    } else if (telegramProvider_) {
        QList<QUuid> ids;
        for (const StorageAccount& account : accounts_->accounts()) {
            if (account.provider == ProviderKind::telegram)
                ids.append(account.id);
        }
        std::shared_ptr<TelegramStorageProvider> telegram = telegramProvider_;
        runStartupJob([telegram, ids] {
            const int removed = telegram->removeOrphanedSessions(ids);
            qCInfo(lcAppModel) << "removed" << removed << "unused session folders";
        });
    }
}

void AppModel::runStartupJob(std::function<void()> job) {
    if (startupWork_)
        startupWork_->run(std::move(job));
    else
        runDetached(std::move(job));
}

void AppModel::releaseStartupWork() {
    if (startupWork_)
        startupWork_->release();
}

void AppModel::markChanged() {
    if (stateChangePending_)
        return;
    stateChangePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            stateChangePending_ = false;
            Q_EMIT stateChanged();
        },
        Qt::QueuedConnection);
}

// ---- observed state ------------------------------------------------------------------------

void AppModel::setSelection(const std::optional<SidebarItem>& selection) {
    if (selection == selection_)
        return;
    selection_ = selection;
    Q_EMIT selectionChanged();
}

void AppModel::setNotice(const std::optional<Notice>& notice) {
    notice_ = notice;
    Q_EMIT noticeChanged();
}

void AppModel::setPresentedError(const std::optional<PresentedError>& error) {
    presentedError_ = error;
    Q_EMIT presentedErrorChanged();
}

void AppModel::setAccountToName(const std::optional<StorageAccount>& account) {
    if (account == accountToName_)
        return;
    accountToName_ = account;
    Q_EMIT accountToNameChanged();
}

void AppModel::setUploadsPopoverShown(bool shown) {
    if (shown == isUploadsPopoverShown_)
        return;
    isUploadsPopoverShown_ = shown;
    Q_EMIT isUploadsPopoverShownChanged();
}

void AppModel::setHasCompletedOnboarding(bool done) {
    defaults_->setValue(kOnboardingKey, done);
    if (done == hasCompletedOnboarding_)
        return;
    hasCompletedOnboarding_ = done;
    Q_EMIT hasCompletedOnboardingChanged();
}

void AppModel::setSearchText(const QString& text) {
    if (text == searchText_)
        return;
    searchText_ = text;
    Q_EMIT searchTextChanged();
}

void AppModel::setSearchScope(SearchScope scope) {
    if (scope == searchScope_)
        return;
    searchScope_ = scope;
    Q_EMIT searchScopeChanged();
}

void AppModel::setPath(const QUuid& accountID, const QList<FolderCrumb>& path) {
    const auto it = paths_.constFind(accountID);
    if (it != paths_.constEnd() && *it == path)
        return;
    paths_.insert(accountID, path);
    Q_EMIT pathsChanged();
}

void AppModel::setSmartBatch(const QList<SmartUploadItem>& batch) {
    smartBatch_ = batch;
    Q_EMIT smartBatchChanged();
}

void AppModel::setConnecting(bool connecting, std::optional<ProviderKind> kind) {
    const bool connectingChanged = connecting != isConnecting_;
    const bool kindChanged = kind != connectingKind_;
    isConnecting_ = connecting;
    connectingKind_ = kind;
    if (connectingChanged)
        Q_EMIT isConnectingChanged();
    if (kindChanged)
        Q_EMIT connectingKindChanged();
}

std::optional<StorageAccount> AppModel::account(const QUuid& id) const { return accounts_->account(id); }

// ---- accounts ------------------------------------------------------------------------------

bool AppModel::isConfigured(ProviderKind kind) const {
    if (kind == ProviderKind::telegram)
        return telegramProvider_ && telegramProvider_->isAvailable();
    return serviceCredentials_.bundledGoogle().has_value();
}

void AppModel::connectAccount(ProviderKind kind) {
    if (isConnecting_)
        return;
    if (!isConfigured(kind)) {
        setPresentedError(PresentedError::make(StorageError(StorageError::Code::notConfigured),
                                               std::nullopt, kind));
        return;
    }
    lastConnectKind_ = kind;
    if (presentedError_)
        setPresentedError(std::nullopt);
    setConnecting(true, kind);
    QPointer<AppModel> self(this);
    connectTask_ = accounts_->connectNewAccount(
        kind, [self, kind](TaskResult<AccountManager::ConnectOutcome> result) {
            if (!self)
                return;
            if (result.ok()) {
                const StorageAccount& account = result.value().account();
                if (result.value().kind() == AccountManager::ConnectOutcome::Kind::added) {
                    self->activity_->record(ActivityEvent::Kind::connectedAccount, account, std::nullopt);
                    self->setHasCompletedOnboarding(true);
                    self->setAccountToName(account);
                } else {
                    self->setHasCompletedOnboarding(true);
                    self->setSelection(SidebarItem::storage(account.id));
                    self->setNotice(Notice::make(
                        account.alias + QStringLiteral(" is already connected."),
                        account.email + QStringLiteral(" is already in Kelvanor. Its sign-in was refreshed.")));
                }
            } else {
                const StorageError& error = result.error();
                // Not configured is only learnt here when the back end's library turned out to
                // be missing on this first use: told as the check above tells it.
                if (error.code() == StorageError::Code::notConfigured)
                    self->setPresentedError(PresentedError::make(error, std::nullopt, kind));
                else if (!error.isCancelled() &&
                         error.code() != StorageError::Code::authorizationCancelled)
                    self->setPresentedError(PresentedError::make(error));
            }
            self->setConnecting(false, std::nullopt);
        });
}

void AppModel::reconnect(const QUuid& accountID) {
    if (isConnecting_)
        return;
    const std::optional<StorageAccount> known = account(accountID);
    if (!known)
        return;
    setConnecting(true, known->provider);
    reconnectingAccount_ = accountID;
    QPointer<AppModel> self(this);
    connectTask_ = accounts_->reconnect(accountID, [self, accountID](TaskResult<StorageAccount> result) {
        if (!self)
            return;
        self->reconnectingAccount_.reset();
        if (result.ok()) {
            self->activity_->record(ActivityEvent::Kind::reconnectedAccount, result.value(), std::nullopt);
            self->invalidateListings(accountID);
        } else {
            const StorageError& error = result.error();
            if (!error.isCancelled() && error.code() != StorageError::Code::authorizationCancelled)
                self->setPresentedError(PresentedError::make(error, accountID));
        }
        self->setConnecting(false, std::nullopt);
    });
}

void AppModel::cancelConnection() { connectTask_.cancel(); }

void AppModel::rename(const QUuid& accountID, const QString& alias) {
    try {
        accounts_->rename(accountID, alias);
    } catch (...) {
        setPresentedError(PresentedError::make(StorageError::current()));
    }
}

void AppModel::disconnect(const QUuid& accountID, std::function<void()> onDone) {
    const std::optional<StorageAccount> record = account(accountID);
    if (!record) {
        if (onDone)
            onDone();
        return;
    }
    // A sign-in running for this account must not store a credential for it afterwards.
    if (reconnectingAccount_ == accountID)
        connectTask_.cancel();
    uploads_->cancelAll(accountID);
    QPointer<AppModel> self(this);
    accounts_->disconnect(accountID, [self, accountID, record, onDone] {
        if (!self) {
            if (onDone)
                onDone();
            return;
        }
        self->invalidateListings(accountID);
        if (self->paths_.remove(accountID) > 0)
            Q_EMIT self->pathsChanged();
        self->smartUpload_->forget(accountID);
        QList<SmartUploadItem> batch = self->smartBatch_;
        bool changed = false;
        for (SmartUploadItem& item : batch) {
            if (item.target && item.target->accountID == accountID) {
                item = self->suggested(item.file);
                changed = true;
            }
        }
        if (changed)
            self->setSmartBatch(batch);
        // Open previews keep their loaders; the model only stops handing them out.
        for (auto it = self->previewLoaders_.begin(); it != self->previewLoaders_.end();)
            it = it.key().accountID == accountID ? self->previewLoaders_.erase(it) : std::next(it);
        self->previewLoaderOrder_.removeIf(
            [accountID](const FileRef& ref) { return ref.accountID == accountID; });
        auto finish = [self, accountID, record, onDone] {
            if (self) {
                self->activity_->record(ActivityEvent::Kind::disconnectedAccount, *record, std::nullopt);
                if (self->selection_ == SidebarItem::storage(accountID))
                    self->setSelection(SidebarItem::home());
            }
            if (onDone)
                onDone();
        };
        if (!self->previewCache_) {
            finish();
            return;
        }
        std::shared_ptr<PreviewCache> cache = self->previewCache_;
        runTask(
            self, [cache, accountID] { cache->remove(accountID); },
            [finish](TaskResult<std::monostate>) { finish(); });
    });
}

void AppModel::recover(RecoveryAction action, const std::optional<QUuid>& accountID) {
    if (action == RecoveryAction::reconnect && accountID)
        reconnect(*accountID);
    else if (action == RecoveryAction::retry && !accountID)
        connectAccount(lastConnectKind_);
}

void AppModel::report(const StorageError& error, const std::optional<QUuid>& accountID) {
    if (error.isCancelled())
        return;
    if (error.code() == StorageError::Code::reauthRequired && accountID)
        accounts_->markReauthRequired(*accountID);
    setPresentedError(PresentedError::make(error, accountID));
}

} // namespace tw
