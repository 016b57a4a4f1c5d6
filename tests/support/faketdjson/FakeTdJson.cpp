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
// the handlers.
#include <QDir>
#include <QFile>
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
    QByteArray key;
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
             QDir().mkpath(r.value("files_directory").toString());
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
    if (found == f.clients.end())
        return;
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

FAKE_EXPORT void td_send(int client_id, const char* request) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    QJsonObject object = QJsonDocument::fromJson(QByteArray(request)).object();
    QJsonObject logged = object;
    logged.insert("@client_id", client_id);
    f.log.append(logged);
    if (f.held.count(object.value("@type").toString())) {
        f.heldRequests.emplace_back(client_id, object);
        return;
    }
    process(f, client_id, object);
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
}

FAKE_EXPORT void fake_td_configure(const char* json) {
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (f.script.isEmpty())
        f.script = defaultScript();
    const QJsonObject changes = QJsonDocument::fromJson(QByteArray(json)).object();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        f.script.insert(it.key(), it.value());
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
