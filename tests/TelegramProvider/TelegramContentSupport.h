#pragma once
// Builders of the fake account's contents (chats, messages, files) and a fixture with one
// signed-in account whose Saved Messages chat is 42 (the fake's user id).

#include "tests/TelegramProvider/TelegramProviderFixture.h"

#include <QFile>
#include <QJsonArray>

namespace tw::test {

namespace content {

constexpr qint64 savedChat = 42;

inline QJsonObject chat(qint64 id, const QString& title, const QJsonObject& type,
                        const QString& status = {}, const QString& list = {}) {
    QJsonObject chat{{"id", id}, {"title", title}, {"type", type}};
    if (!status.isEmpty())
        chat.insert("status", status);
    if (!list.isEmpty())
        chat.insert("list", list);
    return chat;
}
inline QJsonObject supergroupType(qint64 supergroupID, bool channel) {
    return {
        {"@type", "chatTypeSupergroup"}, {"supergroup_id", supergroupID}, {"is_channel", channel}};
}
inline QJsonObject ownedChannel(qint64 id, const QString& title) {
    return chat(id, title, supergroupType(-id, true), "chatMemberStatusCreator");
}
inline QJsonObject channel(qint64 id, const QString& title,
                           const QString& status = "chatMemberStatusMember") {
    return chat(id, title, supergroupType(-id, true), status);
}
inline QJsonObject privateChat(qint64 id, const QString& title, const QString& list = {}) {
    return chat(id, title, {{"@type", "chatTypePrivate"}, {"user_id", id}}, {}, list);
}
inline QJsonObject basicGroup(qint64 id, const QString& title) {
    return chat(id, title, {{"@type", "chatTypeBasicGroup"}, {"basic_group_id", -id}});
}

inline QJsonObject fileObject(qint64 fileID, qint64 size) {
    return {{"@type", "file"}, {"id", fileID}, {"size", size}, {"expected_size", size}};
}

/// A document message; thumbnailID adds a thumbnail file.
inline QJsonObject document(qint64 chatID, qint64 id, const QString& name, const QString& mime,
                            qint64 fileID, qint64 size, qint64 date = 1'700'000'000,
                            std::optional<qint64> thumbnailID = std::nullopt) {
    QJsonObject media{{"@type", "document"},
                      {"file_name", name},
                      {"mime_type", mime},
                      {"document", fileObject(fileID, size)}};
    if (thumbnailID)
        media.insert("thumbnail",
                     QJsonObject{{"@type", "thumbnail"}, {"file", fileObject(*thumbnailID, 10)}});
    return {{"@type", "message"},
            {"id", id},
            {"chat_id", chatID},
            {"date", date},
            {"content", QJsonObject{{"@type", "messageDocument"}, {"document", media}}}};
}

/// A photo message: the large size is the file, the 320-pixel size its thumbnail.
inline QJsonObject photo(qint64 chatID, qint64 id, qint64 fileID, qint64 thumbnailID,
                         qint64 date = 1'700'000'000) {
    QJsonArray sizes{QJsonObject{{"width", 90}, {"photo", fileObject(fileID + 1, 10)}},
                     QJsonObject{{"width", 320}, {"photo", fileObject(thumbnailID, 100)}},
                     QJsonObject{{"width", 1280}, {"photo", fileObject(fileID, 5000)}}};
    return {{"@type", "message"},
            {"id", id},
            {"chat_id", chatID},
            {"date", date},
            {"content",
             QJsonObject{{"@type", "messagePhoto"}, {"photo", QJsonObject{{"sizes", sizes}}}}}};
}

inline QJsonObject text(qint64 chatID, qint64 id) {
    return {{"@type", "message"},
            {"id", id},
            {"chat_id", chatID},
            {"date", 1'700'000'000},
            {"content", QJsonObject{{"@type", "messageText"}}}};
}

} // namespace content

class TelegramContentTest : public TelegramProviderTest {
protected:
    void SetUp() override {
        TelegramProviderTest::SetUp();
        account = addAccount();
    }

    /// The request log's entries of one type.
    QList<QJsonObject> requestsOf(const QString& type) {
        QList<QJsonObject> found;
        for (const auto& value : fakeTd().requests()) {
            if (value.toObject().value("@type").toString() == type)
                found.append(value.toObject());
        }
        return found;
    }
    static QStringList ids(const Page& page) {
        QStringList ids;
        for (const FileItem& item : page.items)
            ids.append(item.ref.providerID);
        return ids;
    }
    StorageError errorOf(const std::function<void()>& operation) {
        try {
            operation();
        } catch (const StorageError& error) {
            return error;
        }
        ADD_FAILURE() << "no error thrown";
        return StorageError(StorageError::Code::notSupported);
    }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = temp.path() + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    static QByteArray readAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QUuid account;
};

} // namespace tw::test
