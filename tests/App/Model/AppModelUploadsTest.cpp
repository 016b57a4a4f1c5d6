// The model's uploads: refusals and the Telegram size limit, the saved-files toast, the
// upload history, and the smart-upload batch.
#include "tests/App/Model/AppModelFixture.h"

#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Transfers/SmartUploadStore.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QDir>
#include <QFile>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

namespace {

/// The largest file Telegram takes, as the core knows it.
const qint64 kTelegramLimit = *ProviderKinds::capabilities(ProviderKind::telegram).maxFileSize;

class AppModelUploadsTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        ASSERT_TRUE(files.isValid());
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 1);
        storeAccounts({work, chats});
    }

    /// A sparse local file of the given size.
    QUrl file(const QString& name, qint64 size) {
        const QString path = files.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(size));
        return QUrl::fromLocalFile(path);
    }

    QTemporaryDir files;
    StorageAccount work;
    StorageAccount chats;
};

TEST_F(AppModelUploadsTest, TelegramTakesAtMostTwoBillionBytesAndTheRestIsReported) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0); // queue only
    const QUrl exact = file(QStringLiteral("exact.bin"), kTelegramLimit);
    const QUrl over = file(QStringLiteral("over.bin"), kTelegramLimit + 1);
    app.upload({exact, over}, app.destination(chats.id, std::nullopt));
    ASSERT_EQ(app.uploads()->jobs().size(), 1);
    EXPECT_EQ(app.uploads()->jobs().first().file.name, QStringLiteral("exact.bin"));
    ASSERT_TRUE(app.notice());
    EXPECT_EQ(app.notice()->title, QStringLiteral("\u201cover.bin\u201d can't be uploaded."));
    EXPECT_EQ(app.notice()->message,
              StorageError::fileTooLarge(kTelegramLimit).presentation().message);

    // Google Drive takes both; two folders are refused together.
    app.setNotice(std::nullopt);
    app.upload({exact, over}, app.destination(work.id, std::nullopt));
    EXPECT_EQ(app.uploads()->jobs().size(), 3);
    EXPECT_FALSE(app.notice());
    app.upload({QUrl::fromLocalFile(files.path()), QUrl::fromLocalFile(QDir::tempPath())},
               app.destination(work.id, std::nullopt));
    ASSERT_TRUE(app.notice());
    EXPECT_EQ(app.notice()->title, QStringLiteral("2 items can't be uploaded."));
    EXPECT_EQ(app.notice()->message, StorageError(Code::folderUploadUnsupported).presentation().message);
}

TEST_F(AppModelUploadsTest, FinishedUploadsGrowOneToastAndRecordTheirDestination) {
    AppModel& app = build();
    app.setPath(work.id, {FolderCrumb{QStringLiteral("f1"), QStringLiteral("A \u203a B")}});
    const UploadDestination destination = app.destination(work.id, QStringLiteral("f1"));
    app.upload({file(QStringLiteral("1.txt"), 3), file(QStringLiteral("2.txt"), 3)}, destination);
    waitFor([&] { return app.uploadToast() && app.uploadToast()->count == 2; });
    EXPECT_EQ(app.uploadToast()->message(), QStringLiteral("Saved 2 files to Work \u203a A \u203a B"));
    // The second completion cancelled the first dismissal: one live entry fires.
    scheduler.fire();
    EXPECT_FALSE(app.uploadToast());

    // A folder name holding " › " is recorded as one folder: the destination is data.
    const LocalFile txt{file(QStringLiteral("3.txt"), 3), QStringLiteral("3.txt"), 3, QStringLiteral("text/plain")};
    const UploadSuggestion suggestion = app.smartUpload()->suggest(txt, app.uploadCandidates());
    ASSERT_TRUE(suggestion.target);
    EXPECT_EQ(suggestion.target->folderPath, QStringList{QStringLiteral("A \u203a B")});
    EXPECT_EQ(suggestion.target->folderID, QStringLiteral("f1"));
}

TEST_F(AppModelUploadsTest, TheSmartBatchSuggestsTargetsAndSendsTheReadyFiles) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    const QUrl small = file(QStringLiteral("small.pdf"), 10);
    const QUrl huge = file(QStringLiteral("huge.bin"), kTelegramLimit + 1);
    app.addToSmartUpload({small, huge, small}); // the repeat is skipped
    ASSERT_EQ(app.smartBatch().size(), 2);
    app.addToSmartUpload({small});
    EXPECT_EQ(app.smartBatch().size(), 2);

    // Send everything to Telegram: the file over its limit keeps its previous target.
    const auto before = app.smartBatch()[1].target;
    app.setTargetForAll(UploadTarget{chats.id, std::nullopt, {}});
    EXPECT_EQ(app.smartBatch()[0].target->accountID, chats.id);
    EXPECT_TRUE(app.smartBatch()[0].isManual);
    EXPECT_EQ(app.smartBatch()[1].target, before);
    app.setTargetForAll(UploadTarget{QUuid::createUuid(), std::nullopt, {}}); // unknown: nothing
    EXPECT_EQ(app.smartBatch()[0].target->accountID, chats.id);

    // A rule from the first item; the non-manual item is suggested afresh (new id).
    const QUuid hugeID = app.smartBatch()[1].id;
    app.makeRule(app.smartBatch()[0]);
    ASSERT_EQ(app.smartUpload()->rules().size(), 1);
    EXPECT_EQ(app.smartUpload()->rules().first().match,
              UploadRule::Match::fileExtension(QStringLiteral("pdf")));
    EXPECT_NE(app.smartBatch()[1].id, hugeID);

    // An item without a target stays; the others are queued per destination.
    QList<SmartUploadItem> batch = app.smartBatch();
    batch[1].target.reset();
    app.setSmartBatch(batch);
    app.startSmartUpload();
    ASSERT_EQ(app.smartBatch().size(), 1);
    EXPECT_FALSE(app.smartBatch().first().target);
    ASSERT_EQ(app.uploads()->jobs().size(), 1);
    EXPECT_EQ(app.uploads()->jobs().first().destinationName, QStringLiteral("Chats"));

    app.removeFromSmartUpload(app.smartBatch().first().id);
    EXPECT_TRUE(app.smartBatch().isEmpty());
}

TEST_F(AppModelUploadsTest, ARuleFromAFileWithoutExtensionOrCategoryIsForDocuments) {
    AppModel& app = build();
    app.addToSmartUpload({file(QStringLiteral("README"), 4)});
    ASSERT_EQ(app.smartBatch().size(), 1);
    app.setTarget(UploadTarget{work.id, std::nullopt, {}}, app.smartBatch().first().id);
    EXPECT_TRUE(app.smartBatch().first().isManual);
    app.makeRule(app.smartBatch().first());
    ASSERT_EQ(app.smartUpload()->rules().size(), 1);
    EXPECT_EQ(app.smartUpload()->rules().first().match, UploadRule::Match::category(FileCategory::documents));
}

TEST_F(AppModelUploadsTest, PanelsAskInTheirOwnWordsAndACancelDoesNothing) {
    AppModel& app = build();
    app.chooseFilesToUpload(app.destination(work.id, std::nullopt));
    app.chooseFilesForSmartUpload();
    EXPECT_EQ(panels->asked, (QStringList{QStringLiteral("Upload | Upload to Work"),
                                          QStringLiteral("Add | Choose files. Kelvanor will suggest "
                                                         "where each one goes.")}));
    EXPECT_TRUE(app.uploads()->jobs().isEmpty());
    EXPECT_TRUE(app.smartBatch().isEmpty());
}

} // namespace

TEST_F(AppModelUploadsTest, ARefusalNamesEachRefusedItemsReason) {
    AppModel& app = build();
    app.uploads()->setMaxConcurrentUploads(0);
    const QUrl folder = QUrl::fromLocalFile(files.path() + QStringLiteral("/Photos/"));
    ASSERT_TRUE(QDir(files.path()).mkdir(QStringLiteral("Photos")));
    const QUrl missing = QUrl::fromLocalFile(files.filePath(QStringLiteral("gone.txt")));
    const QUrl large = file(QStringLiteral("movie.mkv"), kTelegramLimit + 1);
    const QUrl fine = file(QStringLiteral("fine.txt"), 3);

    // A folder named by a URL ending in "/" is named all the same.
    app.upload({folder}, app.destination(work.id, std::nullopt));
    ASSERT_TRUE(app.notice());
    EXPECT_EQ(app.notice()->title, QStringLiteral("\u201cPhotos\u201d can't be uploaded."));

    // Three reasons: each refused item is named with its own, in the order they came.
    app.setNotice(std::nullopt);
    app.upload({folder, missing, fine, large,
                QUrl::fromLocalFile(files.filePath(QStringLiteral("also-gone")))},
               app.destination(chats.id, std::nullopt));
    EXPECT_EQ(app.uploads()->jobs().size(), 1); // fine.txt
    ASSERT_TRUE(app.notice());
    EXPECT_EQ(app.notice()->title, QStringLiteral("4 items can't be uploaded."));
    const auto reason = [](const StorageError& error) { return error.presentation().title; };
    EXPECT_EQ(
        app.notice()->message,
        (QStringList{QStringLiteral("\u201cPhotos\u201d: ") + reason(Code::folderUploadUnsupported),
                     QStringLiteral("\u201cgone.txt\u201d, \u201calso-gone\u201d: ") +
                         reason(Code::localFileUnreadable),
                     QStringLiteral("\u201cmovie.mkv\u201d: ") +
                         reason(StorageError::fileTooLarge(kTelegramLimit))})
            .join(QLatin1Char('\n')));
}

TEST_F(AppModelUploadsTest, AnUploadIntoAFolderRowRecordsThatFoldersOwnPath) {
    AppModel& app = build();
    drive->addItem(folderItem(work.id, QStringLiteral("p1"), QStringLiteral("Projects")));
    drive->addItem(
        folderItem(work.id, QStringLiteral("y26"), QStringLiteral("2026"), QStringLiteral("p1")));
    // The shown folder is Projects; its listing knows the sub-folder 2026.
    app.setPath(work.id, {FolderCrumb{QStringLiteral("p1"), QStringLiteral("Projects")}});
    FolderListing* shown = app.listing(work.id, QStringLiteral("p1"));
    shown->load();
    waitFor([&] { return shown->items().size() == 1; });

    // A drop on the 2026 row: the files go there, and so does the history.
    const UploadDestination row{work.id, QStringLiteral("y26"),
                                QStringLiteral("Work \u203a Projects \u203a 2026")};
    app.upload({file(QStringLiteral("plan.txt"), 3)}, row);
    ASSERT_EQ(app.uploads()->jobs().size(), 1);
    EXPECT_EQ(app.uploads()->jobs().first().target().folderPath,
              (QStringList{QStringLiteral("Projects"), QStringLiteral("2026")}));
    waitFor([&] { return app.uploadToast().has_value(); });

    // Smart Upload then suggests the folder the file went to, by its own name.
    const LocalFile next{file(QStringLiteral("next.txt"), 3), QStringLiteral("next.txt"), 3,
                         QStringLiteral("text/plain")};
    const UploadSuggestion suggestion = app.smartUpload()->suggest(next, app.uploadCandidates());
    ASSERT_TRUE(suggestion.target);
    EXPECT_EQ(suggestion.target->folderID, QStringLiteral("y26"));
    EXPECT_EQ(app.displayName(*suggestion.target),
              QStringLiteral("Work \u203a Projects \u203a 2026"));

    // The same from the root: a folder row there is the folder alone.
    app.setPath(work.id, {});
    FolderListing* root = app.listing(work.id, std::nullopt);
    root->load();
    waitFor([&] { return root->items().size() == 1; });
    app.uploads()->setMaxConcurrentUploads(0);
    app.upload(
        {file(QStringLiteral("other.txt"), 3)},
        UploadDestination{work.id, QStringLiteral("p1"), QStringLiteral("Work \u203a Projects")});
    EXPECT_EQ(app.uploads()->jobs().last().target().folderPath,
              QStringList{QStringLiteral("Projects")});
}
