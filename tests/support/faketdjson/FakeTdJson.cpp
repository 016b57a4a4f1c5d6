// A fake libtdjson: TDLib's JSON interface over a small scripted account.
//
// Every td_send is handled at once on the caller's thread (unless its type is held) and its
// answers are queued for td_receive, in the order TDLib would send them (a state update before
// the reply that caused it). Each client follows TDLib's authorization states; a database
// folder remembers its key and whether it is signed in (a marker file in "db"), so reopening a
// folder behaves like TDLib: the right key goes straight to ready, a wrong key fails with 401.
// A folder in use by a live client answers a second client with "Can't lock file".
//
// Handlers are looked up by request type in handlers(); add entries there for further
// requests. The account script (fake_td_configure) is a JSON object whose keys are read by
// the handlers. With "message_ids": "per_chat" each chat numbers its messages on its own (as
// TDLib's ids are unique only within a chat), so two chats hand out the same ids.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct ScriptedFailure {
    int code;
    QString message;
    QString thenState;
};

struct Client {
    int id = 0;
    bool started = false;
    bool closed = false;
    QJsonObject state;
    QString databaseDirectory;
    QString filesDirectory;
    QByteArray key;
};

/// A file TDLib knows: its bytes come from `source` (a local file standing for Telegram's
/// copy) or `content`; `local` is where the account keeps a local copy (empty: none).
struct FakeFile {
    QString source;
    QByteArray content;
    QString local;
    qint64 size = 0;
};

struct FakeChat {
    qint64 id = 0;
    QJsonObject info; // as scripted: title, type, status, list, fail
};

struct Fake {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::string> output;
    std::map<int, Client> clients;
    int nextClientID = 0;
    QJsonObject script;
    QJsonArray log;
    std::set<QString> held;
    std::deque<std::pair<int, QJsonObject>> heldRequests;
    std::map<QString, std::deque<ScriptedFailure>> failures;
    std::map<QString, int> locks; // database directory -> client id
    std::string requestsText;

    // The account's contents (from the script's "chats", "messages", "files", "generated").
    std::vector<FakeChat> chats;
    std::map<qint64, std::map<qint64, QJsonObject>> messages; // chat -> id -> message
    std::map<qint64, qint64> generated;                       // chat -> generated messages
    std::map<qint64, FakeFile> files;
    std::map<std::pair<int, QString>, int> loadChatsCalls;
    std::set<std::pair<qint64, qint64>> cancelledUploads; // (chat, temporary message id)
    qint64 nextMessageID = 1'000'000;
    std::map<qint64, qint64> chatMessageIDs; // chat -> last id, with "message_ids": "per_chat"
    qint64 nextFileID = 5'000'000;
    qint64 nextChatID = 7'000;
};

Fake& fake() {
    static Fake* instance = new Fake; // never destroyed: td_receive may run at exit
    return *instance;
}

QJsonObject defaultScript() {
    return QJsonObject{
        {"me", QJsonObject{{"@type", "user"},
                           {"id", 42},
                           {"first_name", "Ada"},
                           {"last_name", "Lovelace"},
                           {"usernames", QJsonObject{{"@type", "usernames"},
                                                     {"active_usernames", QJsonArray{"ada"}}}},
                           {"phone_number", "15550100"}}},
        {"code", "12345"},
        {"code_type", "authenticationCodeTypeTelegramMessage"},
        {"password", QJsonValue::Null},
        {"password_hint", ""},
        {"registration_required", false},
        {"logout", "normal"}, // normal | hang
        {"close", "normal"},  // normal | hang | endless (state changes, never closed)
    };
}

QJsonObject stateObject(const QString& type, QJsonObject fields = {}) {
    fields.insert("@type", type);
    return fields;
}

void emit(Fake& f, int clientID, QJsonObject object) {
    if (clientID >= 0)
        object.insert("@client_id", clientID);
    f.output.push_back(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
    f.cv.notify_all();
}

void reply(Fake& f, const Client& c, const QJsonObject& request, QJsonObject answer) {
    if (request.contains("@extra"))
        answer.insert("@extra", request.value("@extra"));
    emit(f, c.id, answer);
}

QJsonObject ok() {
    return QJsonObject{{"@type", "ok"}};
}

QJsonObject error(int code, const QString& message) {
    return QJsonObject{{"@type", "error"}, {"code", code}, {"message", message}};
}

QString markerPath(const Client& c) {
    return c.databaseDirectory + "/fake-td.json";
}

QJsonObject readMarker(const Client& c) {
    QFile file(markerPath(c));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeMarker(const Client& c, bool signedIn) {
    QDir().mkpath(c.databaseDirectory);
    QFile file(markerPath(c));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(QJsonDocument(QJsonObject{{"key", QString::fromLatin1(c.key.toBase64())},
                                         {"signed_in", signedIn}})
                   .toJson());
}

void setState(Fake& f, Client& c, const QJsonObject& state) {
    c.state = state;
    emit(f, c.id,
         QJsonObject{{"@type", "updateAuthorizationState"}, {"authorization_state", state}});
    const QString type = state.value("@type").toString();
    if (type == "authorizationStateReady" && !c.databaseDirectory.isEmpty())
        writeMarker(c, true);
    if (type == "authorizationStateClosed") {
        c.closed = true;
        if (!c.databaseDirectory.isEmpty() && f.locks.count(c.databaseDirectory) &&
            f.locks[c.databaseDirectory] == c.id)
            f.locks.erase(c.databaseDirectory);
    }
}

QString stateType(const Client& c) {
    return c.state.value("@type").toString();
}

using Handler = std::function<void(Fake&, Client&, const QJsonObject&)>;

void unexpected(Fake& f, Client& c, const QJsonObject& request) {
    reply(f, c, request, error(400, "Unexpected " + request.value("@type").toString()));
}

/// After the password or the code: ready, or the password step.
void afterCode(Fake& f, Client& c) {
    if (f.script.value("password").isString())
        setState(f, c,
                 stateObject("authorizationStateWaitPassword",
                             {{"password_hint", f.script.value("password_hint").toString()},
                              {"has_recovery_email_address", false}}));
    else
        setState(f, c, stateObject("authorizationStateReady"));
}

// MARK: account contents

void loadWorld(Fake& f) {
    f.chats.clear();
    for (const QJsonValue& value : f.script.value("chats").toArray()) {
        const QJsonObject chat = value.toObject();
        f.chats.push_back({chat.value("id").toInteger(), chat});
    }
    f.messages.clear();
    for (const QJsonValue& value : f.script.value("messages").toArray()) {
        const QJsonObject message = value.toObject();
        f.messages[message.value("chat_id").toInteger()][message.value("id").toInteger()] = message;
    }
    f.generated.clear();
    const QJsonObject generated = f.script.value("generated").toObject();
    for (auto it = generated.begin(); it != generated.end(); ++it)
        f.generated[it.key().toLongLong()] = it.value().toInteger();
    f.files.clear();
    const QJsonObject files = f.script.value("files").toObject();
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QJsonObject file = it.value().toObject();
        FakeFile entry;
        entry.source = file.value("source").toString();
        entry.content = file.value("content").toString().toUtf8();
        entry.local = file.value("local").toString();
        entry.size = file.contains("size")     ? file.value("size").toInteger()
                     : !entry.source.isEmpty() ? QFileInfo(entry.source).size()
                                               : entry.content.size();
        f.files[it.key().toLongLong()] = entry;
    }
    f.loadChatsCalls.clear();
    f.cancelledUploads.clear();
    f.chatMessageIDs.clear();
}

/// The id of a new message in the chat: one counter for all chats, or one per chat.
qint64 newMessageID(Fake& f, qint64 chatID) {
    if (f.script.value("message_ids").toString() == "per_chat")
        return ++f.chatMessageIDs.try_emplace(chatID, 1'000'000).first->second;
    return ++f.nextMessageID;
}

FakeChat* findChat(Fake& f, qint64 id) {
    for (auto& chat : f.chats)
        if (chat.id == id)
            return &chat;
    return nullptr;
}

int scriptInt(const Fake& f, const char* key, int fallback) {
    const QJsonValue value = f.script.value(key);
    return value.isDouble() ? value.toInt() : fallback;
}

QJsonObject fileObject(qint64 id, const FakeFile& file, qint64 downloaded = -1,
                       qint64 uploaded = -1) {
    const bool local = !file.local.isEmpty() && QFileInfo::exists(file.local);
    return QJsonObject{
        {"@type", "file"},
        {"id", id},
        {"size", file.size},
        {"expected_size", file.size},
        {"local", QJsonObject{{"@type", "localFile"},
                              {"path", local ? file.local : QString()},
                              {"is_downloading_completed", local},
                              {"downloaded_size", downloaded >= 0 ? downloaded
                                                  : local         ? file.size
                                                                  : 0}}},
        {"remote", QJsonObject{{"@type", "remoteFile"},
                               {"id", QString("remote-%1").arg(id)},
                               {"uploaded_size", uploaded >= 0 ? uploaded : file.size}}}};
}

/// A generated document message (benchmarks: long histories without a script of each).
QJsonObject generatedMessage(qint64 chatID, qint64 id) {
    const qint64 fileID = 900'000'000 + id;
    return QJsonObject{
        {"@type", "message"},
        {"id", id},
        {"chat_id", chatID},
        {"date", 1'700'000'000 + id},
        {"content",
         QJsonObject{
             {"@type", "messageDocument"},
             {"document", QJsonObject{{"@type", "document"},
                                      {"file_name", QString("file-%1.pdf").arg(id)},
                                      {"mime_type", "application/pdf"},
                                      {"document", QJsonObject{{"@type", "file"},
                                                               {"id", fileID},
                                                               {"size", 1000 + id},
                                                               {"expected_size", 1000 + id}}}}}}}};
}

QString contentType(const QJsonObject& message) {
    return message.value("content").toObject().value("@type").toString();
}

QString fileNameOf(const QJsonObject& message) {
    const QJsonObject content = message.value("content").toObject();
    for (const char* key : {"document", "video", "audio", "animation"}) {
        const QJsonObject media = content.value(key).toObject();
        if (media.contains("file_name"))
            return media.value("file_name").toString();
    }
    return content.value("caption").toObject().value("text").toString();
}

bool matchesFilter(const QJsonObject& message, const QString& filter) {
    static const std::map<QString, QString> contents = {
        {"searchMessagesFilterPhoto", "messagePhoto"},
        {"searchMessagesFilterDocument", "messageDocument"},
        {"searchMessagesFilterVideo", "messageVideo"},
        {"searchMessagesFilterAnimation", "messageAnimation"},
        {"searchMessagesFilterAudio", "messageAudio"},
        {"searchMessagesFilterVoiceNote", "messageVoiceNote"},
    };
    if (filter.isEmpty())
        return true;
    const auto it = contents.find(filter);
    return it != contents.end() && contentType(message) == it->second;
}

/// The file object inside a document message (the one sendMessage and uploads use).
QJsonObject withDocumentFile(QJsonObject message, const QJsonObject& file) {
    QJsonObject content = message.value("content").toObject();
    QJsonObject document = content.value("document").toObject();
    document.insert("document", file);
    content.insert("document", document);
    message.insert("content", content);
    return message;
}

/// Copies a file's bytes into the account's files folder as TDLib does when it downloads,
/// reporting progress in `steps` updates; returns the local path or empty.
QString downloadInto(Fake& f, Client& c, qint64 id, FakeFile& file) {
    if (!file.local.isEmpty() && QFileInfo::exists(file.local))
        return file.local;
    const QString dir = c.filesDirectory + "/documents";
    QDir().mkpath(dir);
    const QString path = dir + QString("/file_%1").arg(id);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    const int steps = std::max(1, scriptInt(f, "download_steps", 2));
    qint64 written = 0;
    int reported = 0;
    auto report = [&] {
        while (reported < steps && written >= file.size * (reported + 1) / steps) {
            ++reported;
            emit(f, c.id,
                 QJsonObject{{"@type", "updateFile"},
                             {"file", fileObject(id, file, file.size * reported / steps)}});
        }
    };
    if (!file.source.isEmpty()) {
        QFile in(file.source);
        if (!in.open(QIODevice::ReadOnly))
            return {};
        QByteArray buffer;
        while (!(buffer = in.read(4 << 20)).isEmpty()) {
            out.write(buffer);
            written += buffer.size();
            report();
        }
    } else {
        out.write(file.content);
        written = file.content.size();
        report();
    }
    out.close();
    file.local = path;
    return path;
}

/// An upload in progress: copies the local file into the fake's remote store (bytes really
/// move, in chunks, never held whole), reports "uploaded_size" and ends the send as scripted.
void runUpload(int clientID, qint64 chatID, qint64 temporaryID, QJsonObject temporary,
               qint64 fileID, QString path, QString remoteDir, QString mode, int steps) {
    Fake& f = fake();
    QDir().mkpath(remoteDir);
    const QString remote = remoteDir + QString("/upload_%1").arg(fileID);
    QFile in(path);
    QFile out(remote);
    const bool opened = in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly);
    const qint64 size = in.size();
    qint64 sent = 0;
    int reported = 0;
    {
        std::lock_guard lock(f.mutex);
        // An update without remote information, as TDLib sends when it starts.
        emit(f, clientID,
             QJsonObject{{"@type", "updateFile"},
                         {"file", QJsonObject{{"@type", "file"}, {"id", fileID}, {"size", size}}}});
    }
    QByteArray buffer;
    while (opened && !(buffer = in.read(4 << 20)).isEmpty()) {
        out.write(buffer);
        sent += buffer.size();
        std::lock_guard lock(f.mutex);
        if (f.cancelledUploads.count({chatID, temporaryID}))
            return;
        while (reported < steps && sent >= size * (reported + 1) / steps) {
            ++reported;
            FakeFile progress{remote, {}, path, size};
            emit(f, clientID,
                 QJsonObject{{"@type", "updateFile"},
                             {"file", fileObject(fileID, progress, -1, size * reported / steps)}});
        }
    }
    out.close();
    std::lock_guard lock(f.mutex);
    if (f.cancelledUploads.count({chatID, temporaryID}))
        return;
    if (mode == "fail") {
        emit(f, clientID,
             QJsonObject{{"@type", "updateMessageSendFailed"},
                         {"message", temporary},
                         {"old_message_id", temporaryID},
                         {"error", QJsonObject{{"@type", "error"},
                                               {"code", 400},
                                               {"message", "FILE_PARTS_INVALID"}}}});
    } else if (mode == "delete") {
        emit(f, clientID,
             QJsonObject{{"@type", "updateDeleteMessages"},
                         {"chat_id", chatID},
                         {"message_ids", QJsonArray{temporaryID}},
                         {"is_permanent", true},
                         {"from_cache", false}});
    } else if (mode == "succeed") {
        // TDLib keeps reporting the uploaded file at the path it was sent from.
        FakeFile stored{remote, {}, path, size};
        f.files[fileID] = stored;
        QJsonObject final = withDocumentFile(temporary, fileObject(fileID, stored));
        final.remove("sending_state");
        const qint64 finalID = newMessageID(f, chatID);
        final.insert("id", finalID);
        f.messages[chatID][finalID] = final;
        emit(f, clientID,
             QJsonObject{{"@type", "updateMessageSendSucceeded"},
                         {"message", final},
                         {"old_message_id", temporaryID}});
    }
}

const std::map<QString, Handler>& handlers();

const std::map<QString, Handler>& handlers() {
    static const std::map<QString, Handler> table = {
        {"getOption",
         [](Fake& f, Client& c, const QJsonObject& r) {
             reply(f, c, r, QJsonObject{{"@type", "optionValueString"}, {"value", "fake-tdjson"}});
         }},
        {"setTdlibParameters",
         [](Fake& f, Client& c, const QJsonObject& r) {
             if (stateType(c) != "authorizationStateWaitTdlibParameters")
                 return unexpected(f, c, r);
             const QString dir = r.value("database_directory").toString();
             const auto lock = f.locks.find(dir);
             if (lock != f.locks.end() && lock->second != c.id)
                 return reply(f, c, r,
                              error(400, "Can't lock file \"" + dir +
                                             "/td.binlog\", because it is already in use"));
             c.databaseDirectory = dir;
             c.key =
                 QByteArray::fromBase64(r.value("database_encryption_key").toString().toLatin1());
             const QJsonObject marker = readMarker(c);
             if (!marker.isEmpty() &&
                 QByteArray::fromBase64(marker.value("key").toString().toLatin1()) != c.key) {
                 c.databaseDirectory.clear();
                 return reply(f, c, r, error(401, "Wrong database encryption key"));
             }
             c.filesDirectory = r.value("files_directory").toString();
             QDir().mkpath(c.filesDirectory);
             if (marker.isEmpty())
                 writeMarker(c, false);
             f.locks[dir] = c.id;
             setState(f, c,
                      marker.value("signed_in").toBool()
                          ? stateObject("authorizationStateReady")
                          : stateObject("authorizationStateWaitPhoneNumber"));
             reply(f, c, r, ok());
         }},
        {"setAuthenticationPhoneNumber",
         [](Fake& f, Client& c, const QJsonObject& r) {
             if (stateType(c) != "authorizationStateWaitPhoneNumber")
                 return unexpected(f, c, r);
             if (f.script.value("registration_required").toBool())
                 setState(f, c, stateObject("authorizationStateWaitRegistration"));
             else
                 setState(
                     f, c,
                     stateObject(
                         "authorizationStateWaitCode",
                         {{"code_info",
                           QJsonObject{
                               {"@type", "authenticationCodeInfo"},
                               {"phone_number", r.value("phone_number")},
                               {"type", QJsonObject{{"@type", f.script.value("code_type")}}}}}}));
             reply(f, c, r, ok());
         }},
        {"checkAuthenticationCode",
         [](Fake& f, Client& c, const QJsonObject& r) {
             if (stateType(c) != "authorizationStateWaitCode")
                 return unexpected(f, c, r);
             if (r.value("code").toString() != f.script.value("code").toString())
                 return reply(f, c, r, error(400, "PHONE_CODE_INVALID"));
             afterCode(f, c);
             reply(f, c, r, ok());
         }},
        {"checkAuthenticationPassword",
         [](Fake& f, Client& c, const QJsonObject& r) {
             if (stateType(c) != "authorizationStateWaitPassword")
                 return unexpected(f, c, r);
             if (r.value("password").toString() != f.script.value("password").toString())
                 return reply(f, c, r, error(400, "PASSWORD_HASH_INVALID"));
             setState(f, c, stateObject("authorizationStateReady"));
             reply(f, c, r, ok());
         }},
        {"getMe",
         [](Fake& f, Client& c, const QJsonObject& r) {
             if (stateType(c) != "authorizationStateReady")
                 return reply(f, c, r, error(401, "Unauthorized"));
             reply(f, c, r, f.script.value("me").toObject());
         }},
        {"createPrivateChat",
         [](Fake& f, Client& c, const QJsonObject& r) {
             reply(f, c, r,
                   QJsonObject{{"@type", "chat"},
                               {"id", r.value("user_id")},
                               {"title", f.script.value("me").toObject().value("first_name")}});
         }},
        {"loadChats",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const QString list = r.value("chat_list").toObject().value("@type").toString();
             int& calls = f.loadChatsCalls[{c.id, list}];
             if (calls++ < scriptInt(f, "load_chats_ok", 1))
                 return reply(f, c, r, ok());
             reply(f, c, r, error(404, "Not Found"));
         }},
        {"getChats",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const QString list = r.value("chat_list").toObject().value("@type").toString();
             QJsonArray ids;
             for (const auto& chat : f.chats) {
                 const QString chatList = chat.info.value("list").toString("chatListMain");
                 if (chatList == list && ids.size() < r.value("limit").toInt())
                     ids.append(chat.id);
             }
             for (const QJsonValue& extra : f.script.value("extra_chat_ids").toArray())
                 if (list == "chatListMain")
                     ids.append(extra);
             reply(f, c, r,
                   QJsonObject{{"@type", "chats"}, {"total_count", ids.size()}, {"chat_ids", ids}});
         }},
        {"getChat",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const FakeChat* chat = findChat(f, r.value("chat_id").toInteger());
             if (!chat || chat->info.value("fail").toBool())
                 return reply(f, c, r, error(400, "Chat not found"));
             QJsonObject answer{{"@type", "chat"}, {"id", chat->id}};
             if (chat->info.contains("title"))
                 answer.insert("title", chat->info.value("title"));
             if (chat->info.contains("type"))
                 answer.insert("type", chat->info.value("type"));
             reply(f, c, r, answer);
         }},
        {"getSupergroup",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 id = r.value("supergroup_id").toInteger();
             for (const auto& chat : f.chats) {
                 const QJsonObject type = chat.info.value("type").toObject();
                 if (type.value("supergroup_id").toInteger() != id)
                     continue;
                 if (chat.info.value("supergroup_fails").toBool())
                     break;
                 QJsonObject answer{{"@type", "supergroup"}, {"id", id}};
                 if (chat.info.contains("status"))
                     answer.insert("status", QJsonObject{{"@type", chat.info.value("status")}});
                 return reply(f, c, r, answer);
             }
             reply(f, c, r, error(400, "Supergroup not found"));
         }},
        {"getChatHistory",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 chatID = r.value("chat_id").toInteger();
             const qint64 from = r.value("from_message_id").toInteger();
             const int limit =
                 std::min(r.value("limit").toInt(), scriptInt(f, "history_batch", 100));
             QJsonArray messages;
             qint64 total = 0;
             if (const auto generated = f.generated.find(chatID); generated != f.generated.end()) {
                 total = generated->second;
                 // Like TDLib, the history starts at from_message_id itself.
                 qint64 id = from == 0 ? total : std::min(from, total);
                 for (; id >= 1 && messages.size() < limit; --id)
                     messages.append(generatedMessage(chatID, id));
             } else {
                 const auto& chat = f.messages[chatID];
                 total = qint64(chat.size());
                 for (auto it = chat.rbegin(); it != chat.rend() && messages.size() < limit; ++it)
                     if (from == 0 || it->first <= from)
                         messages.append(it->second);
             }
             reply(f, c, r,
                   QJsonObject{
                       {"@type", "messages"}, {"total_count", total}, {"messages", messages}});
         }},
        {"searchChatMessages",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 chatID = r.value("chat_id").toInteger();
             const qint64 from = r.value("from_message_id").toInteger();
             const QString query = r.value("query").toString();
             const QString filter = r.value("filter").toObject().value("@type").toString();
             const int limit = r.value("limit").toInt();
             QJsonArray found;
             qint64 next = 0;
             const auto& chat = f.messages[chatID];
             for (auto it = chat.rbegin(); it != chat.rend(); ++it) {
                 if (from != 0 && it->first >= from)
                     continue;
                 if (!matchesFilter(it->second, filter))
                     continue;
                 if (!query.isEmpty() &&
                     !fileNameOf(it->second).contains(query, Qt::CaseInsensitive))
                     continue;
                 if (found.size() == limit) {
                     next = found.last().toObject().value("id").toInteger();
                     break;
                 }
                 found.append(it->second);
             }
             reply(f, c, r,
                   QJsonObject{{"@type", "foundChatMessages"},
                               {"total_count", found.size()},
                               {"messages", found},
                               {"next_from_message_id", next}});
         }},
        {"createNewSupergroupChat",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 id = -1'000'000'000'000 - ++f.nextChatID;
             QJsonObject info{{"id", id},
                              {"title", r.value("title")},
                              {"description", r.value("description")},
                              {"type", QJsonObject{{"@type", "chatTypeSupergroup"},
                                                   {"supergroup_id", f.nextChatID},
                                                   {"is_channel", r.value("is_channel")}}},
                              {"status", "chatMemberStatusCreator"}};
             f.chats.push_back({id, info});
             reply(f, c, r,
                   QJsonObject{{"@type", "chat"}, {"id", id}, {"title", r.value("title")}});
         }},
        {"setChatTitle",
         [](Fake& f, Client& c, const QJsonObject& r) {
             FakeChat* chat = findChat(f, r.value("chat_id").toInteger());
             if (!chat)
                 return reply(f, c, r, error(400, "Chat not found"));
             chat->info.insert("title", r.value("title"));
             reply(f, c, r, ok());
         }},
        {"getMessage",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 chatID = r.value("chat_id").toInteger();
             const qint64 id = r.value("message_id").toInteger();
             const auto chat = f.messages.find(chatID);
             if (chat != f.messages.end() && chat->second.count(id))
                 return reply(f, c, r, chat->second.at(id));
             reply(f, c, r, error(404, "Not Found"));
         }},
        {"forwardMessages",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 to = r.value("chat_id").toInteger();
             const qint64 from = r.value("from_chat_id").toInteger();
             const qint64 id = r.value("message_ids").toArray().first().toInteger();
             const auto source = f.messages.find(from);
             if (source == f.messages.end() || !source->second.count(id))
                 return reply(f, c, r,
                              QJsonObject{{"@type", "messages"},
                                          {"total_count", 1},
                                          {"messages", QJsonArray{QJsonValue()}}});
             QJsonObject copy = source->second.at(id);
             copy.insert("chat_id", to);
             const qint64 copyID = newMessageID(f, to);
             copy.insert("id", copyID);
             const QString mode = f.script.value("forward").toString("immediate");
             if (mode == "immediate") {
                 f.messages[to][copyID] = copy;
                 return reply(f, c, r,
                              QJsonObject{{"@type", "messages"},
                                          {"total_count", 1},
                                          {"messages", QJsonArray{copy}}});
             }
             const qint64 temporaryID = copyID;
             QJsonObject temporary = copy;
             temporary.insert("sending_state",
                              QJsonObject{{"@type", "messageSendingStatePending"}});
             reply(f, c, r,
                   QJsonObject{{"@type", "messages"},
                               {"total_count", 1},
                               {"messages", QJsonArray{temporary}}});
             if (mode == "fail") {
                 emit(f, c.id,
                      QJsonObject{{"@type", "updateMessageSendFailed"},
                                  {"message", temporary},
                                  {"old_message_id", temporaryID},
                                  {"error", error(403, "CHAT_WRITE_FORBIDDEN")}});
                 return;
             }
             const qint64 finalID = newMessageID(f, to);
             copy.insert("id", finalID);
             f.messages[to][finalID] = copy;
             emit(f, c.id,
                  QJsonObject{{"@type", "updateMessageSendSucceeded"},
                              {"message", copy},
                              {"old_message_id", temporaryID}});
         }},
        {"deleteMessages",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 chatID = r.value("chat_id").toInteger();
             for (const QJsonValue& id : r.value("message_ids").toArray()) {
                 f.messages[chatID].erase(id.toInteger());
                 f.cancelledUploads.insert({chatID, id.toInteger()});
             }
             reply(f, c, r, ok());
         }},
        {"sendMessage",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 chatID = r.value("chat_id").toInteger();
             const QString path = r.value("input_message_content")
                                      .toObject()
                                      .value("document")
                                      .toObject()
                                      .value("path")
                                      .toString();
             if (!QFileInfo(path).isFile())
                 return reply(f, c, r, error(400, "File not found"));
             const qint64 fileID = ++f.nextFileID;
             const qint64 temporaryID = newMessageID(f, chatID);
             FakeFile sending{path, {}, path, QFileInfo(path).size()};
             f.files[fileID] = sending;
             QJsonObject temporary{
                 {"@type", "message"},
                 {"id", temporaryID},
                 {"chat_id", chatID},
                 {"date", 1'750'000'000},
                 {"sending_state", QJsonObject{{"@type", "messageSendingStatePending"}}},
                 {"content",
                  QJsonObject{
                      {"@type", "messageDocument"},
                      {"document", QJsonObject{{"@type", "document"},
                                               {"file_name", QFileInfo(path).fileName()},
                                               {"mime_type", "application/octet-stream"}}}}}};
             temporary = withDocumentFile(temporary, fileObject(fileID, sending, -1, 0));
             reply(f, c, r, temporary);
             const QString mode = f.script.value("upload").toString("succeed");
             if (mode == "hold")
                 return;
             QJsonObject start{{"@type", "upload"}, {"chat_id", chatID}, {"temporary", temporary},
                               {"file_id", fileID}, {"path", path},      {"mode", mode}};
             // A test can hold "upload" to start the transfer only when it is ready to watch.
             if (f.held.count("upload"))
                 f.heldRequests.emplace_back(c.id, start);
             else
                 handlers().at("upload")(f, c, start);
         }},
        {"upload",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const QJsonObject temporary = r.value("temporary").toObject();
             std::thread(runUpload, c.id, r.value("chat_id").toInteger(),
                         temporary.value("id").toInteger(), temporary,
                         r.value("file_id").toInteger(), r.value("path").toString(),
                         c.filesDirectory + "/../fake-remote", r.value("mode").toString(),
                         std::max(1, scriptInt(f, "upload_steps", 3)))
                 .detach();
         }},
        {"downloadFile",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const qint64 id = r.value("file_id").toInteger();
             const auto file = f.files.find(id);
             if (file == f.files.end())
                 return reply(f, c, r, error(400, "Invalid file identifier"));
             if (f.script.value("download_without_path").toBool()) {
                 FakeFile none = file->second;
                 none.local.clear();
                 return reply(f, c, r, fileObject(id, none, 0));
             }
             const QString path = downloadInto(f, c, id, file->second);
             if (path.isEmpty())
                 return reply(f, c, r, error(400, "Download failed"));
             reply(f, c, r, fileObject(id, file->second));
         }},
        {"readFilePart",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const auto file = f.files.find(r.value("file_id").toInteger());
             if (file == f.files.end() || file->second.local.isEmpty())
                 return reply(f, c, r, error(400, "File is not downloaded"));
             QFile in(file->second.local);
             if (!in.open(QIODevice::ReadOnly) || !in.seek(r.value("offset").toInteger()))
                 return reply(f, c, r, error(400, "Can't read file"));
             const QByteArray bytes = in.read(r.value("count").toInteger());
             reply(f, c, r,
                   QJsonObject{{"@type", "filePart"},
                               {"data", QString::fromLatin1(bytes.toBase64())}});
         }},
        {"cancelDownloadFile",
         [](Fake& f, Client& c, const QJsonObject& r) { reply(f, c, r, ok()); }},
        {"deleteFile",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const auto file = f.files.find(r.value("file_id").toInteger());
             if (file != f.files.end() && !file->second.local.isEmpty()) {
                 QFile::remove(file->second.local);
                 file->second.local.clear();
             }
             reply(f, c, r, ok());
         }},
        {"logOut",
         [](Fake& f, Client& c, const QJsonObject& r) {
             if (stateType(c) == "authorizationStateWaitTdlibParameters")
                 return unexpected(f, c, r);
             setState(f, c, stateObject("authorizationStateLoggingOut"));
             if (f.script.value("logout").toString() == "hang")
                 return; // offline: TDLib waits for the network, no answer
             if (!c.databaseDirectory.isEmpty())
                 writeMarker(c, false);
             reply(f, c, r, ok());
             setState(f, c, stateObject("authorizationStateClosed"));
         }},
        {"close",
         [](Fake& f, Client& c, const QJsonObject& r) {
             const QString mode = f.script.value("close").toString();
             if (mode == "hang")
                 return;
             if (mode == "endless") {
                 for (int i = 0; i < 6; ++i)
                     setState(f, c,
                              stateObject(i % 2 ? "authorizationStateLoggingOut"
                                                : "authorizationStateClosing"));
                 return reply(f, c, r, ok());
             }
             setState(f, c, stateObject("authorizationStateClosing"));
             reply(f, c, r, ok());
             setState(f, c, stateObject("authorizationStateClosed"));
         }},
    };
    return table;
}

void start(Fake& f, Client& c) {
    c.started = true;
    // The noise TDLib sends when an instance starts.
    emit(f, c.id,
         QJsonObject{{"@type", "updateOption"},
                     {"name", "version"},
                     {"value", QJsonObject{{"@type", "optionValueString"}, {"value", "fake"}}}});
    emit(f, c.id,
         QJsonObject{{"@type", "updateConnectionState"},
                     {"state", QJsonObject{{"@type", "connectionStateConnecting"}}}});
    const QJsonValue initial = f.script.value("start_state");
    setState(f, c,
             initial.isObject() ? initial.toObject()
                                : stateObject("authorizationStateWaitTdlibParameters"));
}

void process(Fake& f, int clientID, const QJsonObject& request) {
    auto found = f.clients.find(clientID);
    if (found == f.clients.end()) {
        // A client forgotten by a reset: its instance is gone, as TDLib reports a closed one.
        emit(f, clientID,
             QJsonObject{{"@type", "updateAuthorizationState"},
                         {"authorization_state", stateObject("authorizationStateClosed")}});
        return;
    }
    Client& c = found->second;
    if (!c.started)
        start(f, c);
    const QString type = request.value("@type").toString();
    if (c.closed)
        return reply(f, c, request, error(500, "Request aborted"));
    auto scripted = f.failures.find(type);
    if (scripted != f.failures.end() && !scripted->second.empty()) {
        const ScriptedFailure failure = scripted->second.front();
        scripted->second.pop_front();
        if (!failure.thenState.isEmpty())
            setState(f, c, stateObject(failure.thenState));
        return reply(f, c, request, error(failure.code, failure.message));
    }
    const auto handler = handlers().find(type);
    if (handler == handlers().end())
        return reply(f, c, request,
                     error(400, "Failed to parse JSON object as TDLib request: Unknown class \"" +
                                    type + "\""));
    handler->second(f, c, request);
}

} // namespace

FAKE_EXPORT int td_create_client_id() {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    Client c;
    c.id = ++f.nextClientID;
    f.clients[c.id] = c;
    return c.id;
}

// MARK: delayed answers (benchmarks: a distant service)

struct Delayed {
    std::mutex mutex;
    std::condition_variable cv;
    std::chrono::milliseconds delay{0};
    std::deque<std::tuple<std::chrono::steady_clock::time_point, int, QJsonObject>> queue;
    bool running = false;
};

Delayed& delayed() {
    static auto* instance = new Delayed; // never destroyed: its thread may outlive statics
    return *instance;
}

/// Hands the delayed requests over in order, each once its time has come.
void runDelayed() {
    Delayed& d = delayed();
    std::unique_lock lock(d.mutex);
    for (;;) {
        d.cv.wait(lock, [&] { return !d.queue.empty(); });
        const auto due = std::get<0>(d.queue.front());
        if (std::chrono::steady_clock::now() < due) {
            d.cv.wait_until(lock, due);
            continue;
        }
        auto [when, clientID, object] = std::move(d.queue.front());
        d.queue.pop_front();
        lock.unlock();
        {
            Fake& f = fake();
            std::lock_guard fakeLock(f.mutex);
            if (f.held.count(object.value("@type").toString()))
                f.heldRequests.emplace_back(clientID, object);
            else
                process(f, clientID, object);
        }
        lock.lock();
    }
}

FAKE_EXPORT void td_send(int client_id, const char* request) {
    Fake& f = fake();
    QJsonObject object = QJsonDocument::fromJson(QByteArray(request)).object();
    {
        Delayed& d = delayed();
        std::lock_guard lock(d.mutex);
        if (d.delay.count() > 0) {
            {
                std::lock_guard fakeLock(f.mutex);
                QJsonObject logged = object;
                logged.insert("@client_id", client_id);
                f.log.append(logged);
            }
            d.queue.emplace_back(std::chrono::steady_clock::now() + d.delay, client_id, object);
            if (!d.running) {
                d.running = true;
                std::thread(runDelayed).detach();
            }
            d.cv.notify_all();
            return;
        }
    }
    std::lock_guard lock(f.mutex);
    QJsonObject logged = object;
    logged.insert("@client_id", client_id);
    f.log.append(logged);
    if (f.held.count(object.value("@type").toString())) {
        f.heldRequests.emplace_back(client_id, object);
        return;
    }
    process(f, client_id, object);
}

/// Every request sent from now on is handled only after the delay (0: at once again).
FAKE_EXPORT void fake_td_set_delay(int milliseconds) {
    Delayed& d = delayed();
    std::lock_guard lock(d.mutex);
    d.delay = std::chrono::milliseconds(std::max(0, milliseconds));
}

FAKE_EXPORT const char* td_receive(double timeout) {
    thread_local std::string current;
    Fake& f = fake();
    std::unique_lock lock(f.mutex);
    if (!f.cv.wait_for(lock, std::chrono::duration<double>(timeout),
                       [&] { return !f.output.empty(); }))
        return nullptr;
    current = std::move(f.output.front());
    f.output.pop_front();
    return current.c_str();
}

FAKE_EXPORT const char* td_execute(const char* request) {
    thread_local std::string current;
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    QJsonObject object = QJsonDocument::fromJson(QByteArray(request)).object();
    QJsonObject logged = object;
    logged.insert("@execute", true);
    f.log.append(logged);
    const QString type = object.value("@type").toString();
    QJsonObject answer;
    if (type == "getOption" && object.value("name").toString() == "version")
        answer = QJsonObject{{"@type", "optionValueString"}, {"value", "fake-tdjson"}};
    else if (type == "setLogVerbosityLevel")
        answer = ok();
    else if (type == "getTextEntities")
        answer = QJsonObject{{"@type", "textEntities"}, {"entities", QJsonArray{}}};
    else
        answer = error(400, "The method can't be executed synchronously");
    current = QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString();
    return current.c_str();
}

// MARK: control functions for tests

FAKE_EXPORT void fake_td_reset() {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    f.output.clear();
    f.clients.clear();
    f.script = defaultScript();
    f.log = QJsonArray();
    f.held.clear();
    f.heldRequests.clear();
    f.failures.clear();
    f.locks.clear();
    loadWorld(f);
}

FAKE_EXPORT void fake_td_configure(const char* json) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (f.script.isEmpty())
        f.script = defaultScript();
    const QJsonObject changes = QJsonDocument::fromJson(QByteArray(json)).object();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        f.script.insert(it.key(), it.value());
    if (changes.contains("chats") || changes.contains("messages") || changes.contains("files") ||
        changes.contains("generated"))
        loadWorld(f);
}

FAKE_EXPORT void fake_td_push(int client_id, const char* json) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    emit(f, client_id, QJsonDocument::fromJson(QByteArray(json)).object());
}

FAKE_EXPORT void fake_td_push_raw(const char* text) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    f.output.emplace_back(text);
    f.cv.notify_all();
}

FAKE_EXPORT const char* fake_td_requests() {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    f.requestsText = QJsonDocument(f.log).toJson(QJsonDocument::Compact).toStdString();
    return f.requestsText.c_str();
}

FAKE_EXPORT void fake_td_hold(const char* type) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    f.held.insert(QString::fromUtf8(type));
}

FAKE_EXPORT void fake_td_release(const char* type) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    const QString name = QString::fromUtf8(type);
    f.held.erase(name);
    std::deque<std::pair<int, QJsonObject>> keep;
    std::deque<std::pair<int, QJsonObject>> due;
    for (auto& entry : f.heldRequests)
        (entry.second.value("@type").toString() == name ? due : keep).push_back(entry);
    f.heldRequests.swap(keep);
    for (auto& [clientID, request] : due)
        process(f, clientID, request);
}

FAKE_EXPORT void fake_td_fail_next(const char* type, int code, const char* message,
                                   const char* then_state) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    f.failures[QString::fromUtf8(type)].push_back(
        {code, QString::fromUtf8(message), QString::fromUtf8(then_state ? then_state : "")});
}

FAKE_EXPORT int fake_td_live_clients() {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    int live = 0;
    for (const auto& [id, c] : f.clients)
        live += c.started && !c.closed;
    return live;
}

FAKE_EXPORT void fake_td_set_state(int client_id, const char* json) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    auto found = f.clients.find(client_id);
    if (found == f.clients.end())
        return;
    if (!found->second.started)
        start(f, found->second);
    setState(f, found->second, QJsonDocument::fromJson(QByteArray(json)).object());
}

FAKE_EXPORT int fake_td_last_client() {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    return f.nextClientID;
}
