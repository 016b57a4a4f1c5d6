#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "TelegramProvider/TelegramLoginPresenter.h"

#include <QObject>

#include <functional>
#include <mutex>
#include <optional>

namespace tw {

/// Bridges Telegram's sign-in steps, asked on a worker thread, to the sign-in sheet on the
/// main thread. A request parks its worker until the sheet answers (submit), the user cancels,
/// a newer request replaces it, or the worker's task is cancelled; every request ends exactly
/// once. The observed state (step, errorText, isWorking) lives on the main thread.
class TelegramLoginCoordinator : public QObject, public TelegramLoginPresenter {
    Q_OBJECT
public:
    explicit TelegramLoginCoordinator(QObject* parent = nullptr);
    ~TelegramLoginCoordinator() override;

    // ---- observed state (main thread) ------------------------------------------------------
    const std::optional<TelegramLoginStep>& step() const { return step_; }
    const std::optional<QString>& errorText() const { return errorText_; }
    bool isWorking() const { return isWorking_; }
    /// Whether a request waits for an answer.
    bool hasPendingRequest() const;

    /// Called after the user cancels (the model cancels its connection attempt).
    void setOnCancel(std::function<void()> onCancel) { onCancel_ = std::move(onCancel); }

    /// Hands the text to the waiting request; nothing when none waits.
    void submit(const QString& text);
    /// Ends the waiting request with a cancellation and closes the prompt.
    void cancel();

    // ---- TelegramLoginPresenter (worker threads) -------------------------------------------
    QString requestInput(const TelegramLoginStep& step, const std::optional<QString>& error) override;
    void loginFinished() override;

Q_SIGNALS:
    /// step, errorText or isWorking changed (one signal per applied change).
    void changed();

private:
    void present(Completion<QString> request, const TelegramLoginStep& step,
                 const std::optional<QString>& error);
    void setState(std::optional<TelegramLoginStep> step, std::optional<QString> errorText,
                  bool working);

    std::optional<TelegramLoginStep> step_;
    std::optional<QString> errorText_;
    bool isWorking_ = false;
    std::function<void()> onCancel_;
    mutable std::mutex mutex_;
    std::optional<Completion<QString>> pending_; // guarded by mutex_
};

} // namespace tw
