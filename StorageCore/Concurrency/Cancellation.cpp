#include "StorageCore/Concurrency/Cancellation.h"

#include "StorageCore/Domain/StorageError.h"

namespace tw {
namespace {
thread_local std::stop_token t_current;
}

std::stop_token Cancellation::current() {
    return t_current;
}

bool Cancellation::isCancelled() {
    return t_current.stop_requested();
}

void Cancellation::checkpoint() {
    if (t_current.stop_requested())
        throwCancelled();
}

void Cancellation::throwCancelled() {
    throw StorageError(StorageError::Code::cancelled);
}

void Cancellation::sleepFor(std::chrono::steady_clock::duration duration) {
    std::mutex mutex;
    std::condition_variable_any cv;
    std::unique_lock lock(mutex);
    const auto deadline = std::chrono::steady_clock::now() + duration;
    wait(cv, lock, [] { return false; }, deadline);
}

Cancellation::Scope::Scope(std::stop_token token) : previous_(std::move(t_current)) {
    t_current = std::move(token);
}

Cancellation::Scope::~Scope() {
    t_current = std::move(previous_);
}

} // namespace tw
