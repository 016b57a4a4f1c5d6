// The toolbar search against the real model over fakes: which accounts a scope searches, the
// scope bar, the field bound to the model, the pause before a search, and the window's
// shortcuts reaching past the field.
#include "App/Search/SearchField.h"
#include "App/Search/SearchRequest.h"
#include "App/Search/SearchTask.h"
#include "StorageCore/Files/FileSearch.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QToolButton>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;
using Status = StorageAccount::Status;

namespace {

StorageAccount withStatus(StorageAccount account, Status status) {
    account.status = status;
    return account;
}

TEST(SearchScopesTest, ScopesAndAccountsFollowTheKindsAndStatusesOfTheAccounts) {
    const StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    const StorageAccount home = storedAccount(ProviderKind::googleDrive, QStringLiteral("Home"));
    const StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"));
    const StorageAccount expired = withStatus(
        storedAccount(ProviderKind::telegram, QStringLiteral("Old")), Status::reauthRequired);
    const QList<SearchScope> all = SearchScopes::allCases();
    const QList<SearchScope> none;

    struct Case {
        const char* what;
        QList<StorageAccount> accounts;
        SearchScope scope;
        QList<SearchScope> scopes;
        QList<QUuid> searched;
    };
    const Case cases[] = {
        {"no accounts", {}, SearchScope::all, none, {}},
        {"one kind: no scope bar", {work, home}, SearchScope::all, none, {work.id, home.id}},
        {"one kind, other kind's scope", {work}, SearchScope::telegram, none, {}},
        {"two kinds, list order", {chats, work}, SearchScope::all, all, {chats.id, work.id}},
        {"two kinds, narrowed",
         {work, chats, home},
         SearchScope::googleDrive,
         all,
         {work.id, home.id}},
        // An account that must sign in again still offers its kind, but is not searched.
        {"kind only needing sign-in", {work, expired}, SearchScope::telegram, all, {}},
        {"kind only needing sign-in, all", {work, expired}, SearchScope::all, all, {work.id}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(availableSearchScopes(c.accounts), c.scopes);
        EXPECT_EQ(searchAccountIDs(c.accounts, c.scope), c.searched);
    }
}

TEST(SearchScopesTest, OnlyTextBeyondWhiteSpaceIsASearch) {
    EXPECT_FALSE(isSearching(QString()));
    EXPECT_FALSE(isSearching(QStringLiteral("  \t\n ")));
    EXPECT_TRUE(isSearching(QStringLiteral(" a ")));
    EXPECT_TRUE(isSearching(QStringLiteral("\nreport")));
}

class SearchFieldTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 1);
    }
    template <typename T> static T* child(QWidget* parent, const QString& name) {
        T* found = parent->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    ManualScheduler pause;
    StorageAccount work;
    StorageAccount chats;
};

TEST_F(SearchFieldTest, TheLastKindOfAScopeGoingAwayWidensTheScopeToAllAccounts) {
    const StorageAccount expired = withStatus(
        storedAccount(ProviderKind::telegram, QStringLiteral("Old")), Status::reauthRequired);
    storeAccounts({work, chats, expired});
    AppModel& app = build();
    app.setSearchScope(SearchScope::telegram);
    EXPECT_EQ(searchAccountIDs(app), QList<QUuid>{chats.id});

    // One Telegram account left (needing sign-in): the scope bar stays, so does the scope.
    bool removed = false;
    app.disconnect(chats.id, [&] { removed = true; });
    waitFor([&] { return removed; });
    EXPECT_EQ(app.searchScope(), SearchScope::telegram);
    EXPECT_TRUE(searchAccountIDs(app).isEmpty());

    // The last one goes: no scope bar any more, and the search covers every account again.
    removed = false;
    app.disconnect(expired.id, [&] { removed = true; });
    waitFor([&] { return removed; });
    EXPECT_EQ(app.searchScope(), SearchScope::all);
    EXPECT_EQ(searchAccountIDs(app), QList<QUuid>{work.id});
    EXPECT_TRUE(availableSearchScopes(app).isEmpty());
}

TEST_F(SearchFieldTest, TheFieldAndTheScopeBarAreBoundToTheModel) {
    storeAccounts({work, chats});
    AppModel& app = build();
    app.setSearchText(QStringLiteral("draft"));
    SearchField field(app, pause.scheduler());
    EXPECT_EQ(field.objectName(), QStringLiteral("searchField"));
    auto* edit = child<QLineEdit>(&field, QStringLiteral("searchText"));
    auto* bar = child<QWidget>(&field, QStringLiteral("searchScopeBar"));
    EXPECT_EQ(edit->placeholderText(), QStringLiteral("Search all accounts"));
    EXPECT_FALSE(edit->accessibleName().isEmpty());
    EXPECT_EQ(edit->text(), QStringLiteral("draft")); // shown as the model holds it

    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("R&D <b>"));
    EXPECT_EQ(app.searchText(), QStringLiteral("R&D <b>"));
    app.setSearchText(QStringLiteral("plan"));
    EXPECT_EQ(edit->text(), QStringLiteral("plan"));

    // Two kinds of account: the scope bar with the three scopes in order.
    EXPECT_FALSE(bar->isHidden());
    QStringList titles;
    for (auto* button : bar->findChildren<QToolButton*>()) {
        titles.append(button->text());
        EXPECT_EQ(button->accessibleName(), button->text());
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("All Accounts"), QStringLiteral("Google Drive"),
                                   QStringLiteral("Telegram")}));
    auto* all = child<QToolButton>(bar, QStringLiteral("searchScope.all"));
    auto* tg = child<QToolButton>(bar, QStringLiteral("searchScope.telegram"));
    EXPECT_TRUE(all->isChecked());
    tg->click();
    EXPECT_EQ(app.searchScope(), SearchScope::telegram);
    app.setSearchScope(SearchScope::googleDrive);
    EXPECT_TRUE(child<QToolButton>(bar, QStringLiteral("searchScope.googleDrive"))->isChecked());
    EXPECT_FALSE(tg->isChecked());
    tg->click();

    // The last Telegram account goes: no scope bar, and the scope shown is all accounts again.
    bool removed = false;
    app.disconnect(chats.id, [&] { removed = true; });
    waitFor([&] { return removed; });
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(app.searchScope(), SearchScope::all);
    EXPECT_TRUE(all->isChecked());
}

TEST_F(SearchFieldTest, ChoosingInTheSidebarEndsTheSearchButBuildingTheFieldDoesNot) {
    storeAccounts({work});
    AppModel& app = build();
    app.setSearchText(QStringLiteral("budget"));
    SearchField field(app, pause.scheduler());
    EXPECT_EQ(app.searchText(), QStringLiteral("budget"));
    app.setSelection(SidebarItem::storage(work.id));
    EXPECT_EQ(app.searchText(), QString());
    EXPECT_EQ(field.lineEdit()->text(), QString());
}

TEST_F(SearchFieldTest, TypingSearchesOnceForTheFinalTextAfterThePause) {
    storeAccounts({work, chats});
    AppModel& app = build();
    drive->addItem(fileItem(work.id, QStringLiteral("1"), QStringLiteral("report.pdf")));
    telegram->addItem(fileItem(chats.id, QStringLiteral("2"), QStringLiteral("Report 2.txt")));
    SearchField field(app, pause.scheduler());
    FileSearch* engine = app.search();

    for (const QString& text : {QStringLiteral("r"), QStringLiteral("re"), QStringLiteral("rep")})
        app.setSearchText(text);
    ASSERT_EQ(pause.entries.size(), 3);
    EXPECT_EQ(pause.entries[0]->delay, SearchTask::pause);
    EXPECT_TRUE(pause.entries[0]->cancelled);
    EXPECT_TRUE(pause.entries[1]->cancelled);
    EXPECT_EQ(drive->callCount(Op::search), 0); // nothing before the pause ends
    pause.fire();
    waitFor([&] { return engine->phase() == FileSearch::Phase::done; });
    EXPECT_EQ(drive->callCount(Op::search), 1);
    EXPECT_EQ(telegram->callCount(Op::search), 1);
    EXPECT_EQ(engine->query(), QStringLiteral("rep"));
    EXPECT_EQ(engine->results().size(), 2);

    // Another scope is another request: searched again after the pause, Telegram only.
    app.setSearchScope(SearchScope::telegram);
    ASSERT_EQ(pause.entries.size(), 1);
    pause.fire();
    waitFor([&] { return engine->phase() == FileSearch::Phase::done; });
    EXPECT_EQ(engine->accountIDs(), QList<QUuid>{chats.id});
    EXPECT_EQ(telegram->callCount(Op::search), 2);
    EXPECT_EQ(drive->callCount(Op::search), 1);

    // The same text with other blanks around it is another request, searched the same way.
    app.setSearchText(QStringLiteral(" rep "));
    ASSERT_EQ(pause.entries.size(), 1);

    // Blanks only: the engine is cleared at once, and the waiting run never searches.
    app.setSearchText(QStringLiteral("   "));
    EXPECT_EQ(engine->phase(), FileSearch::Phase::idle);
    EXPECT_TRUE(engine->results().isEmpty());
    EXPECT_EQ(engine->query(), QString());
    EXPECT_FALSE(field.task()->isWaiting());
    pause.fire();
    EXPECT_EQ(telegram->callCount(Op::search), 2);
}

TEST_F(SearchFieldTest, AnAccountNeedingSignInChangesTheRequestAndSearchesAgain) {
    storeAccounts({work, chats});
    AppModel& app = build();
    SearchField field(app, pause.scheduler());
    app.setSearchText(QStringLiteral("notes"));
    pause.fire();
    waitFor([&] { return app.search()->phase() == FileSearch::Phase::done; });
    app.accounts()->markReauthRequired(chats.id);
    EXPECT_EQ(field.task()->request().accounts, QList<QUuid>{work.id});
    ASSERT_EQ(pause.entries.size(), 1);
    pause.fire();
    waitFor([&] { return app.search()->phase() == FileSearch::Phase::done; });
    EXPECT_EQ(app.search()->accountIDs(), QList<QUuid>{work.id});
}

TEST_F(SearchFieldTest, TheRealPauseRunsOneSearch) {
    storeAccounts({work});
    AppModel& app = build();
    SearchField field(app);
    QTest::keyClicks(field.lineEdit(), QStringLiteral("abc"));
    EXPECT_EQ(drive->callCount(Op::search), 0);
    waitFor([&] { return app.search()->phase() == FileSearch::Phase::done; });
    EXPECT_EQ(drive->callCount(Op::search), 1);
    EXPECT_EQ(app.search()->query(), QStringLiteral("abc"));
}

TEST(SearchFieldKeysTest, OnlyTheCommonEditingKeysStayWithTheField) {
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool leaves;
    };
    const Case cases[] = {
        {Qt::Key_U, Qt::ControlModifier, true}, // "Upload Files…"; deletes the line on X11
        {Qt::Key_K, Qt::ControlModifier, true},
        {Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier, true},
        {Qt::Key_N, Qt::ControlModifier | Qt::AltModifier, true},
        {Qt::Key_1, Qt::ControlModifier, true},
        {Qt::Key_Up, Qt::ControlModifier, true},
        {Qt::Key_C, Qt::ControlModifier, false},
        {Qt::Key_V, Qt::ControlModifier, false},
        {Qt::Key_X, Qt::ControlModifier, false},
        {Qt::Key_Z, Qt::ControlModifier, false},
        {Qt::Key_A, Qt::ControlModifier, false},
        {Qt::Key_Left, Qt::ControlModifier, false},
        {Qt::Key_Backspace, Qt::ControlModifier, false},
        {Qt::Key_U, Qt::NoModifier, false},
        {Qt::Key_U, Qt::ShiftModifier, false},
        {Qt::Key_Home, Qt::NoModifier, false},
    };
    for (const Case& c : cases) {
        const QKeyEvent key(QEvent::ShortcutOverride, c.key, c.modifiers);
        EXPECT_EQ(SearchField::leavesToWindow(key), c.leaves)
            << QKeySequence(c.key | c.modifiers).toString().toStdString();
    }
}

// With X11 key bindings (the desktop's) a line edit claims Ctrl+U for itself; under the
// offscreen platform it does not, so there this shows only that nothing else gets in the way.
TEST_F(SearchFieldTest, TheWindowsShortcutsReachPastTheField) {
    storeAccounts({work});
    AppModel& app = build();
    QMainWindow window;
    auto* field = new SearchField(app, pause.scheduler(), &window);
    window.setCentralWidget(field);
    int uploads = 0;
    auto* upload = new QAction(QStringLiteral("Upload Files\u2026"), &window);
    upload->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    window.addAction(upload);
    QObject::connect(upload, &QAction::triggered, [&] { ++uploads; });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QLineEdit* edit = field->lineEdit();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("plan"));
    QTest::keyClick(edit, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(uploads, 1);
    EXPECT_EQ(edit->text(), QStringLiteral("plan")); // the field did not take the key

    // The field's own editing keys stay with it.
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(edit->selectedText(), QStringLiteral("plan"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), QString());
    EXPECT_EQ(uploads, 1);
}

} // namespace
