#include "tests/support/ControlledUploadProvider.h"

#include <QTest>

namespace tw::test {

bool ControlledUploadProvider::Call::hasEnded() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

void ControlledUploadProvider::Call::push(Command command) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
    }
    cv_.notify_all();
}

void ControlledUploadProvider::Call::progress(qint64 bytes) {
    push({Command::Kind::progress, bytes, std::nullopt});
}

void ControlledUploadProvider::Call::succeed() {
    push({Command::Kind::succeed, 0, std::nullopt});
}

void ControlledUploadProvider::Call::fail(const StorageError& error) {
    push({Command::Kind::fail, 0, error});
}

FileItem ControlledUploadProvider::upload(const QUuid& accountID, const LocalFile& file,
                                          const std::optional<QString>& parentID,
                                          const ProgressCallback& progress) {
    auto call = std::make_shared<Call>();
    call->fileName_ = file.name;
    bool ignoreCancellation = false;
    {
        std::lock_guard lock(mutex_);
        ignoreCancellation = ignoreCancellation_;
        unclaimed_.push_back(call);
        started_.append(file.name);
        mostRunning_ = std::max(mostRunning_, ++running_);
    }
    struct Leave {
        ControlledUploadProvider* self;
        std::shared_ptr<Call> call;
        ~Leave() {
            {
                std::lock_guard lock(call->mutex_);
                call->ended_ = true;
            }
            std::lock_guard lock(self->mutex_);
            --self->running_;
        }
    } leave{this, call};

    while (true) {
        Call::Command command;
        {
            std::unique_lock lock(call->mutex_);
            const auto ready = [&] { return !call->commands_.empty(); };
            if (ignoreCancellation)
                call->cv_.wait(lock, ready);
            else
                Cancellation::wait(call->cv_, lock, ready);
            command = call->commands_.front();
            call->commands_.pop_front();
        }
        switch (command.kind) {
        case Call::Command::Kind::progress:
            if (progress)
                progress(command.bytes);
            break;
        case Call::Command::Kind::fail:
            throw *command.error;
        case Call::Command::Kind::succeed: {
            FileItem item;
            item.ref = FileRef{accountID, QStringLiteral("uploaded-") + file.name};
            item.name = file.name;
            item.mimeType = file.mimeType;
            item.sizeBytes = file.sizeBytes;
            if (parentID)
                item.parentIDs = {*parentID};
            return item;
        }
        }
    }
}

std::shared_ptr<ControlledUploadProvider::Call>
ControlledUploadProvider::waitForCall(const QString& fileName, int timeoutMs) {
    std::shared_ptr<Call> found;
    (void)QTest::qWaitFor(
        [&] {
            std::lock_guard lock(mutex_);
            for (auto it = unclaimed_.begin(); it != unclaimed_.end(); ++it) {
                if ((*it)->fileName_ == fileName) {
                    found = *it;
                    unclaimed_.erase(it);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

QStringList ControlledUploadProvider::startedNames() const {
    std::lock_guard lock(mutex_);
    return started_;
}

void ControlledUploadProvider::setIgnoreCancellation(bool ignore) {
    std::lock_guard lock(mutex_);
    ignoreCancellation_ = ignore;
}

int ControlledUploadProvider::runningNow() const {
    std::lock_guard lock(mutex_);
    return running_;
}

int ControlledUploadProvider::mostRunningAtOnce() const {
    std::lock_guard lock(mutex_);
    return mostRunning_;
}

} // namespace tw::test
