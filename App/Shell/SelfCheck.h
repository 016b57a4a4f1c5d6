#pragma once

#include "App/Model/ServiceCredentialStore.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tw {

class AppModel;
class HTTPClient;
class SecretStore;
class TDClientFactory;

/// The headless diagnostic run ("-TWSelfCheck"): a fixed sequence of checks against the
/// keyring, the TDLib library, the network, the service credentials and every stored account,
/// one report line per check on standard output:
///
///     SELFCHECK PASS keychain: write/read/delete [0.0s]
///
/// The run blocks and is made from a task of the worker pool (runDetached); it hops to the
/// main thread (whose event loop must be running) only to build the model, read its account
/// list and load a folder listing. Failures become FAIL lines; nothing ends the run early.
class SelfCheck {
public:
    /// What the run learns about TDLib on its first look (which loads the library).
    struct TDLibStatus {
        /// Null when the library could not be loaded.
        std::shared_ptr<TDClientFactory> factory;
        std::optional<QString> version;
        std::optional<QString> loadError;
    };

    /// The Telegram back end's own operations that the run uses.
    struct TelegramBackEnd {
        std::function<int(const QList<QUuid>&)> removeOrphanedSessions;
        std::function<int()> sessionFolderCount;
        std::function<bool(const QUuid&)> hasCredential;
        std::function<QMap<QString, qint64>(const QUuid&)> inventory;
    };

    /// Everything the run talks to. live() gives the real ones; tests swap parts.
    struct Environment {
        ServiceCredentialStore credentials{std::nullopt, std::nullopt};
        /// The process's arguments ("-TWInventory" adds the inventory lines).
        QStringList arguments;
        /// The vault scoped to "selfcheck".
        std::shared_ptr<SecretStore> keychain;
        std::function<TDLibStatus()> tdlib;
        std::shared_ptr<HTTPClient> http;
        /// The Google sign-in endpoint; its host is the one "google-network" contacts.
        QUrl authorizationEndpoint;
        /// Builds the model on the main thread.
        std::function<std::unique_ptr<AppModel>()> makeModel;
        /// The model's Telegram back end (any empty function counts as a back end with
        /// nothing stored).
        std::function<TelegramBackEnd(AppModel&)> telegram;
        /// True when a running application holds the data folder: its sessions are in use,
        /// so the run removes no session folder. (live() takes the folder's lock first.)
        std::function<bool()> dataFolderInUse;
        /// Receives each report line with its line feed, as soon as its check ends.
        std::function<void(const QByteArray&)> write;
        /// Seconds on a monotonic clock.
        std::function<double()> clock;
        /// Where the scratch TDLib folder of "telegram-network" is made.
        QString temporaryFolder;
        /// Each request of the scratch TDLib client is awaited at most this long.
        std::chrono::milliseconds tdlibRequestLimit{30'000};
        /// How long the scratch client's close is awaited before its folder is removed anyway.
        std::chrono::milliseconds tdlibCloseLimit{10'000};
        /// "Linux" and the system's name, as every TDLib instance of the application says.
        QString deviceModel;
        QString systemVersion;
    };

    /// The real keyring, TDLib, libcurl, the application's model and standard output.
    static Environment live(const QStringList& arguments);
    /// Runs every check, in order; returns after the last line.
    static void run(const Environment& environment);

    /// "SELFCHECK <PASS|FAIL> <name>: <detail> [<seconds>s]" with one decimal and a dot,
    /// whatever the locale, and a trailing line feed.
    static QByteArray reportLine(bool pass, const QString& name, const QString& detail,
                                 double seconds);
    /// A failure as a person reads it in a report: the error case with its payload
    /// ("fileTooLarge(limit: 2000000000)"), TDLib's code and message, the keyring's status.
    static QString describe(std::exception_ptr error);
    /// True when an argument equals "-TWSelfCheck" exactly.
    static bool isRequested(const QStringList& arguments);

    static inline const QString argument = QStringLiteral("-TWSelfCheck");
    static inline const QString inventoryArgument = QStringLiteral("-TWInventory");
};

} // namespace tw
