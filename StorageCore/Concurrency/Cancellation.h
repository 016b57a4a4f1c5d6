#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>

namespace tw {

/// Cancellation of the task running on this thread. A task installs its stop token with a
/// Scope; code below reaches it through current() without an extra parameter, checks it at
/// natural points (between pages, chunks and retries, in every wait) and throws
/// StorageError cancelled when asked to stop.
class Cancellation {
public:
    /// The current task's token; outside any task a token that never stops.
    static std::stop_token current();
    static bool isCancelled();
    /// Throws StorageError(cancelled) when the current task was asked to stop.
    static void checkpoint();
    [[noreturn]] static void throwCancelled();

    /// Sleeps for the duration, or throws cancelled as soon as the task is stopped.
    static void sleepFor(std::chrono::steady_clock::duration duration);

    /// Waits on cv (with lock held) until pred holds; throws cancelled when the current task
    /// stops first. With a deadline, returns false when it passes before pred holds.
    template <typename Predicate>
    static bool wait(std::condition_variable_any& cv, std::unique_lock<std::mutex>& lock,
                     Predicate pred,
                     std::optional<std::chrono::steady_clock::time_point> deadline = {}) {
        std::stop_token token = current();
        bool satisfied;
        if (deadline)
            satisfied = cv.wait_until(lock, token, *deadline, pred);
        else
            satisfied = cv.wait(lock, token, pred);
        if (satisfied)
            return true;
        if (token.stop_requested())
            throwCancelled();
        return false;
    }

    /// Makes a token current for the lifetime of the scope; the previous one comes back after.
    class Scope {
    public:
        explicit Scope(std::stop_token token);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        std::stop_token previous_;
    };
};

} // namespace tw
