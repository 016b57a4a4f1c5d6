#include "TelegramProvider/TelegramMapper.h"

#include <QTimeZone>

namespace tw {

std::optional<qint64> TelegramIDs::chatID(const QString& id, const QString& prefix) {
    if (!id.startsWith(prefix))
        return std::nullopt;
    return TDObject::parseDecimal(id.mid(prefix.size()));
}

namespace TelegramMapper {

namespace {

struct ContentRule {
    const char* contentType;
    const char* media;
    bool hasName;
    const char* defaultMime; // nullptr: no default (empty)
    const char* fileKey;
    const char* thumbnailKey; // nullptr: no thumbnail
};

constexpr ContentRule rules[] = {
    {"messageDocument", "document", true, nullptr, "document", "thumbnail"},
    {"messageVideo", "video", true, "video/mp4", "video", "thumbnail"},
    {"messageAudio", "audio", true, "audio/mpeg", "audio", "album_cover_thumbnail"},
    {"messageAnimation", "animation", true, "video/mp4", "animation", "thumbnail"},
    {"messageVoiceNote", "voice_note", false, "audio/ogg", "voice", nullptr},
};

} // namespace

QString fileID(qint64 chatID, qint64 messageID) {
    return QStringLiteral("m:%1:%2").arg(chatID).arg(messageID);
}

std::optional<std::pair<qint64, qint64>> messageRef(const QString& id) {
    const QStringList pieces = id.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (pieces.size() != 3 || pieces[0] != QLatin1String("m"))
        return std::nullopt;
    const auto chat = TDObject::parseDecimal(pieces[1]);
    const auto message = TDObject::parseDecimal(pieces[2]);
    if (!chat || !message)
        return std::nullopt;
    return std::make_pair(*chat, *message);
}

QString defaultName(const QString& contentType, const QString& mimeType, const QDateTime& date) {
    const QString stamp =
        date.toTimeZone(QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    if (contentType == QLatin1String("messagePhoto"))
        return QStringLiteral("Photo %1.jpg").arg(stamp);
    if (contentType == QLatin1String("messageVoiceNote"))
        return QStringLiteral("Voice message %1.ogg").arg(stamp);
    if (contentType == QLatin1String("messageVideo"))
        return QStringLiteral("Video %1.mp4").arg(stamp);
    const QStringList pieces = mimeType.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString extension = pieces.isEmpty() ? QStringLiteral("bin") : pieces.last();
    return QStringLiteral("File %1.%2").arg(stamp, extension);
}

std::optional<std::pair<FileItem, TelegramFileHandles>>
item(const TDObject& message, const QUuid& accountID, const std::optional<QString>& parentID) {
    const auto chatID = message.integer(QStringLiteral("chat_id"));
    const auto messageID = message.integer(QStringLiteral("id"));
    const auto content = message.object(QStringLiteral("content"));
    if (!chatID || !messageID || !content)
        return std::nullopt;
    const qint64 seconds = std::max(message.integer(QStringLiteral("edit_date")).value_or(0),
                                    message.integer(QStringLiteral("date")).value_or(0));
    const QDateTime date = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());

    const QString contentType = content->type();
    QString name;
    QString mimeType;
    std::optional<TDObject> file;
    std::optional<TDObject> thumbnail;

    if (contentType == QLatin1String("messagePhoto")) {
        const auto photo = content->object(QStringLiteral("photo"));
        if (!photo)
            return std::nullopt;
        const QList<TDObject> sizes = photo->objects(QStringLiteral("sizes"));
        if (sizes.isEmpty())
            return std::nullopt;
        const TDObject* large = &sizes.first();
        const TDObject* small = nullptr;
        for (const TDObject& size : sizes) {
            const qint64 width = size.integer(QStringLiteral("width")).value_or(0);
            if (width > large->integer(QStringLiteral("width")).value_or(0))
                large = &size;
            if (!small && width >= 160)
                small = &size;
        }
        if (!small)
            small = &sizes.first();
        mimeType = QStringLiteral("image/jpeg");
        file = large->object(QStringLiteral("photo"));
        thumbnail = small->object(QStringLiteral("photo"));
    } else {
        const ContentRule* rule = nullptr;
        for (const ContentRule& candidate : rules) {
            if (contentType == QLatin1String(candidate.contentType))
                rule = &candidate;
        }
        if (!rule)
            return std::nullopt;
        const auto media = content->object(QLatin1String(rule->media));
        if (!media)
            return std::nullopt;
        if (rule->hasName)
            name = media->string(QStringLiteral("file_name")).value_or(QString());
        if (const auto mime = media->string(QStringLiteral("mime_type")))
            mimeType = *mime;
        else if (rule->defaultMime)
            mimeType = QLatin1String(rule->defaultMime);
        file = media->object(QLatin1String(rule->fileKey));
        if (rule->thumbnailKey) {
            if (const auto thumb = media->object(QLatin1String(rule->thumbnailKey)))
                thumbnail = thumb->object(QStringLiteral("file"));
        }
    }

    if (!file)
        return std::nullopt;
    const auto fileID = file->integer(QStringLiteral("id"));
    if (!fileID)
        return std::nullopt;
    if (name.isEmpty())
        name = defaultName(contentType, mimeType, date);
    qint64 size = file->integer(QStringLiteral("size")).value_or(0);
    if (size < 1)
        size = file->integer(QStringLiteral("expected_size")).value_or(0);

    FileItem item;
    item.ref = FileRef{accountID, TelegramMapper::fileID(*chatID, *messageID)};
    item.name = name;
    item.mimeType = mimeType.isEmpty() ? QStringLiteral("application/octet-stream") : mimeType;
    item.sizeBytes = size;
    item.modifiedAt = date;
    if (parentID)
        item.parentIDs = {*parentID};

    TelegramFileHandles handles;
    handles.chatID = *chatID;
    handles.messageID = *messageID;
    handles.fileID = *fileID;
    if (thumbnail)
        handles.thumbnailFileID = thumbnail->integer(QStringLiteral("id"));
    handles.size = size;
    return std::make_pair(item, handles);
}

} // namespace TelegramMapper
} // namespace tw
