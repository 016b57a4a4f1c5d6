#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "TelegramProvider/TDLib/TDObject.h"

#include <QDateTime>
#include <QUuid>

#include <optional>
#include <utility>

namespace tw {

/// TDLib's handles of one listed file, cached per item id by the session.
struct TelegramFileHandles {
    qint64 chatID = 0;
    qint64 messageID = 0;
    /// TDLib's local file id of the attachment (valid for this TDLib instance only).
    qint64 fileID = 0;
    std::optional<qint64> thumbnailFileID;
    /// Bytes of the attachment, 0 when TDLib gives none.
    qint64 size = 0;

    bool operator==(const TelegramFileHandles&) const = default;
};

/// One entry of the chat directory.
struct TelegramChat {
    enum class Kind { ownedChannel, channel, group, privateChat };

    qint64 id = 0;
    QString title;
    Kind kind = Kind::privateChat;

    bool operator==(const TelegramChat&) const = default;
};

/// Item ids of the Telegram back end: no id is the root (Saved Messages); "m:<chat>:<message>"
/// a file; "c:<chat>" a channel the user owns, shown as a folder; "r:<chat>" any other chat,
/// read-only; "g:channels", "g:groups", "g:chats" the three groups of other chats.
namespace TelegramIDs {
inline const QString ownedPrefix = QStringLiteral("c:");
inline const QString readOnlyPrefix = QStringLiteral("r:");
inline const QString groupPrefix = QStringLiteral("g:");
inline const QString channelsGroup = QStringLiteral("g:channels");
inline const QString groupsGroup = QStringLiteral("g:groups");
inline const QString chatsGroup = QStringLiteral("g:chats");
/// The chat id of a "c:" or "r:" id with the given prefix.
std::optional<qint64> chatID(const QString& id, const QString& prefix);
} // namespace TelegramIDs

/// The mapping of TDLib messages onto files, and the file-id grammar.
namespace TelegramMapper {

/// The file item and handles of a media message; nullopt for a message that is not a file.
std::optional<std::pair<FileItem, TelegramFileHandles>>
item(const TDObject& message, const QUuid& accountID, const std::optional<QString>& parentID);
/// "m:" chat ":" message.
QString fileID(qint64 chatID, qint64 messageID);
/// (chat, message) of a file id, or nullopt.
std::optional<std::pair<qint64, qint64>> messageRef(const QString& id);
/// The name of an unnamed attachment, e.g. "Photo 2024-03-05 091502.jpg".
QString defaultName(const QString& contentType, const QString& mimeType, const QDateTime& date);

} // namespace TelegramMapper

} // namespace tw
