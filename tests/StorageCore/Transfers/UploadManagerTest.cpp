#include "StorageCore/Transfers/UploadManager.h"

#include "tests/support/ControlledUploadProvider.h"
#include "tests/support/FakeClock.h"

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <thread>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Kind = UploadJob::State::Kind;

namespace {

LocalFile localFile(const QString& name, qint64 size = 100) {
    return LocalFile{QUrl::fromLocalFile("/tmp/" + name), name, size,
                     QStringLiteral("application/octet-stream")};
}

QList<LocalFile> files(const QStringList& names, qint64 size = 100) {
    QList<LocalFile> list;
    for (const QString& name : names)
        list.append(localFile(name, size));
    return list;
}

class UploadManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager.setOnCompleted([this](const UploadJob& job, const FileItem& item) {
            completed.append({job, item});
        });
        manager.setOnFailed([this](const UploadJob& job, const StorageError& e) {
            failed.append({job, e});
        });
    }
    void TearDown() override {
        // End every transfer still parked so that no worker outlives the provider's test.
        manager.cancelAll();
        EXPECT_TRUE(QTest::qWaitFor([&] { return provider->runningNow() == 0; }, 5000));
    }

    Kind stateOf(const QUuid& id) const { return manager.job(id)->state.kind; }
    QList<Kind> states() const {
        QList<Kind> list;
        for (const UploadJob& job : manager.jobs())
            list.append(job.state.kind);
        return list;
    }
    std::shared_ptr<ControlledUploadProvider::Call> call(const QString& name) {
        auto c = provider->waitForCall(name);
        EXPECT_TRUE(c) << name.toStdString() << " did not start";
        return c;
    }
    void waitState(const QUuid& id, Kind kind) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return stateOf(id) == kind; }, 5000));
    }
    /// Everything the transfer pool had to say has reached the manager: every provider call
    /// that has ended has had its outcome (and the progress it reported before) handed over,
    /// and every transfer the manager counts has reached the provider. Calls that are still
    /// parked stay parked.
    void settle() {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return manager.runningTransfers() == provider->runningNow(); }, 5000))
            << manager.runningTransfers() << " transfers, " << provider->runningNow()
            << " provider calls";
    }

    QUuid account = QUuid::createUuid();
    FakeClock clock;
    std::shared_ptr<ControlledUploadProvider> provider =
        std::make_shared<ControlledUploadProvider>();
    UploadManager manager{provider, 2, clock.clock()};
    QList<QPair<UploadJob, FileItem>> completed;
    QList<QPair<UploadJob, StorageError>> failed;
};

} // namespace

TEST_F(UploadManagerTest, StartsInListOrderWithinTheLimit) {
    const auto ids = manager.enqueue(files({"1", "2", "3", "4", "5"}), account, QStringLiteral("F"),
                                     "Drive › F");
    ASSERT_EQ(ids.size(), 5);
    EXPECT_EQ(states(), (QList<Kind>{Kind::uploading, Kind::uploading, Kind::queued, Kind::queued,
                                     Kind::queued}));
    auto one = call("1");
    auto two = call("2");
    two->succeed();
    waitState(ids[1], Kind::completed);
    EXPECT_EQ(stateOf(ids[2]), Kind::uploading);
    call("3")->fail(StorageError(Code::server));
    waitState(ids[2], Kind::failed);
    EXPECT_EQ(stateOf(ids[3]), Kind::uploading);
    manager.cancel(ids[0]);
    auto four = call("4");
    auto five = call("5");
    QStringList started = provider->startedNames();
    std::sort(started.begin(), started.begin() + 2); // the first two start together
    EXPECT_EQ(started, (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_LE(provider->mostRunningAtOnce(), 2);

    ASSERT_EQ(completed.size(), 1);
    EXPECT_EQ(completed[0].first.destinationName, "Drive › F");
    EXPECT_EQ(completed[0].first.parentID, QStringLiteral("F"));
    EXPECT_EQ(completed[0].second.name, "2");
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0].second, StorageError(Code::server));
    EXPECT_EQ(failed[0].first.state, UploadJob::State::failed(StorageError(Code::server)));
    EXPECT_EQ(manager.job(ids[0])->createdAt, clock.now());
}

TEST_F(UploadManagerTest, LimitIsRaisedToOneAtCreationButZeroStopsStartsLater) {
    for (const qint64 given : {0, -3}) {
        UploadManager other(provider, given, clock.clock());
        EXPECT_EQ(other.maxConcurrentUploads(), 1);
    }
    manager.setMaxConcurrentUploads(0);
    const auto ids = manager.enqueue(files({"a", "b"}), account, std::nullopt, "Drive");
    EXPECT_EQ(states(), (QList<Kind>{Kind::queued, Kind::queued}));
    QSignalSpy limit(&manager, &UploadManager::maxConcurrentUploadsChanged);
    manager.setMaxConcurrentUploads(1);
    EXPECT_EQ(limit.count(), 1);
    EXPECT_EQ(stateOf(ids[0]), Kind::uploading);
    EXPECT_EQ(stateOf(ids[1]), Kind::queued);
    manager.setMaxConcurrentUploads(1);
    EXPECT_EQ(limit.count(), 1);
}

TEST_F(UploadManagerTest, RaisingStartsMoreAndLoweringStopsNothing) {
    manager.setMaxConcurrentUploads(1);
    const auto ids = manager.enqueue(files({"1", "2", "3", "4", "5"}), account, {}, "D");
    auto one = call("1");
    manager.setMaxConcurrentUploads(3);
    EXPECT_EQ(states().count(Kind::uploading), 3);
    auto two = call("2");
    auto three = call("3");

    manager.setMaxConcurrentUploads(1);
    EXPECT_EQ(states().count(Kind::uploading), 3); // none stopped
    one->succeed();
    waitState(ids[0], Kind::completed);
    EXPECT_EQ(stateOf(ids[3]), Kind::queued); // 2 still upload, above the limit of 1
    two->succeed();
    waitState(ids[1], Kind::completed);
    EXPECT_EQ(stateOf(ids[3]), Kind::queued);
    three->succeed();
    waitState(ids[2], Kind::completed);
    EXPECT_EQ(stateOf(ids[3]), Kind::uploading);
    EXPECT_EQ(stateOf(ids[4]), Kind::queued);
    EXPECT_LE(provider->mostRunningAtOnce(), 3);
}

TEST_F(UploadManagerTest, ProgressOnlyGrowsAndNeverPassesTheFileSize) {
    const auto ids = manager.enqueue({localFile("f", 250)}, account, {}, "D");
    QList<qint64> seen;
    QObject scope;
    QObject::connect(&manager, &UploadManager::jobsChanged, &scope,
                     [&] { seen.append(manager.job(ids[0])->bytesSent); });
    auto f = call("f");
    f->progress(100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.job(ids[0])->bytesSent == 100; }));
    EXPECT_DOUBLE_EQ(manager.job(ids[0])->progress(), 0.4);
    f->progress(300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.job(ids[0])->bytesSent == 250; }));
    f->progress(200);
    f->succeed();
    waitState(ids[0], Kind::completed);
    settle();
    for (qsizetype i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1], seen[i]);
    for (qint64 bytes : seen)
        EXPECT_LE(bytes, 250);
    EXPECT_EQ(manager.job(ids[0])->bytesSent, 250);
    EXPECT_DOUBLE_EQ(manager.job(ids[0])->progress(), 1.0);
}

TEST_F(UploadManagerTest, EmptyFileProgressAndOverallProgress) {
    manager.setMaxConcurrentUploads(3);
    const auto empty = manager.enqueue({localFile("empty", 0)}, account, {}, "D");
    EXPECT_DOUBLE_EQ(manager.job(empty[0])->progress(), 0.0);
    EXPECT_DOUBLE_EQ(manager.overallProgress(), 0.0);
    call("empty")->succeed();
    waitState(empty[0], Kind::completed);
    EXPECT_DOUBLE_EQ(manager.job(empty[0])->progress(), 1.0);
    EXPECT_DOUBLE_EQ(manager.overallProgress(), 1.0);
    manager.clearFinished();
    EXPECT_DOUBLE_EQ(manager.overallProgress(), 0.0);

    const auto ids = manager.enqueue(files({"done", "half", "bad"}, 1000), account, {}, "D");
    call("done")->succeed();
    auto half = call("half");
    half->progress(500);
    call("bad")->fail(StorageError(Code::storageFull));
    waitState(ids[0], Kind::completed);
    waitState(ids[2], Kind::failed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.job(ids[1])->bytesSent == 500; }));
    EXPECT_DOUBLE_EQ(manager.overallProgress(), 0.75);
    manager.cancel(ids[1]);
    manager.dismiss(ids[0]);
    EXPECT_DOUBLE_EQ(manager.overallProgress(), 0.0); // only failed and cancelled remain
}

TEST_F(UploadManagerTest, ACancelledTransferKeepsItsSlotUntilItHasStopped) {
    provider->setIgnoreCancellation(true); // the back end finishes its chunk first
    manager.setMaxConcurrentUploads(1);
    const auto ids = manager.enqueue(files({"slow", "next"}), account, {}, "D");
    auto slow = call("slow");
    manager.cancel(ids[0]);
    EXPECT_EQ(stateOf(ids[0]), Kind::cancelled); // shown at once
    EXPECT_EQ(stateOf(ids[1]), Kind::queued);    // but the transfer still runs
    EXPECT_EQ(manager.runningTransfers(), 1);

    slow->succeed(); // its late success is dropped
    waitState(ids[1], Kind::uploading);
    EXPECT_EQ(stateOf(ids[0]), Kind::cancelled);
    EXPECT_TRUE(completed.isEmpty());
    EXPECT_FALSE(manager.job(ids[0])->result.has_value());
    EXPECT_EQ(provider->mostRunningAtOnce(), 1);
    call("next")->succeed();
    waitState(ids[1], Kind::completed);
}

TEST_F(UploadManagerTest, RetryStartsANewAttemptAndTheOldOutcomeIsDropped) {
    provider->setIgnoreCancellation(true);
    const auto ids = manager.enqueue(files({"f"}), account, {}, "D");
    auto first = call("f");
    first->progress(60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.job(ids[0])->bytesSent == 60; }));
    manager.cancel(ids[0]);
    manager.retry(ids[0]);
    EXPECT_EQ(manager.job(ids[0])->retryCount, 1);
    auto second = call("f"); // the limit of 2 leaves room beside the stopping one
    EXPECT_EQ(manager.job(ids[0])->bytesSent, 0);

    first->progress(90); // reports of the old attempt do not touch the new one
    first->succeed();
    settle();
    EXPECT_EQ(stateOf(ids[0]), Kind::uploading);
    EXPECT_EQ(manager.job(ids[0])->bytesSent, 0);
    EXPECT_TRUE(completed.isEmpty());

    second->fail(StorageError(Code::network));
    waitState(ids[0], Kind::failed);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0].second, StorageError(Code::network));
}

TEST_F(UploadManagerTest, AnUploadEndingCancelledIsNotAFailureAndCanBeRetried) {
    const auto ids = manager.enqueue(files({"f"}), account, {}, "D");
    call("f")->fail(StorageError(Code::cancelled));
    waitState(ids[0], Kind::cancelled);
    EXPECT_TRUE(failed.isEmpty());
    manager.retry(ids[0]);
    call("f")->succeed();
    waitState(ids[0], Kind::completed);
    EXPECT_EQ(manager.job(ids[0])->retryCount, 1);
    ASSERT_EQ(completed.size(), 1);
}

TEST_F(UploadManagerTest, OperationsOnJobsInTheWrongStateChangeNothing) {
    manager.setMaxConcurrentUploads(1);
    const auto ids = manager.enqueue(files({"done", "running", "waiting"}), account, {}, "D");
    call("done")->succeed();
    waitState(ids[0], Kind::completed);
    auto running = call("running");
    QSignalSpy spy(&manager, &UploadManager::jobsChanged);
    manager.retry(ids[0]);   // completed
    manager.retry(ids[1]);   // uploading
    manager.retry(ids[2]);   // queued
    manager.dismiss(ids[1]); // uploading
    manager.dismiss(ids[2]); // queued
    manager.cancel(ids[0]);  // finished
    manager.cancel(QUuid::createUuid());
    manager.retry(QUuid::createUuid());
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(manager.enqueue({}, account, {}, "D").isEmpty());
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(manager.jobs().size(), 3);
}

TEST_F(UploadManagerTest, ClearFinishedKeepsActiveJobsInOrder) {
    manager.setMaxConcurrentUploads(1);
    const auto ids = manager.enqueue(files({"c", "u", "f", "q", "x"}), account, {}, "D");
    call("c")->succeed();
    waitState(ids[0], Kind::completed);
    auto u = call("u");
    manager.setMaxConcurrentUploads(2);
    auto f = call("f");
    manager.setMaxConcurrentUploads(1);
    f->fail(StorageError(Code::server));
    waitState(ids[2], Kind::failed);
    manager.cancel(ids[4]);
    // [completed, uploading, failed, queued, cancelled]
    ASSERT_EQ(states(), (QList<Kind>{Kind::completed, Kind::uploading, Kind::failed, Kind::queued,
                                     Kind::cancelled}));
    manager.clearFinished();
    EXPECT_EQ(states(), (QList<Kind>{Kind::uploading, Kind::queued}));
    EXPECT_EQ(manager.jobs()[0].id, ids[1]);
    EXPECT_EQ(manager.jobs()[1].id, ids[3]);
}

TEST_F(UploadManagerTest, CancelAllForAnAccountLeavesOthersAlone) {
    const QUuid other = QUuid::createUuid();
    manager.enqueue(files({"a1", "a2", "a3"}), account, {}, "A");
    const auto others = manager.enqueue(files({"b1"}), other, {}, "B");
    manager.cancelAll(account);
    for (const UploadJob& job : manager.jobs()) {
        if (job.accountID == account) {
            EXPECT_EQ(job.state.kind, Kind::cancelled) << job.file.name.toStdString();
        }
    }
    auto b1 = call("b1");
    EXPECT_TRUE(manager.job(others[0])->isActive());
    manager.cancelAll();
    EXPECT_FALSE(manager.hasActiveUploads());
    EXPECT_TRUE(manager.activeJobs().isEmpty());
}

TEST_F(UploadManagerTest, LimitHoldsAtEveryMomentUnderChurn) {
    provider->setIgnoreCancellation(true); // cancelled transfers linger
    QStringList names;
    for (int i = 0; i < 8; ++i)
        names.append(QStringLiteral("f%1").arg(i));
    const auto ids = manager.enqueue(files(names), account, {}, "D");

    auto f0 = call("f0");
    auto f1 = call("f1");
    manager.cancel(ids[0]); // f0 keeps running
    manager.retry(ids[0]);
    manager.cancel(ids[1]); // f1 keeps running
    EXPECT_EQ(manager.runningTransfers(), 2);
    EXPECT_EQ(states().count(Kind::uploading), 0);
    manager.setMaxConcurrentUploads(3); // one more may start now
    auto third = call("f0");            // the retried job comes first, it stands first
    EXPECT_EQ(provider->runningNow(), 3);
    manager.setMaxConcurrentUploads(1);
    f0->succeed();
    f1->fail(StorageError(Code::server));
    settle();
    EXPECT_EQ(states().count(Kind::uploading), 1); // only the retried f0
    third->succeed();
    waitState(ids[0], Kind::completed);
    for (int i = 2; i < 8; ++i) {
        auto next = call(names[i]);
        EXPECT_EQ(provider->runningNow(), 1);
        if (i % 2 == 0) {
            manager.cancel(ids[i]); // lingers until it ends
            EXPECT_EQ(manager.runningTransfers(), 1);
            next->succeed();
        } else {
            next->succeed();
        }
        waitState(ids[i], i % 2 == 0 ? Kind::cancelled : Kind::completed);
    }
    settle();
    EXPECT_LE(provider->mostRunningAtOnce(), 3);
    EXPECT_EQ(completed.size(), 1 + 3);
    EXPECT_TRUE(failed.isEmpty()); // f1's failure belonged to a cancelled attempt
}

TEST_F(UploadManagerTest, ObserversThatActOnAStartCannotPassTheLimitOrLoseACancel) {
    // A view reacting to jobsChanged may enqueue or cancel at once: the start it hears of
    // already holds its slot and can be cancelled.
    int mostUploading = 0;
    bool enqueued = false;
    QUuid cancelOnStart;
    // The slot captures this body's locals: it must not outlive them (TearDown's cancelAll()
    // emits jobsChanged again after the body has returned).
    QObject scope;
    QObject::connect(&manager, &UploadManager::jobsChanged, &scope, [&] {
        mostUploading = std::max(mostUploading, int(states().count(Kind::uploading)));
        if (!enqueued && states().contains(Kind::uploading)) {
            enqueued = true;
            manager.enqueue(files({"d"}), account, {}, "D");
        }
        if (!cancelOnStart.isNull() && manager.job(cancelOnStart) &&
            manager.job(cancelOnStart)->isUploading())
            manager.cancel(cancelOnStart);
    });
    const auto ids = manager.enqueue(files({"a", "b", "c"}), account, {}, "D");
    EXPECT_EQ(mostUploading, 2);
    EXPECT_EQ(manager.runningTransfers(), 2);
    EXPECT_EQ(states(),
              (QList<Kind>{Kind::uploading, Kind::uploading, Kind::queued, Kind::queued}));

    cancelOnStart = ids[2]; // c is cancelled the moment it starts
    call("a")->succeed();
    waitState(ids[2], Kind::cancelled);
    // d takes c's slot once c's transfer has stopped; c's upload does not go on.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.jobs()[3].state.kind == Kind::uploading; }, 5000));
    auto d = call("d");
    settle();
    EXPECT_EQ(manager.runningTransfers(), 2);
    EXPECT_EQ(provider->runningNow(), 2); // b and d
    EXPECT_EQ(stateOf(ids[1]), Kind::uploading);
    EXPECT_LE(mostUploading, 2);
    EXPECT_LE(provider->mostRunningAtOnce(), 2);
}

TEST_F(UploadManagerTest, JobsCarryTheirDestinationAsData) {
    const UploadTarget target{account, QStringLiteral("F2"), {"Reports › 2024", "Q1"}};
    const auto ids = manager.enqueue({localFile("r.pdf")}, target, "Work › Reports › 2024 › Q1");
    call("r.pdf")->succeed();
    waitState(ids[0], Kind::completed);
    ASSERT_EQ(completed.size(), 1);
    EXPECT_EQ(completed[0].first.target(), target);
    EXPECT_EQ(completed[0].first.destinationName, "Work › Reports › 2024 › Q1");
}

namespace {

/// Reports progress from several threads at once, then succeeds.
class StormProvider : public FakeStorageProvider {
public:
    FileItem upload(const QUuid& accountID, const LocalFile& file, const std::optional<QString>&,
                    const ProgressCallback& progress) override {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (qint64 i = t; i <= file.sizeBytes; i += 4)
                    progress(i);
            });
        for (auto& thread : threads)
            thread.join();
        release.wait();
        FileItem item;
        item.ref = FileRef{accountID, QStringLiteral("storm")};
        item.name = file.name;
        return item;
    }
    Completion<std::monostate> release;
};

} // namespace

TEST(UploadManagerProgress, ReportsFromManyThreadsArriveCoalescedAndInOrder) {
    auto provider = std::make_shared<StormProvider>();
    UploadManager manager(provider, 1, systemClock());
    const qint64 size = 40'000;
    const auto ids = manager.enqueue({localFile("storm", size)}, QUuid::createUuid(), {}, "D");
    int changes = 0;
    qint64 last = 0;
    bool monotonic = true;
    QObject scope;
    QObject::connect(&manager, &UploadManager::jobsChanged, &scope, [&] {
        ++changes;
        const qint64 now = manager.job(ids[0])->bytesSent;
        monotonic = monotonic && now >= last;
        last = now;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.job(ids[0])->bytesSent == size; }, 5000));
    provider->release.resolve({});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.job(ids[0])->state.kind == Kind::completed; }));
    EXPECT_TRUE(monotonic);
    EXPECT_LT(changes, 1000); // 40,000 reports, far fewer main-thread updates
}
