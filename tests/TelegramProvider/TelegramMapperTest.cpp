#include "TelegramProvider/TelegramMapper.h"

#include <QJsonDocument>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace tw;

namespace {

const QUuid account = QUuid::fromString(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
// 5 March 2024, 09:15:02 UTC
constexpr qint64 stamp = 1709630102;

TDObject message(const QString& contentJson, qint64 date = stamp, qint64 editDate = 0) {
    const QByteArray json = QStringLiteral(R"({"@type":"message","chat_id":-1001,"id":77,"date":%1,
        "edit_date":%2,"content":%3})")
                                .arg(date)
                                .arg(editDate)
                                .arg(contentJson)
                                .toUtf8();
    return *TDObject::fromJson(json);
}

QString file(int id, qint64 size = 10, const char* extra = "") {
    return QStringLiteral(R"({"@type":"file","id":%1,"size":%2%3})")
        .arg(id)
        .arg(size)
        .arg(QLatin1String(extra));
}

} // namespace

TEST(TelegramMapper, MapsEachMediaKind) {
    struct Case {
        QString content;
        QString name;
        QString mime;
        qint64 fileID;
        std::optional<qint64> thumb;
    };
    const Case cases[] = {
        {R"({"@type":"messageDocument","document":{"file_name":"a.pdf","mime_type":"application/pdf",
            "document":)" +
             file(1) + R"(,"thumbnail":{"file":)" + file(2) + "}}}",
         "a.pdf", "application/pdf", 1, 2},
        {R"({"@type":"messageDocument","document":{"document":)" + file(1) + "}}",
         "File 2024-03-05 091502.bin", "application/octet-stream", 1, std::nullopt},
        {R"({"@type":"messageVideo","video":{"mime_type":"video/quicktime","video":)" + file(3) +
             "}}",
         "Video 2024-03-05 091502.mp4", "video/quicktime", 3, std::nullopt},
        {R"({"@type":"messageAudio","audio":{"file_name":"s.mp3","audio":)" + file(4) +
             R"(,"album_cover_thumbnail":{"file":)" + file(5) + "}}}",
         "s.mp3", "audio/mpeg", 4, 5},
        {R"({"@type":"messageAnimation","animation":{"file_name":"g.mp4","animation":)" + file(6) +
             "}}",
         "g.mp4", "video/mp4", 6, std::nullopt},
        {R"({"@type":"messageVoiceNote","voice_note":{"voice":)" + file(7) + "}}",
         "Voice message 2024-03-05 091502.ogg", "audio/ogg", 7, std::nullopt},
        {R"({"@type":"messageDocument","document":{"mime_type":"","document":)" + file(8) + "}}",
         "File 2024-03-05 091502.bin", "application/octet-stream", 8, std::nullopt},
        {R"({"@type":"messageDocument","document":{"mime_type":"text/plain","document":)" +
             file(8) + "}}",
         "File 2024-03-05 091502.plain", "text/plain", 8, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto mapped = TelegramMapper::item(message(c.content), account, std::nullopt);
        ASSERT_TRUE(mapped) << c.content.toStdString();
        EXPECT_EQ(mapped->first.name, c.name);
        EXPECT_EQ(mapped->first.mimeType, c.mime);
        EXPECT_EQ(mapped->first.ref, (FileRef{account, "m:-1001:77"}));
        EXPECT_TRUE(mapped->first.parentIDs.isEmpty());
        EXPECT_EQ(mapped->second, (TelegramFileHandles{-1001, 77, c.fileID, c.thumb, 10}));
    }
}

TEST(TelegramMapper, PhotosUseWidestAsFileAndFirstWideEnoughAsThumbnail) {
    const QString photo = R"({"@type":"messagePhoto","photo":{"sizes":[
        {"width":90,"photo":)" +
                          file(1) + R"(},{"width":320,"photo":)" + file(2) + R"(},
        {"width":800,"photo":)" +
                          file(3) + R"(},{"width":800,"photo":)" + file(4) + "}]}}";
    const auto mapped = TelegramMapper::item(message(photo), account, QStringLiteral("c:5"));
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->second.fileID, 3);
    EXPECT_EQ(mapped->second.thumbnailFileID, 2);
    EXPECT_EQ(mapped->first.name, QStringLiteral("Photo 2024-03-05 091502.jpg"));
    EXPECT_EQ(mapped->first.mimeType, QStringLiteral("image/jpeg"));
    EXPECT_EQ(mapped->first.parentIDs, QList<QString>{QStringLiteral("c:5")});

    const QString small = R"({"@type":"messagePhoto","photo":{"sizes":[
        {"width":90,"photo":)" +
                          file(1) + R"(},{"photo":)" + file(2) + "}]}}";
    const auto smallMapped = TelegramMapper::item(message(small), account, std::nullopt);
    ASSERT_TRUE(smallMapped);
    EXPECT_EQ(smallMapped->second.fileID, 1);
    EXPECT_EQ(smallMapped->second.thumbnailFileID, 1);
}

TEST(TelegramMapper, DatesAndSizes) {
    const QString doc = R"({"@type":"messageDocument","document":{"file_name":"x","document":)" +
                        file(1, 0, R"(,"expected_size":5000)") + "}}";
    const auto edited =
        TelegramMapper::item(message(doc, stamp, stamp + 60), account, std::nullopt);
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->first.modifiedAt,
              QDateTime::fromSecsSinceEpoch(stamp + 60, QTimeZone::utc()));
    EXPECT_EQ(edited->first.sizeBytes, 5000);
    EXPECT_EQ(edited->second.size, 5000);
}

TEST(TelegramMapper, NonFilesGiveNothing) {
    const QString contents[] = {
        R"({"@type":"messageText","text":{"text":"hi"}})",
        R"({"@type":"messageSticker","sticker":{"sticker":{"id":1}}})",
        R"({"@type":"messagePoll"})",
        R"({"@type":"messageDocument","document":{"file_name":"a"}})",
        R"({"@type":"messageDocument","document":{"document":{"size":1}}})",
        R"({"@type":"messagePhoto","photo":{"sizes":[]}})",
    };
    for (const QString& content : contents)
        EXPECT_FALSE(TelegramMapper::item(message(content), account, std::nullopt))
            << content.toStdString();
    EXPECT_FALSE(TelegramMapper::item(*TDObject::fromJson(R"({"id":1,"content":{}})"), account,
                                      std::nullopt));
}

TEST(TelegramMapper, FileIDsRoundTripAndRejectOtherForms) {
    EXPECT_EQ(TelegramMapper::fileID(-1001234, 56), QStringLiteral("m:-1001234:56"));
    EXPECT_EQ(TelegramMapper::messageRef(TelegramMapper::fileID(-1001234, 56)),
              std::make_pair(qint64(-1001234), qint64(56)));
    for (const char* bad : {"m:1:2:3", "c:5", "m:1:x", "m:1", "m:1: 2", "x:1:2", ""})
        EXPECT_EQ(TelegramMapper::messageRef(QLatin1String(bad)), std::nullopt) << bad;
    EXPECT_EQ(TelegramIDs::chatID("c:-100", TelegramIDs::ownedPrefix), -100);
    EXPECT_EQ(TelegramIDs::chatID("c:abc", TelegramIDs::ownedPrefix), std::nullopt);
    EXPECT_EQ(TelegramIDs::chatID("r:5", TelegramIDs::ownedPrefix), std::nullopt);
}

TEST(TelegramMapper, DefaultNamesAreLocaleFree) {
    const QDateTime date = QDateTime::fromSecsSinceEpoch(stamp, QTimeZone::utc());
    EXPECT_EQ(TelegramMapper::defaultName("messageDocument", "application/pdf", date),
              QStringLiteral("File 2024-03-05 091502.pdf"));
    EXPECT_EQ(TelegramMapper::defaultName("messageDocument", "/", date),
              QStringLiteral("File 2024-03-05 091502.bin"));
    EXPECT_EQ(TelegramMapper::defaultName("messageVideo", "video/webm", date),
              QStringLiteral("Video 2024-03-05 091502.mp4"));
}
