#pragma once

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Domain/StorageError.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <stop_token>
#include <type_traits>
#include <variant>

class QThreadPool;

namespace tw {

/// Worker pools. Long transfers run on their own pool so that listings and searches never
/// starve behind them; both are sized for many parked operations (a wait on a remote answer
/// parks a thread).
enum class TaskPool { general, transfers };

QThreadPool* threadPool(TaskPool pool);

/// The outcome of a task: a value or a StorageError. For tasks without a value T is
/// std::monostate.
template <typename T> class TaskResult {
public:
    static TaskResult success(T value) { return TaskResult(std::move(value)); }
    static TaskResult failure(StorageError error) { return TaskResult(std::move(error)); }

    bool ok() const { return std::holds_alternative<T>(state_); }
    bool isCancelled() const { return !ok() && error().isCancelled(); }
    const T& value() const { return std::get<T>(state_); }
    T& value() { return std::get<T>(state_); }
    const StorageError& error() const { return std::get<StorageError>(state_); }

private:
    explicit TaskResult(T value) : state_(std::move(value)) {}
    explicit TaskResult(StorageError error) : state_(std::move(error)) {}
    std::variant<T, StorageError> state_;
};

template <typename F>
using TaskValue = std::conditional_t<std::is_void_v<std::invoke_result_t<F>>, std::monostate,
                                     std::invoke_result_t<F>>;

/// Handle of a started task: cancel() asks it to stop (its work sees the stop token through
/// Cancellation and ends with StorageError cancelled).
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::stop_source> source) : source_(std::move(source)) {}

    void cancel() const {
        if (source_)
            source_->request_stop();
    }
    bool isValid() const { return source_ != nullptr; }
    bool isCancelled() const { return source_ && source_->stop_requested(); }
    std::stop_token token() const { return source_ ? source_->get_token() : std::stop_token(); }

private:
    std::shared_ptr<std::stop_source> source_;
};

namespace detail {
void startOnPool(TaskPool pool, std::function<void()> job);
/// Runs fn on the main (GUI) thread soon; dropped when the application is gone or no task has
/// been started yet (false then).
bool postToMainThread(std::function<void()> fn);

template <typename Work> TaskResult<TaskValue<Work>> runGuarded(Work& work) {
    using T = TaskValue<Work>;
    try {
        Cancellation::checkpoint();
        if constexpr (std::is_void_v<std::invoke_result_t<Work>>) {
            work();
            return TaskResult<T>::success(std::monostate{});
        } else {
            return TaskResult<T>::success(work());
        }
    } catch (...) {
        return TaskResult<T>::failure(StorageError::current());
    }
}
} // namespace detail

/// Runs the blocking `work` on a worker pool with a fresh stop token and hands its result
/// (value or StorageError; any other exception becomes network) to `onDone` on the main
/// thread. onDone is not called when `receiver` has been destroyed by then. It is called for
/// a cancelled task too, with the error cancelled, which callers treat as silent.
template <typename Work, typename Done>
TaskHandle runTask(QObject* receiver, Work work, Done onDone, TaskPool pool = TaskPool::general) {
    auto source = std::make_shared<std::stop_source>();
    QPointer<QObject> guard(receiver);
    detail::startOnPool(pool, [source, guard, work = std::move(work),
                               onDone = std::move(onDone)]() mutable {
        Cancellation::Scope scope(source->get_token());
        auto result = detail::runGuarded(work);
        detail::postToMainThread([guard, onDone = std::move(onDone),
                                  result = std::move(result)]() mutable {
            if (guard)
                onDone(std::move(result));
        });
    });
    return TaskHandle(source);
}

/// Runs `work` on a worker pool with no one waiting for its result (failures are dropped).
template <typename Work> TaskHandle runDetached(Work work, TaskPool pool = TaskPool::general) {
    auto source = std::make_shared<std::stop_source>();
    detail::startOnPool(pool, [source, work = std::move(work)]() mutable {
        Cancellation::Scope scope(source->get_token());
        detail::runGuarded(work);
    });
    return TaskHandle(source);
}

} // namespace tw
