#include "App/Shell/SelfCheck.h"

#include "App/Model/AppComposition.h"
#include "App/Model/AppModel.h"
#include "App/Modules/LazyHTTPClient.h"
#include "App/Shell/InstanceLock.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Security/KeychainVault.h"
#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TDLib/TDObject.h"
#include "TelegramProvider/TelegramSession.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QThread>

#include <cstdio>
#include <variant>

namespace tw {
namespace {

/// Runs fn on the main thread and hands back its result (or rethrows its failure here). The
/// hand-over goes through the task facility's main-thread queue and a Completion, both of which
/// order memory between the threads (visibly to ThreadSanitizer too). The caller is a task of
/// the worker pool, so the facility knows the application.
template <typename F> auto onMainThread(F fn) -> decltype(fn()) {
    using R = decltype(fn());
    using Value = std::conditional_t<std::is_void_v<R>, std::monostate, R>;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return fn();
    Completion<Value> done;
    detail::postToMainThread([&fn, done]() mutable {
        try {
            if constexpr (std::is_void_v<R>) {
                fn();
                done.resolve(std::monostate{});
            } else {
                done.resolve(fn());
            }
        } catch (...) {
            done.fail(std::current_exception());
        }
    });
    if constexpr (std::is_void_v<R>)
        done.wait();
    else
        return done.wait();
}

QString count(qsizetype n) { return QString::number(qint64(n)); }

/// Loads the account's root as the browser does (first page, then the background pages) and
/// counts what is not a folder.
qsizetype rootFilesWithoutScrolling(AppModel& model, const QUuid& accountID) {
    Completion<std::monostate> finished;
    FolderListing* listing = onMainThread([&] {
        auto* l = new FolderListing(accountID, std::nullopt, model.provider(),
                                    [](const StorageError&) {});
        QObject::connect(l, &FolderListing::loadFinished, l,
                         [finished]() mutable { finished.resolve(std::monostate{}); });
        l->load();
        return l;
    });
    try {
        finished.wait();
    } catch (...) {
        onMainThread([listing] { delete listing; });
        throw;
    }
    return onMainThread([listing] {
        qsizetype files = 0;
        for (const FileItem& item : listing->items()) {
            if (!item.isFolder())
                ++files;
        }
        delete listing;
        return files;
    });
}

bool isClosedUpdate(const TDObject& update) {
    if (update.type() != QLatin1String("updateAuthorizationState"))
        return false;
    const auto state = update.object(QStringLiteral("authorization_state"));
    return state && state->type() == QLatin1String("authorizationStateClosed");
}

} // namespace

bool SelfCheck::isRequested(const QStringList& arguments) {
    return arguments.contains(argument, Qt::CaseSensitive);
}

QByteArray SelfCheck::reportLine(bool pass, const QString& name, const QString& detail,
                                 double seconds) {
    // One line per check, whatever a service put into its text.
    QString flat = detail;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString line = QStringLiteral("SELFCHECK ") +
                         (pass ? QStringLiteral("PASS") : QStringLiteral("FAIL")) +
                         QLatin1Char(' ') + name + QStringLiteral(": ") + flat +
                         QStringLiteral(" [") + QString::number(seconds, 'f', 1) +
                         QStringLiteral("s]\n");
    return line.toUtf8();
}

QString SelfCheck::describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const StorageError& e) {
        switch (e.code()) {
        case StorageError::Code::accountMismatch:
            return QStringLiteral("accountMismatch(expectedEmail: \"%1\")").arg(e.expectedEmail());
        case StorageError::Code::fileTooLarge:
            return QStringLiteral("fileTooLarge(limit: %1)").arg(e.limit());
        default:
            return e.caseName();
        }
    } catch (const TDError& e) {
        return QStringLiteral("TDError(code: %1, message: \"%2\")").arg(e.code()).arg(e.message());
    } catch (const SecretStoreError& e) {
        return QStringLiteral("SecretStoreError(status: %1): %2")
            .arg(e.status())
            .arg(QString::fromUtf8(e.what()));
    } catch (const HTTPTransportError& e) {
        static const char* const kinds[] = {"offline", "timedOut", "connectionLost", "other"};
        return QStringLiteral("HTTPTransportError.%1(code: %2): %3")
            .arg(QLatin1String(kinds[int(e.kind())]))
            .arg(e.code())
            .arg(QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

SelfCheck::Environment SelfCheck::live(const QStringList& arguments) {
    // Each line goes out as soon as its check ends, even if a later check hangs.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    Environment env;
    // Before anything reads the documents: while the application runs over the same data
    // folder, its sign-ins in progress own folders that no stored account names yet.
    static InstanceLock lock;
    lock = InstanceLock::tryAcquire(AppModel::dataFolder(), /*listen=*/false);
    const bool inUse = lock.state() == InstanceLock::State::heldElsewhere;
    env.dataFolderInUse = [inUse] { return inUse; };
    env.credentials = ServiceCredentialStore::bundled();
    env.arguments = arguments;
    env.keychain =
        KeychainVault(PreviewCache::bundleIdentifier).scoped(QStringLiteral("selfcheck"));
    env.tdlib = [] {
        TDLibStatus status;
        const std::shared_ptr<TDJSONRuntime> runtime = TDJSONRuntime::shared();
        if (runtime) {
            status.factory = runtime;
            status.version = runtime->version();
        }
        status.loadError = TDJSONRuntime::loadError();
        return status;
    };
    env.http = LazyHTTPClient::live();
    env.authorizationEndpoint = GoogleOAuthRequests::authorizationEndpoint();
    env.makeModel = [] {
        // The self-check removes orphaned session folders itself and reports the count: the
        // model's own start-up removal would race with it. The preview clean-up still runs.
        std::unique_ptr<AppModel> model = AppComposition::live(AppComposition::StartupTasks::skip);
        if (const std::shared_ptr<PreviewCache> cache = model->sharedPreviewCache())
            runDetached([cache] { cache->purgeExpired(); });
        return model;
    };
    env.telegram = [](AppModel& model) {
        TelegramBackEnd backEnd;
        const std::shared_ptr<TelegramStorageProvider> provider = model.telegramProvider();
        if (!provider)
            return backEnd;
        backEnd.removeOrphanedSessions = [provider](const QList<QUuid>& ids) {
            return provider->removeOrphanedSessions(ids);
        };
        backEnd.sessionFolderCount = [provider] { return provider->sessionFolderCount(); };
        backEnd.hasCredential = [provider](const QUuid& id) { return provider->hasCredential(id); };
        backEnd.inventory = [provider](const QUuid& id) { return provider->inventory(id); };
        return backEnd;
    };
    env.write = [](const QByteArray& line) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    };
    env.clock = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    env.temporaryFolder = QDir::tempPath();
    const TelegramDeviceInfo device = TelegramDeviceInfo::current();
    env.deviceModel = device.deviceModel;
    env.systemVersion = device.systemVersion;
    return env;
}

void SelfCheck::run(const Environment& env) {
    const double start = env.clock();
    double last = 0.0;
    auto report = [&](const QString& name, bool pass, const QString& detail) {
        // Never backwards, even on a clock that is.
        last = std::max(last, env.clock() - start);
        env.write(reportLine(pass, name, detail, last));
    };

    // 1. The keyring, through the application's vault.
    try {
        const QByteArray probe("ok");
        const QString key = QStringLiteral("probe");
        env.keychain->save(probe, key);
        const std::optional<QByteArray> loaded = env.keychain->load(key);
        env.keychain->remove(key);
        report(QStringLiteral("keychain"), loaded == probe, QStringLiteral("write/read/delete"));
    } catch (...) {
        report(QStringLiteral("keychain"), false, describe(std::current_exception()));
    }

    // 2. TDLib (this first look loads it).
    const TDLibStatus tdlib = env.tdlib ? env.tdlib() : TDLibStatus{};
    if (tdlib.factory)
        report(QStringLiteral("tdlib"), true,
               QStringLiteral("loaded version ") + tdlib.version.value_or(QStringLiteral("?")));
    else
        report(QStringLiteral("tdlib"), false,
               QLatin1String(TDJSONRuntime::libraryFileName) +
                   QStringLiteral(" could not be loaded: ") +
                   tdlib.loadError.value_or(QStringLiteral("unknown")));

    // 3. The Google sign-in host.
    {
        const QString host = env.authorizationEndpoint.host();
        QUrl discovery;
        discovery.setScheme(env.authorizationEndpoint.scheme());
        discovery.setHost(host);
        discovery.setPort(env.authorizationEndpoint.port());
        discovery.setPath(QStringLiteral("/.well-known/openid-configuration"));
        try {
            HTTPRequest request;
            request.url = discovery;
            const HTTPReply reply = env.http->send(request);
            report(QStringLiteral("google-network"), reply.response.statusCode == 200,
                   host + QStringLiteral(" reachable"));
        } catch (...) {
            report(QStringLiteral("google-network"), false, describe(std::current_exception()));
        }
    }

    // 4. The Google OAuth client of this build.
    if (env.credentials.bundledGoogle())
        report(QStringLiteral("google-credentials"), true, QStringLiteral("OAuth client present"));
    else
        report(QStringLiteral("google-credentials"), false,
               QStringLiteral("no OAuth client yet (not set in this build)"));

    // 5 and 6. A model of its own; the Telegram session folders.
    std::unique_ptr<AppModel> model(onMainThread([&] { return env.makeModel().release(); }));
    const QList<StorageAccount> accounts =
        onMainThread([&] { return model->accounts()->accounts(); });
    const TelegramBackEnd telegram =
        env.telegram ? onMainThread([&] { return env.telegram(*model); }) : TelegramBackEnd{};
    QList<QUuid> telegramIDs;
    for (const StorageAccount& account : accounts) {
        if (account.provider == ProviderKind::telegram)
            telegramIDs.append(account.id);
    }
    const bool inUse = env.dataFolderInUse && env.dataFolderInUse();
    const bool listUnreadable = onMainThread([&] { return model->accounts()->loadFailed(); });
    const bool cleanUp = !inUse && !listUnreadable;
    const int removed = cleanUp && telegram.removeOrphanedSessions
                            ? telegram.removeOrphanedSessions(telegramIDs)
                            : 0;
    const int folders = telegram.sessionFolderCount ? telegram.sessionFolderCount() : 0;
    report(QStringLiteral("telegram-sessions"), true,
           count(telegramIDs.size()) +
               QStringLiteral(" Telegram account(s); session folders on disk: ") + count(folders));
    if (inUse)
        report(QStringLiteral("telegram-cleanup"), true,
               QStringLiteral("skipped: Kelvanor is running over this data folder"));
    else if (listUnreadable)
        report(QStringLiteral("telegram-cleanup"), false,
               QStringLiteral("skipped: the stored account list could not be read"));
    else
        report(QStringLiteral("telegram-cleanup"), true,
               QStringLiteral("removed ") + count(removed) +
                   QStringLiteral(" unused session folder(s)"));

    // 7. Every stored account, in list order.
    const std::shared_ptr<ProviderRouter> router = model->provider();
    const bool inventory = env.arguments.contains(inventoryArgument, Qt::CaseSensitive);
    for (const StorageAccount& account : accounts) {
        const bool isTelegram = account.provider == ProviderKind::telegram;
        const QString kind = ProviderKinds::rawValue(account.provider);
        if (isTelegram) {
            bool stored = false;
            try {
                stored = telegram.hasCredential && telegram.hasCredential(account.id);
            } catch (...) {
            }
            report(QStringLiteral("telegram-credential"), stored,
                   QStringLiteral("Keyring sign-in for the account"));
        }
        try {
            const Page root = router->listFolder(account.id, std::nullopt, std::nullopt);
            qsizetype folderItems = 0;
            for (const FileItem& item : root.items) {
                if (item.isFolder())
                    ++folderItems;
            }
            report(QStringLiteral("account-") + kind, true,
                   QStringLiteral("signed in; root lists ") + count(folderItems) +
                       QStringLiteral(" folder(s) and ") + count(root.items.size() - folderItems) +
                       QStringLiteral(" file(s)") +
                       (root.nextPageToken ? QStringLiteral(" (more pages)") : QString()));

            QStringList kinds;
            for (FileCategory category : FileCategories::allCases()) {
                const Page page = router->listCategory(account.id, category, std::nullopt);
                kinds.append(FileCategories::displayName(category) + QLatin1Char(' ') +
                             count(page.items.size()) +
                             (page.nextPageToken ? QStringLiteral("+") : QString()));
            }
            report(QStringLiteral("kinds-") + kind, true, kinds.join(QStringLiteral(", ")));

            if (isTelegram) {
                QStringList parts;
                for (const QString& group : {QStringLiteral("g:channels"), QStringLiteral("g:groups"),
                                            QStringLiteral("g:chats")}) {
                    const QString name = group.mid(2);
                    const Page page = router->listFolder(account.id, group, std::nullopt);
                    parts.append(name + QLatin1Char(' ') + count(page.items.size()));
                    if (page.items.isEmpty())
                        continue;
                    const Page first = router->listFolder(
                        account.id, page.items.first().ref.providerID, std::nullopt);
                    parts.append(QStringLiteral("first ") + name.chopped(1) +
                                 QStringLiteral(" opens with ") + count(first.items.size()) +
                                 QStringLiteral(" file(s)"));
                }
                parts.append(QStringLiteral("root loads ") +
                             count(rootFilesWithoutScrolling(*model, account.id)) +
                             QStringLiteral(" file(s) without scrolling"));
                report(QStringLiteral("telegram-folders"), true, parts.join(QStringLiteral("; ")));

                if (inventory && telegram.inventory) {
                    const QMap<QString, qint64> counts = telegram.inventory(account.id);
                    QStringList entries;
                    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
                        entries.append(it.key() + QLatin1Char('=') + QString::number(it.value()));
                    report(QStringLiteral("telegram-inventory"), true,
                           entries.join(QLatin1Char(' ')));
                }
            }
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            report(QStringLiteral("account-") + kind, false,
                   StorageError::from(error).presentation().title + QStringLiteral(" — raw: ") +
                       describe(error));
        }
    }

    // 8. A scratch TDLib instance asks Telegram for the country code.
    const std::optional<TelegramConfiguration>& configuration = env.credentials.bundledTelegram();
    if (!configuration || !tdlib.factory) {
        report(QStringLiteral("telegram-network"), false,
               QStringLiteral("skipped: no Telegram API ID/hash yet (not set in this build)"));
    } else {
        const QString scratch = QDir(env.temporaryFolder)
                                    .filePath(QStringLiteral("selfcheck-") +
                                              QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        std::shared_ptr<TDClient> client;
        Completion<std::monostate> closed;
        try {
            client = tdlib.factory->makeClient();
            // The close is confirmed by TDLib's closed state; watch for it from the start.
            std::shared_ptr<TDClient> watched = client;
            runDetached([watched, closed]() mutable {
                while (const std::optional<TDObject> update = watched->updates().pop()) {
                    if (isClosedUpdate(*update))
                        break;
                }
                closed.resolve(std::monostate{});
            });
            auto deadline = [&] { return std::chrono::steady_clock::now() + env.tdlibRequestLimit; };
            client->send(
                TDObject(QStringLiteral("setTdlibParameters"),
                         QJsonObject{
                             {QStringLiteral("use_test_dc"), false},
                             {QStringLiteral("database_directory"), scratch},
                             {QStringLiteral("files_directory"), scratch},
                             {QStringLiteral("database_encryption_key"), QString()},
                             {QStringLiteral("use_file_database"), false},
                             {QStringLiteral("use_chat_info_database"), false},
                             {QStringLiteral("use_message_database"), false},
                             {QStringLiteral("use_secret_chats"), false},
                             {QStringLiteral("api_id"), configuration->apiID},
                             {QStringLiteral("api_hash"), configuration->apiHash},
                             {QStringLiteral("system_language_code"), QStringLiteral("en")},
                             {QStringLiteral("device_model"), env.deviceModel},
                             {QStringLiteral("system_version"), env.systemVersion},
                             {QStringLiteral("application_version"), QStringLiteral("selfcheck")},
                         }),
                deadline());
            const TDObject answer =
                client->send(TDObject(QStringLiteral("getCountryCode"), QJsonObject{}), deadline());
            report(QStringLiteral("telegram-network"), true,
                   QStringLiteral("Telegram answered (country code ") +
                       answer.string(QStringLiteral("text")).value_or(QStringLiteral("?")) +
                       QLatin1Char(')'));
        } catch (...) {
            report(QStringLiteral("telegram-network"), false, describe(std::current_exception()));
        }
        if (client) {
            // TDLib may write into its folder until it has closed: remove the folder only
            // after the close is confirmed, or after the bound.
            const auto closeBy = std::chrono::steady_clock::now() + env.tdlibCloseLimit;
            try {
                client->send(TDObject(QStringLiteral("close"), QJsonObject{}), closeBy);
            } catch (...) {
            }
            try {
                closed.waitUntil(closeBy);
            } catch (...) {
            }
            client->shutdown(); // ends the watcher if the closed state never came
        }
        QDir(scratch).removeRecursively();
    }

    onMainThread([&] { model.reset(); });
}

} // namespace tw
