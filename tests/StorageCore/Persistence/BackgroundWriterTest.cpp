// The worker side of the write-behind stores: one drain at a time per writer, jobs run off the
// caller's thread in the order queued, a job that throws does not stop the drain, and the
// quit protocol's flushAll waits for every live writer against one deadline.
#include "StorageCore/Persistence/BackgroundWriter.h"
#include "StorageCore/Concurrency/Completion.h"

#include <QList>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace tw;
using namespace std::chrono_literals;

namespace {

/// A writer whose queue is a list of jobs.
class ListWriter final : public BackgroundWriter {
public:
    void add(Job job) {
        queue([&] { jobs_.append(std::move(job)); });
    }

protected:
    Job takeNext() override { return jobs_.isEmpty() ? Job() : jobs_.takeFirst(); }

private:
    QList<Job> jobs_; // behind the writer's lock
};

/// What the jobs did, from any thread.
class Record {
public:
    void add(const QString& entry) {
        std::lock_guard lock(mutex_);
        entries_.append(entry);
        threads_.append(QThread::currentThreadId());
    }
    QStringList entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    QList<Qt::HANDLE> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    QStringList entries_;
    QList<Qt::HANDLE> threads_;
};

/// Queues a job that records entry once released, and waits until it runs.
void addHeldJob(ListWriter& writer, Record& record, const QString& entry,
                Completion<std::monostate> released) {
    Completion<std::monostate> entered;
    writer.add([&record, entry, entered, released]() mutable {
        entered.resolve({});
        released.wait();
        record.add(entry);
    });
    ASSERT_TRUE(entered.waitFor(20s).has_value());
}

TEST(BackgroundWriter, RunsOneJobAtATimeInTheOrderQueuedOffTheCallersThread) {
    auto writer = BackgroundWriter::make<ListWriter>();
    Record record;
    Completion<std::monostate> released;
    ASSERT_NO_FATAL_FAILURE(addHeldJob(*writer, record, QStringLiteral("first"), released));
    // Queued from several threads while the first job is held: a second drain would run them
    // now.
    std::vector<std::thread> producers;
    for (int producer = 0; producer < 4; ++producer) {
        producers.emplace_back([&, producer] {
            for (int n = 0; n < 25; ++n)
                writer->add([&record, producer, n] {
                    record.add(QStringLiteral("%1.%2").arg(producer).arg(n));
                });
        });
    }
    for (std::thread& producer : producers)
        producer.join();
    EXPECT_TRUE(record.entries().isEmpty());
    EXPECT_FALSE(writer->flush(std::chrono::steady_clock::now() + 1ms));

    released.resolve({});
    ASSERT_TRUE(writer->flush(std::chrono::steady_clock::now() + 20s));
    const QStringList entries = record.entries();
    ASSERT_EQ(entries.size(), 101);
    EXPECT_EQ(entries.first(), QStringLiteral("first"));
    // Each producer's jobs in the order it queued them.
    for (int producer = 0; producer < 4; ++producer) {
        QStringList own;
        for (const QString& entry : entries) {
            if (entry.startsWith(QString::number(producer) + QLatin1Char('.')))
                own.append(entry);
        }
        QStringList expected;
        for (int n = 0; n < 25; ++n)
            expected.append(QStringLiteral("%1.%2").arg(producer).arg(n));
        EXPECT_EQ(own, expected);
    }
    for (Qt::HANDLE thread : record.threads())
        EXPECT_NE(thread, QThread::currentThreadId());
}

TEST(BackgroundWriter, AJobThatThrowsLeavesTheDrainGoing) {
    auto writer = BackgroundWriter::make<ListWriter>();
    Record record;
    writer->add([] { throw std::runtime_error("disk full"); });
    writer->add([] { throw 5; });
    writer->add([&] { record.add(QStringLiteral("after")); });
    ASSERT_TRUE(writer->flush(std::chrono::steady_clock::now() + 20s));
    EXPECT_EQ(record.entries(), QStringList{QStringLiteral("after")});
    // The drain ended; the next job starts another.
    writer->add([&] { record.add(QStringLiteral("again")); });
    ASSERT_TRUE(writer->flush(std::chrono::steady_clock::now() + 20s));
    EXPECT_EQ(record.entries(), QStringList({"after", "again"}));
}

TEST(BackgroundWriter, FlushAllWaitsForEveryLiveWriter) {
    auto idle = BackgroundWriter::make<ListWriter>();
    auto busy = BackgroundWriter::make<ListWriter>();
    auto gone = BackgroundWriter::make<ListWriter>();
    gone.reset();
    Record record;
    Completion<std::monostate> released;
    ASSERT_NO_FATAL_FAILURE(addHeldJob(*busy, record, QStringLiteral("busy"), released));
    EXPECT_FALSE(BackgroundWriter::flushAll(std::chrono::steady_clock::now() + 50ms));

    std::thread releaser([released]() mutable { released.resolve({}); });
    EXPECT_TRUE(BackgroundWriter::flushAll(std::chrono::steady_clock::now() + 20s));
    EXPECT_EQ(record.entries(), QStringList{QStringLiteral("busy")});
    releaser.join();
}

} // namespace
