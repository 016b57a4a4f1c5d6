#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace tw {

/// The worker side of a store that writes behind its callers (WriteBehindStore,
/// SettingsStore): the store queues a change through queue(), which applies it under the lock
/// and returns; one drain at a time, on a worker of the task facility, takes the next job
/// (takeNext(), under the lock), runs it outside the lock, and goes on until nothing is
/// queued.
///
/// - The lock guards the writer's own state and whatever the store keeps beside it (its
///   queue, what reads answer); it is never held while a job runs.
/// - Waiters (flush(), waitUntil()) are woken whenever a job has ended and the next has been
///   taken, and when the drain ends.
/// - Every writer alive in the process is known to flushAll() (the quit protocol's last step,
///   and main() after the event loop).
///
/// A store derives its state from it and makes it with make(): the drain keeps the state
/// alive while it runs, so a store may go away with its writes still under way.
class BackgroundWriter : public std::enable_shared_from_this<BackgroundWriter> {
public:
    using Deadline = std::chrono::steady_clock::time_point;
    /// One write, run on the worker outside the lock. It should not throw: what fails is the
    /// store's to report (an exception is logged and the drain goes on).
    using Job = std::function<void()>;

    /// A writer of type Writer, known to flushAll() from now on.
    template <typename Writer, typename... Args>
    static std::shared_ptr<Writer> make(Args&&... args) {
        auto writer = std::make_shared<Writer>(std::forward<Args>(args)...);
        enroll(writer);
        return writer;
    }

    BackgroundWriter() = default;
    virtual ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    /// The lock over the writer and the store's own state.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex_); }

    /// Runs change() under the lock (the store queues what is to be written), then starts the
    /// drain unless one is running.
    template <typename Change> void queue(Change&& change) {
        bool start = false;
        {
            std::lock_guard guard(mutex_);
            change();
            start = !draining_;
            draining_ = true;
        }
        if (start)
            startDrain();
    }

    /// Waits until done() holds (checked under the lock) or the deadline passes; true when it
    /// holds.
    bool waitUntil(Deadline deadline, const std::function<bool()>& done);
    /// Waits until nothing is queued or being written, or the deadline passes; true when
    /// nothing is.
    bool flush(Deadline deadline = Deadline::max());
    /// flush() of every writer alive in the process, all against the one deadline; true when
    /// every one is idle.
    static bool flushAll(Deadline deadline);

protected:
    /// Called under the lock by the drain, once the previous job (if any) has ended: takes the
    /// next job off the store's queue, or returns an empty job when nothing is queued. What
    /// the store keeps about the running job (what a read must see meanwhile) it updates here.
    virtual Job takeNext() = 0;

private:
    static void enroll(const std::weak_ptr<BackgroundWriter>& writer);
    void startDrain();
    void drain();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    /// A drain is started or running; false only when nothing is queued or being written.
    bool draining_ = false;
};

} // namespace tw
