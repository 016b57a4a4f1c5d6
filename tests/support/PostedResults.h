// Waiting for the results that workers hand to the main thread, without a fixed wait.
#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QTest>
#include <QThreadPool>

namespace tw::test {

/// Waits until every job of the general worker pool has ended, then runs the main-thread
/// hand-overs they posted (the hand-over queue keeps its order, so a marker posted now runs
/// after them). False when the pool does not become idle or the marker does not run in time.
inline bool deliverPostedResults(int timeoutMs = 5000) {
    if (!threadPool(TaskPool::general)->waitForDone(timeoutMs))
        return false;
    bool delivered = false;
    detail::postToMainThread([&delivered] { delivered = true; });
    return QTest::qWaitFor([&delivered] { return delivered; }, timeoutMs);
}

} // namespace tw::test
