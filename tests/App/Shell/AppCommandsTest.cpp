// The menu commands on a real menu bar: what the Go menu lists, which commands are enabled
// for what the window shows, what each command does, and that the shortcuts work with every
// menu closed, also from a text field.
#include "App/Shell/AppCommands.h"

#include "StorageCore/Accounts/AccountManager.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;

namespace {

/// A text field with the X11 key bindings, which the offscreen platform lacks: there Ctrl+U
/// is QKeySequence::DeleteCompleteLine, claimed through ShortcutOverride and erasing the line.
class X11LineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride && isEraseLine(event)) {
            event->accept();
            return true;
        }
        return QLineEdit::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (isEraseLine(event)) {
            clear();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    static bool isEraseLine(QEvent* event) {
        auto* key = static_cast<QKeyEvent*>(event);
        return key->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_U);
    }
};

class AppCommandsTest : public AppModelFixture {
protected:
    AppCommands& make() {
        if (!model)
            build();
        window = std::make_unique<QMainWindow>();
        window->setCentralWidget(new QWidget);
        commands = new AppCommands(*model, *window,
                                   AppCommands::Handlers{[this] { ++settingsShown; },
                                                         [this] { ++quitAsked; },
                                                         [this] { ++aboutShown; }});
        return *commands;
    }

    /// The Go menu as a user sees it: titles of the visible items, "-" for a separator.
    QStringList goMenu() const {
        QStringList items;
        for (QAction* action : commands->goMenu()->actions()) {
            if (!action->isVisible())
                continue;
            items.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return items;
    }

    QStringList visibleAccountItems() const {
        QStringList items;
        for (QAction* action : commands->accountItems()) {
            if (action->isVisible())
                items.append(action->text() + QStringLiteral(" ") +
                             action->shortcut().toString(QKeySequence::PortableText));
        }
        return items;
    }

    std::unique_ptr<QMainWindow> window;
    AppCommands* commands = nullptr;
    int settingsShown = 0;
    int quitAsked = 0;
    int aboutShown = 0;
};

TEST_F(AppCommandsTest, TheMenusHoldTheirCommandsInOrderWithTheirShortcuts) {
    AppCommands& c = make();
    QStringList menus;
    for (QAction* menu : window->menuBar()->actions())
        menus.append(menu->text());
    EXPECT_EQ(menus, QStringList({"&File", "&Go", "&Help"}));

    QStringList file;
    for (QAction* action : c.fileMenu()->actions())
        file.append(action->isSeparator() ? QStringLiteral("-")
                                          : action->text() + QStringLiteral(" ") +
                                                action->shortcut().toString(QKeySequence::PortableText));
    EXPECT_EQ(file, QStringList({"Upload Files… Ctrl+U", "Connect Google Drive Account… Ctrl+Alt+N",
                                 "Connect Telegram Account… ", "-", "Settings… Ctrl+,", "-",
                                 "Quit Ctrl+Q"}));
    EXPECT_EQ(c.home()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
    EXPECT_EQ(c.enclosingFolder()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Up));
    EXPECT_EQ(c.smartUpload()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U));
    EXPECT_EQ(c.helpMenu()->actions(), QList<QAction*>({c.about()}));
    EXPECT_EQ(c.about()->text(), "About Kelvanor");
    // Every command is found by name and lives on the window too (shortcuts with menus closed).
    for (const char* name : {"uploadFiles", "connectGoogleDrive", "connectTelegramAccount", "settings",
                             "quit", "goHome", "goAccount1", "goAccount9", "enclosingFolder",
                             "goSmartUpload", "aboutKelvanor"}) {
        QAction* action = c.findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        EXPECT_TRUE(window->actions().contains(action)) << name;
    }
}

TEST_F(AppCommandsTest, WithNoAccountsGoHasHomeEnclosingFolderAndSmartUploadAndUploadIsOff) {
    AppCommands& c = make();
    EXPECT_EQ(goMenu(), QStringList({"Home", "-", "Enclosing Folder", "Smart Upload"}));
    EXPECT_FALSE(c.enclosingFolder()->isEnabled());
    EXPECT_FALSE(c.uploadFiles()->isEnabled());
    model->setSelection(SidebarItem::uploads());
    EXPECT_FALSE(c.uploadFiles()->isEnabled());
    c.uploadFiles()->trigger();
    EXPECT_TRUE(panels->asked.isEmpty());
}

TEST_F(AppCommandsTest, TwelveAccountsGiveNineItemsWithCtrlOneToNine) {
    QList<StorageAccount> accounts;
    for (int i = 1; i <= 12; ++i)
        accounts.append(storedAccount(i % 2 ? ProviderKind::googleDrive : ProviderKind::telegram,
                                      QStringLiteral("Account %1").arg(i)));
    storeAccounts(accounts);
    make();
    QStringList expected;
    for (int i = 1; i <= 9; ++i)
        expected.append(QStringLiteral("Account %1 Ctrl+%1").arg(i));
    EXPECT_EQ(visibleAccountItems(), expected);
    EXPECT_EQ(goMenu().size(), 1 + 9 + 3);

    commands->accountItems().at(8)->trigger();
    EXPECT_EQ(model->selection(), SidebarItem::storage(accounts.at(8).id));
    // Fewer accounts later: the items beyond them disappear and do nothing.
    for (int i = 3; i < 12; ++i)
        model->accounts()->disconnect(accounts.at(i).id);
    waitFor([this] { return model->accounts()->accounts().size() == 3; });
    EXPECT_EQ(visibleAccountItems(),
              QStringList({"Account 1 Ctrl+1", "Account 2 Ctrl+2", "Account 3 Ctrl+3"}));
    EXPECT_FALSE(commands->accountItems().at(5)->isEnabled());
}

TEST_F(AppCommandsTest, UploadFollowsWhatTheWindowShows) {
    const StorageAccount drive = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    const StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"));
    storeAccounts({drive, chats});
    AppCommands& c = make();

    const struct {
        const char* name;
        std::optional<SidebarItem> selection;
        std::optional<QString> telegramFolder; // the open Telegram folder (none: the root)
        bool enabled;
    } cases[] = {
        {"nothing selected", std::nullopt, std::nullopt, false},
        {"home", SidebarItem::home(), std::nullopt, false},
        {"smart upload with accounts", SidebarItem::uploads(), std::nullopt, true},
        {"a Drive root", SidebarItem::storage(drive.id), std::nullopt, true},
        {"Saved Messages", SidebarItem::storage(chats.id), std::nullopt, true},
        {"a folder channel", SidebarItem::storage(chats.id), QStringLiteral("c:100"), true},
        {"a chat group", SidebarItem::storage(chats.id), QStringLiteral("g:groups"), false},
        {"another user's chat", SidebarItem::storage(chats.id), QStringLiteral("r:42"), false},
        {"an unknown account", SidebarItem::storage(QUuid::createUuid()), std::nullopt, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        model->setPath(chats.id, k.telegramFolder
                                     ? QList<FolderCrumb>{FolderCrumb{*k.telegramFolder, QStringLiteral("x")}}
                                     : QList<FolderCrumb>{});
        model->setSelection(k.selection);
        EXPECT_EQ(c.uploadFiles()->isEnabled(), k.enabled);
        EXPECT_EQ(c.currentDestination().has_value(),
                  k.enabled && k.selection != SidebarItem::uploads());
    }

    // An account that needs sign-in takes no uploads.
    model->setPath(chats.id, {});
    model->setSelection(SidebarItem::storage(drive.id));
    model->accounts()->markReauthRequired(drive.id);
    EXPECT_FALSE(c.uploadFiles()->isEnabled());
}

TEST_F(AppCommandsTest, UploadOpensThePlainOrTheSmartChooser) {
    const StorageAccount drive = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({drive});
    AppCommands& c = make();
    model->setSelection(SidebarItem::storage(drive.id));
    c.uploadFiles()->trigger();
    model->setSelection(SidebarItem::uploads());
    c.uploadFiles()->trigger();
    ASSERT_EQ(panels->asked.size(), 2);
    EXPECT_EQ(panels->asked.at(0), "Upload | Upload to " + model->destination(drive.id, std::nullopt).displayName);
    EXPECT_TRUE(panels->asked.at(1).startsWith("Add | "));
}

TEST_F(AppCommandsTest, EnclosingFolderAppliesOneLevelDownAndReturnsToTheRoot) {
    const StorageAccount drive = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({drive});
    AppCommands& c = make();
    model->setSelection(SidebarItem::storage(drive.id));
    EXPECT_FALSE(c.enclosingFolder()->isEnabled());
    model->setPath(drive.id, {FolderCrumb{QStringLiteral("f1"), QStringLiteral("Reports")}});
    EXPECT_TRUE(c.enclosingFolder()->isEnabled());
    c.enclosingFolder()->trigger();
    EXPECT_TRUE(model->paths().value(drive.id).isEmpty());
    EXPECT_FALSE(c.enclosingFolder()->isEnabled());

    // With home shown the command is off and does nothing.
    model->setPath(drive.id, {FolderCrumb{QStringLiteral("f1"), QStringLiteral("Reports")}});
    model->setSelection(SidebarItem::home());
    EXPECT_FALSE(c.enclosingFolder()->isEnabled());
    c.enclosingFolder()->trigger();
    EXPECT_EQ(model->paths().value(drive.id).size(), 1);
}

TEST_F(AppCommandsTest, AliasesAreShownVerbatimAndRenamesAtOnce) {
    const StorageAccount drive = storedAccount(ProviderKind::googleDrive, QStringLiteral("R&D"));
    storeAccounts({drive});
    AppCommands& c = make();
    QAction* item = c.accountItems().first();
    EXPECT_EQ(item->text(), "R&&D"); // no mnemonic: the menu shows "R&D"
    EXPECT_EQ(item->iconText(), "R&D");
    model->rename(drive.id, QStringLiteral("<b>Team</b> & Co"));
    EXPECT_EQ(item->iconText(), "<b>Team</b> & Co");
}

TEST_F(AppCommandsTest, CommandsDoWhatTheySay) {
    const StorageAccount drive = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({drive});
    AppCommands& c = make();
    model->setSelection(SidebarItem::storage(drive.id));
    c.home()->trigger();
    EXPECT_EQ(model->selection(), SidebarItem::home());
    c.smartUpload()->trigger();
    EXPECT_EQ(model->selection(), SidebarItem::uploads());
    c.accountItems().first()->trigger();
    EXPECT_EQ(model->selection(), SidebarItem::storage(drive.id));
    c.settings()->trigger();
    c.quit()->trigger();
    c.about()->trigger();
    EXPECT_EQ(std::tuple(settingsShown, quitAsked, aboutShown), std::tuple(1, 1, 1));
    QSignalSpy connecting(model.get(), &AppModel::connectingKindChanged);
    c.connectGoogle()->trigger();
    EXPECT_EQ(model->connectingKind(), ProviderKind::googleDrive);
}

TEST_F(AppCommandsTest, ShortcutsWorkWithTheMenusClosedAlsoFromTheSearchField) {
    const StorageAccount first = storedAccount(ProviderKind::googleDrive, QStringLiteral("One"));
    const StorageAccount second = storedAccount(ProviderKind::googleDrive, QStringLiteral("Two"));
    storeAccounts({first, second});
    make();
    auto* search = new X11LineEdit(window->centralWidget());
    search->setObjectName(QStringLiteral("search"));
    search->setText(QStringLiteral("report"));
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    search->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->hasFocus(); }));

    QTest::keyClick(search, Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(model->selection(), SidebarItem::storage(second.id));
    QTest::keyClick(search, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(model->selection(), SidebarItem::home());

    // Ctrl+U is also the text field's "erase the line": the upload command wins while it is
    // enabled, and the typed text stays.
    QTest::keyClick(search, Qt::Key_1, Qt::ControlModifier);
    ASSERT_TRUE(commands->uploadFiles()->isEnabled());
    QTest::keyClick(search, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(panels->asked.size(), 1);
    EXPECT_EQ(search->text(), "report");
    // With the command off, the keys are the text field's again.
    QTest::keyClick(search, Qt::Key_0, Qt::ControlModifier);
    ASSERT_FALSE(commands->uploadFiles()->isEnabled());
    QTest::keyClick(search, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(search->text(), "");
    EXPECT_EQ(panels->asked.size(), 1);

    QTest::keyClick(search, Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(model->selection(), SidebarItem::uploads());
    QTest::keyClick(search, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quitAsked, 1);
}

} // namespace
