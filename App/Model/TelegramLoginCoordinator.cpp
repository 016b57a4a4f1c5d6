#include "App/Model/TelegramLoginCoordinator.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QPointer>

namespace tw {

TelegramLoginCoordinator::TelegramLoginCoordinator(QObject* parent) : QObject(parent) {}

TelegramLoginCoordinator::~TelegramLoginCoordinator() {
    std::lock_guard lock(mutex_);
    if (pending_)
        pending_->fail(StorageError(StorageError::Code::cancelled));
}

bool TelegramLoginCoordinator::hasPendingRequest() const {
    std::lock_guard lock(mutex_);
    return pending_.has_value();
}

void TelegramLoginCoordinator::setState(std::optional<TelegramLoginStep> step,
                                        std::optional<QString> errorText, bool working) {
    if (step == step_ && errorText == errorText_ && working == isWorking_)
        return;
    step_ = std::move(step);
    errorText_ = std::move(errorText);
    isWorking_ = working;
    Q_EMIT changed();
}

QString TelegramLoginCoordinator::requestInput(const TelegramLoginStep& step,
                                               const std::optional<QString>& error) {
    Completion<QString> request;
    QPointer<TelegramLoginCoordinator> self(this);
    detail::postToMainThread([self, request, step, error]() mutable {
        if (self)
            self->present(request, step, error);
        else
            request.fail(StorageError(StorageError::Code::cancelled));
    });
    try {
        return request.wait();
    } catch (...) {
        // Given up (the task was cancelled): a late present() must not show it.
        request.fail(StorageError(StorageError::Code::cancelled));
        std::lock_guard lock(mutex_);
        if (pending_ && *pending_ == request)
            pending_.reset();
        throw;
    }
}

void TelegramLoginCoordinator::present(Completion<QString> request,
                                       const TelegramLoginStep& step,
                                       const std::optional<QString>& error) {
    {
        std::lock_guard lock(mutex_);
        if (request.isDone())
            return;
        if (pending_)
            pending_->fail(StorageError(StorageError::Code::cancelled));
        pending_ = request;
    }
    setState(step, error, false);
}

void TelegramLoginCoordinator::submit(const QString& text) {
    std::optional<Completion<QString>> request;
    {
        std::lock_guard lock(mutex_);
        request.swap(pending_);
    }
    if (!request)
        return;
    setState(step_, errorText_, true);
    request->resolve(text);
}

void TelegramLoginCoordinator::cancel() {
    std::optional<Completion<QString>> request;
    {
        std::lock_guard lock(mutex_);
        request.swap(pending_);
    }
    if (request)
        request->fail(StorageError(StorageError::Code::cancelled));
    setState(std::nullopt, errorText_, false);
    if (onCancel_)
        onCancel_();
}

void TelegramLoginCoordinator::loginFinished() {
    QPointer<TelegramLoginCoordinator> self(this);
    detail::postToMainThread([self] {
        if (self)
            self->setState(std::nullopt, std::nullopt, false);
    });
}

} // namespace tw
