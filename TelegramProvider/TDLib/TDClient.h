#pragma once

#include "TelegramProvider/TDLib/TDObject.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace tw {

/// The objects TDLib sends for one client that answer no pending request, in arrival order.
/// Unbounded: nothing is ever dropped for want of a reader. Meant for one consumer, whose
/// pop() returns nullopt once the stream is closed and drained.
class UpdateStream {
public:
    /// Appends an object; ignored once the stream is closed.
    void push(TDObject object);
    void close();
    /// Blocks until an object or the end of the stream. Not cancellable: the stream's owner
    /// ends it with close().
    std::optional<TDObject> pop();
    bool isClosed() const;
    /// How many objects were accepted so far (a mark that a consumer can catch up with).
    quint64 pushedCount() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<TDObject> queue_;
    quint64 pushed_ = 0;
    bool closed_ = false;
};

/// One TDLib client instance (one account session).
class TDClient {
public:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    virtual ~TDClient() = default;
    /// Sends a request and blocks for its reply. Throws TDError for an error reply,
    /// StorageError reauthRequired when the client is (or gets) shut down, StorageError
    /// cancelled when the current task stops, and StorageError network when the deadline
    /// passes first. A late reply to an abandoned request is passed on as an update.
    virtual TDObject send(const TDObject& request, Deadline deadline = std::nullopt) = 0;
    /// Sends a request without waiting for its reply (which arrives as an update).
    virtual void post(const TDObject& request) = 0;
    virtual UpdateStream& updates() = 0;
    /// Fails every waiting request with reauthRequired and ends the update stream. Sends
    /// nothing to TDLib. Further calls do nothing.
    virtual void shutdown() = 0;
};

/// Makes TDLib clients.
class TDClientFactory {
public:
    virtual ~TDClientFactory() = default;
    virtual std::shared_ptr<TDClient> makeClient() = 0;
};

} // namespace tw
