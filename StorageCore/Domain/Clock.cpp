#include "StorageCore/Domain/Clock.h"

#include "StorageCore/Concurrency/Cancellation.h"

namespace tw {

SleepFunction cancellableSleep() {
    return [](std::chrono::milliseconds duration) { Cancellation::sleepFor(duration); };
}

} // namespace tw
