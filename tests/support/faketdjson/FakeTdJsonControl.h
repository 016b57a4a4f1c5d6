#pragma once
// Test-side access to the fake libtdjson: its path, and its control functions resolved from
// the already loaded copy (dlopen with RTLD_NOLOAD), so the test drives the very instance that
// the runtime under test loaded.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <dlfcn.h>

#include <stdexcept>

namespace tw::test {

class FakeTdJson {
public:
    /// Binds to the fake loaded from path (loading it when needed).
    explicit FakeTdJson(const QString& path) {
        handle_ = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            throw std::runtime_error("fake libtdjson not loadable");
        resolve(reset_, "fake_td_reset");
        resolve(configure_, "fake_td_configure");
        resolve(push_, "fake_td_push");
        resolve(pushRaw_, "fake_td_push_raw");
        resolve(requests_, "fake_td_requests");
        resolve(hold_, "fake_td_hold");
        resolve(release_, "fake_td_release");
        resolve(failNext_, "fake_td_fail_next");
        resolve(liveClients_, "fake_td_live_clients");
        resolve(setState_, "fake_td_set_state");
        resolve(lastClient_, "fake_td_last_client");
        resolve(setDelay_, "fake_td_set_delay");
    }

    /// Forgets clients, script, holds and the request log (the database folders stay).
    void reset() const { reset_(); }
    /// Replaces top-level keys of the scripted account.
    void configure(const QJsonObject& script) const {
        configure_(QJsonDocument(script).toJson(QJsonDocument::Compact).constData());
    }
    /// Queues an object for a client (without "@client_id" when clientID < 0).
    void push(int clientID, const QJsonObject& object) const {
        push_(clientID, QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    }
    void pushRaw(const QByteArray& text) const { pushRaw_(text.constData()); }
    /// Every request received so far, each with its "@client_id"; td_execute requests carry
    /// "@execute": true.
    QJsonArray requests() const { return QJsonDocument::fromJson(QByteArray(requests_())).array(); }
    QStringList requestTypes(int clientID = -1) const {
        QStringList types;
        for (const auto& value : requests()) {
            const QJsonObject object = value.toObject();
            if (clientID < 0 || object.value(QStringLiteral("@client_id")).toInt() == clientID)
                types.append(object.value(QStringLiteral("@type")).toString());
        }
        return types;
    }
    /// Requests of this type stay unanswered until release().
    void hold(const QString& type) const { hold_(type.toUtf8().constData()); }
    void release(const QString& type) const { release_(type.toUtf8().constData()); }
    /// The next request of this type fails with the error; with thenState, TDLib first moves
    /// to that authorization state.
    void failNext(const QString& type, int code, const QString& message,
                  const QString& thenState = {}) const {
        failNext_(type.toUtf8().constData(), code, message.toUtf8().constData(),
                  thenState.toUtf8().constData());
    }
    /// Clients whose instance is not closed.
    int liveClients() const { return liveClients_(); }
    /// Moves a client to an authorization state (sends the update).
    void setState(int clientID, const QJsonObject& state) const {
        setState_(clientID, QJsonDocument(state).toJson(QJsonDocument::Compact).constData());
    }
    int lastClient() const { return lastClient_(); }
    /// Every request sent from now on is answered only after this many milliseconds, in order
    /// (benchmarks: a distant service); 0 answers at once again.
    void setDelay(int milliseconds) const { setDelay_(milliseconds); }

private:
    template <typename F> void resolve(F& fn, const char* name) {
        fn = reinterpret_cast<F>(dlsym(handle_, name));
        if (!fn)
            throw std::runtime_error(name);
    }

    void* handle_ = nullptr;
    void (*reset_)() = nullptr;
    void (*configure_)(const char*) = nullptr;
    void (*push_)(int, const char*) = nullptr;
    void (*pushRaw_)(const char*) = nullptr;
    const char* (*requests_)() = nullptr;
    void (*hold_)(const char*) = nullptr;
    void (*release_)(const char*) = nullptr;
    void (*failNext_)(const char*, int, const char*, const char*) = nullptr;
    int (*liveClients_)() = nullptr;
    void (*setState_)(int, const char*) = nullptr;
    int (*lastClient_)() = nullptr;
    void (*setDelay_)(int) = nullptr;
};

} // namespace tw::test
