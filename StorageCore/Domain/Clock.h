#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>

namespace tw {

/// The current time in UTC; components that write or compare dates take one at construction
/// so that tests can replace it.
using Clock = std::function<QDateTime()>;

inline Clock systemClock() {
    return [] { return QDateTime::currentDateTimeUtc(); };
}

/// A pause between retries; the production one honours the current task's cancellation.
using SleepFunction = std::function<void(std::chrono::milliseconds)>;

SleepFunction cancellableSleep();

} // namespace tw
