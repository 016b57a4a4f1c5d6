#include "TelegramProvider/TDLib/TDObject.h"
#include "StorageCore/Domain/InfoDictionary.h"
#include "TelegramProvider/TelegramConfiguration.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace tw;
using Code = StorageError::Code;

namespace {
TDObject parse(const char* json) {
    return *TDObject::fromJson(QByteArray(json));
}
} // namespace

TEST(TDObject, IntegerReadsNumbersAndDecimalTexts) {
    const TDObject o = parse(R"({"n":123,"t":"123","neg":"-5","pos":"+5","f":-1.9,"b":true,
        "empty":"","space":" 5","dot":"1.5","hex":"0x1F","big":"9223372036854775808",
        "min":"-9223372036854775808","max":"9223372036854775807","bigNumber":1e300,"null":null,
        "obj":{}})");
    EXPECT_EQ(o.integer("n"), 123);
    EXPECT_EQ(o.integer("t"), 123);
    EXPECT_EQ(o.integer("neg"), -5);
    EXPECT_EQ(o.integer("pos"), 5);
    EXPECT_EQ(o.integer("f"), -1);
    EXPECT_EQ(o.integer("b"), 1);
    EXPECT_EQ(o.integer("min"), std::numeric_limits<qint64>::min());
    EXPECT_EQ(o.integer("max"), std::numeric_limits<qint64>::max());
    for (const char* absent :
         {"empty", "space", "dot", "hex", "big", "bigNumber", "null", "obj", "missing"})
        EXPECT_EQ(o.integer(absent), std::nullopt) << absent;
}

TEST(TDObject, CollectionsAndTotalAccessors) {
    const TDObject o = parse(R"({"ints":[1,"2","x",3.0,null],"objs":[{"a":1},{"b":2}],
        "mixed":[{"a":1},2],"s":"text","flag":false,"yes":true,"b64":"aGVsbG8=","bad64":"a$b"})");
    EXPECT_EQ(o.integers("ints"), (QList<qint64>{1, 2, 3}));
    EXPECT_EQ(o.objects("objs").size(), 2);
    EXPECT_TRUE(o.objects("mixed").isEmpty());
    EXPECT_TRUE(o.objects("s").isEmpty());
    EXPECT_TRUE(o.integers("s").isEmpty());
    EXPECT_EQ(o.string("s"), QStringLiteral("text"));
    EXPECT_EQ(o.string("flag"), std::nullopt);
    EXPECT_FALSE(o.boolean("flag"));
    EXPECT_TRUE(o.boolean("yes"));
    EXPECT_FALSE(o.boolean("s"));
    EXPECT_EQ(o.bytes("b64"), QByteArray("hello"));
    EXPECT_EQ(o.bytes("bad64"), std::nullopt);
    EXPECT_EQ(o.object("s"), std::nullopt);
}

TEST(TDObject, TypeExtraAndTextForm) {
    const TDObject plain = parse(R"({"secret":"do-not-print"})");
    EXPECT_EQ(plain.type(), QString());
    EXPECT_FALSE(plain.isError());
    const TDObject request(QStringLiteral("getChat"),
                           QJsonObject{{"@type", "old"}, {"chat_id", 5}});
    EXPECT_EQ(request.type(), QStringLiteral("getChat"));
    EXPECT_EQ(request.withExtra("r1").withExtra("r2").string("@extra"), QStringLiteral("r2"));
    EXPECT_EQ(TDObject(QStringLiteral("getMe"), {{"token", "s3cret"}}).description(),
              QStringLiteral("TDObject(getMe)"));
    EXPECT_TRUE(parse(R"({"@type":"error"})").isError());
    EXPECT_EQ(TDObject::fromJson("[1,2]"), std::nullopt);
    EXPECT_EQ(TDObject::fromJson("not json"), std::nullopt);
    EXPECT_EQ(TDObject::fromJson(request.jsonData()), request);
}

TEST(TDError, RetryAfterOnlyForFloodWaits) {
    EXPECT_EQ(TDError(429, "Too Many Requests: retry after 30").retryAfter(), 30);
    EXPECT_EQ(TDError(420, "Too Many Requests: retry after 30").retryAfter(), std::nullopt);
    EXPECT_EQ(TDError(429, "Too Many Requests").retryAfter(), std::nullopt);
    EXPECT_EQ(TDError::fromObject(parse(R"({"@type":"error"})")), TDError(0, QString()));
}

TEST(TDError, MapsToStorageErrorInRuleOrder) {
    struct Case {
        int code;
        const char* message;
        StorageError expected;
    };
    const Case cases[] = {
        {400, "Can't lock file \"db/td.binlog\"", Code::sessionInUse},
        {401, "Can't lock file", Code::sessionInUse},
        {401, "anything", Code::reauthRequired},
        {403, "", Code::permissionDenied},
        {404, "", Code::notFound},
        {429, "retry after 3", Code::rateLimited},
        {500, "FILE_TOO_BIG", Code::server},
        {599, "", Code::server},
        {400, "FILE_PARTS_INVALID", StorageError::fileTooLarge(2000000000)},
        {400, "FILE_TOO_BIG", StorageError::fileTooLarge(2000000000)},
        {400, "CHAT_TITLE_TOO_LONG", Code::invalidResponse},
        {0, "", Code::invalidResponse},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TDError(c.code, c.message).storageError(), c.expected)
            << c.code << " " << c.message;
}

TEST(TelegramConfiguration, ReadsTrimmedValuesAndRejectsPlaceholders) {
    auto read = [](QJsonObject values) {
        return TelegramConfiguration::fromInfoDictionary(JsonInfoDictionary(values));
    };
    EXPECT_EQ(read({{"TWTelegramAPIID", " 12345\n"}, {"TWTelegramAPIHash", "\tabc "}}),
              (TelegramConfiguration{12345, "abc"}));
    EXPECT_EQ(read({{"TWTelegramAPIID", "-7"}, {"TWTelegramAPIHash", "h"}}),
              (TelegramConfiguration{-7, "h"}));
    const QJsonObject rejected[] = {
        {{"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "1"}},
        {{"TWTelegramAPIID", ""}, {"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "  "}, {"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "$(TELEGRAM_ID)"}, {"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "1"}, {"TWTelegramAPIHash", "$(HASH)"}},
        {{"TWTelegramAPIID", "2147483648"}, {"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "12 34"}, {"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "12a"}, {"TWTelegramAPIHash", "h"}},
        {{"TWTelegramAPIID", "1"}, {"TWTelegramAPIHash", " "}},
    };
    for (const QJsonObject& values : rejected)
        EXPECT_EQ(read(values), std::nullopt) << QJsonDocument(values).toJson().constData();
}

// One error rethrown to many waiters is read on many threads at once: what() writes nothing.
TEST(TDErrorText, WhatIsFixedWhenTheErrorIsMade) {
    const TDError error(429, QStringLiteral("Too Many Requests: retry after 5"));
    std::vector<std::thread> readers;
    std::atomic<int> matches{0};
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&] {
            for (int n = 0; n < 1000; ++n)
                matches += std::string(error.what()) == "TDLib error 429";
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(matches.load(), 8000);
}
