#include "tests/TelegramProvider/TelegramContentSupport.h"

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using namespace tw::test::content;
using Code = StorageError::Code;

class TelegramFileOperationsTest : public TelegramContentTest {
protected:
    void SetUp() override {
        TelegramContentTest::SetUp();
        fakeTd().configure(
            {{"chats", QJsonArray{ownedChannel(-100, "Work"), ownedChannel(-101, "Home"),
                                  channel(-200, "News"), basicGroup(-400, "Family")}},
             {"messages",
              QJsonArray{document(savedChat, 10, "saved.pdf", "application/pdf", 501, 100),
                         document(-100, 20, "work.pdf", "application/pdf", 502, 100),
                         document(-200, 30, "news.pdf", "application/pdf", 503, 100),
                         text(savedChat, 11)}}});
    }
    FileRef file(const QString& id) { return {account, id}; }
};

TEST_F(TelegramFileOperationsTest, RenameOnlyOwnedChannelsWithTrimmedNames) {
    for (const QString bad : {"c:", "c:12a", "c: 12", "r:-200", "g:chats", "m:42:10", ""}) {
        EXPECT_EQ(errorOf([&] { provider->rename(file(bad), ""); }).code(), Code::notSupported)
            << bad.toStdString();
    }
    EXPECT_EQ(errorOf([&] { provider->rename(file("c:-100"), " \n"); }).code(), Code::invalidName);
    EXPECT_TRUE(requestsOf("setChatTitle").isEmpty());

    provider->listFolder(account, std::nullopt, std::nullopt); // a fresh directory
    const FileItem renamed = provider->rename(file("c:-100"), " Projects\n");
    EXPECT_EQ(renamed.ref, file("c:-100"));
    EXPECT_EQ(renamed.name, "Projects");
    EXPECT_TRUE(renamed.isFolder());
    EXPECT_EQ(requestsOf("setChatTitle").first().value("title"), "Projects");
    EXPECT_EQ(requestsOf("setChatTitle").first().value("chat_id").toInteger(), -100);
    // The cached entry moves to the end with its new title.
    const Page root = provider->listFolder(account, std::nullopt, std::nullopt);
    EXPECT_EQ(ids(root).mid(0, 2), QStringList({"c:-101", "c:-100"}));
    EXPECT_EQ(root.items[1].name, "Projects");

    // A name longer than Telegram keeps gets the same title as a new folder would, and the
    // row shows that title, not the whole name.
    const FileItem cut = provider->rename(file("c:-100"), QString(300, 'L'));
    EXPECT_EQ(requestsOf("setChatTitle").last().value("title").toString(), QString(128, 'L'));
    EXPECT_EQ(cut.name, QString(128, 'L'));
    EXPECT_EQ(provider->listFolder(account, std::nullopt, std::nullopt).items[1].name,
              QString(128, 'L'));
    provider->rename(file("c:-100"), "Projects");

    fakeTd().failNext("setChatTitle", 403, "CHAT_ADMIN_REQUIRED");
    EXPECT_EQ(errorOf([&] { provider->rename(file("c:-200"), "Mine"); }).code(),
              Code::permissionDenied);
    EXPECT_EQ(provider->listFolder(account, std::nullopt, std::nullopt).items[1].name, "Projects");
}

TEST_F(TelegramFileOperationsTest, TrashFollowsTheWriteRule) {
    for (const QString bad : {"c:-100", "r:-200", "g:chats", "m:42"}) {
        EXPECT_EQ(errorOf([&] { provider->trash(file(bad)); }).code(), Code::notSupported);
    }
    // Saved Messages needs no directory.
    provider->trash(file("m:42:10"));
    EXPECT_TRUE(requestsOf("getChats").isEmpty());
    const QJsonObject deleted = requestsOf("deleteMessages").first();
    EXPECT_EQ(deleted.value("chat_id").toInteger(), 42);
    EXPECT_EQ(deleted.value("message_ids").toArray(), QJsonArray{10});
    EXPECT_EQ(deleted.value("revoke"), true);

    EXPECT_EQ(errorOf([&] { provider->trash(file("m:-200:30")); }).code(), Code::permissionDenied);
    EXPECT_EQ(requestsOf("deleteMessages").size(), 1);
    provider->trash(file("m:-100:20"));
    EXPECT_EQ(requestsOf("deleteMessages").size(), 2);
    EXPECT_TRUE(provider->listFolder(account, QString("c:-100"), std::nullopt).items.isEmpty());
}

TEST_F(TelegramFileOperationsTest, MoveCopiesIntoOwnFoldersOnly) {
    // Destinations outside the user's own folders are refused before anything is copied.
    for (const QString to : {"r:-400", "g:groups", "c:-200", "c:x", "Work"}) {
        EXPECT_EQ(errorOf([&] { provider->move(file("m:42:10"), std::nullopt, to); }).code(),
                  Code::permissionDenied)
            << to.toStdString();
    }
    EXPECT_EQ(errorOf([&] { provider->move(file("m:-200:30"), std::nullopt, "saved"); }).code(),
              Code::permissionDenied);
    EXPECT_EQ(errorOf([&] { provider->move(file("c:-100"), std::nullopt, "saved"); }).code(),
              Code::notSupported);
    EXPECT_TRUE(requestsOf("forwardMessages").isEmpty());

    const FileItem moved = provider->move(file("m:42:10"), QString("ignored"), "c:-101");
    EXPECT_EQ(moved.parentIDs, QStringList{"c:-101"});
    EXPECT_EQ(moved.name, "saved.pdf");
    const QJsonObject forwarded = requestsOf("forwardMessages").first();
    EXPECT_EQ(forwarded.value("send_copy"), true);
    EXPECT_EQ(forwarded.value("remove_caption"), false);
    EXPECT_EQ(forwarded.value("from_chat_id").toInteger(), 42);
    EXPECT_EQ(ids(provider->listFolder(account, QString("c:-101"), std::nullopt)),
              QStringList{moved.ref.providerID});
    EXPECT_EQ(ids(provider->listFolder(account, std::nullopt, QString("0"))), QStringList());

    // Back to the root, through a copy that is still being sent.
    fakeTd().configure({{"forward", "pending"}});
    const FileItem back = provider->move(moved.ref, std::nullopt, "saved");
    EXPECT_TRUE(back.parentIDs.isEmpty());
    EXPECT_EQ(ids(provider->listFolder(account, std::nullopt, QString("0"))),
              QStringList{back.ref.providerID});
}

TEST_F(TelegramFileOperationsTest, AFailedMoveReportsTheMappedError) {
    fakeTd().configure({{"forward", "fail"}});
    EXPECT_EQ(errorOf([&] { provider->move(file("m:42:10"), std::nullopt, "c:-100"); }).code(),
              Code::permissionDenied);                   // 403 from the failed send, not "network"
    EXPECT_TRUE(requestsOf("deleteMessages").isEmpty()); // the source stays

    fakeTd().configure({{"forward", "immediate"}});
    fakeTd().failNext("forwardMessages", 429, "Too Many Requests: retry after 5");
    EXPECT_EQ(errorOf([&] { provider->move(file("m:42:10"), std::nullopt, "c:-100"); }).code(),
              Code::rateLimited);
}

TEST_F(TelegramFileOperationsTest, HandlesAreFetchedOncePerSession) {
    EXPECT_EQ(provider->read(file("m:-100:20"), {0, 0}), QByteArray());
    fakeTd().configure({{"files", QJsonObject{{"502", QJsonObject{{"content", "0123456789"}}}}}});
    EXPECT_EQ(provider->read(file("m:-100:20"), {2, 5}), QByteArray("234"));
    EXPECT_EQ(provider->read(file("m:-100:20"), {5, 7}), QByteArray("56"));
    EXPECT_EQ(requestsOf("getMessage").size(), 1);
    EXPECT_EQ(errorOf([&] { provider->read(file("m:42:11"), {0, 1}); }).code(), Code::notFound);
    EXPECT_EQ(errorOf([&] { provider->read(file("m:42:99"), {0, 1}); }).code(), Code::notFound);
}
