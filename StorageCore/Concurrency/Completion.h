#pragma once

#include "StorageCore/Concurrency/Cancellation.h"

#include <exception>
#include <memory>
#include <optional>
#include <variant>

namespace tw {

/// A one-shot result that parked callers wait for: the first resolve() or fail() wins, every
/// waiter wakes. Waits honour the current task's stop token (they throw StorageError
/// cancelled) and an optional deadline. Copies share one state, so a Completion is the
/// value of an in-flight map ("one shared refresh per account", "one fetch per file").
/// For results without a value use Completion<std::monostate>.
template <typename T> class Completion {
public:
    Completion() : state_(std::make_shared<State>()) {}

    bool resolve(T value) {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->done)
                return false;
            state_->value.emplace(std::move(value));
            state_->done = true;
        }
        state_->cv.notify_all();
        return true;
    }

    bool fail(std::exception_ptr error) {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->done)
                return false;
            state_->error = std::move(error);
            state_->done = true;
        }
        state_->cv.notify_all();
        return true;
    }

    template <typename E> bool fail(const E& error) { return fail(std::make_exception_ptr(error)); }

    bool isDone() const {
        std::lock_guard lock(state_->mutex);
        return state_->done;
    }

    /// Waits for the result; rethrows a stored failure; throws cancelled when the task stops.
    T wait() const {
        std::unique_lock lock(state_->mutex);
        Cancellation::wait(state_->cv, lock, [this] { return state_->done; });
        return take(lock);
    }

    /// As wait(), but gives nullopt when the deadline passes first.
    std::optional<T> waitUntil(std::chrono::steady_clock::time_point deadline) const {
        std::unique_lock lock(state_->mutex);
        if (!Cancellation::wait(state_->cv, lock, [this] { return state_->done; }, deadline))
            return std::nullopt;
        return take(lock);
    }

    std::optional<T> waitFor(std::chrono::steady_clock::duration timeout) const {
        return waitUntil(std::chrono::steady_clock::now() + timeout);
    }

    bool operator==(const Completion& other) const { return state_ == other.state_; }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable_any cv;
        bool done = false;
        std::optional<T> value;
        std::exception_ptr error;
    };

    T take(std::unique_lock<std::mutex>&) const {
        if (state_->error)
            std::rethrow_exception(state_->error);
        return *state_->value;
    }

    std::shared_ptr<State> state_;
};

} // namespace tw
