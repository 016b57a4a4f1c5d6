// Changing a Telegram account without moving bytes: renaming folder channels, moving and
// deleting file messages, and the TDLib handles of a file item.
#include "StorageCore/Domain/ProviderKind.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QJsonArray>

namespace tw {

TelegramFileHandles TelegramStorageProvider::fileHandles(const FileRef& ref,
                                                         TelegramSession& session) {
    if (const auto cached = session.fileHandles(ref.providerID))
        return *cached;
    const auto message = TelegramMapper::messageRef(ref.providerID);
    if (!message)
        throw StorageError(StorageError::Code::notSupported);
    const TDObject reply = request(session, QStringLiteral("getMessage"),
                                   {{QStringLiteral("chat_id"), message->first},
                                    {QStringLiteral("message_id"), message->second}});
    const auto mapped = TelegramMapper::item(reply, ref.accountID, std::nullopt);
    if (!mapped)
        throw StorageError(StorageError::Code::notFound);
    session.setFileHandles(ref.providerID, mapped->second);
    return mapped->second;
}

FileItem TelegramStorageProvider::rename(const FileRef& ref, const QString& newName) {
    const auto chatID = TelegramIDs::chatID(ref.providerID, TelegramIDs::ownedPrefix);
    if (!chatID)
        throw StorageError(StorageError::Code::notSupported); // only folders can be renamed
    const QString title = channelTitle(newName);
    if (title.isEmpty())
        throw StorageError(StorageError::Code::invalidName);
    auto session = this->session(ref.accountID);
    request(*session, QStringLiteral("setChatTitle"),
            {{QStringLiteral("chat_id"), *chatID}, {QStringLiteral("title"), title}});
    session->setFolder(*chatID, title);
    FileItem item;
    item.ref = FileRef{ref.accountID, TelegramIDs::ownedPrefix + QString::number(*chatID)};
    item.name = title;
    item.mimeType = FileItem::folderMimeType;
    return item;
}

FileItem TelegramStorageProvider::move(const FileRef& ref, const std::optional<QString>&,
                                       const QString& to) {
    auto session = this->session(ref.accountID);
    const TelegramFileHandles handles = fileHandles(ref, *session);
    if (!isWritableChat(*session, handles.chatID))
        throw StorageError(StorageError::Code::permissionDenied);

    qint64 destination = 0;
    std::optional<QString> parent;
    if (to == QLatin1String("saved")) {
        const auto saved = session->savedChatID();
        if (!saved)
            throw StorageError(StorageError::Code::reauthRequired);
        destination = *saved;
    } else if (const auto chatID = TelegramIDs::chatID(to, TelegramIDs::ownedPrefix);
               chatID && ProviderKinds::isWritable(ProviderKind::telegram, to)) {
        // The destination obeys the same rule as the source: only the user's own folders.
        if (!folderMap(*session).contains(*chatID))
            throw StorageError(StorageError::Code::permissionDenied);
        destination = *chatID;
        parent = to;
    } else {
        throw StorageError(StorageError::Code::permissionDenied);
    }

    const TDObject reply = request(*session, QStringLiteral("forwardMessages"),
                                   {{QStringLiteral("chat_id"), destination},
                                    {QStringLiteral("from_chat_id"), handles.chatID},
                                    {QStringLiteral("message_ids"), QJsonArray{handles.messageID}},
                                    {QStringLiteral("send_copy"), true},
                                    {QStringLiteral("remove_caption"), false}});
    const QList<TDObject> messages = reply.objects(QStringLiteral("messages"));
    if (messages.isEmpty())
        throw StorageError(StorageError::Code::invalidResponse);
    TDObject copy = messages.first();
    const auto copyID = copy.integer(QStringLiteral("id"));
    if (!copyID)
        throw StorageError(StorageError::Code::invalidResponse);
    if (copy.object(QStringLiteral("sending_state"))) {
        try {
            copy = session->waitForSend(destination, *copyID);
        } catch (const TDError& error) {
            throw error.storageError();
        }
    }

    request(*session, QStringLiteral("deleteMessages"),
            {{QStringLiteral("chat_id"), handles.chatID},
             {QStringLiteral("message_ids"), QJsonArray{handles.messageID}},
             {QStringLiteral("revoke"), true}});
    const auto mapped = TelegramMapper::item(copy, ref.accountID, parent);
    if (!mapped)
        throw StorageError(StorageError::Code::invalidResponse);
    session->setFileHandles(mapped->first.ref.providerID, mapped->second);
    return mapped->first;
}

void TelegramStorageProvider::trash(const FileRef& ref) {
    const auto message = TelegramMapper::messageRef(ref.providerID);
    if (!message)
        throw StorageError(StorageError::Code::notSupported);
    auto session = this->session(ref.accountID);
    if (!isWritableChat(*session, message->first))
        throw StorageError(StorageError::Code::permissionDenied);
    request(*session, QStringLiteral("deleteMessages"),
            {{QStringLiteral("chat_id"), message->first},
             {QStringLiteral("message_ids"), QJsonArray{message->second}},
             {QStringLiteral("revoke"), true}});
}

} // namespace tw
