#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tw {

/// The quit protocol, a state machine on the main thread. Every way of quitting comes here:
/// the Quit command, closing the main window, SIGTERM and SIGINT, the end of the desktop
/// session.
///
/// 1. No clean-up installed (the main window never came on screen, or an earlier request took
///    it): terminate at once.
/// 2. Otherwise take the clean-up and run it on a worker, racing it against cleanupLimit (3 s).
///    When the limit comes first the clean-up is asked to stop (its task's stop token) and
///    given cancelGrace to end; a clean-up stuck in a back-end call past that is left behind
///    on its worker, which nothing ever joins.
/// 3. Stop the TDLib receive thread (bounded by the hook itself: one second), then wait for
///    the documents and settings still being written (BackgroundWriter::flushAll: every
///    WriteBehindStore and SettingsStore, five seconds in all), on a worker.
/// 4. Terminate. No path cancels a quit once it is requested. (main() waits for the documents
///    and settings once more after the event loop, for the paths that terminate at once.)
class QuitController : public QObject {
    Q_OBJECT
public:
    /// Blocking work that runs on a worker; it should end soon after Cancellation says stop.
    using Cleanup = std::function<void()>;

    struct Hooks {
        /// Stops TDLib's receive thread, waiting at most a second; empty when TDLib is not
        /// loaded.
        std::function<void()> stopReceiving;
        /// Ends the event loop (QCoreApplication::quit by default).
        std::function<void()> terminate;
        /// Waits, on a worker, for the documents and settings still being written (default:
        /// BackgroundWriter::flushAll, five seconds).
        std::function<void()> flushDocuments;
    };

    struct Limits {
        std::chrono::milliseconds cleanup{3000};
        std::chrono::milliseconds cancelGrace{2000};
    };

    enum class State { running, cleaningUp, stoppingReceiver, terminated };
    Q_ENUM(State)

    QuitController(Hooks hooks, Limits limits, QObject* parent = nullptr);

    /// Installs (replacing any earlier one) the clean-up that the next request runs.
    void setPrepareForQuit(Cleanup cleanup);
    bool hasPrepareForQuit() const { return bool(prepareForQuit_); }
    State state() const { return state_; }

    /// Starts the protocol. A request while one is under way finds no clean-up and
    /// terminates at once; one after termination does nothing.
    void requestQuit();

Q_SIGNALS:
    void stateChanged(tw::QuitController::State state);

private:
    void setState(State state);
    void cleanupLimitReached();
    void cleanupEnded(quint64 attempt);
    void stopReceiver();
    void terminate();

    Hooks hooks_;
    Limits limits_;
    Cleanup prepareForQuit_;
    State state_ = State::running;
    TaskHandle cleanupTask_;
    QTimer limitTimer_;
    QTimer graceTimer_;
    quint64 attempt_ = 0;
};

} // namespace tw
