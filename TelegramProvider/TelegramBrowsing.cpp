// Browsing a Telegram account: the chat directory, folder listings, search, category listings,
// folder creation and the self-check's inventory.
#include "StorageCore/Concurrency/Cancellation.h"
#include "TelegramProvider/CategoryCursor.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QJsonArray>
#include <QSet>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace tw {

namespace {

const QString mainList = QStringLiteral("chatListMain");
const QString archiveList = QStringLiteral("chatListArchive");
constexpr int loadChatsLimit = 500;
constexpr int loadChatsCalls = 50;
constexpr int historyLimit = 100;
constexpr int historyPasses = 5;
constexpr int searchLimit = 50;
constexpr int inventoryRootPages = 200;

QJsonObject chatList(const QString& name) {
    return QJsonObject{{QStringLiteral("@type"), name}};
}

struct ChatGroup {
    QString id;
    QString name;
    TelegramChat::Kind kind;
};

const QList<ChatGroup>& chatGroups() {
    static const QList<ChatGroup> groups = {
        {TelegramIDs::channelsGroup, QStringLiteral("Channels"), TelegramChat::Kind::channel},
        {TelegramIDs::groupsGroup, QStringLiteral("Groups"), TelegramChat::Kind::group},
        {TelegramIDs::chatsGroup, QStringLiteral("Chats"), TelegramChat::Kind::privateChat},
    };
    return groups;
}

FileItem folderItem(const QUuid& accountID, const QString& id, const QString& name,
                    const QStringList& parents) {
    FileItem item;
    item.ref = FileRef{accountID, id};
    item.name = name;
    item.mimeType = FileItem::folderMimeType;
    item.parentIDs = parents;
    return item;
}

/// Stable, newest first; undated items last in the order found.
void sortNewestFirst(QList<FileItem>& items) {
    std::stable_sort(items.begin(), items.end(), [](const FileItem& a, const FileItem& b) {
        if (!a.modifiedAt || !b.modifiedAt)
            return a.modifiedAt.has_value() && !b.modifiedAt.has_value();
        return *a.modifiedAt > *b.modifiedAt;
    });
}

QStringList categoryFilters(FileCategory category) {
    const QString document = QStringLiteral("searchMessagesFilterDocument");
    switch (category) {
    case FileCategory::photos:
        return {QStringLiteral("searchMessagesFilterPhoto"), document};
    case FileCategory::videos:
        return {QStringLiteral("searchMessagesFilterVideo"),
                QStringLiteral("searchMessagesFilterAnimation"), document};
    case FileCategory::audio:
        return {QStringLiteral("searchMessagesFilterAudio"),
                QStringLiteral("searchMessagesFilterVoiceNote"), document};
    case FileCategory::documents:
    case FileCategory::archives:
        return {document};
    }
    return {document};
}

} // namespace

QString TelegramStorageProvider::channelTitle(const QString& name) {
    const QString trimmed = name.trimmed();
    // Whole user-perceived characters while the code points stay within the limit.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, trimmed);
    qsizetype end = 0;
    int codePoints = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        int more = 0;
        for (qsizetype i = end; i < next; ++i) {
            if (!trimmed.at(i).isLowSurrogate())
                ++more;
        }
        if (codePoints + more > maxTitleLength)
            break;
        codePoints += more;
        end = next;
    }
    // A cut can leave white space at the end; a title is stored trimmed.
    return trimmed.left(end).trimmed();
}

TDObject TelegramStorageProvider::direct(TelegramSession& session, const QString& type,
                                         QJsonObject fields) {
    return session.client()->send(TDObject(type, std::move(fields)));
}

// MARK: Directory

QList<TelegramChat> TelegramStorageProvider::directory(TelegramSession& session) {
    if (const auto loadedAt = session.foldersLoadedAt()) {
        const qint64 age = loadedAt->msecsTo(clock_());
        if (age < directoryLifetimeMs)
            return session.chats();
    }

    const std::optional<qint64> saved = session.savedChatID();
    QSet<qint64> seen;
    QList<TelegramChat> chats;
    try {
        for (const QString& list : {mainList, archiveList}) {
            for (int call = 0; call < loadChatsCalls; ++call) {
                try {
                    direct(session, QStringLiteral("loadChats"),
                           {{QStringLiteral("chat_list"), chatList(list)},
                            {QStringLiteral("limit"), loadChatsLimit}});
                } catch (const TDError& error) {
                    if (error.code() == 404)
                        break; // everything is loaded
                    throw;
                }
            }
            const TDObject ids = direct(
                session, QStringLiteral("getChats"),
                {{QStringLiteral("chat_list"), chatList(list)}, {QStringLiteral("limit"), 10000}});
            for (const qint64 id : ids.integers(QStringLiteral("chat_ids"))) {
                if ((saved && id == *saved) || seen.contains(id))
                    continue;
                seen.insert(id);
                std::optional<TDObject> chat;
                try {
                    chat = direct(session, QStringLiteral("getChat"),
                                  {{QStringLiteral("chat_id"), id}});
                } catch (const TDError&) {
                    continue; // a chat TDLib cannot show is left out
                }
                const auto type = chat->object(QStringLiteral("type"));
                if (!type)
                    continue;
                QString title = chat->string(QStringLiteral("title")).value_or(QString());
                if (title.isEmpty())
                    title = QStringLiteral("Untitled");
                const QString typeName = type->type();
                TelegramChat::Kind kind;
                if (typeName == QLatin1String("chatTypePrivate")) {
                    kind = TelegramChat::Kind::privateChat;
                } else if (typeName == QLatin1String("chatTypeBasicGroup")) {
                    kind = TelegramChat::Kind::group;
                } else if (typeName == QLatin1String("chatTypeSupergroup")) {
                    if (!type->boolean(QStringLiteral("is_channel"))) {
                        kind = TelegramChat::Kind::group;
                    } else {
                        kind = TelegramChat::Kind::channel;
                        try {
                            const TDObject supergroup = direct(
                                session, QStringLiteral("getSupergroup"),
                                {{QStringLiteral("supergroup_id"),
                                  type->integer(QStringLiteral("supergroup_id")).value_or(0)}});
                            const auto status = supergroup.object(QStringLiteral("status"));
                            if (status &&
                                status->type() == QLatin1String("chatMemberStatusCreator"))
                                kind = TelegramChat::Kind::ownedChannel;
                        } catch (const TDError&) {
                        }
                    }
                } else {
                    continue; // secret chats and anything newer
                }
                chats.append(TelegramChat{id, title, kind});
            }
        }
    } catch (const TDError& error) {
        throw error.storageError();
    }
    session.setDirectory(chats, clock_());
    return chats;
}

QHash<qint64, QString> TelegramStorageProvider::folderMap(TelegramSession& session) {
    QHash<qint64, QString> folders;
    for (const TelegramChat& chat : directory(session)) {
        if (chat.kind == TelegramChat::Kind::ownedChannel)
            folders.insert(chat.id, chat.title);
    }
    return folders;
}

bool TelegramStorageProvider::isWritableChat(TelegramSession& session, qint64 chatID) {
    const auto saved = session.savedChatID();
    if (saved && *saved == chatID)
        return true;
    return folderMap(session).contains(chatID);
}

// MARK: History and listing

TelegramStorageProvider::HistoryPage TelegramStorageProvider::history(TelegramSession& session,
                                                                      qint64 chatID, qint64 from) {
    HistoryPage page;
    QSet<qint64> seen;
    // TDLib's history starts at from_message_id itself: a continued page must not repeat the
    // last message of the page before.
    if (from != 0)
        seen.insert(from);
    for (int pass = 0; pass < historyPasses && page.messages.size() < historyLimit; ++pass) {
        const TDObject reply = request(session, QStringLiteral("getChatHistory"),
                                       {{QStringLiteral("chat_id"), chatID},
                                        {QStringLiteral("from_message_id"), from},
                                        {QStringLiteral("offset"), 0},
                                        {QStringLiteral("limit"), historyLimit},
                                        {QStringLiteral("only_local"), false}});
        qint64 last = 0;
        bool kept = false;
        for (const TDObject& message : reply.objects(QStringLiteral("messages"))) {
            const auto id = message.integer(QStringLiteral("id"));
            if (!id || seen.contains(*id))
                continue;
            seen.insert(*id);
            page.messages.append(message);
            last = *id;
            kept = true;
        }
        if (!kept) {
            page.next.reset();
            return page;
        }
        from = last;
        page.next = from;
    }
    return page;
}

QList<FileItem> TelegramStorageProvider::fileItems(TelegramSession& session,
                                                   const QList<TDObject>& messages,
                                                   const QUuid& accountID,
                                                   const std::optional<QString>& parentID) {
    QList<FileItem> items;
    items.reserve(messages.size());
    for (const TDObject& message : messages) {
        auto mapped = TelegramMapper::item(message, accountID, parentID);
        if (!mapped)
            continue;
        session.setFileHandles(mapped->first.ref.providerID, mapped->second);
        items.append(std::move(mapped->first));
    }
    return items;
}

Page TelegramStorageProvider::listFolder(const QUuid& accountID,
                                         const std::optional<QString>& parentID,
                                         const std::optional<QString>& pageToken) {
    auto session = this->session(accountID);
    const qint64 from = pageToken ? TDObject::parseDecimal(*pageToken).value_or(0) : qint64(0);
    auto filesPage = [&](qint64 chatID, QList<FileItem> items) {
        const HistoryPage history = this->history(*session, chatID, from);
        items.append(fileItems(*session, history.messages, accountID, parentID));
        Page page;
        page.items = std::move(items);
        if (history.next)
            page.nextPageToken = QString::number(*history.next);
        return page;
    };

    if (!parentID) {
        const auto saved = session->savedChatID();
        if (!saved)
            throw StorageError(StorageError::Code::reauthRequired);
        QList<FileItem> folders;
        if (!pageToken) {
            const QList<TelegramChat> chats = directory(*session);
            for (const TelegramChat& chat : chats) {
                if (chat.kind == TelegramChat::Kind::ownedChannel)
                    folders.append(folderItem(accountID,
                                              TelegramIDs::ownedPrefix + QString::number(chat.id),
                                              chat.title, {}));
            }
            for (const ChatGroup& group : chatGroups()) {
                const bool any =
                    std::any_of(chats.begin(), chats.end(),
                                [&](const TelegramChat& c) { return c.kind == group.kind; });
                if (any)
                    folders.append(folderItem(accountID, group.id, group.name, {}));
            }
        }
        return filesPage(*saved, std::move(folders));
    }

    for (const ChatGroup& group : chatGroups()) {
        if (*parentID != group.id)
            continue;
        Page page;
        for (const TelegramChat& chat : directory(*session)) {
            if (chat.kind == group.kind)
                page.items.append(folderItem(accountID,
                                             TelegramIDs::readOnlyPrefix + QString::number(chat.id),
                                             chat.title, {*parentID}));
        }
        return page;
    }

    auto chatID = TelegramIDs::chatID(*parentID, TelegramIDs::ownedPrefix);
    if (!chatID)
        chatID = TelegramIDs::chatID(*parentID, TelegramIDs::readOnlyPrefix);
    if (!chatID)
        throw StorageError(StorageError::Code::notFound);
    return filesPage(*chatID, {});
}

// MARK: Search and categories

Page TelegramStorageProvider::search(const QUuid& accountID, const QString& query,
                                     const std::optional<QString>&) {
    auto session = this->session(accountID);
    const auto saved = session->savedChatID();
    if (!saved)
        throw StorageError(StorageError::Code::reauthRequired);
    QList<std::pair<qint64, std::optional<QString>>> targets{{*saved, std::nullopt}};
    const QHash<qint64, QString> folders = folderMap(*session);
    for (auto it = folders.begin(); it != folders.end(); ++it)
        targets.append({it.key(), TelegramIDs::ownedPrefix + QString::number(it.key())});

    QList<FileItem> items;
    for (const auto& [chatID, parent] : targets) {
        const TDObject reply = request(*session, QStringLiteral("searchChatMessages"),
                                       {{QStringLiteral("chat_id"), chatID},
                                        {QStringLiteral("query"), query},
                                        {QStringLiteral("from_message_id"), 0},
                                        {QStringLiteral("offset"), 0},
                                        {QStringLiteral("limit"), searchLimit}});
        items.append(
            fileItems(*session, reply.objects(QStringLiteral("messages")), accountID, parent));
    }
    sortNewestFirst(items);
    Page page;
    page.items = std::move(items);
    return page;
}

Page TelegramStorageProvider::listCategory(const QUuid& accountID, FileCategory category,
                                           const std::optional<QString>& pageToken) {
    auto session = this->session(accountID);
    const auto saved = session->savedChatID();
    if (!saved)
        throw StorageError(StorageError::Code::reauthRequired);
    const QHash<qint64, QString> folders = folderMap(*session);

    std::optional<CategoryCursor> cursor;
    if (pageToken)
        cursor = CategoryCursor::decode(*pageToken);
    if (!cursor) {
        cursor.emplace();
        QList<qint64> chats = folders.keys();
        std::sort(chats.begin(), chats.end());
        chats.prepend(*saved);
        for (const qint64 chat : chats) {
            for (const QString& filter : categoryFilters(category))
                cursor->positions.insert(CategoryCursor::pairKey(chat, filter), 0);
        }
    }

    CategoryCursor next;
    QList<FileItem> items;
    // QMap iterates its keys in ascending text order.
    for (auto it = cursor->positions.begin(); it != cursor->positions.end(); ++it) {
        const QStringList pieces = it.key().split(QLatin1Char('|'), Qt::SkipEmptyParts);
        if (pieces.size() != 2)
            continue;
        const auto chatID = TDObject::parseDecimal(pieces[0]);
        if (!chatID)
            continue;
        const TDObject reply = request(
            *session, QStringLiteral("searchChatMessages"),
            {{QStringLiteral("chat_id"), *chatID},
             {QStringLiteral("query"), QString()},
             {QStringLiteral("from_message_id"), it.value()},
             {QStringLiteral("offset"), 0},
             {QStringLiteral("limit"), searchLimit},
             {QStringLiteral("filter"), QJsonObject{{QStringLiteral("@type"), pieces[1]}}}});
        const std::optional<QString> parent =
            *chatID == *saved
                ? std::nullopt
                : std::optional<QString>(TelegramIDs::ownedPrefix + QString::number(*chatID));
        for (const TDObject& message : reply.objects(QStringLiteral("messages"))) {
            auto mapped = TelegramMapper::item(message, accountID, parent);
            if (!mapped || mapped->first.category() != category)
                continue;
            session->setFileHandles(mapped->first.ref.providerID, mapped->second);
            items.append(std::move(mapped->first));
        }
        const qint64 continueFrom =
            reply.integer(QStringLiteral("next_from_message_id")).value_or(0);
        if (continueFrom != 0)
            next.positions.insert(it.key(), continueFrom);
    }

    QSet<QString> listed;
    QList<FileItem> unique;
    for (FileItem& item : items) {
        const QString key = item.ref.providerID;
        if (listed.contains(key))
            continue;
        listed.insert(key);
        unique.append(std::move(item));
    }
    sortNewestFirst(unique);
    Page page;
    page.items = std::move(unique);
    if (!next.positions.isEmpty())
        page.nextPageToken = next.encode();
    return page;
}

// MARK: Folders

FileItem TelegramStorageProvider::createFolder(const QUuid& accountID, const QString& name,
                                               const std::optional<QString>& parentID) {
    if (parentID)
        throw StorageError(StorageError::Code::notSupported); // folders do not nest
    const QString title = channelTitle(name);
    if (title.isEmpty())
        throw StorageError(StorageError::Code::invalidName);
    auto session = this->session(accountID);
    const TDObject chat = request(
        *session, QStringLiteral("createNewSupergroupChat"),
        {{QStringLiteral("title"), title},
         {QStringLiteral("is_forum"), false},
         {QStringLiteral("is_channel"), true},
         {QStringLiteral("description"), QStringLiteral("Kelvanor folder\n[tessarow-folder]")},
         {QStringLiteral("message_auto_delete_time"), 0},
         {QStringLiteral("for_import"), false}});
    const auto id = chat.integer(QStringLiteral("id"));
    if (!id)
        throw StorageError(StorageError::Code::invalidResponse);
    // The row shows the title the service holds (the one it answered with), as the next scan
    // of the chats will.
    const QString held = chat.string(QStringLiteral("title")).value_or(QString());
    const QString shown = held.isEmpty() ? title : held;
    session->setFolder(*id, shown);
    return folderItem(accountID, TelegramIDs::ownedPrefix + QString::number(*id), shown, {});
}

// MARK: Inventory

QMap<QString, qint64> TelegramStorageProvider::inventory(const QUuid& accountID) {
    auto session = this->session(accountID);
    QMap<QString, qint64> counts;
    for (const QString& list : {mainList, archiveList}) {
        for (int call = 0; call < loadChatsCalls; ++call) {
            try {
                direct(*session, QStringLiteral("loadChats"),
                       {{QStringLiteral("chat_list"), chatList(list)},
                        {QStringLiteral("limit"), loadChatsLimit}});
            } catch (const TDError&) {
                break;
            }
        }
        QList<qint64> ids;
        try {
            ids = direct(*session, QStringLiteral("getChats"),
                         {{QStringLiteral("chat_list"), chatList(list)},
                          {QStringLiteral("limit"), 5000}})
                      .integers(QStringLiteral("chat_ids"));
        } catch (const TDError&) {
        }
        counts.insert(QStringLiteral("chats.") + list, ids.size());
        for (const qint64 id : ids) {
            std::optional<TDObject> type;
            try {
                type =
                    direct(*session, QStringLiteral("getChat"), {{QStringLiteral("chat_id"), id}})
                        .object(QStringLiteral("type"));
            } catch (const TDError&) {
            }
            if (!type)
                continue;
            QString key = type->type();
            if (key == QLatin1String("chatTypeSupergroup")) {
                QString status = QStringLiteral("unknown");
                try {
                    const TDObject supergroup =
                        direct(*session, QStringLiteral("getSupergroup"),
                               {{QStringLiteral("supergroup_id"),
                                 type->integer(QStringLiteral("supergroup_id")).value_or(0)}});
                    if (const auto object = supergroup.object(QStringLiteral("status")))
                        status = object->type().remove(QStringLiteral("chatMemberStatus"));
                } catch (const TDError&) {
                }
                key += (type->boolean(QStringLiteral("is_channel")) ? QStringLiteral(".channel")
                                                                    : QStringLiteral(".group")) +
                       QLatin1Char('.') + status;
            }
            counts[key] += 1;
        }
    }

    const auto saved = session->savedChatID();
    if (!saved)
        return counts;
    qint64 pages = 0;
    qint64 files = 0;
    std::optional<QString> token;
    do {
        const Page page = listFolder(accountID, std::nullopt, token);
        ++pages;
        files += std::count_if(page.items.begin(), page.items.end(),
                               [](const FileItem& item) { return !item.isFolder(); });
        token = page.nextPageToken;
    } while (token && pages < inventoryRootPages);
    counts.insert(QStringLiteral("saved.pages"), pages);
    counts.insert(QStringLiteral("saved.files"), files);
    const TDObject history = request(*session, QStringLiteral("getChatHistory"),
                                     {{QStringLiteral("chat_id"), *saved},
                                      {QStringLiteral("from_message_id"), 0},
                                      {QStringLiteral("offset"), 0},
                                      {QStringLiteral("limit"), 1},
                                      {QStringLiteral("only_local"), false}});
    counts.insert(QStringLiteral("saved.totalMessagesReported"),
                  history.integer(QStringLiteral("total_count")).value_or(-1));
    return counts;
}

} // namespace tw
