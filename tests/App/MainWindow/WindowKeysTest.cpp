// The main window by keyboard alone, keys sent to whatever holds the focus: Return opens what
// the folder table's current row shows and the focus follows into the folder opened, Tab leaves
// the table, the desktop's Find keys reach the search field, New Folder works from anywhere in
// the window, and the quick-look panel asks never to take the keyboard.
#include "App/Preview/QuickLookPanel.h"
#include "App/Shell/MainWindow.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/App/Preview/RecordingQuickLook.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWindow>

using namespace tw;
using namespace tw::test;

namespace {

class WindowKeysTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        storeAccounts({work});
        drive->addItem(folderItem(work.id, QStringLiteral("dir"), QStringLiteral("Trips")));
        drive->addItem(fileItem(work.id, QStringLiteral("inside"), QStringLiteral("inside.txt"),
                                QStringLiteral("dir"), 3));
        drive->addItem(fileItem(work.id, QStringLiteral("second"), QStringLiteral("second.txt"),
                                QStringLiteral("dir"), 3));
        drive->addItem(
            fileItem(work.id, QStringLiteral("top"), QStringLiteral("top.txt"), std::nullopt, 3));
        AppModel& app = build();
        app.setHasCompletedOnboarding(true);
        app.setSelection(SidebarItem::storage(work.id));
        window_ = std::make_unique<MainWindow>(
            app, quickLook, [this](const PreviewTarget& t) { previews.append(t); });
        window_->show();
        QApplication::setActiveWindow(window_.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }
    void TearDown() override {
        window_.reset();
        AppModelFixture::TearDown();
    }

    /// The shown folder table once it lists `rows` rows.
    QAbstractItemView* table(int rows) {
        QAbstractItemView* found = nullptr;
        waitFor([&] {
            found = nullptr;
            for (auto* view :
                 window_->findChildren<QAbstractItemView*>(QStringLiteral("folderTable")))
                if (view->isVisible())
                    found = view;
            return found && found->model()->rowCount() == rows;
        });
        return found;
    }
    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, Qt::Key(key), modifiers);
    }

    StorageAccount work;
    RecordingQuickLook quickLook;
    QList<PreviewTarget> previews;
    std::unique_ptr<MainWindow> window_;
};

} // namespace

TEST_F(WindowKeysTest, ReturnOpensTheCurrentRowAndTheFocusFollowsIntoTheFolder) {
    QAbstractItemView* root = table(2);
    root->setFocus();
    root->setCurrentIndex(root->model()->index(0, 0)); // "Trips" sorts first
    ASSERT_EQ(root->currentIndex().data().toString(), QStringLiteral("Trips"));
    press(Qt::Key_Return);

    QAbstractItemView* inside = table(2);
    ASSERT_NE(inside, root);
    waitFor([&] { return inside->hasFocus(); });
    // Down then Enter opens the file under the new current row.
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    ASSERT_TRUE(inside->currentIndex().isValid());
    const QString name = inside->currentIndex().data().toString();
    press(Qt::Key_Enter);
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews.first().file.providerID, name == QStringLiteral("inside.txt")
                                               ? QStringLiteral("inside")
                                               : QStringLiteral("second"));
}

TEST_F(WindowKeysTest, TabLeavesTheTable) {
    QAbstractItemView* root = table(2);
    root->setFocus();
    root->setCurrentIndex(root->model()->index(0, 0));
    press(Qt::Key_Tab);
    EXPECT_FALSE(root->hasFocus());
    EXPECT_EQ(root->currentIndex().row(), 0); // the current row did not move cell by cell
}

TEST_F(WindowKeysTest, FindKeysReachTheSearchFieldAndNewFolderWorksFromIt) {
    QAbstractItemView* root = table(2);
    root->setFocus();
    auto* field = window_->findChild<QLineEdit*>(QStringLiteral("searchText"));
    ASSERT_NE(field, nullptr);
    const QKeySequence find(QKeySequence::Find);
    ASSERT_FALSE(find.isEmpty());
    press(find[0].key(), find[0].keyboardModifiers());
    EXPECT_TRUE(field->hasFocus());

    // New Folder from the search field: its prompt opens for the shown folder.
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QWidget* prompt = nullptr;
    waitFor([&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QStringLiteral("newFolderSheet") && top->isVisible())
                prompt = top;
        return prompt != nullptr;
    });
    prompt->close();
}

TEST_F(WindowKeysTest, TheQuickLookPanelNeverTakesTheKeyboard) {
    QAbstractItemView* root = table(2);
    root->setFocus();
    QTemporaryDir settingsDir;
    QuickLookPanel panel(std::make_shared<SettingsStore>(
        settingsDir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat));
    panel.show(fileItem(work.id, QStringLiteral("top"), QStringLiteral("top.txt"), std::nullopt, 3),
               *model, [](const FileItem&) {});
    QWidget* shown = nullptr;
    waitFor([&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QStringLiteral("quickLookPanel") && top->isVisible())
                shown = top;
        return shown != nullptr;
    });
    // The window system is told that the panel takes no keyboard focus: a click into it
    // leaves the main window active, so Space and Escape keep reaching the table. (The
    // offscreen platform activates every window it shows, so only the request is checked.)
    ASSERT_NE(shown->windowHandle(), nullptr);
    EXPECT_TRUE(shown->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    panel.close();
}
