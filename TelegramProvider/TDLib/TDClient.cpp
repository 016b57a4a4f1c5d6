#include "TelegramProvider/TDLib/TDClient.h"

namespace tw {

void UpdateStream::push(TDObject object) {
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        queue_.push_back(std::move(object));
        ++pushed_;
    }
    cv_.notify_one();
}

void UpdateStream::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    cv_.notify_all();
}

std::optional<TDObject> UpdateStream::pop() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return !queue_.empty() || closed_; });
    if (queue_.empty())
        return std::nullopt;
    TDObject object = std::move(queue_.front());
    queue_.pop_front();
    return object;
}

bool UpdateStream::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

quint64 UpdateStream::pushedCount() const {
    std::lock_guard lock(mutex_);
    return pushed_;
}

} // namespace tw
