#pragma once

#include "StorageCore/Domain/Clock.h"

#include <QDateTime>
#include <QTimeZone>

#include <memory>
#include <mutex>

namespace tw::test {

/// A clock that stands still until advanced; copies of clock() follow the same time.
class FakeClock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0),
                                                   QTimeZone::utc()))
        : state_(std::make_shared<State>()) {
        state_->now = start;
    }

    QDateTime now() const {
        std::lock_guard lock(state_->mutex);
        return state_->now;
    }
    void set(const QDateTime& time) {
        std::lock_guard lock(state_->mutex);
        state_->now = time;
    }
    void advance(qint64 seconds) {
        std::lock_guard lock(state_->mutex);
        state_->now = state_->now.addSecs(seconds);
    }
    void advanceMs(qint64 milliseconds) {
        std::lock_guard lock(state_->mutex);
        state_->now = state_->now.addMSecs(milliseconds);
    }
    Clock clock() const {
        auto state = state_;
        return [state] {
            std::lock_guard lock(state->mutex);
            return state->now;
        };
    }

private:
    struct State {
        std::mutex mutex;
        QDateTime now;
    };
    std::shared_ptr<State> state_;
};

} // namespace tw::test
