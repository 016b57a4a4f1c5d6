#pragma once

#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Security/SecretStore.h"
#include "TelegramProvider/SessionRegistry.h"
#include "TelegramProvider/TDLib/ClientFactoryLoader.h"
#include "TelegramProvider/TDLib/TDClient.h"
#include "TelegramProvider/TelegramConfiguration.h"
#include "TelegramProvider/TelegramLoginPresenter.h"
#include "TelegramProvider/TelegramSession.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tw {

/// A session in baseDirectory/sessionID over a new client of the factory (not opened yet).
std::shared_ptr<TelegramSession> makeSessionIn(const QString& baseDirectory,
                                               const TelegramTimeLimits& limits,
                                               const QString& sessionID, const QByteArray& key,
                                               const TelegramConfiguration& configuration,
                                               TDClientFactory& factory);

/// The StorageProvider of Telegram accounts over TDLib. It owns the back end's dependencies
/// and the session registry; every account operation finds or opens the account's session.
/// All operations block and are called from worker threads.
class TelegramStorageProvider : public StorageProvider {
public:
    using ConfigurationSource = std::function<std::optional<TelegramConfiguration>()>;

    /// One account's sign-in as kept in the secret store (key: the account's upper-case UUID).
    struct Credential {
        /// Upper-case canonical UUID text; also the name of the session's folder.
        QString sessionID;
        /// The database encryption key (32 random bytes).
        QByteArray key;

        /// {"sessionID": …, "key": standard Base64}.
        QByteArray toJson() const;
        /// nullopt when the JSON lacks a member, has one of the wrong type, or names a session
        /// id that is not a canonical upper-case UUID (it becomes a folder name).
        static std::optional<Credential> fromJson(const QByteArray& json);
        bool operator==(const Credential&) const = default;
    };

    /// The factory comes from runtime on the first operation that needs it (on its worker).
    TelegramStorageProvider(ConfigurationSource configuration, std::shared_ptr<SecretStore> secrets,
                            std::shared_ptr<TelegramLoginPresenter> presenter,
                            std::shared_ptr<ClientFactoryLoader> runtime, QString baseDirectory,
                            TelegramTimeLimits limits = {}, Clock clock = systemClock());
    /// Over a factory at hand (null: the library is missing).
    TelegramStorageProvider(std::optional<TelegramConfiguration> configuration,
                            std::shared_ptr<SecretStore> secrets,
                            std::shared_ptr<TelegramLoginPresenter> presenter,
                            std::shared_ptr<TDClientFactory> factory, QString baseDirectory,
                            TelegramTimeLimits limits = {}, Clock clock = systemClock());

    /// "Tessarow/Telegram" in the generic data location (a private temporary folder when
    /// there is none).
    static QString defaultBaseDirectory();
    /// 32 bytes from the system's secure random generator.
    static QByteArray randomKey();

    /// Configured, and the library not found missing (it may not be loaded yet). Never loads.
    bool isAvailable() const;
    /// Whether the library has been loaded. Never loads.
    bool isLibraryLoaded() const;
    /// Entries of the base directory (folders and files, hidden ones too); 0 when unreadable.
    int sessionFolderCount() const;
    bool hasCredential(const QUuid& accountID) const;
    /// Deletes the entries of the base directory that belong to no stored credential of the
    /// given accounts, no pending session and no sign-in in progress; returns how many were
    /// deleted. Deletes nothing when any credential cannot be read (a locked keyring must
    /// never cost every account its session). Never throws.
    int removeOrphanedSessions(const QList<QUuid>& accountIDs) noexcept;
    /// Closes every open session and every sign-in still in progress, and logs out every
    /// pending sign-in that was never stored (and a sign-in in progress that TDLib already
    /// reports signed in), all at once. Never throws.
    void closeAllSessions() noexcept;

    /// Counts of the account's chats by chat list and type, and of the files and pages of its
    /// Saved Messages, for the self-check. Keys: "chats.<list>", a chat type ("chatTypePrivate",
    /// …; supergroups as "chatTypeSupergroup.channel.Creator" and the like), "saved.pages",
    /// "saved.files", "saved.totalMessagesReported".
    QMap<QString, qint64> inventory(const QUuid& accountID);

    const QString& baseDirectory() const { return baseDirectory_; }
    const TelegramTimeLimits& limits() const { return limits_; }

    // StorageProvider
    using StorageProvider::connect;
    /// Interactive sign-in through the presenter; the hint is ignored.
    ProviderConnection connect(const std::optional<QString>& loginHint) override;
    void storeCredential(const ProviderCredential& credential, const QUuid& accountID) override;
    void removeCredential(const QUuid& accountID, bool revoke) noexcept override;
    StorageQuota quota(const QUuid& accountID) override;
    Page listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                    const std::optional<QString>& pageToken) override;
    Page search(const QUuid& accountID, const QString& query,
                const std::optional<QString>& pageToken) override;
    Page listCategory(const QUuid& accountID, FileCategory category,
                      const std::optional<QString>& pageToken) override;
    FileItem createFolder(const QUuid& accountID, const QString& name,
                          const std::optional<QString>& parentID) override;
    FileItem rename(const FileRef& ref, const QString& newName) override;
    FileItem move(const FileRef& ref, const std::optional<QString>& from,
                  const QString& to) override;
    void trash(const FileRef& ref) override;
    FileItem upload(const QUuid& accountID, const LocalFile& file,
                    const std::optional<QString>& parentID,
                    const ProgressCallback& progress) override;
    void download(const FileRef& ref, const QUrl& destination,
                  const ProgressCallback& progress) override;
    QByteArray read(const FileRef& ref, ByteRange range) override;
    void exportFile(const FileRef& ref, const QString& mimeType, const QUrl& destination) override;
    std::optional<QByteArray> thumbnail(const FileItem& item, int maxPixelSize) override;

    // Used by the operations of the back end.
    Credential loadCredential(const QUuid& accountID) const;
    std::shared_ptr<TelegramSession> session(const QUuid& accountID);
    /// Makes, opens and identifies a session from a stored credential; a session that fails
    /// on the way is terminated before the error is passed on.
    std::shared_ptr<TelegramSession> openSession(const QUuid& accountID,
                                                 const Credential& credential,
                                                 const TelegramConfiguration& configuration,
                                                 TDClientFactory& factory);
    /// A request whose TDLib error reaches the caller as its StorageError.
    TDObject request(TelegramSession& session, const QString& type, QJsonObject fields);
    SessionRegistry& registry() { return registry_; }

    /// The text shown for a rejected sign-in answer.
    static QString friendlyMessage(const TDError& error);
    /// "@username", "+phone" or "Telegram account".
    static QString userHandle(const TDObject& user);

    /// The title a folder channel gets for a name, the same for creating and renaming: the
    /// name trimmed, then cut to what Telegram keeps of a title (128 characters, counted as
    /// TDLib counts them: code points), never inside a user-perceived character.
    static QString channelTitle(const QString& name);
    static constexpr int maxTitleLength = 128;

    /// How long a scanned chat directory is used before it is scanned again.
    static constexpr qint64 directoryLifetimeMs = 60'000;

private:
    struct HistoryPage {
        QList<TDObject> messages;
        std::optional<qint64> next;
    };

    /// The user's chats (Saved Messages excluded): the cached directory while it is younger
    /// than a minute, else a fresh scan of the main and archive chat lists.
    QList<TelegramChat> directory(TelegramSession& session);
    /// The owned channels of the directory: chat id -> title.
    QHash<qint64, QString> folderMap(TelegramSession& session);
    /// Up to five history requests from `from` (0: the newest), about 100 messages.
    HistoryPage history(TelegramSession& session, qint64 chatID, qint64 from);
    /// Maps messages to file items (recording their handles); non-files are skipped.
    QList<FileItem> fileItems(TelegramSession& session, const QList<TDObject>& messages,
                              const QUuid& accountID, const std::optional<QString>& parentID);
    /// TDLib's handles of a file item: cached, or fetched with "getMessage".
    TelegramFileHandles fileHandles(const FileRef& ref, TelegramSession& session);
    /// Saved Messages and the user's own channels may be changed; nothing else.
    bool isWritableChat(TelegramSession& session, qint64 chatID);
    /// A request sent straight to the session's client: a TDLib error arrives as TDError.
    static TDObject direct(TelegramSession& session, const QString& type, QJsonObject fields);
    /// Copies TDLib's copy of a download to the destination without ever destroying the file
    /// that is there: a temporary file in the destination's folder renamed over it. False when
    /// nothing was copied because the destination is that very file.
    static bool saveDownload(const QString& source, const QString& destination);

    /// Runs the step machine until TDLib reports the session signed in.
    void signIn(TelegramSession& session);
    QString sessionDirectory(const QString& sessionID) const;
    void removeSessionFolder(const QString& sessionID) const noexcept;
    std::optional<Credential> tryLoadCredential(const QUuid& accountID) const noexcept;
    /// Ends a stored session that is not open: opens it from disk just to log it out (when
    /// logOut and still signed in) or to close it, after a cancelled opening of it has ended.
    void closeStored(
        const Credential& credential, bool logOut,
        const std::optional<Completion<std::monostate>>& openingEnded = std::nullopt) noexcept;
    /// Waits (bounded, on the caller's token) until a cancelled opening has ended.
    void waitForOpeningEnd(const Completion<std::monostate>& ended) const noexcept;
    static void terminateBounded(TelegramSession& session, bool logOut) noexcept;

    const ConfigurationSource configuration_;
    const std::shared_ptr<SecretStore> secrets_;
    const std::shared_ptr<TelegramLoginPresenter> presenter_;
    /// The client factory, loaded by the first caller (a worker); null when it is missing.
    std::shared_ptr<TDClientFactory> clientFactory() const { return runtime_->get(); }

    const std::shared_ptr<ClientFactoryLoader> runtime_;
    const QString baseDirectory_;
    const TelegramTimeLimits limits_;
    const Clock clock_;
    SessionRegistry registry_;

    mutable std::mutex signInMutex_;
    /// Sign-ins in progress by session id (closeAllSessions() closes them too).
    QHash<QString, std::shared_ptr<TelegramSession>> signingIn_;
};

} // namespace tw
