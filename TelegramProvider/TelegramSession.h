#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "TelegramProvider/TDLib/TDClient.h"
#include "TelegramProvider/TelegramConfiguration.h"
#include "TelegramProvider/TelegramMapper.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <variant>

namespace tw {

/// How long the Telegram back end waits for TDLib where a wait must end by itself.
struct TelegramTimeLimits {
    /// "close" and the closing states that follow it.
    std::chrono::milliseconds close{5000};
    /// "logOut" and the states that follow it, before falling back to "close".
    std::chrono::milliseconds logOut{15000};
    /// Catching up with updates already received (a local hand-over between threads).
    std::chrono::milliseconds settle{5000};
};

/// What setTdlibParameters tells TDLib about this device.
struct TelegramDeviceInfo {
    QString systemLanguageCode;
    QString deviceModel;
    QString systemVersion;
    QString applicationVersion;

    /// "Linux", the PRETTY_NAME of /etc/os-release, the locale's language ("en" when it has
    /// none) and the application's version ("1.0" when it has none).
    static TelegramDeviceInfo current();
};

/// One TDLib instance bound to one Telegram login: its client, its folder (database in "db",
/// files in "files"), its database key and the API credentials. It follows TDLib's
/// authorization state, parks callers until a state or a send outcome arrives, and keeps the
/// caches that the storage operations fill. State is guarded by one mutex held only while it
/// changes; updates are handled in arrival order on the session's own thread.
///
/// A session ends by terminate(), by its client's update stream closing, or when TDLib closes
/// the instance by itself (authorizationStateClosed outside terminate(): a log-out from
/// another device), which also shuts the client down.
/// Once the session has ended every
/// parked caller is released: authorization waits with "authorizationStateClosed", send waits
/// with StorageError cancelled; later waits return or throw at once.
class TelegramSession : public std::enable_shared_from_this<TelegramSession> {
public:
    using FileObserver = std::function<void(const TDObject& file)>;

    TelegramSession(std::shared_ptr<TDClient> client, QString directory, QByteArray databaseKey,
                    TelegramConfiguration configuration, TelegramTimeLimits limits = {},
                    TelegramDeviceInfo device = TelegramDeviceInfo::current());
    ~TelegramSession();
    TelegramSession(const TelegramSession&) = delete;
    TelegramSession& operator=(const TelegramSession&) = delete;

    const std::shared_ptr<TDClient>& client() const { return client_; }
    const QString& directory() const { return directory_; }
    const TelegramTimeLimits& limits() const { return limits_; }

    /// Starts handling the client's updates (once).
    void startListening();
    /// Starts TDLib: answers its request for parameters (creating the folder) and returns the
    /// first authorization state after that. Throws TDError for a rejected parameter set,
    /// StorageError localWriteFailed when the folder cannot be made, cancelled on stop.
    TDObject open();
    /// The current state when its type differs from `excluding` (or none is given), else the
    /// next state that differs. Honours the current task's cancellation; with a deadline,
    /// nullopt when it passes first.
    std::optional<TDObject> authorizationState(const std::optional<QString>& excluding,
                                               TDClient::Deadline deadline = std::nullopt);
    /// Waits until every update received so far has been handled (bounded by the settle
    /// limit), so that state read afterwards is not older than the last reply.
    void settle();
    /// Fetches the signed-in user ("getMe") and the Saved Messages chat; returns the user.
    TDObject loadIdentity();
    /// Closes TDLib ("logOut" ends the authorisation on Telegram's side, "close" only closes
    /// locally), waits a bounded time for "authorizationStateClosed", then shuts the client
    /// down. A rejected or hanging "logOut" falls back to "close". Honours cancellation by
    /// leaving the waits early (a "close" has been sent by then). Never throws.
    void terminate(bool logOut) noexcept;
    /// The final message of a send whose temporary message had id oldMessageID in the chat.
    /// Message ids are unique only within a chat, so outcomes and deletions are matched by
    /// both. Throws its TDError, or StorageError cancelled when the task stops or the session
    /// ends. A temporary message that TDLib deletes instead of reporting the outcome ends the
    /// wait with a TDError (400 "MESSAGE_DELETED").
    TDObject waitForSend(qint64 chatID, qint64 oldMessageID);

    bool hasEnded() const;

    /// The folder where TDLib keeps the files it downloads ("files" in the session's folder).
    QString filesDirectory() const;

    /// Counts transfers and reads in flight per TDLib file id, so that the cached copy of a
    /// file is deleted only once nobody uses it. beginFileUse waits (cancellably) while the
    /// file's copy is being deleted. endFileUse with claimDeletion returns true when this was
    /// the last use: the caller then deletes the copy and calls finishFileDeletion().
    void beginFileUse(qint64 fileID);
    bool endFileUse(qint64 fileID, bool claimDeletion = false);
    void finishFileDeletion(qint64 fileID);

    /// Observers of "updateFile" for one file id; called on the session's thread and must not
    /// block. The token removes exactly the observer it was given for.
    quint64 addFileObserver(qint64 fileID, FileObserver observer);
    void removeFileObserver(quint64 token);
    int fileObserverCount() const;

    // Caches kept for the storage operations.
    std::optional<TDObject> me() const;
    std::optional<qint64> savedChatID() const;
    QHash<qint64, QString> folders() const;
    std::optional<QDateTime> foldersLoadedAt() const;
    void setFolders(QHash<qint64, QString> folders, std::optional<QDateTime> loadedAt);
    QList<TelegramChat> chats() const;
    void setChats(QList<TelegramChat> chats);
    /// Stores a freshly scanned directory: the chats, the folder map of its owned channels and
    /// the time of the scan.
    void setDirectory(QList<TelegramChat> chats, const QDateTime& loadedAt);
    /// Puts a new or retitled owned channel into the cached directory at once (at its end),
    /// without changing the time of the last scan.
    void setFolder(qint64 chatID, const QString& title);
    std::optional<TelegramFileHandles> fileHandles(const QString& itemID) const;
    /// Remembers an item's handles; beyond maxCachedHandles items the oldest are forgotten
    /// (they are fetched again when needed).
    void setFileHandles(const QString& itemID, const TelegramFileHandles& handles);
    static constexpr int maxCachedHandles = 20'000;

private:
    struct AuthorizationWaiter {
        quint64 id;
        std::optional<QString> excluding;
        Completion<TDObject> completion;
    };
    using SendOutcome = std::variant<TDObject, TDError>;
    /// A message: its chat and its id within the chat.
    using MessageKey = std::pair<qint64, qint64>;

    void runUpdates();
    void handleUpdate(const TDObject& update);
    void finishSend(const MessageKey& oldMessage, SendOutcome outcome);
    void finishDeleted(const MessageKey& message);
    /// Marks the session ended and releases every parked caller.
    void end();
    bool waitForClosed(TDClient::Deadline deadline);

    const std::shared_ptr<TDClient> client_;
    const QString directory_;
    const QByteArray databaseKey_;
    const TelegramConfiguration configuration_;
    const TelegramTimeLimits limits_;
    const TelegramDeviceInfo device_;

    mutable std::mutex mutex_;
    std::condition_variable_any progress_;
    std::optional<TDObject> authorizationState_;
    QList<AuthorizationWaiter> authorizationWaiters_;
    quint64 nextWaiterID_ = 0;
    std::map<MessageKey, Completion<TDObject>> sendWaiters_;
    std::map<MessageKey, SendOutcome> finishedSends_;
    /// Messages deleted recently, for a send whose waiter is not registered yet (bounded).
    std::deque<MessageKey> recentlyDeleted_;
    std::map<qint64, int> fileUses_;
    std::set<qint64> fileDeletions_;
    std::condition_variable_any fileDeletionEnded_;
    std::multimap<qint64, std::pair<quint64, FileObserver>> fileObservers_;
    quint64 nextObserverToken_ = 0;
    quint64 handledUpdates_ = 0;
    bool ended_ = false;
    bool terminating_ = false;
    Completion<std::monostate> terminated_;
    std::thread updatesThread_;

    std::optional<TDObject> me_;
    std::optional<qint64> savedChatID_;
    QHash<qint64, QString> folders_;
    std::optional<QDateTime> foldersLoadedAt_;
    QList<TelegramChat> chats_;
    QHash<QString, TelegramFileHandles> handlesCache_;
    std::deque<QString> handlesOrder_; // the cache's keys, oldest first
};

} // namespace tw
