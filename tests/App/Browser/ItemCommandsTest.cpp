// What the folder table offers for one item on each service, the rename prompt, the trash and
// delete confirmations, and local files dropped on rows and between them.
#include "tests/App/Browser/BrowserFixture.h"

#include "App/Browser/ItemMenu.h"
#include "App/Browser/TextPromptSheet.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/support/ShownText.h"
#include "tests/support/UrlRecorder.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;

namespace {

class ItemCommandsTest : public BrowserFixture {
protected:
    FolderContentView& content() { return *pane->content(); }
    /// The titles of the context menu of one row (separators as "-"); empty for no menu.
    QStringList menuTitles(const QSet<FileRef>& rows) {
        std::unique_ptr<QMenu> menu(content().menuFor(rows));
        QStringList titles;
        if (!menu)
            return titles;
        for (QAction* action : menu->actions())
            titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        return titles;
    }
    void trigger(const FileItem& item, const QString& name) {
        std::unique_ptr<QMenu> menu(content().menuFor({item.ref}));
        ASSERT_NE(menu, nullptr);
        auto* action = menu->findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name.toStdString();
        action->trigger();
    }
    FileItem row(const QString& id) {
        const FileRef ref{pane->accountID(), id};
        return content().tableModel()->item(content().tableModel()->rowOf(ref));
    }
    QList<UploadJob> jobs() { return model->uploads()->jobs(); }
};

} // namespace

TEST_F(ItemCommandsTest, MenuEntriesFollowTheServiceTheItemAndTheFoldersWritability) {
    const QUuid id = QUuid::createUuid();
    FileItem driveFile = typedItem(id, QStringLiteral("f"), QStringLiteral("a.pdf"),
                                   QStringLiteral("application/pdf"));
    FileItem linked = driveFile;
    linked.webViewURL = QUrl(QStringLiteral("https://drive.example/a"));
    FileItem unsafeLink = driveFile;
    unsafeLink.webViewURL = QUrl(QStringLiteral("javascript:alert(1)"));
    const FileItem driveFolder = folderItem(id, QStringLiteral("d"), QStringLiteral("Docs"));
    const FileItem channel = folderItem(id, QStringLiteral("c:1"), QStringLiteral("My channel"));
    const FileItem group = folderItem(id, QStringLiteral("g:1"), QStringLiteral("Club"));
    const FileItem chat = folderItem(id, QStringLiteral("r:1"), QStringLiteral("Family"));
    const FileItem message = typedItem(id, QStringLiteral("m:1"), QStringLiteral("report.pdf"),
                                       QStringLiteral("application/pdf"));

    const QString files = QStringLiteral("Quick Look,Open Preview,Download\u2026,Open With\u2026");
    struct Case {
        const char* what;
        FileItem item;
        ProviderKind provider;
        bool writable;
        QString titles;
    };
    const Case cases[] = {
        {"Drive folder", driveFolder, ProviderKind::googleDrive, true,
         "Open,-,Rename\u2026,-,Move to Trash"},
        {"Drive file with link", linked, ProviderKind::googleDrive, true,
         files + ",Open in Browser,-,Rename\u2026,-,Move to Trash"},
        {"Drive file without link", driveFile, ProviderKind::googleDrive, true,
         files + ",-,Rename\u2026,-,Move to Trash"},
        {"link that is not a web page", unsafeLink, ProviderKind::googleDrive, true,
         files + ",-,Rename\u2026,-,Move to Trash"},
        {"Telegram file in Saved Messages", message, ProviderKind::telegram, true,
         files + ",-,Delete\u2026"},
        {"Telegram channel", channel, ProviderKind::telegram, true, "Open,-,Rename\u2026"},
        {"Telegram group", group, ProviderKind::telegram, true, "Open"},
        {"Telegram chat", chat, ProviderKind::telegram, true, "Open"},
        {"file in a chat the user does not own", message, ProviderKind::telegram, false, files},
    };
    for (const Case& c : cases) {
        QStringList titles;
        for (ItemMenu::Entry entry : ItemMenu::entries(c.item, c.provider, c.writable))
            titles.append(entry == ItemMenu::Entry::separator ? QStringLiteral("-")
                                                              : ItemMenu::title(entry, c.provider));
        EXPECT_EQ(titles.join(QLatin1Char(',')), c.titles) << c.what;
    }
}

TEST_F(ItemCommandsTest, TheTablesMenuActsOnOneItemAndOpensLinksInTheBrowser) {
    start({work});
    FileItem linked = typedItem(work.id, QStringLiteral("f1"), QStringLiteral("a.pdf"),
                                QStringLiteral("application/pdf"));
    linked.webViewURL = QUrl(QStringLiteral("https://drive.example/a"));
    drive->addItem(linked);
    drive->addFiles(work.id, std::nullopt, 2);
    drive->addItem(folderItem(work.id, QStringLiteral("dir"), QStringLiteral("Docs")));
    showPane(work);
    waitLoaded();

    // Several rows: no menu at all.
    QSet<FileRef> three;
    for (int i = 0; i < 3; ++i)
        three.insert(content().tableModel()->item(i).ref);
    EXPECT_TRUE(menuTitles(three).isEmpty());
    EXPECT_EQ(menuTitles({FileRef{work.id, QStringLiteral("dir")}}),
              (QStringList{"Open", "-", "Rename\u2026", "-", "Move to Trash"}));

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    trigger(row(QStringLiteral("f1")), QStringLiteral("itemOpenInBrowser"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(recorder.opened, QList<QUrl>{linked.webViewURL->url()});

    // "Quick Look" shows the item, and closes a panel that shows another one.
    trigger(row(QStringLiteral("f1")), QStringLiteral("itemQuickLook"));
    EXPECT_TRUE(quickLook.visible);
    trigger(content().tableModel()->item(2), QStringLiteral("itemQuickLook"));
    EXPECT_FALSE(quickLook.visible);
    trigger(row(QStringLiteral("f1")), QStringLiteral("itemOpenPreview"));
    EXPECT_EQ(previews.size(), 1);
    trigger(row(QStringLiteral("dir")), QStringLiteral("itemOpen"));
    EXPECT_EQ(pane->path().size(), 1);
}

TEST_F(ItemCommandsTest, RenameSendsTheTrimmedNameOnceAndTheListingFollows) {
    start({work});
    drive->addFiles(work.id, std::nullopt, 2, QStringLiteral("draft "));
    showPane(work);
    waitLoaded();
    const FileItem item = content().tableModel()->item(0);
    trigger(item, QStringLiteral("itemRename"));
    auto* sheet = pane->findChild<TextPromptSheet*>(QStringLiteral("renameSheet"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->value(), item.name);
    EXPECT_EQ(sheet->findChild<QLabel*>(QStringLiteral("textPromptMessage"))->text(),
              QStringLiteral("Enter a new name for \u201c") + item.name +
                  QStringLiteral("\u201d."));
    auto* field = sheet->findChild<QLineEdit*>(QStringLiteral("textPromptField"));
    field->setText(QStringLiteral("  Final report.txt  "));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return);
    waitFor([&] {
        return content().tableModel()->rowOf(item.ref) >= 0 &&
               content().tableModel()->item(content().tableModel()->rowOf(item.ref)).name ==
                   QStringLiteral("Final report.txt");
    });
    EXPECT_EQ(drive->callCount(Op::rename), 1);
    EXPECT_TRUE(drive->calls().contains(QStringLiteral("rename(") + item.ref.providerID +
                                        QStringLiteral(",Final report.txt)")))
        << drive->calls().join(QLatin1Char('\n')).toStdString();
}

TEST_F(ItemCommandsTest, TrashAndDeleteAskFirstInTheServicesWords) {
    start({work, phone});
    drive->addFiles(work.id, std::nullopt, 2);
    telegram->addItem(
        folderItem(phone.id, QStringLiteral("saved"), QStringLiteral("Saved Messages")));
    telegram->addItem(typedItem(phone.id, QStringLiteral("m1"), QStringLiteral("report.pdf"),
                                QStringLiteral("application/pdf"), QStringLiteral("saved")));
    showPane(work);
    waitLoaded();

    // Cancel does nothing; "Move to Trash" trashes and the row goes.
    const FileItem first = content().tableModel()->item(0);
    trigger(first, QStringLiteral("itemTrash"));
    auto* dialog = pane->findChild<QMessageBox*>(QStringLiteral("trashConfirmation"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->text(),
              QStringLiteral("Move \u201c") + first.name + QStringLiteral("\u201d to the Trash?"));
    EXPECT_EQ(shownInformativeText(dialog),
              QStringLiteral("The item moves to the Google Drive trash of Work. You can restore it "
                             "from Google Drive for 30 days."));
    EXPECT_EQ(dialog->textFormat(), Qt::PlainText);
    dialog->findChild<QPushButton*>(QStringLiteral("trashCancel"))->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(drive->callCount(Op::trash), 0);

    content().setSelection({first.ref});
    content().deleteCommand(); // the delete key
    dialog = pane->findChild<QMessageBox*>(QStringLiteral("trashConfirmation"));
    ASSERT_NE(dialog, nullptr);
    QPushButton* confirm = dialog->findChild<QPushButton*>(QStringLiteral("trashConfirm"));
    EXPECT_EQ(confirm->text(), QStringLiteral("Move to Trash"));
    confirm->click();
    waitFor([&] { return content().tableModel()->rowOf(first.ref) < 0; });
    EXPECT_EQ(drive->callCount(Op::trash), 1);

    showPane(phone);
    model->open(folderItem(phone.id, QStringLiteral("saved"), QStringLiteral("Saved Messages")));
    waitLoaded();
    trigger(row(QStringLiteral("m1")), QStringLiteral("itemTrash"));
    dialog = pane->findChild<QMessageBox*>(QStringLiteral("trashConfirmation"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->text(), QStringLiteral("Delete \u201creport.pdf\u201d permanently?"));
    EXPECT_EQ(shownInformativeText(dialog),
              QStringLiteral("Telegram has no trash. The file is deleted from Phone for good and "
                             "can't be recovered."));
    EXPECT_EQ(dialog->findChild<QPushButton*>(QStringLiteral("trashConfirm"))->text(),
              QStringLiteral("Delete"));
    dialog->findChild<QPushButton*>(QStringLiteral("trashConfirm"))->click();
    waitFor([&] { return telegram->callCount(Op::trash) == 1; });
}

TEST_F(ItemCommandsTest, TheTrashConfirmationShowsNamesAsWritten) {
    for (const QString& name : {QStringLiteral("<b>Bold</b>"), QStringLiteral("R&D"),
                                QStringLiteral("Say \"hi\""), QStringLiteral("&amp;")}) {
        work.alias = name;
        start({work});
        drive->addItem(fileItem(work.id, QStringLiteral("f ") + name, name));
        showPane(work);
        waitLoaded();
        trigger(row(QStringLiteral("f ") + name), QStringLiteral("itemTrash"));
        auto* dialog = pane->findChild<QMessageBox*>(QStringLiteral("trashConfirmation"));
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->textFormat(), Qt::PlainText);
        EXPECT_EQ(dialog->text(),
                  QStringLiteral("Move \u201c") + name + QStringLiteral("\u201d to the Trash?"));
        EXPECT_EQ(shownInformativeText(dialog),
                  QStringLiteral("The item moves to the Google Drive trash of ") + name +
                      QStringLiteral(". You can restore it from Google Drive for 30 days."));
        dialog->findChild<QPushButton*>(QStringLiteral("trashCancel"))->click();
        pane.reset();
        model.reset();
        drive = std::make_shared<FakeStorageProvider>();
    }
}

TEST_F(ItemCommandsTest, FilesDroppedOnRowsGoIntoFoldersOrTheShownFolder) {
    start({work, phone});
    drive->addItem(folderItem(work.id, QStringLiteral("trips"), QStringLiteral("Trips")));
    drive->addItem(typedItem(work.id, QStringLiteral("f1"), QStringLiteral("z.pdf"),
                             QStringLiteral("application/pdf")));
    model->uploads()->setMaxConcurrentUploads(0);
    showPane(work);
    waitLoaded();
    FolderTableView* table = content().table();
    const QUrl photo = localFile("photo.jpg");

    // On a folder row: into that folder, named after the shown path and the folder.
    EXPECT_TRUE(drop(table->viewport(), rowPoint(0), {photo}));
    ASSERT_EQ(jobs().size(), 1);
    EXPECT_EQ(jobs().last().parentID, QStringLiteral("trips"));
    EXPECT_EQ(jobs().last().destinationName, QStringLiteral("Work \u203a Trips"));
    // The upload history will record the folder itself, not the shown folder or nothing.
    EXPECT_EQ(jobs().last().target().folderPath, QStringList{QStringLiteral("Trips")});
    // On a file row and below the rows: into the shown folder.
    EXPECT_TRUE(drop(table->viewport(), rowPoint(1), {photo}));
    EXPECT_TRUE(drop(table->viewport(), QPoint(20, table->viewport()->height() - 5), {photo}));
    ASSERT_EQ(jobs().size(), 3);
    EXPECT_EQ(jobs()[1].parentID, std::nullopt);
    EXPECT_EQ(jobs()[2].parentID, std::nullopt);
    EXPECT_EQ(jobs()[2].destinationName, QStringLiteral("Work"));
    // A folder dragged from a file manager (its URL ends in "/") is refused by its own name.
    ASSERT_TRUE(QDir(files.path()).mkpath(QStringLiteral("Holiday")));
    EXPECT_TRUE(drop(table->viewport(), QPoint(20, table->viewport()->height() - 5),
                     {QUrl::fromLocalFile(files.filePath(QStringLiteral("Holiday")) + "/")}));
    ASSERT_TRUE(model->notice().has_value());
    EXPECT_EQ(model->notice()->title, QStringLiteral("\u201cHoliday\u201d can't be uploaded."));
    EXPECT_EQ(jobs().size(), 3);
    model->setNotice(std::nullopt);
    // Something else than local files is not taken.
    EXPECT_FALSE(
        drop(table->viewport(), rowPoint(1), {QUrl(QStringLiteral("https://example.com/x"))}));
    EXPECT_EQ(jobs().size(), 3);

    // Telegram: a chat row the user does not own, and the inside of such a chat.
    telegram->addItem(
        folderItem(phone.id, QStringLiteral("r:7"), QStringLiteral("Family & Friends")));
    showPane(phone);
    waitLoaded();
    table = content().table();
    drop(table->viewport(), rowPoint(0), {photo});
    ASSERT_TRUE(model->notice().has_value());
    EXPECT_EQ(model->notice()->title,
              QStringLiteral("You can't upload to \u201cFamily & Friends\u201d."));
    EXPECT_EQ(model->notice()->message,
              QStringLiteral("It's a chat you don't own, so it's read-only in Kelvanor."));
    model->open(folderItem(phone.id, QStringLiteral("r:7"), QStringLiteral("Family & Friends")));
    waitLoaded();
    content().upload({photo}, std::nullopt);
    EXPECT_EQ(model->notice()->title, QStringLiteral("You can't upload here."));
    EXPECT_EQ(model->notice()->message, QStringLiteral("This chat is read-only in Kelvanor."));
    EXPECT_EQ(jobs().size(), 3);

    // An account that must sign in again takes nothing and says nothing.
    model->setNotice(std::nullopt);
    StorageAccount expired = phone;
    expired.status = StorageAccount::Status::reauthRequired;
    content().setAccount(expired);
    content().upload({photo}, std::nullopt);
    EXPECT_FALSE(model->notice().has_value());
    EXPECT_EQ(jobs().size(), 3);
}
