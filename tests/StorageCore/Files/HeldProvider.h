// A fake back end whose listing, category and search calls can be held until the test
// releases them, answering even if their task was cancelled meanwhile (as a reply already
// on the wire does), and optionally failing then. This is what lets a superseded request
// answer late with a real page or a real failure.
#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "tests/support/FakeStorageProvider.h"

#include <QCoreApplication>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <deque>

namespace tw::test {

/// Waits until every task on the general pool has ended, but for `stillParked` calls the test
/// keeps held, and hands every answer they posted to the main thread: afterwards a dropped
/// answer has had its chance to change something. (A task posts its answer before its worker
/// counts as idle, so the answers are queued by then.)
inline void settleTasks(int stillParked = 0) {
    QThreadPool* pool = threadPool(TaskPool::general);
    // An answer handled on the main thread may start another task (a search merges its
    // answers on a worker): settle again until handling the answers starts nothing more.
    for (int round = 0; round < 16; ++round) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return pool->activeThreadCount() <= stillParked; }, 5000))
            << pool->activeThreadCount() << " tasks still running";
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        if (pool->activeThreadCount() <= stillParked)
            return;
    }
}

class HeldProvider : public FakeStorageProvider {
public:
    struct Hold {
        Completion<std::monostate> entered;
        Completion<std::monostate> released;
        std::optional<StorageError> failure; // thrown after release instead of answering
        void release() { released.resolve({}); }
        /// Waits (handling main-thread events meanwhile) until the call has arrived.
        bool waitEntered() {
            return QTest::qWaitFor([this] { return entered.isDone(); }, 5000);
        }
    };

    /// The next call of op (one of listFolder, listCategory, search) waits at the hold.
    std::shared_ptr<Hold> holdNext(Op op, std::optional<StorageError> failure = std::nullopt) {
        auto hold = std::make_shared<Hold>();
        hold->failure = std::move(failure);
        std::lock_guard lock(holdMutex_);
        holds_[int(op)].push_back(hold);
        return hold;
    }

    Page listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                    const std::optional<QString>& pageToken) override {
        return heldCall(Op::listFolder, [&] {
            return FakeStorageProvider::listFolder(accountID, parentID, pageToken);
        });
    }
    Page listCategory(const QUuid& accountID, FileCategory category,
                      const std::optional<QString>& pageToken) override {
        return heldCall(Op::listCategory, [&] {
            return FakeStorageProvider::listCategory(accountID, category, pageToken);
        });
    }
    Page search(const QUuid& accountID, const QString& query,
                const std::optional<QString>& pageToken) override {
        return heldCall(Op::search,
                        [&] { return FakeStorageProvider::search(accountID, query, pageToken); });
    }

private:
    template <typename Call> Page heldCall(Op op, Call call) {
        std::shared_ptr<Hold> hold;
        {
            std::lock_guard lock(holdMutex_);
            auto& queue = holds_[int(op)];
            if (!queue.empty()) {
                hold = queue.front();
                queue.pop_front();
            }
        }
        if (!hold)
            return call();
        hold->entered.resolve({});
        // Deaf to the task's cancellation from here on: the answer comes whatever happens.
        Cancellation::Scope deaf{std::stop_token()};
        hold->released.wait();
        if (hold->failure)
            throw *hold->failure;
        return call();
    }

    std::mutex holdMutex_;
    QHash<int, std::deque<std::shared_ptr<Hold>>> holds_;
};

} // namespace tw::test
