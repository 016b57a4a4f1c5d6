// The upload screens against the real model over fakes: the toolbar button and its popover,
// the smart upload pane with its rows, sheets and rules, and the toast.
#include "App/DesignSystem/Format.h"
#include "App/Uploads/FolderPickerSheet.h"
#include "App/Uploads/NewRuleSheet.h"
#include "App/Uploads/SmartUploadView.h"
#include "App/Uploads/UploadRowDelegate.h"
#include "App/Uploads/UploadToastView.h"
#include "App/Uploads/UploadsPopover.h"
#include "App/Uploads/UploadsToolbarButton.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Transfers/SmartUploadStore.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/support/ShownText.h"

#include <QAbstractItemModelTester>
#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;

namespace {

/// The largest file Telegram takes, as the core knows it.
const qint64 kTelegramLimit = *ProviderKinds::capabilities(ProviderKind::telegram).maxFileSize;

class UploadScreensTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        ASSERT_TRUE(files.isValid());
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        chats = storedAccount(ProviderKind::telegram, QStringLiteral("R&D"), 1);
        storeAccounts({work, chats});
    }
    QUrl file(const QString& name, qint64 size = 10) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(size));
        return QUrl::fromLocalFile(files.filePath(name));
    }
    template <typename T> static T* child(QWidget* parent, const QString& name) {
        T* found = parent->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    /// Clicks the trailing control of a row of a job list.
    static void clickControl(QListView* list, int row, UploadRowDelegate::Control control) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        const QRect area = UploadRowDelegate::controlRect(rect, control, list->fontMetrics());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, area.center());
    }
    QTemporaryDir files;
    StorageAccount work;
    StorageAccount chats;
};

TEST_F(UploadScreensTest, TheButtonShowsTheQueueAndThePopoverStepsIt) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    UploadsToolbarButton button(app);
    EXPECT_EQ(button.face(), UploadsToolbarButton::Face::idle);
    app.upload({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt"))},
               app.destination(work.id, std::nullopt));
    EXPECT_EQ(button.face(), UploadsToolbarButton::Face::progress);

    button.show();
    button.click();
    ASSERT_TRUE(app.isUploadsPopoverShown());
    UploadsPopover* popover = button.popover();
    ASSERT_TRUE(popover && popover->isVisible());
    auto* clear = child<QPushButton>(popover, QStringLiteral("uploadsClear"));
    EXPECT_FALSE(clear->isEnabled()); // every job is active
    QListView* list = popover->list();
    ASSERT_EQ(list->model()->rowCount(), 2);

    // Stop the newest (first row): it shows "Stopped" and offers to try again.
    clickControl(list, 0, UploadRowDelegate::Control::stop);
    const UploadJob stopped = app.uploads()->jobs().last();
    EXPECT_EQ(stopped.state.kind, UploadJob::State::Kind::cancelled);
    EXPECT_EQ(UploadRowDelegate::statusText(stopped), QStringLiteral("Stopped"));
    EXPECT_TRUE(clear->isEnabled());
    clickControl(list, 0, UploadRowDelegate::Control::retry);
    EXPECT_EQ(app.uploads()->jobs().last().state.kind, UploadJob::State::Kind::queued);

    // A failure that needs sign-in offers "Reconnect…" for the job's account.
    drive->failAlways(Op::upload, StorageError(Code::reauthRequired));
    app.uploads()->setMaxConcurrentUploads(2);
    waitFor([&] {
        const auto& jobs = app.uploads()->jobs();
        return std::all_of(jobs.begin(), jobs.end(), [](const UploadJob& j) { return j.isFinished(); });
    });
    EXPECT_EQ(button.face(), UploadsToolbarButton::Face::failure);
    EXPECT_EQ(app.accounts()->account(work.id)->status, StorageAccount::Status::reauthRequired);
    EXPECT_EQ(UploadRowDelegate::control(app.uploads()->jobs().first(), app.accounts()->account(work.id)),
              UploadRowDelegate::Control::reconnect);
    drive->failAlways(Op::upload, std::nullopt);
    drive->setConnection(connection(work.providerAccountID));
    clickControl(list, 0, UploadRowDelegate::Control::reconnect);
    EXPECT_TRUE(app.isConnecting());
    waitFor([&] { return !app.isConnecting(); });
    // Signed in again: the same row now offers to try again, and it goes through.
    ASSERT_EQ(app.accounts()->account(work.id)->status, StorageAccount::Status::connected);
    app.uploads()->setMaxConcurrentUploads(0);
    clickControl(list, 0, UploadRowDelegate::Control::retry);
    EXPECT_EQ(app.uploads()->jobs().last().state.kind, UploadJob::State::Kind::queued);
    app.uploads()->setMaxConcurrentUploads(2);
    waitFor([&] { return app.uploads()->jobs().last().state.kind == UploadJob::State::Kind::completed; });

    // Clearing the finished jobs empties the list, and an empty popover closes itself.
    clear->click();
    EXPECT_TRUE(app.uploads()->jobs().isEmpty());
    EXPECT_FALSE(popover->isVisible());
    EXPECT_FALSE(app.isUploadsPopoverShown());
}

TEST_F(UploadScreensTest, ThePopoverClosesWithItsButton) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    app.upload({file(QStringLiteral("a.txt"))}, app.destination(work.id, std::nullopt));
    auto* button = new UploadsToolbarButton(app);
    button->show();
    app.setUploadsPopoverShown(true);
    ASSERT_TRUE(button->popover()->isVisible());
    delete button;
    EXPECT_FALSE(app.isUploadsPopoverShown());
}

// Opened from a button at the window's right edge, in a short window, the popover stays inside
// the window: moved left, its list shortened (it scrolls).
TEST_F(UploadScreensTest, ThePopoverStaysInsideItsWindow) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    QList<QUrl> many;
    for (int i = 0; i < 12; ++i)
        many.append(file(QStringLiteral("file-%1.txt").arg(i)));
    app.upload(many, app.destination(work.id, std::nullopt));
    QWidget window;
    window.resize(500, 260);
    window.move(40, 40);
    auto* row = new QHBoxLayout(&window);
    row->addStretch(1);
    auto* button = new UploadsToolbarButton(app, &window);
    row->addWidget(button, 0, Qt::AlignTop);
    row->setContentsMargins(0, 0, 0, 0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    button->click();
    UploadsPopover* popover = button->popover();
    ASSERT_TRUE(popover && popover->isVisible());
    const QRect inside(window.mapToGlobal(QPoint(0, 0)), window.size());
    const QRect shown = popover->frameGeometry();
    EXPECT_TRUE(inside.contains(shown))
        << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
    EXPECT_GE(shown.top(), button->mapToGlobal(QPoint(0, button->height())).y());
    EXPECT_LT(popover->list()->height(), 12 * popover->list()->sizeHintForRow(0));
    popover->hide();
}

TEST_F(UploadScreensTest, TheToastAnnouncesItsMessage) {
    UploadToastView toast;
    toast.setMessage(UploadToast{3, QStringLiteral("Work")}.message());
    EXPECT_EQ(toast.accessibleName(), QStringLiteral("Saved 3 files to Work"));
    EXPECT_GT(toast.sizeHint().width(), 0);
}

TEST_F(UploadScreensTest, TheSmartUploadPaneGathersPlacesAndSends) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    SmartUploadView pane(app);
    pane.resize(700, 600);
    pane.show();
    auto* zone = child<QWidget>(&pane, QStringLiteral("smartUploadDropZone"));
    auto* upload = child<QPushButton>(&pane, QStringLiteral("smartUploadUpload"));
    auto* summary = child<QLabel>(&pane, QStringLiteral("smartUploadSummary"));
    // The batch and job lists keep the item-model rules through every change below.
    QList<std::shared_ptr<QAbstractItemModelTester>> testers;
    for (const QListView* list : pane.findChildren<QListView*>())
        testers.append(std::make_shared<QAbstractItemModelTester>(
            list->model(), QAbstractItemModelTester::FailureReportingMode::Fatal));
    ASSERT_GE(testers.size(), 3);
    EXPECT_TRUE(zone->isVisible());
    EXPECT_TRUE(child<QPushButton>(&pane, QStringLiteral("smartUploadChooseFiles"))->isEnabled());

    // A drop of local files joins the batch.
    QMimeData data;
    data.setUrls({file(QStringLiteral("a.pdf")), file(QStringLiteral("big.bin"), kTelegramLimit + 1)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &drop);
    ASSERT_EQ(app.smartBatch().size(), 2);
    EXPECT_FALSE(zone->isVisible());

    // Only Telegram left free space for nothing: send everything to "R&D" (the menu shows the
    // alias with its "&"), the big file keeps its own destination.
    auto* sendAll = child<QPushButton>(&pane, QStringLiteral("smartUploadSendAll"));
    QList<QAction*> actions = sendAll->menu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[1]->text(), QStringLiteral("R&&D"));
    actions[1]->trigger();
    EXPECT_EQ(app.smartBatch()[0].target->accountID, chats.id);
    EXPECT_NE(app.smartBatch()[1].target->accountID, chats.id);
    EXPECT_EQ(summary->text(), QStringLiteral("2 files, ") +
                                   Format::byteCount(10 + kTelegramLimit + 1));
    EXPECT_EQ(upload->text(), QStringLiteral("Upload 2 Files"));

    // One file without a destination stays behind when the others go.
    QList<SmartUploadItem> batch = app.smartBatch();
    batch[1].target.reset();
    app.setSmartBatch(batch);
    EXPECT_EQ(summary->text(), QStringLiteral("1 file(s) need a destination"));
    EXPECT_EQ(upload->text(), QStringLiteral("Upload 1 File"));
    QTest::keyClick(&pane, Qt::Key_Return);
    EXPECT_EQ(app.smartBatch().size(), 1);
    ASSERT_EQ(app.uploads()->jobs().size(), 1);
    EXPECT_TRUE(child<QWidget>(&pane, QStringLiteral("smartUploadInProgress"))->isVisible());
    EXPECT_TRUE(child<QToolButton>(&pane, QStringLiteral("smartUploadStopAll"))->isVisible());
    EXPECT_FALSE(upload->isEnabled());
    QTest::keyClick(&pane, Qt::Key_Return); // nothing ready: nothing happens
    EXPECT_EQ(app.uploads()->jobs().size(), 1);

    child<QPushButton>(&pane, QStringLiteral("smartUploadClearBatch"))->click();
    EXPECT_TRUE(app.smartBatch().isEmpty());
    EXPECT_TRUE(zone->isVisible());
}

TEST_F(UploadScreensTest, WithoutAccountsNothingCanBeGathered) {
    storeAccounts({});
    AppModel& app = build();
    SmartUploadView pane(app);
    pane.show();
    EXPECT_FALSE(child<QPushButton>(&pane, QStringLiteral("smartUploadChooseFiles"))->isEnabled());
    EXPECT_FALSE(child<QPushButton>(&pane, QStringLiteral("smartUploadAddRule"))->isEnabled());
    QMimeData data;
    data.setUrls({file(QStringLiteral("a.pdf"))});
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &drop);
    EXPECT_FALSE(drop.isAccepted());
    EXPECT_TRUE(app.smartBatch().isEmpty());
}

TEST_F(UploadScreensTest, TheFolderPickerBrowsesWritableFoldersAndChooses) {
    drive->addItem(folderItem(work.id, QStringLiteral("f1"), QStringLiteral("Reports")));
    drive->addItem(folderItem(work.id, QStringLiteral("f2"), QStringLiteral("2026"), QStringLiteral("f1")));
    drive->addItem(fileItem(work.id, QStringLiteral("x"), QStringLiteral("notes.txt")));
    AppModel& app = build();
    std::optional<UploadTarget> picked;
    FolderPickerSheet sheet(app, FolderPickRequest{QUuid::createUuid(), work, std::nullopt,
                                                   [&](const UploadTarget& t) { picked = t; }});
    sheet.show();
    auto* list = child<QListWidget>(&sheet, QStringLiteral("folderPickerList"));
    auto* choose = child<QPushButton>(&sheet, QStringLiteral("folderPickerChoose"));
    EXPECT_EQ(choose->text(), QStringLiteral("Choose \u201cWork\u201d"));
    EXPECT_FALSE(child<QToolButton>(&sheet, QStringLiteral("folderPickerBack"))->isEnabled());
    waitFor([&] { return list->count() == 1 && list->item(0)->text() == QStringLiteral("Reports"); });
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    waitFor([&] { return list->count() == 1 && list->item(0)->text() == QStringLiteral("2026"); });
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    waitFor([&] { return list->item(0)->text() == QStringLiteral("No folders here."); });
    QTest::keyClick(&sheet, Qt::Key_Return);
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->folderID, QStringLiteral("f2"));
    EXPECT_EQ(picked->folderPath, (QStringList{QStringLiteral("Reports"), QStringLiteral("2026")}));
}

TEST_F(UploadScreensTest, TheFolderPickerAndNewRuleSheetShowNamesAsWritten) {
    const QStringList names = {QStringLiteral("<b>Bold</b>"), QStringLiteral("R&D"),
                               QStringLiteral("Say \"hi\""), QStringLiteral("&amp;")};
    for (const QString& name : names)
        drive->addItem(folderItem(work.id, QStringLiteral("id ") + name, name));
    work.alias = QStringLiteral("Tom & <i>Jerry</i>");
    storeAccounts({work, chats});
    AppModel& app = build();
    FolderPickerSheet sheet(app, FolderPickRequest{QUuid::createUuid(), work, std::nullopt, {}});
    sheet.show();
    auto* list = child<QListWidget>(&sheet, QStringLiteral("folderPickerList"));
    auto* choose = child<QPushButton>(&sheet, QStringLiteral("folderPickerChoose"));
    EXPECT_EQ(shownButtonText(choose->text()),
              QStringLiteral("Choose \u201cTom & <i>Jerry</i>\u201d"));
    EXPECT_TRUE(QKeySequence::mnemonic(choose->text()).isEmpty());
    waitFor([&] { return list->count() == names.size(); });
    for (const QString& name : names) {
        const QList<QListWidgetItem*> rows = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(rows.size(), 1) << name.toStdString();
        EXPECT_EQ(shownToolTip(rows.first()->toolTip()), name);
    }
    const QListWidgetItem* rd = list->findItems(QStringLiteral("R&D"), Qt::MatchExactly).first();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(rd).center());
    waitFor([&] {
        return shownButtonText(choose->text()) == QStringLiteral("Choose \u201cR&D\u201d");
    });
    EXPECT_TRUE(QKeySequence::mnemonic(choose->text()).isEmpty());
    EXPECT_EQ(child<QLabel>(&sheet, QStringLiteral("folderPickerLocation"))->textFormat(),
              Qt::PlainText);

    NewRuleSheet rule(app);
    rule.show();
    auto* destination = child<QToolButton>(&rule, QStringLiteral("newRuleDestination"));
    const QList<QAction*> items = destination->menu()->actions();
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(shownButtonText(items[0]->text()), QStringLiteral("Tom & <i>Jerry</i> (top level)"));
    items[0]->trigger();
    EXPECT_EQ(shownButtonText(destination->text()), QStringLiteral("Tom & <i>Jerry</i>"));
    EXPECT_TRUE(QKeySequence::mnemonic(destination->text()).isEmpty());
}

TEST_F(UploadScreensTest, ANewRuleNeedsADestinationAndARealExtension) {
    AppModel& app = build();
    NewRuleSheet sheet(app);
    sheet.show();
    auto* add = child<QPushButton>(&sheet, QStringLiteral("newRuleAdd"));
    auto* destination = child<QToolButton>(&sheet, QStringLiteral("newRuleDestination"));
    EXPECT_FALSE(add->isEnabled());
    EXPECT_EQ(destination->text(), QStringLiteral("Choose\u2026"));
    const QList<QAction*> items = destination->menu()->actions();
    ASSERT_EQ(items.size(), 4); // two accounts, top level and folder each
    EXPECT_EQ(items[0]->text(), QStringLiteral("Work (top level)"));
    items[0]->trigger();
    EXPECT_EQ(destination->text(), QStringLiteral("Work"));
    EXPECT_TRUE(add->isEnabled());

    child<QPushButton>(&sheet, QStringLiteral("newRuleByExtension"))->click();
    auto* extension = child<QLineEdit>(&sheet, QStringLiteral("newRuleExtension"));
    EXPECT_FALSE(add->isEnabled());
    QTest::keyClicks(extension, QStringLiteral(" .. "));
    EXPECT_FALSE(add->isEnabled());
    extension->setText(QStringLiteral(" .PDF "));
    EXPECT_TRUE(add->isEnabled());
    QTest::keyClick(extension, Qt::Key_Return); // one Return, one rule
    ASSERT_EQ(app.smartUpload()->rules().size(), 1);
    EXPECT_EQ(app.smartUpload()->rules().first().match, UploadRule::Match::fileExtension(QStringLiteral("pdf")));
    EXPECT_FALSE(sheet.isVisible());
}

} // namespace
