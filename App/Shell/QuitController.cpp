#include "App/Shell/QuitController.h"

#include "StorageCore/Persistence/BackgroundWriter.h"

#include <QCoreApplication>
#include <QLoggingCategory>

namespace tw {
namespace {
Q_LOGGING_CATEGORY(lcQuit, "Quit")
}

QuitController::QuitController(Hooks hooks, Limits limits, QObject* parent)
    : QObject(parent), hooks_(std::move(hooks)), limits_(limits) {
    if (!hooks_.terminate)
        hooks_.terminate = [] { QCoreApplication::quit(); };
    if (!hooks_.flushDocuments) {
        hooks_.flushDocuments = [] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            if (!BackgroundWriter::flushAll(deadline))
                qCWarning(lcQuit) << "documents or settings were still being written at quit";
        };
    }
    limitTimer_.setSingleShot(true);
    graceTimer_.setSingleShot(true);
    connect(&limitTimer_, &QTimer::timeout, this, &QuitController::cleanupLimitReached);
    connect(&graceTimer_, &QTimer::timeout, this, [this] {
        qCWarning(lcQuit) << "the clean-up did not end after it was cancelled; quitting without it";
        cleanupEnded(attempt_);
    });
}

void QuitController::setPrepareForQuit(Cleanup cleanup) {
    prepareForQuit_ = std::move(cleanup);
}

void QuitController::setState(State state) {
    if (state == state_)
        return;
    state_ = state;
    Q_EMIT stateChanged(state);
}

void QuitController::requestQuit() {
    if (state_ == State::terminated)
        return;
    if (!prepareForQuit_) {
        terminate();
        return;
    }
    Cleanup cleanup = std::move(prepareForQuit_);
    prepareForQuit_ = nullptr;
    const quint64 attempt = ++attempt_;
    setState(State::cleaningUp);
    cleanupTask_ = runTask(
        this, [cleanup = std::move(cleanup)] { cleanup(); },
        [this, attempt](TaskResult<std::monostate>) { cleanupEnded(attempt); });
    limitTimer_.start(limits_.cleanup);
}

void QuitController::cleanupLimitReached() {
    if (state_ != State::cleaningUp)
        return;
    qCInfo(lcQuit) << "the clean-up takes too long; cancelling it";
    cleanupTask_.cancel();
    graceTimer_.start(limits_.cancelGrace);
}

void QuitController::cleanupEnded(quint64 attempt) {
    if (attempt != attempt_ || state_ != State::cleaningUp)
        return;
    limitTimer_.stop();
    graceTimer_.stop();
    cleanupTask_ = TaskHandle();
    stopReceiver();
}

void QuitController::stopReceiver() {
    const std::function<void()> stop = hooks_.stopReceiving;
    const std::function<void()> flush = hooks_.flushDocuments;
    if (stop)
        setState(State::stoppingReceiver);
    const State during = state_;
    runTask(
        this,
        [stop, flush] {
            if (stop)
                stop();
            flush();
        },
        [this, during](TaskResult<std::monostate>) {
            if (state_ == during)
                terminate();
        });
}

void QuitController::terminate() {
    limitTimer_.stop();
    graceTimer_.stop();
    setState(State::terminated);
    hooks_.terminate();
}

} // namespace tw
