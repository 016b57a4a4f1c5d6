// The one source file that talks to libsecret. Its GLib headers use the words that Qt
// defines as keywords, so the whole project builds with QT_NO_KEYWORDS.
//
// libsecret, and GIO and GObject under it, are opened on the first keyring call (always on a
// worker), not linked: a start loads none of them before its window is drawn. Only their
// declarations are taken from the headers; every function is called through the table below.
#include "StorageCore/Security/KeychainSecretStore.h"

#include <QLoggingCategory>

#include <libsecret/secret.h>

#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcVault)

namespace {

// Every function this file calls from libsecret, GIO and GObject (GLib itself is linked: Qt
// loads it anyway).
#define TW_LIBSECRET_FUNCTIONS(X)                                                              \
    X(secret_password_lookup_binary_sync)                                                      \
    X(secret_password_store_binary_sync)                                                       \
    X(secret_password_clear_sync)                                                              \
    X(secret_value_new)                                                                        \
    X(secret_value_get)                                                                        \
    X(secret_value_unref)                                                                      \
    X(secret_service_get_sync)                                                                 \
    X(secret_service_search_sync)                                                              \
    X(secret_attributes_build)                                                                 \
    X(secret_item_get_locked)                                                                  \
    X(secret_collection_for_alias_sync)                                                        \
    X(secret_collection_get_locked)                                                            \
    X(secret_error_get_quark)                                                                  \
    X(g_dbus_error_quark)                                                                      \
    X(g_io_error_quark)                                                                        \
    X(g_object_unref)

struct LibSecret {
#define TW_LIBSECRET_MEMBER(name) decltype(&::name) name = nullptr;
    TW_LIBSECRET_FUNCTIONS(TW_LIBSECRET_MEMBER)
#undef TW_LIBSECRET_MEMBER
    QString failure; // why it could not be opened; empty when every function was found
};

/// libsecret, opened once (never closed); throws SecretStoreError (unavailable) when it
/// cannot be, for this call and every later one.
const LibSecret& lib() {
    static const LibSecret loaded = [] {
        LibSecret table;
        void* handle = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            table.failure = QString::fromLocal8Bit(dlerror());
            return table;
        }
        // dlsym looks through the library's own dependencies (GIO, GObject) too.
#define TW_LIBSECRET_RESOLVE(name)                                                             \
    table.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                   \
    if (!table.name && table.failure.isEmpty())                                                \
        table.failure = QStringLiteral("libsecret has no " #name);
        TW_LIBSECRET_FUNCTIONS(TW_LIBSECRET_RESOLVE)
#undef TW_LIBSECRET_RESOLVE
        return table;
    }();
    if (!loaded.failure.isEmpty()) {
        qCWarning(lcVault) << "no keyring library:" << loaded.failure;
        throw SecretStoreError(-1, QStringLiteral("keyring library unavailable: ") + loaded.failure,
                               SecretStoreError::Reason::unavailable);
    }
    return loaded;
}

const SecretSchema* schema() {
    static const SecretSchema value = [] {
        SecretSchema s;
        std::memset(&s, 0, sizeof s);
        s.name = "org.tessarow.Kelvanor.GenericPassword";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = "service";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "account";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return &value;
}

// libsecret's synchronous calls share one connection to the service; one call at a time
// keeps them clear of its known races. Keyring calls are rare and short.
std::mutex& callMutex() {
    static std::mutex mutex;
    return mutex;
}

std::mutex& traceMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const QString&)>& traceHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}

void trace(const QString& line) {
    std::function<void(const QString&)> hook;
    {
        std::lock_guard lock(traceMutex());
        hook = traceHook();
    }
    if (hook)
        hook(line);
}

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
struct ValueUnref {
    void operator()(SecretValue* v) const { lib().secret_value_unref(v); }
};

/// What a libsecret failure means for the user: a locked keyring, no keyring service at all
/// (nothing answers on the session bus, or there is no session bus), or another refusal.
SecretStoreError::Reason reasonOf(const GError* error) {
    if (!error)
        return SecretStoreError::Reason::failed;
    const LibSecret& secret = lib();
    if (error->domain == secret.secret_error_get_quark() && error->code == SECRET_ERROR_IS_LOCKED)
        return SecretStoreError::Reason::locked;
    if (error->domain == secret.g_dbus_error_quark() || error->domain == secret.g_io_error_quark() ||
        error->domain == G_SPAWN_ERROR)
        return SecretStoreError::Reason::unavailable;
    return SecretStoreError::Reason::failed;
}

[[noreturn]] void fail(GError* error, const char* operation,
                       std::optional<SecretStoreError::Reason> reason = std::nullopt) {
    std::unique_ptr<GError, ErrorFree> owned(error);
    const int code = error ? error->code : -1;
    const QString message = error ? QString::fromUtf8(error->message) : QStringLiteral("unknown");
    qCWarning(lcVault) << "keyring" << operation << "failed:" << code << message;
    throw SecretStoreError(
        code, QStringLiteral("keyring %1 failed: %2").arg(QString::fromLatin1(operation), message),
        reason.value_or(reasonOf(error)));
}

struct ListFree {
    void operator()(GList* list) const { g_list_free_full(list, lib().g_object_unref); }
};
struct ObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            lib().g_object_unref(object);
    }
};
struct HashUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};

static_assert(KeychainSecretStore::lockedStatus == SECRET_ERROR_IS_LOCKED);

/// Why a lookup that found nothing may not mean "no such item": the item exists in a locked
/// collection (libsecret answers a dismissed or impossible unlock prompt with "no item"), or
/// the default collection is locked, so nothing can be said about what it holds. Asks without
/// unlocking, so no prompt appears. The caller holds callMutex().
std::optional<QString> lockedReason(const QByteArray& service, const QByteArray& account) {
    const LibSecret& secret = lib();
    GError* error = nullptr;
    std::unique_ptr<SecretService, ObjectUnref> connection(
        secret.secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error));
    if (error)
        fail(error, "read");
    std::unique_ptr<GHashTable, HashUnref> attributes(
        secret.secret_attributes_build(schema(), "service", service.constData(), "account",
                                account.constData(), nullptr));
    std::unique_ptr<GList, ListFree> items(secret.secret_service_search_sync(
        connection.get(), schema(), attributes.get(), SECRET_SEARCH_ALL, nullptr, &error));
    if (error)
        fail(error, "read");
    for (GList* it = items.get(); it; it = it->next) {
        if (secret.secret_item_get_locked(static_cast<SecretItem*>(it->data)))
            return QStringLiteral("the item is in a locked collection");
    }
    if (items)
        return std::nullopt; // found unlocked: it went away after the lookup
    std::unique_ptr<SecretCollection, ObjectUnref> collection(
        secret.secret_collection_for_alias_sync(connection.get(), SECRET_COLLECTION_DEFAULT,
                                                SECRET_COLLECTION_NONE, nullptr, &error));
    if (error)
        fail(error, "read");
    if (collection && secret.secret_collection_get_locked(collection.get()))
        return QStringLiteral("the default collection is locked");
    return std::nullopt;
}

/// Whether the default collection is known to be locked (asked without unlocking; any
/// failure to ask counts as "not known"). A write refused while it is locked (its unlock
/// prompt dismissed or impossible) is a locked keyring, whatever error the prompt gave. The
/// caller holds callMutex().
bool defaultCollectionLocked() {
    const LibSecret& secret = lib();
    GError* error = nullptr;
    std::unique_ptr<SecretService, ObjectUnref> connection(
        secret.secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error));
    if (error) {
        g_error_free(error);
        return false;
    }
    std::unique_ptr<SecretCollection, ObjectUnref> collection(
        secret.secret_collection_for_alias_sync(connection.get(), SECRET_COLLECTION_DEFAULT,
                                                SECRET_COLLECTION_NONE, nullptr, &error));
    if (error) {
        g_error_free(error);
        return false;
    }
    return collection && secret.secret_collection_get_locked(collection.get());
}

/// The reason of a failed write or delete: locked when the keyring is, else as the error says.
SecretStoreError::Reason writeFailureReason(const GError* error) {
    const SecretStoreError::Reason reason = reasonOf(error);
    if (reason == SecretStoreError::Reason::failed && defaultCollectionLocked())
        return SecretStoreError::Reason::locked;
    return reason;
}

/// The library for one traced call: a library that cannot be opened ends the call's trace
/// before the failure goes to the caller.
const LibSecret& libForCall(const QString& name, const QString& operation) {
    try {
        return lib();
    } catch (const SecretStoreError&) {
        trace(QStringLiteral("end ") + operation + QLatin1Char(' ') + name +
              QStringLiteral(" \u2192 -1"));
        throw;
    }
}

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service) : service_(std::move(service)) {}

void KeychainSecretStore::setTrace(std::function<void(const QString&)> hook) {
    std::lock_guard lock(traceMutex());
    traceHook() = std::move(hook);
}

std::optional<QByteArray> KeychainSecretStore::load(const QString& key) {
    const QByteArray service = service_.toUtf8();
    const QByteArray account = key.toUtf8();
    const QString name = service_ + QLatin1Char('/') + key;
    trace(QStringLiteral("begin read ") + name);
    GError* error = nullptr;
    SecretValue* value = nullptr;
    std::optional<QString> locked;
    {
        std::lock_guard lock(callMutex());
        const LibSecret& secret = libForCall(name, QStringLiteral("read"));
        value = secret.secret_password_lookup_binary_sync(schema(), nullptr, &error, "service",
                                                          service.constData(), "account",
                                                          account.constData(), nullptr);
        if (!error && !value) {
            try {
                locked = lockedReason(service, account);
            } catch (const SecretStoreError&) {
                trace(QStringLiteral("end read ") + name + QStringLiteral(" \u2192 -1"));
                throw;
            }
        }
    }
    trace(QStringLiteral("end read ") + name + QStringLiteral(" \u2192 ") +
          QString::number(error ? error->code : locked ? lockedStatus : 0));
    if (error)
        fail(error, "read");
    if (locked) {
        qCWarning(lcVault) << "keyring read failed:" << *locked;
        throw SecretStoreError(lockedStatus, QStringLiteral("keyring read failed: ") + *locked,
                               SecretStoreError::Reason::locked);
    }
    if (!value)
        return std::nullopt;
    std::unique_ptr<SecretValue, ValueUnref> owned(value);
    gsize length = 0;
    const gchar* bytes = lib().secret_value_get(value, &length);
    return QByteArray(bytes, qsizetype(length));
}

void KeychainSecretStore::save(const QByteArray& secret, const QString& key) {
    const QByteArray service = service_.toUtf8();
    const QByteArray account = key.toUtf8();
    const QString name = service_ + QLatin1Char('/') + key;
    const QByteArray label = (QStringLiteral("Kelvanor: ") + name).toUtf8();
    trace(QStringLiteral("begin update ") + name);
    GError* error = nullptr;
    SecretStoreError::Reason reason = SecretStoreError::Reason::failed;
    {
        std::lock_guard lock(callMutex());
        const LibSecret& library = libForCall(name, QStringLiteral("update"));
        std::unique_ptr<SecretValue, ValueUnref> value(library.secret_value_new(
            secret.constData(), secret.size(), "application/octet-stream"));
        // Storing with the same attributes replaces an existing item's secret.
        library.secret_password_store_binary_sync(
            schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value.get(), nullptr, &error,
            "service", service.constData(), "account", account.constData(), nullptr);
        if (error)
            reason = writeFailureReason(error);
    }
    trace(QStringLiteral("end update ") + name + QStringLiteral(" \u2192 ") +
          QString::number(error ? error->code : 0));
    if (error)
        fail(error, "update", reason);
}

void KeychainSecretStore::remove(const QString& key) {
    const QByteArray service = service_.toUtf8();
    const QByteArray account = key.toUtf8();
    const QString name = service_ + QLatin1Char('/') + key;
    trace(QStringLiteral("begin delete ") + name);
    GError* error = nullptr;
    SecretStoreError::Reason reason = SecretStoreError::Reason::failed;
    {
        std::lock_guard lock(callMutex());
        const LibSecret& secret = libForCall(name, QStringLiteral("delete"));
        // FALSE without an error means there was nothing to delete.
        secret.secret_password_clear_sync(schema(), nullptr, &error, "service",
                                          service.constData(), "account", account.constData(),
                                          nullptr);
        if (error)
            reason = writeFailureReason(error);
    }
    trace(QStringLiteral("end delete ") + name + QStringLiteral(" \u2192 ") +
          QString::number(error ? error->code : 0));
    if (error)
        fail(error, "delete", reason);
}

} // namespace tw
