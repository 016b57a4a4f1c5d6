// The model's navigation, listings, destinations, file operations, preview loaders, copies
// and opening with other applications.
#include "tests/App/Model/AppModelFixture.h"

#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Files/FileSearch.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QDir>
#include <QFile>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;

namespace {

class AppModelFilesTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        storeAccounts({work});
    }
    StorageAccount work;
};

TEST_F(AppModelFilesTest, PathsListingsAndDestinations) {
    AppModel& app = build();
    app.open(folderItem(work.id, QStringLiteral("f1"), QStringLiteral("Reports")));
    app.open(folderItem(work.id, QStringLiteral("f2"), QStringLiteral("2026"), QStringLiteral("f1")));
    EXPECT_EQ(app.destination(work.id, QStringLiteral("f2")).displayName,
              QStringLiteral("Work \u203a Reports \u203a 2026"));
    EXPECT_EQ(app.destination(work.id, QStringLiteral("f1")).displayName, QStringLiteral("Work \u203a Reports"));
    EXPECT_EQ(app.destination(work.id, QStringLiteral("elsewhere")).displayName, QStringLiteral("Work"));
    EXPECT_EQ(app.destination(QUuid::createUuid(), std::nullopt).displayName, QStringLiteral("Storage"));

    app.navigate(work.id, 9);
    EXPECT_EQ(app.paths().value(work.id).size(), 2);
    app.goUp(work.id);
    EXPECT_EQ(app.paths().value(work.id).size(), 1);
    app.navigate(work.id, -1); // a negative depth is the root
    EXPECT_TRUE(app.paths().value(work.id).isEmpty());
    app.goUp(work.id); // at the root: nothing
    EXPECT_TRUE(app.paths().value(work.id).isEmpty());

    FolderListing* root = app.listing(work.id, std::nullopt);
    EXPECT_EQ(app.listing(work.id, std::nullopt), root);
    // A new listing is handed out loading; one of an unknown account is left alone.
    EXPECT_EQ(root->phase().kind, FolderListing::Phase::Kind::loading);
    EXPECT_EQ(app.listing(QUuid::createUuid(), std::nullopt)->phase().kind,
              FolderListing::Phase::Kind::idle);
    const QString key = AppModel::listingKey(work.id, std::nullopt);
    EXPECT_TRUE(key.endsWith(QStringLiteral("/root")));
    EXPECT_EQ(key.left(36), key.left(36).toUpper()); // the UUID in upper case
}

TEST_F(AppModelFilesTest, FileOperationsUpdateTheListingSearchAndActivity) {
    drive->addItem(fileItem(work.id, QStringLiteral("a"), QStringLiteral("a.txt")));
    AppModel& app = build();
    FolderListing* root = app.listing(work.id, std::nullopt);
    QSignalSpy finished(root, &FolderListing::loadFinished);
    root->load();
    ASSERT_TRUE(finished.wait(5000));
    const FileItem a = root->items().first();

    app.rename(a, a.name, std::nullopt); // the same name: no request
    QCoreApplication::processEvents();
    EXPECT_EQ(drive->callCount(Op::rename), 0);

    app.createFolder(QStringLiteral("New"), app.destination(work.id, std::nullopt));
    waitFor([&] { return root->items().size() == 2; });
    app.rename(a, QStringLiteral("b.txt"), std::nullopt);
    waitFor([&] {
        return std::any_of(root->items().begin(), root->items().end(),
                           [](const FileItem& i) { return i.name == QStringLiteral("b.txt"); });
    });
    FileItem renamed = a;
    renamed.name = QStringLiteral("b.txt");
    app.trash(renamed, std::nullopt);
    waitFor([&] { return root->items().size() == 1; });
    const auto& events = app.activity()->events();
    ASSERT_GE(events.size(), 3);
    EXPECT_EQ(events[0].kind, ActivityEvent::Kind::trashed);
    EXPECT_EQ(events[1].kind, ActivityEvent::Kind::renamed);
    EXPECT_EQ(events[2].kind, ActivityEvent::Kind::createdFolder);
}

TEST_F(AppModelFilesTest, AnExpiredSignInMarksTheAccountAndAlertsWithIt) {
    AppModel& app = build();
    drive->failNext(Op::rename, StorageError(Code::reauthRequired));
    app.rename(fileItem(work.id, QStringLiteral("a"), QStringLiteral("a.txt")), QStringLiteral("b"), std::nullopt);
    waitFor([&] { return app.presentedError().has_value(); });
    EXPECT_EQ(app.presentedError()->accountID, work.id);
    EXPECT_EQ(app.accounts()->account(work.id)->status, StorageAccount::Status::reauthRequired);
    // Cancelled operations are silent.
    app.setPresentedError(std::nullopt);
    app.report(StorageError(Code::cancelled), work.id);
    EXPECT_FALSE(app.presentedError());
}

TEST_F(AppModelFilesTest, PreviewLoadersAreSharedAndAtMostThirtyStay) {
    AppModel& app = build();
    QList<FileItem> items;
    for (int i = 0; i < 31; ++i)
        items.append(fileItem(work.id, QString::number(i), QStringLiteral("f%1.txt").arg(i), std::nullopt, 1));
    std::shared_ptr<PreviewLoader> first = app.previewLoader(items[0]);
    std::weak_ptr<PreviewLoader> unheld = app.previewLoader(items[1]);
    EXPECT_EQ(app.previewLoader(items[0]), first); // reuse does not move it
    for (int i = 2; i < 31; ++i)
        app.previewLoader(items[i]);
    EXPECT_NE(app.previewLoader(items[0]), first); // the oldest was dropped...
    EXPECT_EQ(first->item().ref, items[0].ref);    // ...and lives on for whoever holds it
    EXPECT_TRUE(unheld.expired());                 // dropped with nobody holding it: gone
    std::shared_ptr<PreviewLoader> second = app.previewLoader(items[2]);
    FileItem changed = items[2];
    changed.modifiedAt = changed.modifiedAt->addDays(1);
    EXPECT_NE(app.previewLoader(changed), second);
}

TEST_F(AppModelFilesTest, SavingACopyReplacesTheFileOnlyWithACompleteCopy) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("report.txt"));
    {
        QFile existing(target);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
    }
    FileItem item = fileItem(work.id, QStringLiteral("r"), QStringLiteral("report.txt"));
    drive->addItem(item, QByteArray("fresh content"));
    AppModel& app = build();

    // A failed download leaves the user's file as it was and alerts.
    drive->failNext(Op::download, StorageError(Code::network));
    bool done = false;
    app.saveCopy(item, QUrl::fromLocalFile(target), [&] { done = true; });
    waitFor([&] { return done; });
    ASSERT_TRUE(app.presentedError());
    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
    kept.close();

    done = false;
    app.saveCopy(item, QUrl::fromLocalFile(target), [&] { done = true; });
    waitFor([&] { return done; });
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("fresh content"));
    EXPECT_EQ(app.activity()->events().first().kind, ActivityEvent::Kind::downloaded);

    // Through the save panel: a native document is proposed as PDF.
    FileItem native = item;
    native.mimeType = QStringLiteral("application/vnd.google-apps.document");
    native.name = QStringLiteral("Notes");
    app.saveCopy(native);
    EXPECT_EQ(panels->asked.last(), QStringLiteral("save | Notes.pdf"));
}

TEST_F(AppModelFilesTest, TheSavePanelIsOfferedOnlyASafeLastComponentOnEitherService) {
    const StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 1);
    storeAccounts({work, chats});
    AppModel& app = build();
    struct Case {
        QString name, proposed;
    };
    const Case cases[] = {
        {"~/.config/autostart/x.desktop", "x.desktop"},
        {"/etc/x", "x"},
        {"../../x", "x"},
        {"a/b", "b"},
        {"..", "Untitled"},
        {"~", "_"},
        {QStringLiteral("new\nline\u202e.txt"), "newline.txt"},
        {QString(300, QLatin1Char('n')), QString(255, QLatin1Char('n'))},
    };
    for (const QUuid& accountID : {work.id, chats.id}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name.toStdString());
            app.saveCopy(fileItem(accountID, QStringLiteral("id"), c.name));
            EXPECT_EQ(panels->asked.last(), QStringLiteral("save | ") + c.proposed);
        }
    }
    // An exported document keeps its ".pdf" whole.
    FileItem native = fileItem(work.id, QStringLiteral("doc"),
                               QStringLiteral("../") + QString(300, QLatin1Char('d')));
    native.mimeType = QStringLiteral("application/vnd.google-apps.document");
    app.saveCopy(native);
    EXPECT_EQ(panels->asked.last(),
              QStringLiteral("save | ") + QString(251, QLatin1Char('d')) + QStringLiteral(".pdf"));
}

TEST_F(AppModelFilesTest, ThePanelsAnswerMustNameAFileInsideAFolder) {
    QTemporaryDir dir;
    const QString root = QDir::cleanPath(dir.path());
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("inside")));
    FileItem item = fileItem(work.id, QStringLiteral("r"), QStringLiteral("x.desktop"));
    drive->addItem(item, QByteArray("[Desktop Entry]"));
    AppModel& app = build();
    const QString refusals[] = {
        root + QStringLiteral("/inside/../escaped.desktop"),
        root + QStringLiteral("/inside"),
        root + QStringLiteral("/missing/x.desktop"),
        QStringLiteral("relative/x.desktop"),
    };
    for (const QString& answer : refusals) {
        SCOPED_TRACE(answer.toStdString());
        app.setNotice(std::nullopt);
        panels->saveLocation = QUrl::fromLocalFile(answer);
        app.saveCopy(item);
        ASSERT_TRUE(app.notice().has_value());
        EXPECT_EQ(app.notice()->title, QStringLiteral("The file can't be saved there."));
        EXPECT_TRUE(app.notice()->message.contains(answer));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(drive->callCount(Op::download), 0);
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/escaped.desktop")));

    // A file name inside a folder is taken.
    app.setNotice(std::nullopt);
    bool done = false;
    app.saveCopy(item, QUrl::fromLocalFile(root + QStringLiteral("/inside/x.desktop")),
                 [&] { done = true; });
    waitFor([&] { return done; });
    EXPECT_FALSE(app.notice());
    EXPECT_FALSE(app.presentedError());
    QFile saved(root + QStringLiteral("/inside/x.desktop"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("[Desktop Entry]"));
}

TEST_F(AppModelFilesTest, OpenWithStillLaunchesWhenItsLoaderLeavesTheModelMeanwhile) {
    FileItem item = fileItem(work.id, QStringLiteral("r"), QStringLiteral("report.txt"));
    drive->addItem(item, QByteArray("text"));
    AppModel& app = build();
    auto gate = drive->gateNext(Op::download);
    app.openWith(item, QStringLiteral("org.example.Editor.desktop"));
    ASSERT_TRUE(gate->waitEntered());
    bool cleared = false;
    app.clearPreviewCache([&] { cleared = true; });
    waitFor([&] { return cleared; });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    gate->release();
    waitFor([&] { return !launcher->launches.isEmpty(); });
    ASSERT_EQ(launcher->launches.size(), 1);
    EXPECT_EQ(launcher->launches.first().first, QStringLiteral("org.example.Editor.desktop"));
    EXPECT_TRUE(QFile::exists(launcher->launches.first().second.toLocalFile()));
    EXPECT_FALSE(app.presentedError());
}

TEST_F(AppModelFilesTest, OpenWithLaunchesTheLocalCopyOrSaysWhyNot) {
    FileItem item = fileItem(work.id, QStringLiteral("r"), QStringLiteral("report.txt"));
    drive->addItem(item, QByteArray("text"));
    AppModel& app = build();
    panels->application = QStringLiteral("org.example.Editor.desktop");
    app.openWith(item);
    EXPECT_EQ(panels->asked.last(),
              QStringLiteral("app | Choose an app to open \u201creport.txt\u201d."));
    waitFor([&] { return !launcher->launches.isEmpty(); });
    EXPECT_EQ(launcher->launches.first().first, QStringLiteral("org.example.Editor.desktop"));
    EXPECT_TRUE(QFile::exists(launcher->launches.first().second.toLocalFile()));

    launcher->failWith = QStringLiteral("Failed to execute child process (No such file)");
    app.openWith(item, QStringLiteral("org.example.Missing.desktop"));
    waitFor([&] { return app.notice().has_value(); });
    EXPECT_EQ(app.notice()->message, QStringLiteral("Failed to execute child process (No such file)"));
    EXPECT_FALSE(app.presentedError()); // not a network failure
}

} // namespace
