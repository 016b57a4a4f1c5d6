#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Concurrency/Completion.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace tw;
using namespace std::chrono_literals;
using Code = StorageError::Code;

namespace {

template <typename T>
std::optional<TaskResult<T>> waitForResult(std::optional<TaskResult<T>>& slot) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return slot.has_value(); }, 5000));
    return slot;
}

} // namespace

TEST(TaskRunner, HandsValueBackOnMainThread) {
    QObject receiver;
    std::optional<TaskResult<int>> result;
    QThread* workerThread = nullptr;
    QThread* doneThread = nullptr;
    runTask(
        &receiver,
        [&] {
            workerThread = QThread::currentThread();
            return 42;
        },
        [&](TaskResult<int> r) {
            doneThread = QThread::currentThread();
            result = std::move(r);
        });
    waitForResult(result);
    ASSERT_TRUE(result->ok());
    EXPECT_EQ(result->value(), 42);
    EXPECT_NE(workerThread, QThread::currentThread());
    EXPECT_EQ(doneThread, QThread::currentThread());
}

TEST(TaskRunner, StorageErrorsPassAndForeignErrorsBecomeNetwork) {
    QObject receiver;
    std::optional<TaskResult<std::monostate>> storage, foreign;
    runTask(
        &receiver, [] { throw StorageError::fileTooLarge(7); },
        [&](TaskResult<std::monostate> r) { storage = std::move(r); });
    runTask(
        &receiver, [] { throw std::runtime_error("boom"); },
        [&](TaskResult<std::monostate> r) { foreign = std::move(r); });
    waitForResult(storage);
    waitForResult(foreign);
    EXPECT_EQ(storage->error(), StorageError::fileTooLarge(7));
    EXPECT_EQ(foreign->error().code(), Code::network);
}

TEST(TaskRunner, CancelReachesBlockingWaitThroughCurrentToken) {
    QObject receiver;
    std::optional<TaskResult<std::monostate>> result;
    Completion<std::monostate> started;
    Completion<std::monostate> never;
    auto handle = runTask(
        &receiver,
        [&] {
            started.resolve({});
            never.wait(); // parked until the task is cancelled
        },
        [&](TaskResult<std::monostate> r) { result = std::move(r); });
    ASSERT_TRUE(started.waitFor(5s));
    handle.cancel();
    waitForResult(result);
    EXPECT_TRUE(result->isCancelled());
}

TEST(TaskRunner, CancelledBeforeStartNeverRunsTheWork) {
    // Fill nothing: cancel immediately; the work checks the token before it begins.
    QObject receiver;
    std::atomic<bool> ran{false};
    std::optional<TaskResult<int>> result;
    Completion<std::monostate> gate;
    // Occupy the task with a gate so that cancel() lands before the work's first checkpoint.
    auto handle = runTask(
        &receiver,
        [&] {
            gate.wait();
            Cancellation::checkpoint();
            ran = true;
            return 1;
        },
        [&](TaskResult<int> r) { result = std::move(r); });
    handle.cancel();
    waitForResult(result);
    EXPECT_TRUE(result->isCancelled());
    EXPECT_FALSE(ran);
}

TEST(TaskRunner, DestroyedReceiverDropsTheResult) {
    auto receiver = std::make_unique<QObject>();
    bool delivered = false;
    Completion<std::monostate> release;
    // The result callback holds the only other owner of `handedOver`: it is gone once the
    // result has reached the main thread and been dropped there (or delivered).
    auto handedOver = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = handedOver;
    runTask(
        receiver.get(), [&] { release.wait(); },
        [&delivered, handedOver](TaskResult<std::monostate>) { delivered = true; });
    handedOver.reset();
    receiver.reset();
    release.resolve({});
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.expired(); }, 5000));
    EXPECT_FALSE(delivered);
}

TEST(TaskRunner, TransfersRunOnTheirOwnPool) {
    // A general pool full of parked tasks must not hold back a transfer.
    EXPECT_NE(threadPool(TaskPool::general), threadPool(TaskPool::transfers));
    QObject receiver;
    std::optional<TaskResult<int>> result;
    runTask(
        &receiver, [] { return 5; }, [&](TaskResult<int> r) { result = std::move(r); },
        TaskPool::transfers);
    waitForResult(result);
    EXPECT_EQ(result->value(), 5);
}

TEST(Completion, WaitHonoursDeadlineFailureAndFirstResultWins) {
    Completion<int> timesOut;
    EXPECT_FALSE(timesOut.waitFor(20ms).has_value());

    Completion<int> failed;
    EXPECT_TRUE(failed.fail(StorageError(Code::notFound)));
    EXPECT_FALSE(failed.resolve(3));
    try {
        failed.wait();
        FAIL() << "expected the stored failure";
    } catch (const StorageError& e) {
        EXPECT_EQ(e.code(), Code::notFound);
    }

    Completion<int> shared;
    Completion<int> copy = shared;
    std::thread resolver([&] { copy.resolve(9); });
    EXPECT_EQ(shared.wait(), 9);
    resolver.join();
}

TEST(Cancellation, SleepWakesOnStopAndScopesNest) {
    std::stop_source outer;
    std::stop_source inner;
    Cancellation::Scope outerScope(outer.get_token());
    {
        Cancellation::Scope innerScope(inner.get_token());
        inner.request_stop();
        EXPECT_TRUE(Cancellation::isCancelled());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(Cancellation::sleepFor(10s), StorageError);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    EXPECT_FALSE(Cancellation::isCancelled());
    EXPECT_NO_THROW(Cancellation::checkpoint());
}
