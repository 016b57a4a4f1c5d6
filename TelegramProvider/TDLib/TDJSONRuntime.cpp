#include "TelegramProvider/TDLib/TDJSONRuntime.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#ifndef TW_TDJSON_INSTALL_DIR
#define TW_TDJSON_INSTALL_DIR ""
#endif
#ifndef TW_TDJSON_BESIDE_APP
#define TW_TDJSON_BESIDE_APP ""
#endif

namespace tw {

Q_LOGGING_CATEGORY(lcTDLib, "TDLib")

namespace {

std::mutex g_sharedMutex; // held for the whole load
bool g_sharedAttempted = false;
std::shared_ptr<TDJSONRuntime> g_shared;
std::optional<QString> g_loadError;
// What sharedIfLoaded() and sharedAttempted() read without waiting for a load in progress.
std::mutex g_publishedMutex;
std::shared_ptr<TDJSONRuntime> g_published;
std::atomic<bool> g_attemptStarted{false};

// Runtimes whose receive thread must end before the process's static objects are destroyed:
// TDLib destroys its client manager at exit, and a thread still inside td_receive would then
// crash. The handler runs before those destructors because it is registered after the
// library's first td_receive, which is what creates them.
std::mutex g_runningMutex;
QList<std::weak_ptr<TDJSONRuntime>> g_running;

void stopAllAtExit() {
    QList<std::weak_ptr<TDJSONRuntime>> running;
    {
        std::lock_guard lock(g_runningMutex);
        running.swap(g_running);
    }
    for (const auto& weak : running) {
        if (auto runtime = weak.lock())
            runtime->stopReceiving(2.0);
    }
}

QString dlerrorText() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace

std::shared_ptr<TDJSONRuntime> TDJSONRuntime::shared() {
    std::lock_guard lock(g_sharedMutex);
    if (!g_sharedAttempted) {
        g_sharedAttempted = true;
        g_attemptStarted.store(true, std::memory_order_release);
        LoadResult result = create(defaultCandidates());
        g_shared = std::move(result.runtime);
        g_loadError = result.error;
        if (!g_shared)
            qCWarning(lcTDLib) << "TDLib could not be loaded";
        std::lock_guard published(g_publishedMutex);
        g_published = g_shared;
    }
    return g_shared;
}

std::shared_ptr<TDJSONRuntime> TDJSONRuntime::sharedIfLoaded() {
    std::lock_guard lock(g_publishedMutex);
    return g_published;
}

bool TDJSONRuntime::sharedAttempted() {
    return g_attemptStarted.load(std::memory_order_acquire);
}

std::optional<QString> TDJSONRuntime::loadError() {
    std::lock_guard lock(g_sharedMutex);
    return g_loadError;
}

QStringList TDJSONRuntime::defaultCandidates() {
    QStringList candidates;
    // An empty value counts as unset: dlopen("") would hand back the program itself.
    const QByteArray fromEnvironment = qgetenv("TDJSON_PATH");
    if (!fromEnvironment.isEmpty())
        candidates.append(QString::fromLocal8Bit(fromEnvironment));
    // An installed application's own copy ("cmake --install"). A build tree has none there,
    // and a path that does not exist is left out so that it adds nothing to a load error.
    const QString besideApp = QStringLiteral(TW_TDJSON_BESIDE_APP);
    if (!besideApp.isEmpty()) {
        const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        if (!program.isEmpty()) {
            const QString installed =
                QDir::cleanPath(QFileInfo(program).path() + QLatin1Char('/') + besideApp +
                                QLatin1Char('/') + QLatin1String(libraryFileName));
            if (QFileInfo::exists(installed))
                candidates.append(installed);
        }
    }
    const QString installDir = QStringLiteral(TW_TDJSON_INSTALL_DIR);
    if (!installDir.isEmpty())
        candidates.append(installDir + QLatin1Char('/') + QLatin1String(libraryFileName));
    candidates.append(QLatin1String(libraryFileName));
    return candidates;
}

TDJSONRuntime::LoadResult TDJSONRuntime::create(const QStringList& candidates, double pollTimeout) {
    QStringList failures;
    void* handle = nullptr;
    QString loadedPath;
    for (const QString& candidate : candidates) {
        dlerror();
        handle = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            loadedPath = candidate;
            break;
        }
        const QString text = dlerrorText();
        if (!text.isEmpty())
            failures.append(text);
    }
    LoadResult result;
    result.error = failures.join(QLatin1String(" | "));
    if (!handle)
        return result;

    auto runtime = std::shared_ptr<TDJSONRuntime>(new TDJSONRuntime());
    runtime->path_ = loadedPath;
    runtime->handle_ = handle;
    runtime->pollTimeout_ = pollTimeout;
    QStringList missing;
    auto resolve = [&](const char* name) {
        void* symbol = dlsym(handle, name);
        if (!symbol)
            missing.append(QStringLiteral("missing symbol %1").arg(QLatin1String(name)));
        return symbol;
    };
    runtime->createClient_ = reinterpret_cast<CreateClientFn>(resolve("td_create_client_id"));
    runtime->sendRaw_ = reinterpret_cast<SendFn>(resolve("td_send"));
    runtime->receiveRaw_ = reinterpret_cast<ReceiveFn>(resolve("td_receive"));
    runtime->executeRaw_ = reinterpret_cast<ExecuteFn>(resolve("td_execute"));
    if (!missing.isEmpty()) {
        // The library stays open; without its entry points it is of no use. The missing
        // names are told so that a diagnosis does not read "could not be loaded: " alone.
        failures.append(loadedPath + QLatin1String(": ") + missing.join(QLatin1String(", ")));
        result.error = failures.join(QLatin1String(" | "));
        runtime->handle_ = nullptr;
        return result;
    }

    runtime->execute(TDObject(QStringLiteral("setLogVerbosityLevel"),
                              {{QStringLiteral("new_verbosity_level"), 0}}));

    // The thread keeps the runtime alive; it is detached, so a process that ends without
    // stopReceiving() ends cleanly.
    std::thread([runtime] {
        pthread_setname_np(pthread_self(), "Tessarow.TDLib");
        runtime->receiveLoop();
    }).detach();
    result.runtime = std::move(runtime);
    return result;
}

TDJSONRuntime::~TDJSONRuntime() = default;

std::optional<TDObject> TDJSONRuntime::execute(const TDObject& request) const {
    const QByteArray json = request.jsonData();
    const char* answer = executeRaw_(json.constData());
    if (!answer)
        return std::nullopt;
    // The text stays valid only until the next call on this thread: copy it at once.
    return TDObject::fromJson(QByteArray(answer));
}

std::optional<QString> TDJSONRuntime::version() const {
    const auto answer =
        execute(TDObject(QStringLiteral("getOption"), {{QStringLiteral("name"), "version"}}));
    if (!answer)
        return std::nullopt;
    return answer->string(QStringLiteral("value"));
}

std::shared_ptr<TDClient> TDJSONRuntime::makeClient() {
    const int id = createClient_();
    auto client = std::make_shared<TDJSONClient>(id, shared_from_this());
    {
        std::lock_guard lock(clientsMutex_);
        clients_.insert(id, client);
        openInstances_.insert(id);
    }
    // TDLib makes the instance on its first request; the answer arrives as an update.
    sendJSON(id, TDObject(QStringLiteral("getOption"), {{QStringLiteral("name"), "version"}}));
    return client;
}

void TDJSONRuntime::sendJSON(int clientID, const TDObject& object) {
    const QByteArray json = object.jsonData();
    sendRaw_(clientID, json.constData());
}

void TDJSONRuntime::removeClient(int clientID) {
    std::lock_guard lock(clientsMutex_);
    clients_.remove(clientID);
}

int TDJSONRuntime::liveClientCount() const {
    std::lock_guard lock(clientsMutex_);
    return int(clients_.size());
}

int TDJSONRuntime::openInstanceCount() const {
    std::lock_guard lock(clientsMutex_);
    return int(openInstances_.size());
}

namespace {

bool reportsClosed(const TDObject& object) {
    if (object.type() != QLatin1String("updateAuthorizationState"))
        return false;
    const auto state = object.object(QStringLiteral("authorization_state"));
    return state && state->type() == QLatin1String("authorizationStateClosed");
}

} // namespace

void TDJSONRuntime::receiveLoop() {
    bool registeredForExit = false;
    for (;;) {
        const bool stopping = stopping_.load(std::memory_order_acquire);
        if (stopping) {
            // Polling ends once every instance has closed (TDLib aborts a process that exits
            // with one still open or closing), or when the bound of the stop has passed.
            std::optional<std::chrono::steady_clock::time_point> deadline;
            {
                std::lock_guard lock(stoppedMutex_);
                deadline = stopDeadline_;
            }
            if (openInstanceCount() == 0 ||
                (deadline && std::chrono::steady_clock::now() >= *deadline))
                break;
        }
        // While stopping, short polls keep the bound of the stop.
        const char* text = receiveRaw_(stopping ? std::min(pollTimeout_, 0.05) : pollTimeout_);
        if (!registeredForExit) {
            registeredForExit = true;
            {
                std::lock_guard lock(g_runningMutex);
                g_running.append(weak_from_this());
            }
            std::atexit(stopAllAtExit);
        }
        if (!text)
            continue;
        const QByteArray copy(text);
        const auto object = TDObject::fromJson(copy);
        if (!object)
            continue;
        const auto clientID = object->integer(QStringLiteral("@client_id"));
        if (!clientID || *clientID < std::numeric_limits<qint32>::min() ||
            *clientID > std::numeric_limits<qint32>::max())
            continue;
        std::shared_ptr<TDJSONClient> client;
        {
            std::lock_guard lock(clientsMutex_);
            client = clients_.value(int(*clientID));
            // The instance's last word, whether or not its client is still listening.
            if (reportsClosed(*object))
                openInstances_.remove(int(*clientID));
        }
        // TDLib makes static objects as it goes (some only while an instance opens or closes)
        // and the process's exit destroys them in reverse order of making: the handler that
        // lets every instance close is registered again after each change of an instance's
        // state, so that it runs before the destruction of what the closing still uses.
        if (object->type() == QLatin1String("updateAuthorizationState"))
            std::atexit(stopAllAtExit);
        if (client)
            client->deliver(*object);
    }
    {
        std::lock_guard lock(stoppedMutex_);
        stopped_ = true;
    }
    stoppedCv_.notify_all();
}

bool TDJSONRuntime::stopReceiving(double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
    {
        std::lock_guard lock(stoppedMutex_);
        if (!stopDeadline_ || *stopDeadline_ < deadline)
            stopDeadline_ = deadline;
    }
    if (!stopping_.exchange(true, std::memory_order_acq_rel)) {
        // Every instance still open is asked to close, also those whose session gave up
        // waiting (their "close" may never have been sent) and sign-ins still in progress.
        QList<int> open;
        {
            std::lock_guard lock(clientsMutex_);
            open = openInstances_.values();
        }
        for (const int id : open)
            sendJSON(id, TDObject(QStringLiteral("close"), {}));
    }
    std::unique_lock lock(stoppedMutex_);
    return stoppedCv_.wait_until(lock, deadline, [this] { return stopped_; });
}

TDJSONClient::TDJSONClient(int id, std::shared_ptr<TDJSONRuntime> runtime)
    : id_(id), runtime_(std::move(runtime)) {}

TDObject TDJSONClient::send(const TDObject& request, Deadline deadline) {
    Completion<TDObject> reply;
    QString tag;
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            tag = QStringLiteral("r%1").arg(++next_);
            pending_.insert(tag, reply);
        }
    }
    if (tag.isEmpty())
        throw StorageError(StorageError::Code::reauthRequired);
    runtime_->sendJSON(id_, request.withExtra(tag));
    std::optional<TDObject> answer;
    try {
        answer = deadline ? reply.waitUntil(*deadline) : std::optional<TDObject>(reply.wait());
    } catch (const StorageError& error) {
        if (error.isCancelled())
            abandon(tag);
        throw;
    }
    if (!answer) {
        abandon(tag);
        throw StorageError(StorageError::Code::network);
    }
    if (answer->isError())
        throw TDError::fromObject(*answer);
    return *answer;
}

void TDJSONClient::post(const TDObject& request) {
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
    }
    QJsonObject fields = request.fields();
    fields.remove(QStringLiteral("@extra"));
    runtime_->sendJSON(id_, TDObject(fields));
}

void TDJSONClient::abandon(const QString& tag) {
    std::lock_guard lock(mutex_);
    pending_.remove(tag);
}

void TDJSONClient::deliver(const TDObject& object) {
    if (const auto tag = object.string(QStringLiteral("@extra"))) {
        std::optional<Completion<TDObject>> waiter;
        {
            std::lock_guard lock(mutex_);
            const auto it = pending_.find(*tag);
            if (it != pending_.end()) {
                waiter = *it;
                pending_.erase(it);
            }
        }
        if (waiter) {
            waiter->resolve(object);
            return;
        }
    }
    updates_.push(object);
}

void TDJSONClient::shutdown() {
    QList<Completion<TDObject>> waiters;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
        waiters = pending_.values();
        pending_.clear();
    }
    for (auto& waiter : waiters)
        waiter.fail(StorageError(StorageError::Code::reauthRequired));
    updates_.close();
    runtime_->removeClient(id_);
}

} // namespace tw
