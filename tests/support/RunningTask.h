#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Domain/StorageError.h"
#include "tests/support/ThreadState.h"

#include <optional>
#include <stop_token>
#include <thread>

namespace tw::test {

/// Runs a blocking call on its own thread as a task with its own stop source (reachable
/// through Cancellation there). Destroying it stops the call, if still running, and joins.
template <typename T> class Running {
public:
    template <typename Work> explicit Running(Work work) {
        thread_ = std::thread([this, work = std::move(work)] {
            tid_.resolve(currentThreadID());
            Cancellation::Scope scope(source_.get_token());
            try {
                result_.resolve(work());
            } catch (...) {
                result_.fail(std::current_exception());
            }
        });
    }
    ~Running() {
        source_.request_stop();
        thread_.join();
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

    void cancel() { source_.request_stop(); }
    /// Waits until the call is blocked in a wait (a lock, a shared result) or has ended.
    bool waitUntilParked(int timeoutMs = 5000) {
        Cancellation::Scope deaf{std::stop_token()};
        const pid_t tid = tid_.wait();
        return test::waitUntilParked(tid, [this] { return result_.isDone(); }, timeoutMs);
    }
    T wait() { return result_.wait(); }
    /// The StorageError code the call failed with, or nullopt on success.
    std::optional<StorageError::Code> failure() {
        try {
            wait();
            return std::nullopt;
        } catch (const StorageError& error) {
            return error.code();
        }
    }

private:
    std::stop_source source_;
    Completion<pid_t> tid_;
    Completion<T> result_;
    std::thread thread_;
};

} // namespace tw::test
