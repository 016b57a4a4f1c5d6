#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "TelegramProvider/TDLib/TDClient.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace tw {

class TDJSONClient;

/// The process's loader of TDLib's JSON library: the library handle, the one receive thread
/// that polls TDLib for every client ("Tessarow.TDLib"), and the table of live clients.
/// Replies are matched to their requests by "@extra", everything else is routed to its
/// client's update stream by "@client_id".
class TDJSONRuntime : public TDClientFactory, public std::enable_shared_from_this<TDJSONRuntime> {
public:
    using CreateClientFn = int (*)();
    using SendFn = void (*)(int, const char*);
    using ReceiveFn = const char* (*)(double);
    using ExecuteFn = const char* (*)(const char*);

    static constexpr const char* libraryFileName = "libtdjson.so";
    static constexpr double defaultPollTimeout = 0.5;

    /// The runtime of the process, loaded from defaultCandidates() on first use; null when
    /// loading failed (then for good). The first call blocks for the load (worker threads
    /// only), concurrent ones wait for it.
    static std::shared_ptr<TDJSONRuntime> shared();
    /// shared()'s runtime once it has loaded; null before, while it loads and when it failed.
    /// Never loads and never waits (for the main thread, e.g. at quit).
    static std::shared_ptr<TDJSONRuntime> sharedIfLoaded();
    /// Whether shared() has been called yet.
    static bool sharedAttempted();
    /// The loader messages of shared()'s attempt joined by " | " (empty when the first
    /// candidate loaded); nullopt before the attempt.
    static std::optional<QString> loadError();
    /// TDJSON_PATH when set and not empty, then the copy installed with the application
    /// (TW_TDJSON_BESIDE_APP, relative to the executable's folder), then the set-up script's
    /// copy (TW_TDJSON_INSTALL_DIR), then the loader's usual places (the bare file name).
    static QStringList defaultCandidates();

    struct LoadResult {
        std::shared_ptr<TDJSONRuntime> runtime;
        QString error;
    };
    /// Loads the first candidate that opens and starts the receive thread. pollTimeout is
    /// td_receive's wait in seconds (it bounds the stop latency).
    static LoadResult create(const QStringList& candidates,
                             double pollTimeout = defaultPollTimeout);

    /// TDLib's version through td_execute; nullopt when the answer has none.
    std::optional<QString> version() const;
    /// A synchronous request through td_execute; nullopt when TDLib answers nothing usable.
    std::optional<TDObject> execute(const TDObject& request) const;
    /// A new client, woken up with a "getOption" request (its answer arrives as an update).
    std::shared_ptr<TDClient> makeClient() override;
    /// Stops the receive thread and waits up to timeoutSeconds for it to end; true when it has
    /// ended (a later call tells again whether it has, and may extend the bound). TDLib aborts
    /// a process that exits while one of its instances is open or closing, so the thread first
    /// asks every instance not yet closed to close (clients shut down included) and keeps
    /// polling until each has reported "authorizationStateClosed" or the bound has passed.
    bool stopReceiving(double timeoutSeconds);
    /// Number of clients not yet shut down.
    int liveClientCount() const;
    /// Number of TDLib instances that have not reported "authorizationStateClosed" yet, shut
    /// down clients included.
    int openInstanceCount() const;
    /// The path that was loaded.
    const QString& libraryPath() const { return path_; }

    ~TDJSONRuntime() override;

private:
    friend class TDJSONClient;
    TDJSONRuntime() = default;

    void receiveLoop();
    void sendJSON(int clientID, const TDObject& object);
    void removeClient(int clientID);

    QString path_;
    void* handle_ = nullptr;
    CreateClientFn createClient_ = nullptr;
    SendFn sendRaw_ = nullptr;
    ReceiveFn receiveRaw_ = nullptr;
    ExecuteFn executeRaw_ = nullptr;
    double pollTimeout_ = defaultPollTimeout;

    mutable std::mutex clientsMutex_;
    QHash<int, std::shared_ptr<TDJSONClient>> clients_;
    /// Instances made and not yet reported closed (under clientsMutex_).
    QSet<int> openInstances_;

    std::atomic<bool> stopping_{false};
    std::mutex stoppedMutex_;
    std::condition_variable stoppedCv_;
    bool stopped_ = false;
    /// The latest end of polling asked by stopReceiving() (under stoppedMutex_).
    std::optional<std::chrono::steady_clock::time_point> stopDeadline_;
};

/// One TDLib client instance: numbers its requests ("r1", "r2", …), resumes the waiting caller
/// of each reply and passes everything else on as updates.
class TDJSONClient : public TDClient {
public:
    TDJSONClient(int id, std::shared_ptr<TDJSONRuntime> runtime);

    int id() const { return id_; }
    TDObject send(const TDObject& request, Deadline deadline = std::nullopt) override;
    void post(const TDObject& request) override;
    UpdateStream& updates() override { return updates_; }
    void shutdown() override;

    /// Called by the receive thread for each object of this client.
    void deliver(const TDObject& object);

private:
    void abandon(const QString& tag);

    const int id_;
    std::shared_ptr<TDJSONRuntime> runtime_;
    std::mutex mutex_;
    qint64 next_ = 0;
    QHash<QString, Completion<TDObject>> pending_;
    bool closed_ = false;
    UpdateStream updates_;
};

} // namespace tw
