#include "TelegramProvider/TelegramSession.h"

#include "StorageCore/Concurrency/Cancellation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSysInfo>

#include <pthread.h>

#include <algorithm>

namespace tw {

namespace {

const QString stateClosed = QStringLiteral("authorizationStateClosed");
const QString stateWaitParameters = QStringLiteral("authorizationStateWaitTdlibParameters");

TDObject closedState() {
    return TDObject(stateClosed, {});
}

constexpr size_t maxRecentlyDeleted = 1024;

TDError messageDeletedError() {
    return TDError(400, QStringLiteral("MESSAGE_DELETED"));
}

QString osPrettyName() {
    QFile file(QStringLiteral("/etc/os-release"));
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines) {
            if (!line.startsWith("PRETTY_NAME="))
                continue;
            QString value = QString::fromUtf8(line.mid(12)).trimmed();
            if (value.size() >= 2 &&
                (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))) &&
                value.endsWith(value.at(0)))
                value = value.mid(1, value.size() - 2);
            if (!value.isEmpty())
                return value;
        }
    }
    return QSysInfo::prettyProductName();
}

} // namespace

TelegramDeviceInfo TelegramDeviceInfo::current() {
    TelegramDeviceInfo info;
    const QLocale::Language language = QLocale::system().language();
    info.systemLanguageCode = (language == QLocale::C || language == QLocale::AnyLanguage)
                                  ? QString()
                                  : QLocale::languageToCode(language);
    if (info.systemLanguageCode.isEmpty())
        info.systemLanguageCode = QStringLiteral("en");
    info.deviceModel = QStringLiteral("Linux");
    info.systemVersion = osPrettyName();
    info.applicationVersion = QCoreApplication::applicationVersion();
    if (info.applicationVersion.isEmpty())
        info.applicationVersion = QStringLiteral("1.0");
    return info;
}

TelegramSession::TelegramSession(std::shared_ptr<TDClient> client, QString directory,
                                 QByteArray databaseKey, TelegramConfiguration configuration,
                                 TelegramTimeLimits limits, TelegramDeviceInfo device)
    : client_(std::move(client)), directory_(std::move(directory)),
      databaseKey_(std::move(databaseKey)), configuration_(std::move(configuration)),
      limits_(limits), device_(std::move(device)) {}

TelegramSession::~TelegramSession() {
    // The updates thread holds the session only weakly and ends with the client's stream.
    if (updatesThread_.joinable())
        updatesThread_.detach();
}

void TelegramSession::startListening() {
    std::lock_guard lock(mutex_);
    if (updatesThread_.joinable() || ended_)
        return;
    std::weak_ptr<TelegramSession> weak = weak_from_this();
    std::shared_ptr<TDClient> client = client_;
    updatesThread_ = std::thread([weak, client] {
        pthread_setname_np(pthread_self(), "Tessarow.Session");
        while (auto update = client->updates().pop()) {
            if (auto session = weak.lock())
                session->handleUpdate(*update);
        }
        if (auto session = weak.lock())
            session->end();
    });
}

void TelegramSession::handleUpdate(const TDObject& update) {
    const QString type = update.type();
    QList<Completion<TDObject>> released;
    std::optional<TDObject> releasedWith;
    QList<FileObserver> observers;
    std::optional<TDObject> file;
    std::optional<std::pair<MessageKey, SendOutcome>> sendOutcome;
    QList<MessageKey> deleted;

    bool closedByTDLib = false;
    if (type == QLatin1String("updateAuthorizationState")) {
        if (const auto state = update.object(QStringLiteral("authorization_state"))) {
            std::lock_guard lock(mutex_);
            // TDLib closed the instance without being asked (a log-out from another device):
            // the session is over, not a server that fails every request.
            closedByTDLib = state->type() == stateClosed && !terminating_;
            authorizationState_ = *state;
            const QString stateType = state->type();
            for (auto it = authorizationWaiters_.begin(); it != authorizationWaiters_.end();) {
                if (!it->excluding || *it->excluding != stateType) {
                    released.append(it->completion);
                    it = authorizationWaiters_.erase(it);
                } else {
                    ++it;
                }
            }
            releasedWith = *state;
        }
    } else if (type == QLatin1String("updateFile")) {
        file = update.object(QStringLiteral("file"));
        if (file) {
            if (const auto id = file->integer(QStringLiteral("id"))) {
                std::lock_guard lock(mutex_);
                const auto range = fileObservers_.equal_range(*id);
                for (auto it = range.first; it != range.second; ++it)
                    observers.append(it->second.second);
            }
        }
    } else if (type == QLatin1String("updateMessageSendSucceeded")) {
        const auto oldID = update.integer(QStringLiteral("old_message_id"));
        const auto message = update.object(QStringLiteral("message"));
        const auto chatID = message ? message->integer(QStringLiteral("chat_id")) : std::nullopt;
        if (oldID && chatID)
            sendOutcome.emplace(MessageKey{*chatID, *oldID}, *message);
    } else if (type == QLatin1String("updateDeleteMessages")) {
        // A message being sent can disappear instead of failing (deleted elsewhere, or by
        // TDLib itself): its sender must not wait for an outcome that never comes.
        const auto chatID = update.integer(QStringLiteral("chat_id"));
        if (chatID && update.boolean(QStringLiteral("is_permanent")) &&
            !update.boolean(QStringLiteral("from_cache"))) {
            for (const qint64 id : update.integers(QStringLiteral("message_ids")))
                deleted.append(MessageKey{*chatID, id});
        }
    } else if (type == QLatin1String("updateMessageSendFailed")) {
        const auto oldID = update.integer(QStringLiteral("old_message_id"));
        const auto message = update.object(QStringLiteral("message"));
        const auto chatID = message ? message->integer(QStringLiteral("chat_id")) : std::nullopt;
        if (oldID && chatID) {
            const auto error = update.object(QStringLiteral("error"));
            sendOutcome.emplace(MessageKey{*chatID, *oldID},
                                error ? TDError::fromObject(*error)
                                      : TDError(400, QStringLiteral("SEND_FAILED")));
        }
    }

    for (auto& waiter : released)
        waiter.resolve(*releasedWith);
    for (const auto& observer : observers)
        observer(*file);
    if (sendOutcome)
        finishSend(sendOutcome->first, std::move(sendOutcome->second));
    for (const MessageKey& message : deleted)
        finishDeleted(message);

    {
        std::lock_guard lock(mutex_);
        ++handledUpdates_;
    }
    progress_.notify_all();
    if (closedByTDLib) {
        // Fails the requests in flight with reauthRequired and ends the update stream, after
        // which this thread ends the session.
        client_->shutdown();
        end();
    }
}

void TelegramSession::finishSend(const MessageKey& oldMessage, SendOutcome outcome) {
    std::optional<Completion<TDObject>> waiter;
    {
        std::lock_guard lock(mutex_);
        const auto it = sendWaiters_.find(oldMessage);
        if (it != sendWaiters_.end()) {
            waiter = it->second;
            sendWaiters_.erase(it);
        } else if (!ended_) {
            finishedSends_.insert_or_assign(oldMessage, std::move(outcome));
            return;
        } else {
            return;
        }
    }
    if (auto* message = std::get_if<TDObject>(&outcome))
        waiter->resolve(*message);
    else
        waiter->fail(std::get<TDError>(outcome));
}

void TelegramSession::finishDeleted(const MessageKey& message) {
    std::optional<Completion<TDObject>> waiter;
    {
        std::lock_guard lock(mutex_);
        const auto it = sendWaiters_.find(message);
        if (it == sendWaiters_.end()) {
            if (!ended_ && !finishedSends_.count(message)) {
                recentlyDeleted_.push_back(message);
                while (recentlyDeleted_.size() > maxRecentlyDeleted)
                    recentlyDeleted_.pop_front();
            }
            return;
        }
        waiter = it->second;
        sendWaiters_.erase(it);
    }
    waiter->fail(messageDeletedError());
}

void TelegramSession::end() {
    QList<Completion<TDObject>> authorizationWaiters;
    std::map<MessageKey, Completion<TDObject>> sendWaiters;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        authorizationState_ = closedState();
        for (auto& waiter : authorizationWaiters_)
            authorizationWaiters.append(waiter.completion);
        authorizationWaiters_.clear();
        sendWaiters.swap(sendWaiters_);
        finishedSends_.clear();
        recentlyDeleted_.clear();
    }
    progress_.notify_all();
    fileDeletionEnded_.notify_all();
    const TDObject closed = closedState();
    for (auto& waiter : authorizationWaiters)
        waiter.resolve(closed);
    for (auto& [id, waiter] : sendWaiters)
        waiter.fail(StorageError(StorageError::Code::cancelled));
}

bool TelegramSession::hasEnded() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

std::optional<TDObject> TelegramSession::authorizationState(const std::optional<QString>& excluding,
                                                            TDClient::Deadline deadline) {
    Completion<TDObject> completion;
    quint64 id = 0;
    {
        std::lock_guard lock(mutex_);
        if (authorizationState_ && (!excluding || authorizationState_->type() != *excluding))
            return authorizationState_;
        if (ended_)
            return closedState();
        id = ++nextWaiterID_;
        authorizationWaiters_.append({id, excluding, completion});
    }
    auto forget = [&] {
        std::lock_guard lock(mutex_);
        authorizationWaiters_.removeIf([id](const AuthorizationWaiter& w) { return w.id == id; });
    };
    try {
        if (!deadline)
            return completion.wait();
        auto state = completion.waitUntil(*deadline);
        if (!state)
            forget();
        return state;
    } catch (...) {
        forget();
        throw;
    }
}

void TelegramSession::settle() {
    const quint64 mark = client_->updates().pushedCount();
    std::unique_lock lock(mutex_);
    if (!updatesThread_.joinable())
        return;
    Cancellation::wait(
        progress_, lock, [&] { return ended_ || handledUpdates_ >= mark; },
        std::chrono::steady_clock::now() + limits_.settle);
}

TDObject TelegramSession::open() {
    startListening();
    const TDObject state = *authorizationState(std::nullopt);
    if (state.type() != stateWaitParameters)
        return state;

    QDir dir;
    if (!dir.mkpath(directory_))
        throw StorageError(StorageError::Code::localWriteFailed);
    // The folder holds the account's database and downloaded files: the user's alone.
    QFile::setPermissions(directory_,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const QString base = QDir(directory_).absolutePath();
    QJsonObject fields{
        {QStringLiteral("use_test_dc"), false},
        {QStringLiteral("database_directory"), base + QStringLiteral("/db")},
        {QStringLiteral("files_directory"), base + QStringLiteral("/files")},
        {QStringLiteral("database_encryption_key"), QString::fromLatin1(databaseKey_.toBase64())},
        {QStringLiteral("use_file_database"), true},
        {QStringLiteral("use_chat_info_database"), true},
        {QStringLiteral("use_message_database"), true},
        {QStringLiteral("use_secret_chats"), false},
        {QStringLiteral("api_id"), configuration_.apiID},
        {QStringLiteral("api_hash"), configuration_.apiHash},
        {QStringLiteral("system_language_code"), device_.systemLanguageCode},
        {QStringLiteral("device_model"), device_.deviceModel},
        {QStringLiteral("system_version"), device_.systemVersion},
        {QStringLiteral("application_version"), device_.applicationVersion},
    };
    client_->send(TDObject(QStringLiteral("setTdlibParameters"), fields));
    return *authorizationState(stateWaitParameters);
}

TDObject TelegramSession::loadIdentity() {
    const TDObject user = client_->send(TDObject(QStringLiteral("getMe"), {}));
    {
        std::lock_guard lock(mutex_);
        me_ = user;
    }
    const auto userID = user.integer(QStringLiteral("id"));
    if (!userID)
        throw StorageError(StorageError::Code::invalidResponse);
    const TDObject chat = client_->send(
        TDObject(QStringLiteral("createPrivateChat"),
                 {{QStringLiteral("user_id"), *userID}, {QStringLiteral("force"), false}}));
    {
        std::lock_guard lock(mutex_);
        savedChatID_ = chat.integer(QStringLiteral("id"));
    }
    return user;
}

bool TelegramSession::waitForClosed(TDClient::Deadline deadline) {
    auto state = authorizationState(std::nullopt, deadline);
    // Five state changes at most: a TDLib that never reports "closed" is shut down anyway.
    for (int changes = 0; state && state->type() != stateClosed && changes < 5; ++changes)
        state = authorizationState(state->type(), deadline);
    return state && state->type() == stateClosed;
}

void TelegramSession::terminate(bool logOut) noexcept {
    std::optional<Completion<std::monostate>> running;
    Completion<std::monostate> mine;
    {
        std::lock_guard lock(mutex_);
        if (terminating_)
            running = terminated_;
        else {
            terminating_ = true;
            terminated_ = mine;
        }
    }
    if (running) {
        // Someone else is closing this session: wait until they are done, bounded.
        try {
            running->waitFor(limits_.logOut + limits_.close);
        } catch (...) {
        }
        return;
    }

    const auto now = [] { return std::chrono::steady_clock::now(); };
    startListening();
    try {
        bool closed = hasEnded();
        if (!closed && logOut) {
            const auto deadline = now() + limits_.logOut;
            try {
                client_->send(TDObject(QStringLiteral("logOut"), {}), deadline);
                closed = waitForClosed(deadline);
            } catch (const TDError&) {
                // Rejected (TDLib refuses in some states): close instead.
            } catch (const StorageError& error) {
                if (error.isCancelled())
                    throw;
            }
        }
        if (!closed) {
            const auto deadline = now() + limits_.close;
            try {
                client_->send(TDObject(QStringLiteral("close"), {}), deadline);
            } catch (const TDError&) {
            } catch (const StorageError& error) {
                if (error.isCancelled())
                    throw;
            }
            waitForClosed(deadline);
        }
    } catch (...) {
        // Asked to stop: leave the waits, but make sure TDLib lets go of the database.
        client_->post(TDObject(QStringLiteral("close"), {}));
    }

    client_->shutdown();
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        thread.swap(updatesThread_);
    }
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
    end();
    mine.resolve(std::monostate{});
}

TDObject TelegramSession::waitForSend(qint64 chatID, qint64 oldMessageID) {
    const MessageKey key{chatID, oldMessageID};
    Completion<TDObject> completion;
    {
        std::lock_guard lock(mutex_);
        const auto it = finishedSends_.find(key);
        if (it != finishedSends_.end()) {
            SendOutcome outcome = std::move(it->second);
            finishedSends_.erase(it);
            if (auto* message = std::get_if<TDObject>(&outcome))
                return *message;
            throw std::get<TDError>(outcome);
        }
        if (ended_)
            throw StorageError(StorageError::Code::cancelled);
        const auto deleted = std::find(recentlyDeleted_.begin(), recentlyDeleted_.end(), key);
        if (deleted != recentlyDeleted_.end()) {
            recentlyDeleted_.erase(deleted);
            throw messageDeletedError();
        }
        sendWaiters_.insert_or_assign(key, completion);
    }
    try {
        return completion.wait();
    } catch (...) {
        std::lock_guard lock(mutex_);
        const auto it = sendWaiters_.find(key);
        if (it != sendWaiters_.end() && it->second == completion)
            sendWaiters_.erase(it);
        throw;
    }
}

quint64 TelegramSession::addFileObserver(qint64 fileID, FileObserver observer) {
    std::lock_guard lock(mutex_);
    const quint64 token = ++nextObserverToken_;
    fileObservers_.emplace(fileID, std::make_pair(token, std::move(observer)));
    return token;
}

void TelegramSession::removeFileObserver(quint64 token) {
    std::lock_guard lock(mutex_);
    for (auto it = fileObservers_.begin(); it != fileObservers_.end(); ++it) {
        if (it->second.first == token) {
            fileObservers_.erase(it);
            return;
        }
    }
}

QString TelegramSession::filesDirectory() const {
    return QDir(directory_).absolutePath() + QStringLiteral("/files");
}

void TelegramSession::beginFileUse(qint64 fileID) {
    std::unique_lock lock(mutex_);
    Cancellation::wait(fileDeletionEnded_, lock,
                       [&] { return ended_ || !fileDeletions_.count(fileID); });
    ++fileUses_[fileID];
}

bool TelegramSession::endFileUse(qint64 fileID, bool claimDeletion) {
    std::lock_guard lock(mutex_);
    const auto it = fileUses_.find(fileID);
    if (it != fileUses_.end() && --it->second > 0)
        return false;
    if (it != fileUses_.end())
        fileUses_.erase(it);
    if (!claimDeletion || ended_)
        return false;
    fileDeletions_.insert(fileID);
    return true;
}

void TelegramSession::finishFileDeletion(qint64 fileID) {
    {
        std::lock_guard lock(mutex_);
        fileDeletions_.erase(fileID);
    }
    fileDeletionEnded_.notify_all();
}

int TelegramSession::fileObserverCount() const {
    std::lock_guard lock(mutex_);
    return int(fileObservers_.size());
}

std::optional<TDObject> TelegramSession::me() const {
    std::lock_guard lock(mutex_);
    return me_;
}

std::optional<qint64> TelegramSession::savedChatID() const {
    std::lock_guard lock(mutex_);
    return savedChatID_;
}

QHash<qint64, QString> TelegramSession::folders() const {
    std::lock_guard lock(mutex_);
    return folders_;
}

std::optional<QDateTime> TelegramSession::foldersLoadedAt() const {
    std::lock_guard lock(mutex_);
    return foldersLoadedAt_;
}

void TelegramSession::setFolders(QHash<qint64, QString> folders,
                                 std::optional<QDateTime> loadedAt) {
    std::lock_guard lock(mutex_);
    folders_ = std::move(folders);
    foldersLoadedAt_ = std::move(loadedAt);
}

QList<TelegramChat> TelegramSession::chats() const {
    std::lock_guard lock(mutex_);
    return chats_;
}

void TelegramSession::setChats(QList<TelegramChat> chats) {
    std::lock_guard lock(mutex_);
    chats_ = std::move(chats);
}

void TelegramSession::setDirectory(QList<TelegramChat> chats, const QDateTime& loadedAt) {
    QHash<qint64, QString> folders;
    for (const TelegramChat& chat : chats) {
        if (chat.kind == TelegramChat::Kind::ownedChannel)
            folders.insert(chat.id, chat.title);
    }
    std::lock_guard lock(mutex_);
    chats_ = std::move(chats);
    folders_ = std::move(folders);
    foldersLoadedAt_ = loadedAt;
}

void TelegramSession::setFolder(qint64 chatID, const QString& title) {
    std::lock_guard lock(mutex_);
    folders_.insert(chatID, title);
    chats_.removeIf([chatID](const TelegramChat& chat) { return chat.id == chatID; });
    chats_.append(TelegramChat{chatID, title, TelegramChat::Kind::ownedChannel});
}

std::optional<TelegramFileHandles> TelegramSession::fileHandles(const QString& itemID) const {
    std::lock_guard lock(mutex_);
    const auto it = handlesCache_.constFind(itemID);
    if (it == handlesCache_.constEnd())
        return std::nullopt;
    return *it;
}

void TelegramSession::setFileHandles(const QString& itemID, const TelegramFileHandles& handles) {
    std::lock_guard lock(mutex_);
    const auto it = handlesCache_.find(itemID);
    if (it != handlesCache_.end()) {
        *it = handles;
        return;
    }
    handlesCache_.insert(itemID, handles);
    handlesOrder_.push_back(itemID);
    while (handlesOrder_.size() > size_t(maxCachedHandles)) {
        handlesCache_.remove(handlesOrder_.front());
        handlesOrder_.pop_front();
    }
}

} // namespace tw
