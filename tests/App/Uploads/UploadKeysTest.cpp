// The upload screens by keyboard alone, on the real model over fakes: Tab reaches the rows of
// the smart upload pane and the popover, Space, Delete and the menu keys work the focused row,
// Return uploads from the pane unless a menu takes it, and every row tells assistive
// technologies what it is and how it stands.
#include "App/Uploads/SmartUploadView.h"
#include "App/Uploads/UploadsPopover.h"
#include "App/Uploads/UploadsToolbarButton.h"
#include "App/DesignSystem/Format.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Uploads/UploadListFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QListView>
#include <QMenu>
#include <QPushButton>

using namespace tw;
using namespace tw::test;
using Kind = UploadJob::State::Kind;

namespace {

class UploadKeysTest : public UploadListFixture {
protected:
    /// Presses Tab on the focused widget until `target` has the focus; false after `most` presses.
    static bool tabTo(QWidget* target, int most = 12) {
        for (int i = 0; i < most && !target->hasFocus(); ++i) {
            QWidget* focus = QApplication::focusWidget();
            if (!focus)
                return false;
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        return target->hasFocus();
    }
    /// What assistive technologies read for row of a list: its name and its description.
    static std::pair<QString, QString> spoken(QListView* list, int row) {
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list);
        if (!view || !view->tableInterface())
            return {};
        QAccessibleInterface* cell = view->tableInterface()->cellAt(row, 0);
        if (!cell)
            return {};
        return {cell->text(QAccessible::Name), cell->text(QAccessible::Description)};
    }
    static QMenu* openMenu() {
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }
};

TEST_F(UploadKeysTest, TheSmartUploadPaneIsWorkedByKeyboard) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    SmartUploadView pane(app);
    pane.resize(720, 640);
    pane.show();
    pane.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pane));
    app.addToSmartUpload({file(QStringLiteral("a.pdf")), file(QStringLiteral("b.pdf")),
                          file(QStringLiteral("c.pdf"))});
    ASSERT_EQ(app.smartBatch().size(), 3);
    QList<SmartUploadItem> batch = app.smartBatch();
    for (SmartUploadItem& item : batch)
        item.target.reset();
    app.setSmartBatch(batch);
    app.setTarget(UploadTarget{work.id, std::nullopt, {}}, batch[0].id);

    auto* list = pane.findChild<QListView*>(QStringLiteral("smartUploadBatch"));
    auto* upload = pane.findChild<QPushButton*>(QStringLiteral("smartUploadUpload"));
    ASSERT_TRUE(list && upload);

    // Tab from the top of the pane reaches the rows, and the first row has the keyboard.
    pane.setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(tabTo(list));
    EXPECT_EQ(list->currentIndex().row(), 0);

    // Every row says what it is and how it stands.
    EXPECT_EQ(spoken(list, 0), std::make_pair(QStringLiteral("a.pdf, to Work"),
                                              Format::byteCount(10) +
                                                  QStringLiteral(" \u00b7 Chosen by you")));
    EXPECT_EQ(spoken(list, 1).first, QStringLiteral("b.pdf"));

    // Space opens the focused row's destination menu; Return there chooses in the menu and
    // uploads nothing.
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_EQ(list->currentIndex().row(), 1);
    QTest::keyClick(list, Qt::Key_Space);
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), QStringLiteral("smartUploadDestinationMenu"));
    QTest::keyClick(menu, Qt::Key_Down);
    ASSERT_NE(menu->activeAction(), nullptr);
    EXPECT_EQ(menu->activeAction()->text(), QStringLiteral("Work"));
    QTest::keyClick(menu, Qt::Key_Return);
    EXPECT_EQ(openMenu(), nullptr);
    ASSERT_TRUE(app.smartBatch()[1].target.has_value());
    EXPECT_EQ(app.smartBatch()[1].target->accountID, work.id);
    EXPECT_TRUE(app.uploads()->jobs().isEmpty());
    EXPECT_EQ(upload->text(), QStringLiteral("Upload 2 Files"));

    // The menu key, Shift+F10 and Alt+Down open it too; Escape closes it, the row keeps the focus.
    for (const auto& [key, mods] : {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers{}},
                                    std::pair{Qt::Key_F10, Qt::KeyboardModifiers{Qt::ShiftModifier}},
                                    std::pair{Qt::Key_Down, Qt::KeyboardModifiers{Qt::AltModifier}}}) {
        QTest::keyClick(list, key, mods);
        menu = openMenu();
        ASSERT_NE(menu, nullptr) << key;
        QTest::keyClick(menu, Qt::Key_Escape);
        EXPECT_EQ(openMenu(), nullptr);
        EXPECT_EQ(list->currentIndex().row(), 1);
    }

    // Delete takes the focused file out of the batch; the keyboard stays on the rows.
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_EQ(list->currentIndex().row(), 2);
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(app.smartBatch().size(), 2);
    EXPECT_EQ(app.smartBatch()[1].file.name, QStringLiteral("b.pdf"));
    EXPECT_TRUE(list->hasFocus());

    // Return on the rows is the pane's default action: the ready files go.
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(app.uploads()->jobs().size(), 2);
    EXPECT_TRUE(app.smartBatch().isEmpty());
}

TEST_F(UploadKeysTest, ReturnUploadsOnlyWhileTheButtonCan) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    SmartUploadView pane(app);
    pane.show();
    pane.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pane));
    app.addToSmartUpload({file(QStringLiteral("a.pdf"))});
    QList<SmartUploadItem> batch = app.smartBatch();
    ASSERT_EQ(batch.size(), 1);
    batch[0].target.reset();
    app.setSmartBatch(batch);
    auto* list = pane.findChild<QListView*>(QStringLiteral("smartUploadBatch"));
    pane.setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(tabTo(list));
    // Nothing ready: the button is disabled and Return (main or keypad) does nothing.
    QTest::keyClick(list, Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(app.uploads()->jobs().isEmpty());
    EXPECT_EQ(app.smartBatch().size(), 1);
    // Ready: the keypad's Enter uploads as Return does.
    app.setTarget(UploadTarget{work.id, std::nullopt, {}}, batch[0].id);
    QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(app.uploads()->jobs().size(), 1);
}

TEST_F(UploadKeysTest, JobRowsOfThePaneAreReachedAndStoppedByKeyboard) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    app.upload({file(QStringLiteral("a.txt"))}, app.destination(work.id, std::nullopt));
    SmartUploadView pane(app);
    pane.show();
    pane.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pane));
    auto* active = pane.findChild<QListView*>(QStringLiteral("smartUploadInProgress"));
    ASSERT_NE(active, nullptr);
    pane.setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(tabTo(active, 20));
    EXPECT_EQ(spoken(active, 0), std::make_pair(QStringLiteral("a.txt, to Work"),
                                                QStringLiteral("Waiting \u2014 Work")));
    // Return is not the row's: with an empty batch it does nothing here.
    QTest::keyClick(active, Qt::Key_Return);
    EXPECT_EQ(app.uploads()->jobs().first().state.kind, Kind::queued);
    QTest::keyClick(active, Qt::Key_Space);
    EXPECT_EQ(app.uploads()->jobs().first().state.kind, Kind::cancelled);
    // The stopped job moved to "Recent", whose row Space retries.
    auto* recent = pane.findChild<QListView*>(QStringLiteral("smartUploadRecent"));
    ASSERT_TRUE(recent->isVisible());
    recent->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(spoken(recent, 0).second, QStringLiteral("Stopped"));
    QTest::keyClick(recent, Qt::Key_Space);
    EXPECT_EQ(app.uploads()->jobs().first().state.kind, Kind::queued);
}

TEST_F(UploadKeysTest, ThePopoverOpensOnItsRowsAndSpaceOrReturnPressTheirControl) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    app.upload({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt"))},
               app.destination(work.id, std::nullopt));
    UploadsToolbarButton button(app);
    button.show();
    button.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&button));
    button.click();
    UploadsPopover* popover = button.popover();
    ASSERT_TRUE(popover && popover->isVisible());
    QListView* list = popover->list();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 2000));
    EXPECT_EQ(list->currentIndex().row(), 0);
    EXPECT_EQ(spoken(list, 0), std::make_pair(QStringLiteral("b.txt, to Work"),
                                              QStringLiteral("Waiting \u2014 Work")));

    // Space stops the newest job, Return tries it again; Down moves to the next row.
    const QUuid newest = app.uploads()->jobs().last().id;
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(app.uploads()->job(newest)->state.kind, Kind::cancelled);
    EXPECT_EQ(spoken(list, 0).second, QStringLiteral("Stopped"));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(app.uploads()->job(newest)->state.kind, Kind::queued);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(app.uploads()->jobs().first().state.kind, Kind::cancelled);
    EXPECT_EQ(app.uploads()->job(newest)->state.kind, Kind::queued);
    // Tab moves on to "Clear", which clears the stopped job.
    QTest::keyClick(list, Qt::Key_Tab);
    auto* clear = popover->findChild<QPushButton*>(QStringLiteral("uploadsClear"));
    ASSERT_TRUE(clear->hasFocus());
    QTest::keyClick(clear, Qt::Key_Space);
    EXPECT_EQ(app.uploads()->jobs().size(), 1);
}

} // namespace
