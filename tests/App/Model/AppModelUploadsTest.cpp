// The model's uploads: refusals and the Telegram size limit, the saved-files toast, the
// upload history, and the smart-upload batch.
#include "tests/App/Model/AppModelFixture.h"

#include "StorageCore/Transfers/SmartUploadStore.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QFile>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

namespace {

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
    const QUrl exact = file(QStringLiteral("exact.bin"), AppModel::telegramFileLimit);
    const QUrl over = file(QStringLiteral("over.bin"), AppModel::telegramFileLimit + 1);
    app.upload({exact, over}, app.destination(chats.id, std::nullopt));
    ASSERT_EQ(app.uploads()->jobs().size(), 1);
    EXPECT_EQ(app.uploads()->jobs().first().file.name, QStringLiteral("exact.bin"));
    ASSERT_TRUE(app.notice());
    EXPECT_EQ(app.notice()->title, QStringLiteral("\u201cover.bin\u201d can't be uploaded."));
    EXPECT_EQ(app.notice()->message,
              StorageError::fileTooLarge(AppModel::telegramFileLimit).presentation().message);

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
    const QUrl huge = file(QStringLiteral("huge.bin"), AppModel::telegramFileLimit + 1);
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
