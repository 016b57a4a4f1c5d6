// Upload rows: the status line and trailing control of each job state, and the job list the
// popover and the smart upload pane show (newest first, filtered, updated in place).
#include "App/Uploads/UploadJobListModel.h"
#include "App/Uploads/UploadRowDelegate.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/support/ControlledUploadProvider.h"
#include "tests/support/RowRanges.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using tw::test::ranges;

namespace {

UploadJob job(UploadJob::State state, qint64 size = 5 * 1024 * 1024, qint64 sent = 0) {
    UploadJob j;
    j.id = QUuid::createUuid();
    j.file = LocalFile{QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf")),
                       QStringLiteral("report.pdf"), size, QStringLiteral("application/pdf")};
    j.accountID = QUuid::createUuid();
    j.destinationName = QStringLiteral("Work \u203a Reports");
    j.state = std::move(state);
    j.bytesSent = sent;
    return j;
}

} // namespace

TEST(UploadRow, StatusTextAndControlFollowTheState) {
    using Control = UploadRowDelegate::Control;
    struct Case {
        UploadJob job;
        QString status;
        Control control;
    };
    const Case cases[] = {
        {job(UploadJob::State::queued()), QStringLiteral("Waiting \u2014 Work \u203a Reports"),
         Control::stop},
        {job(UploadJob::State::uploading(), 5 * 1024 * 1024, 2 * 1024 * 1024),
         QStringLiteral("2 MB of 5 MB \u2014 Work \u203a Reports"), Control::stop},
        {job(UploadJob::State::completed()), QStringLiteral("5 MB \u2014 Work \u203a Reports"),
         Control::none},
        {job(UploadJob::State::cancelled()), QStringLiteral("Stopped"), Control::retry},
        {job(UploadJob::State::failed(StorageError(StorageError::Code::network))),
         StorageError(StorageError::Code::network).presentation().title, Control::retry},
        {job(UploadJob::State::failed(StorageError(StorageError::Code::reauthRequired))),
         StorageError(StorageError::Code::reauthRequired).presentation().title, Control::reconnect},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UploadRowDelegate::statusText(c.job), c.status);
        StorageAccount account;
        account.status = StorageAccount::Status::reauthRequired;
        EXPECT_EQ(UploadRowDelegate::control(c.job, account), c.control) << c.status.toStdString();
    }
}

TEST(UploadRow, AJobThatFailedForSignInCanBeRetriedOnceTheAccountIsBack) {
    const UploadJob failed = job(UploadJob::State::failed(StorageError(StorageError::Code::reauthRequired)));
    StorageAccount account;
    account.status = StorageAccount::Status::reauthRequired;
    EXPECT_EQ(UploadRowDelegate::control(failed, account), UploadRowDelegate::Control::reconnect);
    account.status = StorageAccount::Status::connected;
    EXPECT_EQ(UploadRowDelegate::control(failed, account), UploadRowDelegate::Control::retry);
    EXPECT_EQ(UploadRowDelegate::control(failed, std::nullopt), UploadRowDelegate::Control::retry);
}

TEST(UploadRow, TheListShowsTheNewestJobFirstAndFiltersByState) {
    auto provider = std::make_shared<test::ControlledUploadProvider>();
    UploadManager manager(provider, 1, [] { return QDateTime::currentDateTimeUtc(); });
    UploadJobListModel all(&manager, UploadJobListModel::Filter::all);
    UploadJobListModel active(&manager, UploadJobListModel::Filter::active);
    UploadJobListModel finished(&manager, UploadJobListModel::Filter::finished);
    QAbstractItemModelTester tester(&all, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester activeTester(&active,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester finishedTester(&finished,
                                            QAbstractItemModelTester::FailureReportingMode::Fatal);

    const QUuid account = QUuid::createUuid();
    auto file = [](const QString& name) {
        return LocalFile{QUrl::fromLocalFile(QStringLiteral("/tmp/") + name), name, 10,
                         QStringLiteral("text/plain")};
    };
    const QList<QUuid> ids = manager.enqueue({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt"))},
                                             account, std::nullopt, QStringLiteral("Work"));
    ASSERT_EQ(all.rowCount(), 2);
    EXPECT_EQ(all.job(0).id, ids[1]);
    EXPECT_EQ(all.job(1).id, ids[0]);
    EXPECT_EQ(active.rowCount(), 2);
    EXPECT_EQ(finished.rowCount(), 0);

    // A state change of the same jobs repaints the rows in place; no reset.
    QSignalSpy resets(&all, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&all, &QAbstractItemModel::dataChanged);
    manager.cancel(ids[1]);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_GE(changes.count(), 1);
    EXPECT_EQ(all.job(0).state.kind, UploadJob::State::Kind::cancelled);
    EXPECT_EQ(active.rowCount(), 1);
    ASSERT_EQ(finished.rowCount(), 1);
    EXPECT_EQ(finished.job(0).id, ids[1]);

    manager.clearFinished();
    EXPECT_EQ(all.rowCount(), 1);
    EXPECT_EQ(finished.rowCount(), 0);
    EXPECT_EQ(all.rowOf(ids[0]), 0);
    EXPECT_EQ(all.rowOf(ids[1]), -1);
    manager.cancelAll();
}

namespace {

QSet<QString> asSet(const QStringList& list) {
    return QSet<QString>(list.cbegin(), list.cend());
}

} // namespace

TEST(UploadRow, JobsThatComeOrGoAreRowRangesAndOnlyChangedRowsRepaint) {
    auto provider = std::make_shared<test::ControlledUploadProvider>();
    UploadManager manager(provider, 1, [] { return QDateTime::currentDateTimeUtc(); });
    UploadJobListModel all(&manager, UploadJobListModel::Filter::all);
    UploadJobListModel active(&manager, UploadJobListModel::Filter::active);
    UploadJobListModel finished(&manager, UploadJobListModel::Filter::finished);
    QAbstractItemModelTester allTester(&all, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester activeTester(&active,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester finishedTester(&finished,
                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
    const QUuid account = QUuid::createUuid();
    auto enqueue = [&](const QStringList& names) {
        QList<LocalFile> files;
        for (const QString& name : names)
            files.append(LocalFile{QUrl::fromLocalFile(QStringLiteral("/tmp/") + name), name, 10,
                                   QStringLiteral("text/plain")});
        return manager.enqueue(files, account, std::nullopt, QStringLiteral("Work"));
    };
    const QList<QUuid> first = enqueue({QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    auto upload = provider->waitForCall(QStringLiteral("a.txt"));
    ASSERT_TRUE(upload); // one at a time: a uploads, b waits

    QSignalSpy resets(&all, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&all, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&all, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&all, &QAbstractItemModel::dataChanged);
    QSignalSpy activeRemoved(&active, &QAbstractItemModel::rowsRemoved);

    // New jobs come in on top as one range.
    const QList<QUuid> second = enqueue({QStringLiteral("c.txt"), QStringLiteral("d.txt")});
    EXPECT_EQ(ranges(inserted, 1), QStringList{QStringLiteral("0-1")});
    EXPECT_TRUE(changed.isEmpty());
    ASSERT_EQ(all.rowCount(), 4); // d, c, b, a
    EXPECT_EQ(all.rowOf(first[0]), 3);

    // Progress repaints the uploading job's row only.
    upload->progress(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return all.job(3).bytesSent == 4; }, 5000));
    EXPECT_EQ(asSet(ranges(changed, 0)), QSet<QString>{QStringLiteral("3-3")});

    // A stopped job in the middle repaints its row and leaves the active list as one row.
    changed.clear();
    manager.cancel(first[1]);
    EXPECT_EQ(asSet(ranges(changed, 0)), QSet<QString>{QStringLiteral("2-2")});
    EXPECT_EQ(ranges(activeRemoved, 1), QStringList{QStringLiteral("2-2")});
    ASSERT_EQ(finished.rowCount(), 1);

    // Clearing the finished jobs removes just that row.
    manager.clearFinished();
    EXPECT_EQ(ranges(removed, 1), QStringList{QStringLiteral("2-2")});
    EXPECT_EQ(all.rowOf(second[1]), 0);
    EXPECT_EQ(all.rowOf(first[0]), 2);
    EXPECT_EQ(resets.count(), 0);
    manager.cancelAll();
}
