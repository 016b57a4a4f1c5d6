// The storage browser pane: its toolbar per service, folder and sign-in state, the path menu,
// the title, the new-folder sheet, drops on the pane and the sign-in error view.
#include "tests/App/Browser/BrowserFixture.h"

#include "App/Browser/TextPromptSheet.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/support/ShownText.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;

namespace {

class StorageBrowserPaneTest : public BrowserFixture {
protected:
    QList<UploadJob> jobs() { return model->uploads()->jobs(); }
    QStringList pathMenuTitles() {
        Q_EMIT pane->pathMenu()->aboutToShow();
        QStringList titles;
        for (QAction* action : pane->pathMenu()->actions())
            titles.append(action->text());
        return titles;
    }
};

} // namespace

TEST_F(StorageBrowserPaneTest, ToolbarSaysWhatCanBeDoneWhereAndWhyNot) {
    StorageAccount expired = storedAccount(ProviderKind::googleDrive, QStringLiteral("Old"), 4);
    expired.status = StorageAccount::Status::reauthRequired;
    start({work, phone, expired});
    const QString nested = QStringLiteral("Telegram folders can't contain other folders");
    const QString readOnly = QStringLiteral("This chat is read-only in Kelvanor");
    const QString shortcut =
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N).toString(QKeySequence::NativeText);
    struct Case {
        const char* what;
        StorageAccount account;
        QList<FolderCrumb> path;
        bool back;
        bool newFolder;
        bool upload;
        QString newFolderHelp;
        QString uploadHelp;
    };
    const Case cases[] = {
        {"Drive root",
         work,
         {},
         false,
         true,
         true,
         "New folder (" + shortcut + ")",
         "Upload to Work"},
        {"Drive subfolder",
         work,
         {{"d1", "Docs"}},
         true,
         true,
         true,
         "New folder (" + shortcut + ")",
         "Upload to Work \u203a Docs"},
        {"Telegram root",
         phone,
         {},
         false,
         true,
         true,
         "New folder (" + shortcut + ")",
         "Upload to Phone"},
        {"own channel",
         phone,
         {{"c:1", "Mine"}},
         true,
         false,
         true,
         nested,
         "Upload to Phone \u203a Mine"},
        {"Saved Messages",
         phone,
         {{"saved", "Saved Messages"}},
         true,
         false,
         true,
         nested,
         "Upload to Phone \u203a Saved Messages"},
        {"chat not owned", phone, {{"r:1", "Family"}}, true, false, false, readOnly, readOnly},
        {"chat group", phone, {{"g:1", "Club"}}, true, false, false, readOnly, readOnly},
        {"needs sign-in",
         expired,
         {{"d1", "Docs"}},
         false,
         false,
         false,
         "Reconnect this account to create folders",
         "Reconnect this account to upload"},
    };
    for (const Case& c : cases) {
        model->setPath(c.account.id, c.path);
        showPane(c.account);
        EXPECT_EQ(pane->backAction()->isEnabled(), c.back) << c.what;
        EXPECT_EQ(pane->pathButton()->isEnabled(), c.back) << c.what;
        EXPECT_EQ(pane->newFolderAction()->isEnabled(), c.newFolder) << c.what;
        EXPECT_EQ(pane->uploadAction()->isEnabled(), c.upload) << c.what;
        EXPECT_EQ(pane->newFolderAction()->toolTip(), c.newFolderHelp) << c.what;
        EXPECT_EQ(shownToolTip(pane->uploadAction()->toolTip()), c.uploadHelp) << c.what;
    }
}

TEST_F(StorageBrowserPaneTest, TitlePathMenuAndBackFollowTheModelsPath) {
    work.alias = QStringLiteral("R&D");
    start({work});
    drive->addItem(folderItem(work.id, QStringLiteral("a"), QStringLiteral("Tom & Jerry")));
    drive->addItem(
        folderItem(work.id, QStringLiteral("b"), QStringLiteral("Season 1"), QStringLiteral("a")));
    drive->addFiles(work.id, QStringLiteral("a"), 3);
    showPane(work);
    QSignalSpy titles(pane.get(), &StorageBrowserPane::titleChanged);
    EXPECT_EQ(pane->title(), QStringLiteral("R&D"));
    EXPECT_EQ(pane->subtitle(), QStringLiteral("work@example.com"));
    EXPECT_EQ(pane->content()->objectName(), QStringLiteral("folderContent-root"));

    model->setPath(work.id, {{"a", "Tom & Jerry"}, {"b", "Season 1"}});
    EXPECT_EQ(pane->title(), QStringLiteral("Season 1"));
    EXPECT_EQ(pane->subtitle(), QStringLiteral("R&D \u203a Tom & Jerry \u203a Season 1"));
    // The subtitle's tool tip and the upload button's help name the folders as written.
    auto* subtitle = child<QLabel>(pane.get(), QStringLiteral("browserSubtitle"));
    EXPECT_EQ(shownToolTip(subtitle->toolTip()), pane->subtitle());
    EXPECT_EQ(shownToolTip(pane->uploadAction()->toolTip()),
              QStringLiteral("Upload to R&D \u203a Tom & Jerry \u203a Season 1"));
    EXPECT_EQ(titles.count(), 1);
    // "&" is doubled in the menu, so it shows as itself; the current folder is not listed.
    EXPECT_EQ(pathMenuTitles(), (QStringList{"R&&D", "Tom && Jerry"}));

    // A folder change gives a fresh table: no selection, all files.
    waitLoaded();
    pane->content()->setFilter(FileCategory::photos);
    pane->findChild<QMenu*>(QStringLiteral("browserPathItems"))
        ->findChild<QAction*>(QStringLiteral("pathDepth1"))
        ->trigger();
    EXPECT_EQ(pane->path(), (QList<FolderCrumb>{{"a", "Tom & Jerry"}}));
    waitLoaded();
    EXPECT_EQ(pane->content()->objectName(), QStringLiteral("folderContent-a"));
    EXPECT_EQ(pane->content()->filter(), std::nullopt);
    pane->content()->setSelection({pane->content()->tableModel()->item(0).ref});
    EXPECT_EQ(pathMenuTitles(), QStringList{"R&&D"});

    pane->backAction()->trigger();
    EXPECT_TRUE(pane->path().isEmpty());
    model->open(folderItem(work.id, QStringLiteral("a"), QStringLiteral("Tom & Jerry")));
    waitLoaded();
    EXPECT_TRUE(pane->content()->selection().isEmpty()) << "a folder visited before starts afresh";
}

TEST_F(StorageBrowserPaneTest, NewFolderSheetCreatesOneFolderInTheShownFolder) {
    start({work});
    drive->addItem(folderItem(work.id, QStringLiteral("docs"), QStringLiteral("Docs")));
    model->setPath(work.id, {{"docs", "Docs"}});
    showPane(work);
    waitLoaded();
    pane->activateWindow();
    pane->content()->table()->setFocus();
    QTest::keyClick(pane->content()->table(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    auto* sheet = pane->findChild<TextPromptSheet*>(QStringLiteral("newFolderSheet"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->findChild<QLabel*>(QStringLiteral("textPromptMessage"))->text(),
              QStringLiteral("Create a folder in Work \u203a Docs."));
    auto* field = sheet->findChild<QLineEdit*>(QStringLiteral("textPromptField"));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return);
    waitFor([&] { return pane->content()->tableModel()->rowCount() == 1; });
    EXPECT_EQ(drive->callCount(Op::createFolder), 1);
    EXPECT_EQ(pane->content()->tableModel()->item(0).name, QStringLiteral("untitled folder"));
    EXPECT_EQ(pane->content()->tableModel()->item(0).parentIDs,
              QStringList{QStringLiteral("docs")});
}

TEST_F(StorageBrowserPaneTest, FilesDroppedOnThePaneGoIntoTheShownFolderWhereItCanTakeThem) {
    StorageAccount expired = storedAccount(ProviderKind::googleDrive, QStringLiteral("Old"), 4);
    expired.status = StorageAccount::Status::reauthRequired;
    start({work, phone, expired});
    model->uploads()->setMaxConcurrentUploads(0);
    drive->addItem(folderItem(work.id, QStringLiteral("docs"), QStringLiteral("Docs")));
    const QUrl file = localFile("notes.txt");

    model->setPath(work.id, {{"docs", "Docs"}});
    showPane(work);
    waitLoaded();
    auto* filterBar = child<QWidget>(pane.get(), QStringLiteral("filterBar"));
    const QPoint onBar = filterBar->mapTo(pane.get(), QPoint(filterBar->width() - 5, 5));
    QMimeData data;
    data.setUrls({file});
    QDragEnterEvent enter(onBar, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane.get(), &enter);
    EXPECT_TRUE(pane->isDropTargeted());
    EXPECT_TRUE(child<QWidget>(pane.get(), QStringLiteral("browserDropHighlight"))->isVisible());
    EXPECT_TRUE(drop(pane.get(), onBar, {file}));
    EXPECT_FALSE(pane->isDropTargeted());
    ASSERT_EQ(jobs().size(), 1);
    EXPECT_EQ(jobs().first().parentID, QStringLiteral("docs"));
    EXPECT_EQ(jobs().first().destinationName, QStringLiteral("Work \u203a Docs"));

    // A chat the user does not own and an account that must sign in again refuse, silently.
    model->setPath(phone.id, {{"r:1", "Family"}});
    showPane(phone);
    EXPECT_FALSE(drop(pane.get(), QPoint(5, 5), {file}));
    EXPECT_FALSE(pane->isDropTargeted());
    showPane(expired);
    EXPECT_FALSE(drop(pane.get(), QPoint(5, 5), {file}));
    EXPECT_EQ(jobs().size(), 1);
    EXPECT_FALSE(model->notice().has_value());
}

TEST_F(StorageBrowserPaneTest, AnAccountThatMustSignInAgainShowsTheErrorViewUntilItHas) {
    StorageAccount expired = storedAccount(ProviderKind::googleDrive, QStringLiteral("Old"), 4);
    expired.status = StorageAccount::Status::reauthRequired;
    start({expired});
    drive->addFiles(expired.id, std::nullopt, 2);
    showPane(expired);
    EXPECT_EQ(pane->content(), nullptr);
    auto* error = child<ContentUnavailableView>(pane.get(), QStringLiteral("browserSignInError"));
    EXPECT_EQ(error->title(),
              StorageError(StorageError::Code::reauthRequired).presentation().title);
    auto* reconnect = child<QPushButton>(pane.get(), QStringLiteral("stateRecovery"));
    EXPECT_EQ(reconnect->text(), QStringLiteral("Reconnect"));
    EXPECT_FALSE(pane->newFolderAction()->isEnabled());

    drive->setConnection(connection(expired.providerAccountID));
    reconnect->click();
    EXPECT_TRUE(model->isConnecting());
    waitFor([&] { return pane->content() != nullptr; });
    waitLoaded();
    EXPECT_EQ(pane->content()->tableModel()->rowCount(), 2);
    EXPECT_TRUE(pane->uploadAction()->isEnabled());
}
