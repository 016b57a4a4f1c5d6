#include "TelegramProvider/CategoryCursor.h"
#include "tests/TelegramProvider/TelegramContentSupport.h"

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using namespace tw::test::content;
using Code = StorageError::Code;

namespace {

/// Every kind of chat the directory has to classify, in two chat lists.
QJsonArray everyKindOfChat() {
    QJsonObject failing = privateChat(13, "Broken");
    failing.insert("fail", true);
    return QJsonArray{
        ownedChannel(-100, "Work"),
        channel(-200, "News"),
        channel(-300, "Admin", "chatMemberStatusAdministrator"),
        basicGroup(-400, "Family"),
        chat(-500, "Club", supergroupType(500, false), "chatMemberStatusMember"),
        privateChat(7, "Bob"),
        privateChat(savedChat, "Ada"), // Saved Messages is never a chat of the directory
        chat(11, "Secret", {{"@type", "chatTypeSecret"}}),
        privateChat(8, ""),
        failing,
        privateChat(9, "Archived", "chatListArchive"),
        ownedChannel(-600, "Old work"),
    };
}

} // namespace

class TelegramBrowsingTest : public TelegramContentTest {};

TEST_F(TelegramBrowsingTest, RootShowsFoldersGroupsAndSavedFiles) {
    fakeTd().configure(
        {{"chats", everyKindOfChat()},
         {"messages",
          QJsonArray{document(savedChat, 10, "report.pdf", "application/pdf", 501, 1200),
                     text(savedChat, 9), photo(savedChat, 8, 502, 503),
                     document(-200, 5, "news.pdf", "application/pdf", 504, 10)}}});

    const Page root = provider->listFolder(account, std::nullopt, std::nullopt);
    EXPECT_EQ(ids(root), QStringList({"c:-100", "c:-600", "g:channels", "g:groups", "g:chats",
                                      "m:42:10", "m:42:8"}));
    EXPECT_FALSE(root.nextPageToken);
    EXPECT_EQ(root.items[0].name, "Work");
    EXPECT_TRUE(root.items[0].isFolder());
    EXPECT_TRUE(root.items[0].parentIDs.isEmpty());
    EXPECT_FALSE(root.items[0].sizeBytes);
    EXPECT_EQ(root.items[3].name, "Groups");
    EXPECT_EQ(root.items[5].name, "report.pdf");
    EXPECT_TRUE(root.items[5].parentIDs.isEmpty());

    const Page channels = provider->listFolder(account, QString("g:channels"), std::nullopt);
    EXPECT_EQ(ids(channels), QStringList({"r:-200", "r:-300"})); // an administrator is no owner
    EXPECT_EQ(channels.items[0].parentIDs, QStringList{"g:channels"});
    EXPECT_EQ(ids(provider->listFolder(account, QString("g:groups"), std::nullopt)),
              QStringList({"r:-400", "r:-500"}));
    const Page chats = provider->listFolder(account, QString("g:chats"), std::nullopt);
    EXPECT_EQ(ids(chats), QStringList({"r:7", "r:8", "r:9"}));
    EXPECT_EQ(chats.items[1].name, "Untitled");

    const Page news = provider->listFolder(account, QString("r:-200"), std::nullopt);
    EXPECT_EQ(ids(news), QStringList{"m:-200:5"});
    EXPECT_EQ(news.items[0].parentIDs, QStringList{"r:-200"});
    // Any chat can be listed by id, inside the directory or not.
    EXPECT_TRUE(provider->listFolder(account, QString("r:12345"), std::nullopt).items.isEmpty());
    EXPECT_TRUE(provider->listFolder(account, QString("c:-100"), std::nullopt).items.isEmpty());

    for (const QString bad : {"c:abc", "c:", "g:other", "g:", "m:42:10", "x:1", "r: 7"}) {
        EXPECT_EQ(errorOf([&] { provider->listFolder(account, bad, std::nullopt); }).code(),
                  Code::notFound)
            << bad.toStdString();
    }
    // One scan served all of it; the supergroup of the failing chat never mattered.
    EXPECT_EQ(requestsOf("getChats").size(), 2);
    EXPECT_EQ(requestsOf("getChats")[0].value("limit").toInt(), 10000);
    EXPECT_EQ(requestsOf("loadChats")[0].value("limit").toInt(), 500);
}

TEST_F(TelegramBrowsingTest, GroupsAppearOnlyWithChatsOfTheirKind) {
    fakeTd().configure({{"chats", QJsonArray{privateChat(7, "Bob")}}});
    EXPECT_EQ(ids(provider->listFolder(account, std::nullopt, std::nullopt)),
              QStringList{"g:chats"});
    const Page channels = provider->listFolder(account, QString("g:channels"), std::nullopt);
    EXPECT_TRUE(channels.items.isEmpty());
    EXPECT_FALSE(channels.nextPageToken);
}

TEST_F(TelegramBrowsingTest, HistoryPagesNeverRepeatOrLoseMessages) {
    // TDLib answers at most 60 messages a request and starts each at from_message_id itself.
    fakeTd().configure({{"generated", QJsonObject{{"42", 250}}}, {"history_batch", 60}});
    QStringList seen;
    std::optional<QString> token;
    int pages = 0;
    do {
        const int before = requestsOf("getChatHistory").size();
        const Page page = provider->listFolder(account, std::nullopt, token);
        EXPECT_LE(requestsOf("getChatHistory").size() - before, 5);
        for (const FileItem& item : page.items) {
            EXPECT_FALSE(item.isFolder()) << "folders only on the first page";
            seen.append(item.ref.providerID);
        }
        token = page.nextPageToken;
        ++pages;
    } while (token && pages < 10);
    EXPECT_EQ(pages, 3);
    ASSERT_EQ(seen.size(), 250);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(seen[i], QString("m:42:%1").arg(250 - i));

    // A token that is no number starts again from the newest message.
    const Page restarted = provider->listFolder(account, std::nullopt, QString("abc"));
    EXPECT_EQ(restarted.items.first().ref.providerID, "m:42:250");
    EXPECT_EQ(requestsOf("getChatHistory").last().value("only_local"), false);
    EXPECT_EQ(requestsOf("getChatHistory").last().value("limit").toInt(), 100);
}

TEST_F(TelegramBrowsingTest, TheDirectoryIsKeptForSixtySeconds) {
    fakeTd().configure({{"chats", QJsonArray{ownedChannel(-100, "Work")}}});
    auto scans = [&] { return requestsOf("getChats").size() / 2; };
    provider->listFolder(account, std::nullopt, std::nullopt);
    EXPECT_EQ(scans(), 1);
    clock.advance(59);
    provider->listFolder(account, std::nullopt, std::nullopt);
    provider->listFolder(account, QString("g:chats"), std::nullopt);
    EXPECT_EQ(scans(), 1);

    // A folder made meanwhile shows at once, after the other owned channels.
    const FileItem made = provider->createFolder(account, "Photos", std::nullopt);
    EXPECT_EQ(ids(provider->listFolder(account, std::nullopt, std::nullopt)),
              QStringList({"c:-100", made.ref.providerID}));
    EXPECT_EQ(scans(), 1);

    clock.advance(1);
    fakeTd().configure({{"chats", QJsonArray{ownedChannel(-100, "Renamed elsewhere")}}});
    const Page rescanned = provider->listFolder(account, std::nullopt, std::nullopt);
    EXPECT_EQ(scans(), 2);
    EXPECT_EQ(rescanned.items[0].name, "Renamed elsewhere");
}

TEST_F(TelegramBrowsingTest, LoadingErrorsReachTheCallerMappedAndKeepTheCache) {
    // 404 at once: nothing more to load, the list is still read.
    fakeTd().configure({{"chats", QJsonArray{privateChat(7, "Bob")}}, {"load_chats_ok", 0}});
    EXPECT_EQ(ids(provider->listFolder(account, std::nullopt, std::nullopt)),
              QStringList{"g:chats"});

    clock.advance(60);
    fakeTd().failNext("loadChats", 401, "Unauthorized");
    EXPECT_EQ(errorOf([&] { provider->listFolder(account, std::nullopt, std::nullopt); }).code(),
              Code::reauthRequired);
    fakeTd().failNext("getChats", 500, "Internal");
    EXPECT_EQ(
        errorOf([&] { provider->listFolder(account, QString("g:chats"), std::nullopt); }).code(),
        Code::server);
    fakeTd().failNext("getChatHistory", 429, "Too Many Requests: retry after 3");
    EXPECT_EQ(errorOf([&] { provider->listFolder(account, QString("r:7"), std::nullopt); }).code(),
              Code::rateLimited);
}

TEST_F(TelegramBrowsingTest, SearchCoversSavedMessagesAndOwnedChannelsNewestFirst) {
    fakeTd().configure(
        {{"chats", QJsonArray{ownedChannel(-100, "Work"), channel(-200, "News")}},
         {"messages",
          QJsonArray{document(savedChat, 10, "Report 2023.pdf", "application/pdf", 501, 1, 1000),
                     document(savedChat, 11, "notes.txt", "text/plain", 502, 1, 3000),
                     document(-100, 20, "report-final.pdf", "application/pdf", 503, 1, 2000),
                     document(-200, 30, "report-news.pdf", "application/pdf", 504, 1, 4000)}}});
    const Page found = provider->search(account, "report", std::nullopt);
    EXPECT_EQ(ids(found), QStringList({"m:-100:20", "m:42:10"}));
    EXPECT_EQ(found.items[0].parentIDs, QStringList{"c:-100"});
    EXPECT_TRUE(found.items[1].parentIDs.isEmpty());
    EXPECT_FALSE(found.nextPageToken);
    EXPECT_EQ(requestsOf("searchChatMessages").size(), 2);
    EXPECT_FALSE(requestsOf("searchChatMessages")[0].contains("filter"));
    EXPECT_EQ(requestsOf("searchChatMessages")[0].value("limit").toInt(), 50);
    // Found files are at once usable: their handles are known without "getMessage".
    EXPECT_EQ(provider->read({account, "m:-100:20"}, {0, 0}), QByteArray());
    EXPECT_EQ(ids(provider->search(account, "report", QString("ignored"))), ids(found));

    fakeTd().failNext("searchChatMessages", 403, "CHAT_ADMIN_REQUIRED");
    EXPECT_EQ(errorOf([&] { provider->search(account, "x", std::nullopt); }).code(),
              Code::permissionDenied);
}

TEST_F(TelegramBrowsingTest, CategoryListingPagesThroughEveryChatAndFilter) {
    QJsonArray messages;
    for (int i = 1; i <= 60; ++i)
        messages.append(photo(savedChat, 100 + i, 1000 + 2 * i, 5000 + i, 1'700'000'000 + i));
    messages.append(document(savedChat, 300, "scan.png", "image/png", 3000, 10, 1'600'000'000));
    messages.append(document(savedChat, 301, "report.pdf", "application/pdf", 3001, 10));
    messages.append(photo(-100, 400, 4000, 4002, 1'800'000'000));
    fakeTd().configure({{"chats", QJsonArray{ownedChannel(-100, "Work")}}, {"messages", messages}});

    const Page first = provider->listCategory(account, FileCategory::photos, std::nullopt);
    ASSERT_TRUE(first.nextPageToken);
    EXPECT_EQ(first.items.size(), 50 + 1 + 1); // 50 photos, the PNG document, the channel photo
    EXPECT_EQ(first.items.first().ref.providerID, "m:-100:400"); // newest first
    EXPECT_EQ(first.items.first().parentIDs, QStringList{"c:-100"});
    EXPECT_EQ(first.items.last().ref.providerID, "m:42:300");
    const auto cursor = CategoryCursor::decode(*first.nextPageToken);
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->positions.keys(), QStringList{"42|searchMessagesFilterPhoto"});
    // The negative channel id sorts first; four pairs were asked.
    const auto asked = requestsOf("searchChatMessages");
    ASSERT_EQ(asked.size(), 4);
    EXPECT_EQ(asked[0].value("chat_id").toInteger(), -100);
    EXPECT_EQ(asked[0].value("filter").toObject().value("@type"), "searchMessagesFilterDocument");

    const Page second = provider->listCategory(account, FileCategory::photos, first.nextPageToken);
    EXPECT_EQ(second.items.size(), 10);
    EXPECT_FALSE(second.nextPageToken);
    EXPECT_EQ(requestsOf("searchChatMessages").size(), 5);

    // Documents split the document filter's results by kind.
    EXPECT_EQ(ids(provider->listCategory(account, FileCategory::documents, std::nullopt)),
              QStringList{"m:42:301"});

    // A token that is not a cursor gives the first page again.
    for (const QString& token :
         {QString("garbage!"), QString::fromLatin1(QByteArray("[1,2]").toBase64())})
        EXPECT_EQ(provider->listCategory(account, FileCategory::photos, token).items.size(), 52);
    // An empty cursor asks nothing and ends the listing.
    const int before = requestsOf("searchChatMessages").size();
    const Page empty =
        provider->listCategory(account, FileCategory::photos, CategoryCursor{}.encode());
    EXPECT_TRUE(empty.items.isEmpty());
    EXPECT_FALSE(empty.nextPageToken);
    EXPECT_EQ(requestsOf("searchChatMessages").size(), before);
    // Malformed pairs are skipped; an item found by two pairs is listed once.
    CategoryCursor odd;
    odd.positions.insert("abc|searchMessagesFilterDocument", 0);
    odd.positions.insert("42", 0);
    odd.positions.insert("42|searchMessagesFilterDocument", 0);
    odd.positions.insert("+42|searchMessagesFilterDocument", 0);
    const Page deduplicated = provider->listCategory(account, FileCategory::photos, odd.encode());
    EXPECT_EQ(ids(deduplicated), QStringList{"m:42:300"});
    EXPECT_EQ(requestsOf("searchChatMessages").size(), before + 2);
}

TEST_F(TelegramBrowsingTest, CreatingFolders) {
    for (const auto& [name, parent, code] :
         std::vector<std::tuple<QString, std::optional<QString>, Code>>{
             {" \n\t ", std::nullopt, Code::invalidName},
             {"", QString("c:-100"), Code::notSupported},
             {"Sub", QString("g:chats"), Code::notSupported}}) {
        EXPECT_EQ(errorOf([&] { provider->createFolder(account, name, parent); }).code(), code);
    }
    EXPECT_TRUE(requestsOf("createNewSupergroupChat").isEmpty());
    provider->listFolder(account, std::nullopt, std::nullopt); // the directory is fresh

    const FileItem made = provider->createFolder(account, "  Holiday \n", std::nullopt);
    EXPECT_EQ(made.name, "Holiday");
    EXPECT_TRUE(made.isFolder());
    EXPECT_TRUE(made.ref.providerID.startsWith("c:-"));
    const QJsonObject sent = requestsOf("createNewSupergroupChat").first();
    EXPECT_EQ(sent.value("title"), "Holiday");
    EXPECT_EQ(sent.value("is_channel"), true);
    EXPECT_EQ(sent.value("is_forum"), false);
    EXPECT_EQ(sent.value("description"), "Kelvanor folder\n[tessarow-folder]");

    // 200 user-perceived characters of two code points each: the title Telegram keeps (128
    // code points, so 64 of them) is sent, and the row, the cached directory and the next
    // scan all show that same title.
    QString longName;
    for (int i = 0; i < 200; ++i)
        longName += QString::fromUtf8("e\xCC\x81");
    const FileItem named = provider->createFolder(account, longName, std::nullopt);
    EXPECT_EQ(requestsOf("createNewSupergroupChat").last().value("title").toString(),
              longName.left(128));
    EXPECT_EQ(named.name, longName.left(128));
    const Page root = provider->listFolder(account, std::nullopt, std::nullopt);
    ASSERT_EQ(root.items.size(), 2);
    EXPECT_EQ(root.items.last().name, longName.left(128));
    clock.advance(60);
    EXPECT_EQ(provider->listFolder(account, std::nullopt, std::nullopt).items.last().name,
              longName.left(128));
}

TEST(TelegramChannelTitle, CutsToTheCodePointLimitOnWholeCharacters) {
    const auto repeated = [](const QString& unit, int count) {
        QString text;
        for (int i = 0; i < count; ++i)
            text += unit;
        return text;
    };
    const QString acute = QString::fromUtf8("e\xCC\x81");        // 2 code points
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // 1, a surrogate pair
    const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"
                                             "\xE2\x80\x8D\xF0\x9F\x91\xA7"); // 5, one cluster
    const std::vector<std::pair<QString, QString>> cases{
        {QString(300, 'a'), QString(128, 'a')},
        {"  " + QString(128, 'a') + "\n", QString(128, 'a')},
        {repeated(acute, 200), repeated(acute, 64)},
        {repeated(smile, 200), repeated(smile, 128)},
        {repeated(family, 30), repeated(family, 25)},
        {"x" + repeated(acute, 64), "x" + repeated(acute, 63)},
        {QString(127, 'a') + " b", QString(127, 'a')}, // never ends on white space
        {"Holiday", "Holiday"},
    };
    for (const auto& [name, title] : cases)
        EXPECT_EQ(TelegramStorageProvider::channelTitle(name), title) << name.toStdString();
}

TEST_F(TelegramBrowsingTest, InventoryCountsChatsAndSavedMessages) {
    fakeTd().configure({{"chats", everyKindOfChat()}, {"generated", QJsonObject{{"42", 230}}}});
    const QMap<QString, qint64> counts = provider->inventory(account);
    EXPECT_EQ(counts.value("chats.chatListMain"), 11);
    EXPECT_EQ(counts.value("chats.chatListArchive"), 1);
    EXPECT_EQ(counts.value("chatTypeSupergroup.channel.Creator"), 2);
    EXPECT_EQ(counts.value("chatTypeSupergroup.channel.Member"), 1);
    EXPECT_EQ(counts.value("chatTypeSupergroup.channel.Administrator"), 1);
    EXPECT_EQ(counts.value("chatTypeSupergroup.group.Member"), 1);
    EXPECT_EQ(counts.value("chatTypePrivate"), 4); // Saved Messages included, the broken one not
    EXPECT_EQ(counts.value("chatTypeBasicGroup"), 1);
    EXPECT_EQ(counts.value("chatTypeSecret"), 1);
    EXPECT_EQ(counts.value("saved.pages"), 3);
    EXPECT_EQ(counts.value("saved.files"), 230);
    EXPECT_EQ(counts.value("saved.totalMessagesReported"), 230);
    EXPECT_EQ(requestsOf("getChats").first().value("limit").toInt(), 5000);
}
