// The upload lists as assistive technologies see them, on the real model over fakes: a list
// of rows named by file and destination and described by their status, each with its drawn
// controls as buttons whose press action does what a click does.
#include "App/Uploads/SmartUploadView.h"
#include "App/Uploads/UploadsPopover.h"
#include "App/Uploads/UploadsToolbarButton.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Uploads/UploadListFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QListView>
#include <QMenu>

using namespace tw;
using namespace tw::test;
using Kind = UploadJob::State::Kind;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;

namespace {

class UploadRowAccessibilityTest : public UploadListFixture {
protected:
    static QAccessibleInterface* accessible(QListView* list) {
        return QAccessible::queryAccessibleInterface(list);
    }
    /// The names of a row's controls, leading to trailing.
    static QStringList controlNames(QAccessibleInterface* row) {
        QStringList names;
        for (int i = 0; row && i < row->childCount(); ++i)
            names.append(row->child(i)->text(QAccessible::Name));
        return names;
    }
    static void press(QAccessibleInterface* control,
                      const QString& action = QAccessibleActionInterface::pressAction()) {
        ASSERT_NE(control, nullptr);
        ASSERT_NE(control->actionInterface(), nullptr);
        ASSERT_TRUE(control->actionInterface()->actionNames().contains(action));
        control->actionInterface()->doAction(action);
    }
};

TEST_F(UploadRowAccessibilityTest, PopoverRowsOfferTheirControlAsAButtonThatWorksTheJob) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    app.upload({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt"))},
               app.destination(work.id, std::nullopt));
    UploadsPopover popover(app);
    popover.show();
    QListView* list = popover.list();
    QAccessibleInterface* view = accessible(list);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::List);
    ASSERT_EQ(view->childCount(), 2);

    // Newest first: each row is named by its file and destination, its status is its value.
    QAccessibleInterface* row = view->child(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->role(), QAccessible::ListItem);
    EXPECT_EQ(row->parent(), view);
    EXPECT_EQ(view->indexOfChild(row), 0);
    EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("b.txt, to Work"));
    EXPECT_EQ(row->text(QAccessible::Description), QStringLiteral("Waiting \u2014 Work"));
    EXPECT_EQ(row->text(QAccessible::Value), QStringLiteral("Waiting \u2014 Work"));
    EXPECT_EQ(controlNames(view->child(1)), QStringList{QStringLiteral("Stop uploading a.txt")});

    ASSERT_EQ(row->childCount(), 1);
    QAccessibleInterface* stop = row->child(0);
    EXPECT_EQ(stop->role(), QAccessible::PushButton);
    EXPECT_EQ(stop->parent(), row);
    EXPECT_EQ(row->indexOfChild(stop), 0);
    EXPECT_EQ(stop->text(QAccessible::Name), QStringLiteral("Stop uploading b.txt"));
    EXPECT_EQ(stop->text(QAccessible::Description), QStringLiteral("Stop"));
    EXPECT_TRUE(row->rect().contains(stop->rect()));

    // Pressing it stops that job only; the same button then tries it again.
    const QUuid newest = app.uploads()->jobs().last().id;
    const QUuid oldest = app.uploads()->jobs().first().id;
    press(stop);
    EXPECT_EQ(app.uploads()->job(newest)->state.kind, Kind::cancelled);
    EXPECT_EQ(app.uploads()->job(oldest)->state.kind, Kind::queued);
    EXPECT_EQ(row->text(QAccessible::Description), QStringLiteral("Stopped"));
    EXPECT_EQ(stop->text(QAccessible::Name), QStringLiteral("Retry b.txt"));
    EXPECT_EQ(stop->text(QAccessible::Description), QStringLiteral("Try again"));
    press(stop);
    EXPECT_EQ(app.uploads()->job(newest)->state.kind, Kind::queued);

    // A completed job has no control.
    app.uploads()->setMaxConcurrentUploads(2);
    waitFor([&] {
        const auto& jobs = app.uploads()->jobs();
        return std::all_of(jobs.begin(), jobs.end(),
                           [](const UploadJob& job) { return job.state.kind == Kind::completed; });
    });
    EXPECT_EQ(view->child(0)->childCount(), 0);
    EXPECT_FALSE(stop->isValid());
}

TEST_F(UploadRowAccessibilityTest, AFailureThatNeedsSignInOffersReconnectByItsName) {
    AppModel& app = build();
    drive->failAlways(Op::upload, StorageError(Code::reauthRequired));
    app.upload({file(QStringLiteral("a.txt"))}, app.destination(work.id, std::nullopt));
    waitFor([&] { return app.uploads()->jobs().first().state.kind == Kind::failed; });
    UploadsPopover popover(app);
    popover.show();
    QAccessibleInterface* row = accessible(popover.list())->child(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(controlNames(row), QStringList{QStringLiteral("Reconnect\u2026")});

    drive->failAlways(Op::upload, std::nullopt);
    drive->setConnection(connection(work.providerAccountID));
    press(row->child(0));
    EXPECT_TRUE(app.isConnecting());
    waitFor([&] { return !app.isConnecting(); });
    // Signed in again, the row's button retries instead.
    EXPECT_EQ(controlNames(row), QStringList{QStringLiteral("Retry a.txt")});
}

TEST_F(UploadRowAccessibilityTest, RowsFollowTheQueueAndTheKeyboard) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    app.upload({file(QStringLiteral("a.txt"))}, app.destination(work.id, std::nullopt));
    UploadsPopover popover(app);
    popover.show();
    popover.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&popover));
    QListView* list = popover.list();
    QAccessibleInterface* view = accessible(list);
    QAccessibleInterface* first = view->child(0);
    ASSERT_NE(first, nullptr);

    // A newer job takes the top row; the known row moves down with its job.
    app.upload({file(QStringLiteral("b.txt"))}, app.destination(work.id, std::nullopt));
    ASSERT_EQ(view->childCount(), 2);
    EXPECT_EQ(view->child(0)->text(QAccessible::Name), QStringLiteral("b.txt, to Work"));
    EXPECT_EQ(view->child(1), first);
    EXPECT_EQ(view->indexOfChild(first), 1);
    EXPECT_EQ(first->text(QAccessible::Name), QStringLiteral("a.txt, to Work"));

    // The focused row is the current one of the focused list.
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 2000));
    list->setCurrentIndex(list->model()->index(1, 0));
    EXPECT_TRUE(first->state().focused);
    EXPECT_FALSE(view->child(0)->state().focused);
    EXPECT_EQ(view->focusChild(), first);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_FALSE(first->state().focused);
    EXPECT_EQ(view->focusChild(), view->child(0));

    // Where a row and its control are drawn, they are found.
    const QRect button = first->child(0)->rect();
    EXPECT_EQ(view->childAt(button.center().x(), button.center().y()), first);
    EXPECT_EQ(first->childAt(button.center().x(), button.center().y()), first->child(0));

    // Its job cleared away, the row is gone and its interface says so.
    app.uploads()->cancel(app.uploads()->jobs().first().id);
    app.uploads()->clearFinished();
    ASSERT_EQ(view->childCount(), 1);
    EXPECT_EQ(view->child(0)->text(QAccessible::Name), QStringLiteral("b.txt, to Work"));
    EXPECT_EQ(view->indexOfChild(first), -1);
}

TEST_F(UploadRowAccessibilityTest, SmartUploadRowsOfferTheDestinationMenuAndRemove) {
    AppModel& app = build();
    SmartUploadView pane(app);
    pane.resize(720, 640);
    pane.show();
    pane.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pane));
    app.addToSmartUpload({file(QStringLiteral("a.pdf")), file(QStringLiteral("b.pdf")),
                          file(QStringLiteral("c.pdf"))});
    QList<SmartUploadItem> batch = app.smartBatch();
    ASSERT_EQ(batch.size(), 3);
    for (SmartUploadItem& item : batch)
        item.target.reset();
    app.setSmartBatch(batch);
    app.setTarget(UploadTarget{work.id, std::nullopt, {}}, batch[0].id);

    auto* list = pane.findChild<QListView*>(QStringLiteral("smartUploadBatch"));
    ASSERT_NE(list, nullptr);
    QAccessibleInterface* view = accessible(list);
    ASSERT_EQ(view->childCount(), 3);

    // Each row: the destination menu, named by where the file goes, then "Remove <file>".
    struct Expected {
        int row;
        QString name;
        QStringList controls;
    };
    const Expected rows[] = {
        {0, QStringLiteral("a.pdf, to Work"), {QStringLiteral("Work"), QStringLiteral("Remove a.pdf")}},
        {1, QStringLiteral("b.pdf"), {QStringLiteral("Choose Destination"), QStringLiteral("Remove b.pdf")}},
        {2, QStringLiteral("c.pdf"), {QStringLiteral("Choose Destination"), QStringLiteral("Remove c.pdf")}},
    };
    for (const Expected& expected : rows) {
        SCOPED_TRACE(expected.row);
        QAccessibleInterface* row = view->child(expected.row);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->text(QAccessible::Name), expected.name);
        EXPECT_EQ(controlNames(row), expected.controls);
    }
    QAccessibleInterface* menu = view->child(0)->child(0);
    EXPECT_EQ(menu->role(), QAccessible::ButtonMenu);
    EXPECT_TRUE(menu->state().hasPopup);
    EXPECT_EQ(menu->text(QAccessible::Description), QStringLiteral("Change where this file goes"));
    QAccessibleInterface* remove = view->child(1)->child(1);
    EXPECT_EQ(remove->role(), QAccessible::PushButton);
    EXPECT_EQ(remove->text(QAccessible::Description), QStringLiteral("Remove from this upload"));

    // The menu button opens the row's destination menu, where the file's destination is chosen.
    press(view->child(1)->child(0), QAccessibleActionInterface::showMenuAction());
    auto* opened = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->objectName(), QStringLiteral("smartUploadDestinationMenu"));
    opened->close();

    // Remove takes that file, and only it, out of the batch.
    press(remove);
    ASSERT_EQ(app.smartBatch().size(), 2);
    EXPECT_EQ(app.smartBatch()[0].file.name, QStringLiteral("a.pdf"));
    EXPECT_EQ(app.smartBatch()[1].file.name, QStringLiteral("c.pdf"));
    ASSERT_EQ(view->childCount(), 2);
    EXPECT_EQ(controlNames(view->child(1)),
              (QStringList{QStringLiteral("Choose Destination"), QStringLiteral("Remove c.pdf")}));

    // The remove button is where its row draws it: a click there removes the same way.
    const QRect drawn = view->child(1)->child(1)->rect();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->viewport()->mapFromGlobal(drawn.center()));
    ASSERT_EQ(app.smartBatch().size(), 1);
    EXPECT_EQ(app.smartBatch()[0].file.name, QStringLiteral("a.pdf"));
}

} // namespace
