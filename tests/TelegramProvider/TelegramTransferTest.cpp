#include "tests/TelegramProvider/TelegramContentSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using namespace tw::test::content;
using Code = StorageError::Code;

namespace {

/// Progress values as they arrive (from the session's thread).
struct ProgressLog {
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::shared_ptr<QList<qint64>> values = std::make_shared<QList<qint64>>();
    ProgressCallback callback() const {
        return [m = mutex, v = values](qint64 bytes) {
            std::lock_guard lock(*m);
            v->append(bytes);
        };
    }
    QList<qint64> get() const {
        std::lock_guard lock(*mutex);
        return *values;
    }
};

} // namespace

class TelegramTransferTest : public TelegramContentTest {
protected:
    void SetUp() override {
        TelegramContentTest::SetUp();
        fakeTd().configure(
            {{"chats", QJsonArray{ownedChannel(-100, "Work"), channel(-200, "News")}},
             {"messages",
              QJsonArray{document(savedChat, 10, "hello.txt", "text/plain", 501, 11),
                         document(savedChat, 12, "sized.bin", "application/octet-stream", 502, 150),
                         document(savedChat, 13, "unsized.bin", "application/octet-stream", 503, 0),
                         document(savedChat, 14, "plain.pdf", "application/pdf", 504, 5),
                         photo(savedChat, 15, 600, 602)}},
             {"files", QJsonObject{{"501", QJsonObject{{"content", "hello world"}}},
                                   {"502", QJsonObject{{"content", QString(150, 'x')}}},
                                   {"503", QJsonObject{{"content", QString(300, 'y')}}},
                                   {"600", QJsonObject{{"content", "large photo"}}},
                                   {"602", QJsonObject{{"content", "thumb"}}}}}});
    }
    LocalFile localFile(const QString& path, std::optional<qint64> size = std::nullopt) {
        LocalFile file;
        file.url = QUrl::fromLocalFile(path);
        file.name = QFileInfo(path).fileName();
        file.sizeBytes = size.value_or(QFileInfo(path).size());
        file.mimeType = "application/octet-stream";
        return file;
    }
    /// Waits until the fake has received a request of this type.
    bool received(const QString& type) {
        return QTest::qWaitFor([&] { return !requestsOf(type).isEmpty(); }, 5000);
    }
};

TEST_F(TelegramTransferTest, UploadChecksSizeAndDestinationFirst) {
    const QString path = writeFile("a.bin", "abc");
    const StorageError tooLarge = errorOf([&] {
        provider->upload(QUuid::createUuid(), localFile(path, 2'000'000'001), std::nullopt, {});
    });
    EXPECT_EQ(tooLarge.code(), Code::fileTooLarge); // before any session: the account is unknown
    EXPECT_EQ(tooLarge, StorageError::fileTooLarge(2'000'000'000));

    for (const QString parent : {"g:chats", "r:-200", "c:-200", "m:42:10", "c:"}) {
        EXPECT_EQ(errorOf([&] { provider->upload(account, localFile(path), parent, {}); }).code(),
                  Code::permissionDenied);
    }
    EXPECT_TRUE(requestsOf("sendMessage").isEmpty());

    // Exactly the limit is attempted; the final progress is the size given.
    ProgressLog progress;
    provider->upload(account, localFile(path, 2'000'000'000), std::nullopt, progress.callback());
    EXPECT_EQ(progress.get().last(), 2'000'000'000);
}

TEST_F(TelegramTransferTest, UploadReportsTDLibCountersAndReturnsTheFile) {
    const QString path = writeFile("notes.txt", QByteArray(3000, 'n'));
    ProgressLog progress;
    // The transfer starts once the provider watches the file (TDLib's is never that quick).
    fakeTd().hold("upload");
    Cancellable<FileItem> upload([&] {
        return provider->upload(account, localFile(path), QString("c:-100"), progress.callback());
    });
    const auto session = provider->registry().existing(account);
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->fileObserverCount() == 1; }, 5000));
    fakeTd().release("upload");
    ASSERT_TRUE(upload.finished());
    const FileItem item = upload.get();
    EXPECT_EQ(session->fileObserverCount(), 0);
    // Three counters from TDLib (the update without remote bytes gives none), then the size.
    EXPECT_EQ(progress.get(), QList<qint64>({1000, 2000, 3000, 3000}));
    EXPECT_EQ(item.name, "notes.txt");
    EXPECT_EQ(item.parentIDs, QStringList{"c:-100"});
    EXPECT_EQ(item.sizeBytes, 3000);
    const QJsonObject sent = requestsOf("sendMessage").first();
    EXPECT_EQ(sent.value("chat_id").toInteger(), -100);
    const QJsonObject content = sent.value("input_message_content").toObject();
    EXPECT_EQ(content.value("@type"), "inputMessageDocument");
    EXPECT_EQ(content.value("disable_content_type_detection"), true);
    EXPECT_EQ(content.value("document").toObject().value("path"), path);
    EXPECT_EQ(ids(provider->listFolder(account, QString("c:-100"), std::nullopt)),
              QStringList{item.ref.providerID});

    const FileItem root = provider->upload(account, localFile(path), std::nullopt, {});
    EXPECT_TRUE(root.parentIDs.isEmpty());
}

TEST_F(TelegramTransferTest, UploadsIntoTwoChatsWhoseMessagesShareAnIdEachGetTheirOwn) {
    // Message ids are unique only within a chat: here both temporary messages, and both final
    // ones, carry the same id.
    fakeTd().configure({{"message_ids", "per_chat"}});
    const QString first = writeFile("first.txt", "first");
    const QString second = writeFile("second.txt", "second file");
    fakeTd().hold("upload");
    Cancellable<FileItem> intoSaved(
        [&] { return provider->upload(account, localFile(first), std::nullopt, {}); });
    Cancellable<FileItem> intoFolder(
        [&] { return provider->upload(account, localFile(second), QString("c:-100"), {}); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return requestsOf("sendMessage").size() == 2; }, 5000));
    const auto session = provider->registry().existing(account);
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->fileObserverCount() == 2; }, 5000));
    fakeTd().release("upload");

    ASSERT_TRUE(intoSaved.finished());
    ASSERT_TRUE(intoFolder.finished());
    const FileItem saved = intoSaved.get();
    const FileItem folder = intoFolder.get();
    EXPECT_EQ(saved.name, "first.txt");
    EXPECT_TRUE(saved.parentIDs.isEmpty());
    EXPECT_EQ(folder.name, "second.txt");
    EXPECT_EQ(folder.parentIDs, QStringList{"c:-100"});
    EXPECT_EQ(folder.sizeBytes, 11);
}

TEST_F(TelegramTransferTest, UploadFailuresAndDeletionsEndTheUpload) {
    const QString path = writeFile("big.bin", "0123456789");
    fakeTd().configure({{"upload", "fail"}});
    EXPECT_EQ(errorOf([&] { provider->upload(account, localFile(path), std::nullopt, {}); }),
              StorageError::fileTooLarge(2'000'000'000)); // FILE_PARTS_INVALID

    // TDLib deletes the message being sent instead of reporting an outcome.
    fakeTd().configure({{"upload", "delete"}});
    Cancellable<Code> upload([&] {
        return errorOf([&] { provider->upload(account, localFile(path), std::nullopt, {}); })
            .code();
    });
    ASSERT_TRUE(upload.finished());
    EXPECT_EQ(upload.get(), Code::invalidResponse);
}

TEST_F(TelegramTransferTest, AFileThatChangesWhileTDLibReadsItFailsTheUpload) {
    // TDLib reads the file by its path: a save by rename, or a write in place, while it
    // uploads could reach Telegram as a mix of versions. The sent copy is deleted again and
    // the upload fails instead of reporting it done.
    struct Case {
        const char* name;
        std::function<void(const QString& path)> change;
    };
    const std::vector<Case> cases{
        {"replaced by rename",
         [&](const QString& path) {
             const QString saved = writeFile("saved.tmp", QByteArray(3000, 'b'));
             ASSERT_EQ(::rename(QFile::encodeName(saved).constData(),
                                QFile::encodeName(path).constData()),
                       0);
         }},
        {"written in place",
         [](const QString& path) {
             QFile edit(path);
             ASSERT_TRUE(edit.open(QIODevice::ReadWrite));
             edit.write("bbb");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile("draft.txt", QByteArray(3000, 'a'));
        {
            // Last saved a while ago, so a write now changes the time stamp whatever the
            // clock's granularity.
            QFile old(path);
            ASSERT_TRUE(old.open(QIODevice::ReadWrite));
            ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTimeUtc().addDays(-1),
                                        QFileDevice::FileModificationTime));
        }
        const qsizetype deletionsBefore = requestsOf("deleteMessages").size();
        fakeTd().hold("upload");
        Cancellable<Code> upload([&] {
            return errorOf(
                       [&] { provider->upload(account, localFile(path), QString("c:-100"), {}); })
                .code();
        });
        ASSERT_TRUE(received("sendMessage"));
        const auto session = provider->registry().existing(account);
        ASSERT_TRUE(QTest::qWaitFor([&] { return session->fileObserverCount() == 1; }, 5000));
        c.change(path);
        fakeTd().release("upload");
        ASSERT_TRUE(upload.finished());
        EXPECT_EQ(upload.get(), Code::localFileUnreadable);
        const QList<QJsonObject> deletions = requestsOf("deleteMessages");
        ASSERT_EQ(deletions.size(), deletionsBefore + 1);
        EXPECT_EQ(deletions.last().value("revoke"), true);
        EXPECT_EQ(deletions.last().value("chat_id").toInteger(), -100);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return provider->listFolder(account, QString("c:-100"), std::nullopt)
                    .items.isEmpty();
            },
            5000));
    }
}

TEST_F(TelegramTransferTest, ACancelledUploadStopsTheSendInTDLib) {
    const QString path = writeFile("slow.bin", "0123456789");
    fakeTd().configure({{"upload", "hold"}}); // TDLib never finishes this send
    Cancellable<Code> upload([&] {
        return errorOf([&] { provider->upload(account, localFile(path), std::nullopt, {}); })
            .code();
    });
    ASSERT_TRUE(received("sendMessage"));
    EXPECT_FALSE(upload.finished(std::chrono::milliseconds(50)));
    upload.stop();
    ASSERT_TRUE(upload.finished());
    EXPECT_EQ(upload.get(), Code::cancelled);
    ASSERT_TRUE(received("deleteMessages"));
    const QJsonObject deleted = requestsOf("deleteMessages").first();
    EXPECT_EQ(deleted.value("revoke"), true);
    EXPECT_EQ(deleted.value("chat_id").toInteger(), 42);
    EXPECT_EQ(deleted.value("message_ids").toArray().size(), 1);
}

TEST_F(TelegramTransferTest, DownloadReplacesTheDestinationSafelyAndCleansUp) {
    const QString destination = writeFile("out.txt", "old contents");
    ProgressLog progress;
    provider->download({account, "m:42:10"}, QUrl::fromLocalFile(destination), progress.callback());
    EXPECT_EQ(readAll(destination), "hello world");
    EXPECT_EQ(progress.get(), QList<qint64>({5, 11}));
    EXPECT_EQ(requestsOf("downloadFile").first().value("priority").toInt(), 1);
    ASSERT_EQ(requestsOf("deleteFile").size(), 1);
    EXPECT_EQ(requestsOf("deleteFile").first().value("file_id").toInteger(), 501);
    // Nothing but the destination: no temporary file is left beside it.
    EXPECT_EQ(QDir(temp.path()).entryList({"out.txt*"}, QDir::Files), QStringList{"out.txt"});

    // A reply without a local path leaves the destination as it was.
    fakeTd().configure({{"download_without_path", true}});
    EXPECT_EQ(errorOf([&] {
                  provider->download({account, "m:42:10"}, QUrl::fromLocalFile(destination), {});
              }).code(),
              Code::invalidResponse);
    EXPECT_EQ(readAll(destination), "hello world");
    fakeTd().configure({{"download_without_path", false}});

    // A destination that cannot be written.
    EXPECT_EQ(errorOf([&] {
                  provider->download({account, "m:42:10"},
                                     QUrl::fromLocalFile(temp.path() + "/missing/dir/x"), {});
              }).code(),
              Code::localWriteFailed);
}

TEST_F(TelegramTransferTest, SavingOverTheUploadedOriginalKeepsIt) {
    const QString original = writeFile("original.txt", "precious");
    const FileItem uploaded = provider->upload(account, localFile(original), std::nullopt, {});
    // TDLib reports the uploaded file at the path it came from: the very destination.
    provider->download(uploaded.ref, QUrl::fromLocalFile(original), {});
    EXPECT_EQ(readAll(original), "precious");
    // A copy elsewhere works, and TDLib is never asked to delete the user's own file.
    const QString copy = temp.path() + "/copy.txt";
    provider->download(uploaded.ref, QUrl::fromLocalFile(copy), {});
    EXPECT_EQ(readAll(copy), "precious");
    EXPECT_EQ(readAll(original), "precious");
    EXPECT_TRUE(requestsOf("deleteFile").isEmpty());
}

TEST_F(TelegramTransferTest, SavingOntoTDLibsOwnCopyKeepsIt) {
    // A ranged read leaves TDLib's copy in the session's "files" folder.
    EXPECT_EQ(provider->read({account, "m:42:10"}, {0, 5}), "hello");
    const QString cached = provider->session(account)->filesDirectory() + "/documents/file_501";
    ASSERT_EQ(readAll(cached), "hello world");
    // Chosen as the destination, it is the saved file: TDLib must not be told to delete it.
    provider->download({account, "m:42:10"}, QUrl::fromLocalFile(cached), {});
    EXPECT_EQ(readAll(cached), "hello world");
    EXPECT_TRUE(requestsOf("deleteFile").isEmpty());
}

TEST_F(TelegramTransferTest, ACancelledDownloadIsReportedAsCancelled) {
    fakeTd().hold("downloadFile");
    const QString destination = writeFile("keep.txt", "mine");
    Cancellable<Code> download([&] {
        return errorOf([&] {
                   provider->download({account, "m:42:10"}, QUrl::fromLocalFile(destination), {});
               })
            .code();
    });
    ASSERT_TRUE(received("downloadFile"));
    download.stop();
    ASSERT_TRUE(download.finished());
    EXPECT_EQ(download.get(), Code::cancelled);
    ASSERT_TRUE(received("cancelDownloadFile"));
    EXPECT_EQ(requestsOf("cancelDownloadFile").first().value("only_if_pending"), false);
    fakeTd().release("downloadFile");
    EXPECT_EQ(readAll(destination), "mine");
    EXPECT_TRUE(requestsOf("deleteFile").isEmpty());
}

TEST_F(TelegramTransferTest, TheCachedCopyStaysWhileAReadStillUsesIt) {
    fakeTd().hold("readFilePart");
    Cancellable<QByteArray> read([&] { return provider->read({account, "m:42:10"}, {0, 5}); });
    ASSERT_TRUE(received("readFilePart"));
    const QString destination = temp.path() + "/saved.txt";
    provider->download({account, "m:42:10"}, QUrl::fromLocalFile(destination), {});
    EXPECT_TRUE(requestsOf("deleteFile").isEmpty()); // the read is still in flight
    fakeTd().release("readFilePart");
    ASSERT_TRUE(read.finished());
    EXPECT_EQ(read.get(), "hello");
    provider->download({account, "m:42:10"}, QUrl::fromLocalFile(destination), {});
    EXPECT_EQ(requestsOf("deleteFile").size(), 1);
}

TEST_F(TelegramTransferTest, RangedReadsAskOnlyForTheBytesThatExist) {
    // An empty range asks nothing, not even for a session.
    EXPECT_EQ(provider->read({QUuid::createUuid(), "m:42:12"}, {5, 5}), QByteArray());
    EXPECT_EQ(provider->read({account, "m:42:12"}, {100, 200}), QByteArray(50, 'x'));
    QJsonObject asked = requestsOf("downloadFile").last();
    EXPECT_EQ(asked.value("offset").toInteger(), 100);
    EXPECT_EQ(asked.value("limit").toInteger(), 50);
    EXPECT_EQ(asked.value("priority").toInt(), 16);
    EXPECT_EQ(requestsOf("readFilePart").last().value("count").toInteger(), 50);

    EXPECT_EQ(provider->read({account, "m:42:13"}, {100, 200}),
              QByteArray(100, 'y')); // size unknown
    EXPECT_EQ(requestsOf("downloadFile").last().value("limit").toInteger(), 100);

    const int before = requestsOf("downloadFile").size();
    EXPECT_EQ(provider->read({account, "m:42:12"}, {150, 200}), QByteArray());
    EXPECT_EQ(requestsOf("downloadFile").size(), before);
    EXPECT_TRUE(requestsOf("deleteFile").isEmpty()); // reads keep TDLib's part
}

TEST_F(TelegramTransferTest, Thumbnails) {
    const Page root = provider->listFolder(account, std::nullopt, std::nullopt);
    const FileItem photo =
        *std::find_if(root.items.begin(), root.items.end(),
                      [](const FileItem& i) { return i.ref.providerID == "m:42:15"; });
    EXPECT_EQ(provider->thumbnail(photo, 64), QByteArray("thumb"));
    EXPECT_EQ(provider->thumbnail(photo, 1024), QByteArray("thumb"));
    EXPECT_EQ(requestsOf("downloadFile").last().value("priority").toInt(), 8);
    EXPECT_EQ(requestsOf("downloadFile").last().value("file_id").toInteger(), 602);

    const int before = requestsOf("downloadFile").size();
    FileItem plain;
    plain.ref = {account, "m:42:14"};
    EXPECT_EQ(provider->thumbnail(plain, 64), std::nullopt);
    EXPECT_EQ(requestsOf("downloadFile").size(), before);
    FileItem folder;
    folder.ref = {account, "c:-100"};
    EXPECT_EQ(errorOf([&] { provider->thumbnail(folder, 64); }).code(), Code::notSupported);
}
