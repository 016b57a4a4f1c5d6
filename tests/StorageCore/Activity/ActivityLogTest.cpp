#include "StorageCore/Activity/ActivityLog.h"

#include "tests/support/FakeClock.h"
#include "tests/support/InMemoryKeyValueStore.h"
#include "tests/support/QtPrinters.h"

#include <QJsonArray>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace tw;
using Kind = ActivityEvent::Kind;

namespace {

class ActivityLogTest : public ::testing::Test {
protected:
    std::shared_ptr<test::InMemoryKeyValueStore> store =
        std::make_shared<test::InMemoryKeyValueStore>();
    test::FakeClock clock;

    QList<ActivityEvent> stored() const {
        QList<ActivityEvent> events;
        if (const auto value = store->peek(QStringLiteral("activity")))
            for (const QJsonValue& v : value->toArray())
                events.append(ActivityEvent::fromJson(v.toObject()));
        return events;
    }
};

StorageAccount account(const QString& alias) {
    StorageAccount a;
    a.id = QUuid::createUuid();
    a.alias = alias;
    return a;
}

TEST(ActivityEvent, SummariesAndSymbols) {
    struct Row {
        Kind kind;
        const char* raw;
        const char* withItem;
        const char* withoutItem;
        const char* symbol;
    };
    const Row rows[] = {
        {Kind::uploaded, "uploaded", "Uploaded \u201Ca.pdf\u201D to Work",
         "Uploaded an item to Work", "arrow.up.circle"},
        {Kind::downloaded, "downloaded", "Downloaded \u201Ca.pdf\u201D from Work",
         "Downloaded an item from Work", "arrow.down.circle"},
        {Kind::createdFolder, "createdFolder", "Created folder \u201Ca.pdf\u201D in Work",
         "Created folder an item in Work", "folder.badge.plus"},
        {Kind::renamed, "renamed", "Renamed \u201Ca.pdf\u201D in Work", "Renamed an item in Work",
         "pencil"},
        {Kind::moved, "moved", "Moved \u201Ca.pdf\u201D in Work", "Moved an item in Work",
         "folder"},
        {Kind::trashed, "trashed", "Moved \u201Ca.pdf\u201D to trash in Work",
         "Moved an item to trash in Work", "trash"},
        {Kind::connectedAccount, "connectedAccount", "Connected Work", "Connected Work", "link"},
        {Kind::reconnectedAccount, "reconnectedAccount", "Reconnected Work", "Reconnected Work",
         "link"},
        {Kind::disconnectedAccount, "disconnectedAccount", "Disconnected Work", "Disconnected Work",
         "link.badge.minus"},
    };
    ASSERT_EQ(ActivityEventKinds::allCases().size(), 9);
    for (int i = 0; i < 9; ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(ActivityEventKinds::allCases()[i], row.kind);
        EXPECT_EQ(ActivityEventKinds::rawValue(row.kind), QLatin1String(row.raw));
        EXPECT_EQ(ActivityEventKinds::fromRawValue(QLatin1String(row.raw)), row.kind);
        ActivityEvent event{QUuid::createUuid(),
                            row.kind,
                            std::nullopt,
                            QStringLiteral("Work"),
                            QStringLiteral("a.pdf"),
                            QDateTime::currentDateTimeUtc()};
        EXPECT_EQ(event.summary(), QString::fromUtf8(row.withItem));
        EXPECT_EQ(event.symbolName(), QLatin1String(row.symbol));
        event.itemName.reset();
        EXPECT_EQ(event.summary(), QString::fromUtf8(row.withoutItem));
    }
}

TEST(ActivityEvent, JsonLeavesOutAbsentMembersAndRejectsOtherShapes) {
    const QUuid accountID = QUuid::createUuid();
    const ActivityEvent full{QUuid::createUuid(),
                             Kind::renamed,
                             accountID,
                             QStringLiteral("Work"),
                             QStringLiteral("b.txt"),
                             QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6, 700), QTimeZone::utc())};
    const QJsonObject json = full.toJson();
    EXPECT_EQ(json.value(QLatin1String("kind")).toString(), QStringLiteral("renamed"));
    EXPECT_EQ(json.value(QLatin1String("accountID")).toString(),
              accountID.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(ActivityEvent::fromJson(json), full);

    ActivityEvent bare = full;
    bare.accountID.reset();
    bare.itemName.reset();
    EXPECT_EQ(bare.toJson().keys(),
              (QStringList{QStringLiteral("accountAlias"), QStringLiteral("date"),
                           QStringLiteral("id"), QStringLiteral("kind")}));
    EXPECT_EQ(ActivityEvent::fromJson(bare.toJson()), bare);

    for (const char* key : {"id", "kind", "accountAlias", "date"}) {
        QJsonObject missing = json;
        missing.remove(QLatin1String(key));
        EXPECT_THROW(ActivityEvent::fromJson(missing), std::exception) << key;
    }
    QJsonObject unknownKind = json;
    unknownKind.insert(QStringLiteral("kind"), QStringLiteral("shared"));
    EXPECT_THROW(ActivityEvent::fromJson(unknownKind), std::exception);
}

TEST_F(ActivityLogTest, RecordsNewestFirstAndKeepsTheLimit) {
    ActivityLog log(store, 3, clock.clock());
    QSignalSpy changed(&log, &ActivityLog::eventsChanged);
    const StorageAccount work = account(QStringLiteral("Work"));
    for (int i = 0; i < 4; ++i) {
        clock.advance(1);
        log.record(Kind::uploaded, work, QStringLiteral("f%1").arg(i));
    }
    ASSERT_EQ(log.events().size(), 3);
    EXPECT_EQ(log.events().first().itemName, QStringLiteral("f3"));
    EXPECT_EQ(log.events().last().itemName, QStringLiteral("f1"));
    EXPECT_EQ(log.events().first().accountID, work.id);
    EXPECT_EQ(log.events().first().accountAlias, QStringLiteral("Work"));
    EXPECT_EQ(log.events().first().date, clock.now());
    EXPECT_NE(log.events()[0].id, log.events()[1].id);
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(stored(), log.events());

    log.record(Kind::uploaded, std::nullopt, std::nullopt);
    const ActivityEvent& anonymous = log.events().first();
    EXPECT_EQ(anonymous.summary(), QStringLiteral("Uploaded an item to Storage"));
    EXPECT_FALSE(anonymous.toJson().contains(QLatin1String("accountID")));
    EXPECT_FALSE(anonymous.toJson().contains(QLatin1String("itemName")));
}

TEST_F(ActivityLogTest, ALongerStoredLogIsShownWholeUntilTheNextRecord) {
    {
        ActivityLog writer(store, 10, clock.clock());
        for (int i = 0; i < 5; ++i)
            writer.record(Kind::trashed, std::nullopt, QString::number(i));
    }
    ActivityLog log(store, 2, clock.clock());
    EXPECT_EQ(log.events().size(), 5);
    EXPECT_EQ(log.events().first().itemName, QStringLiteral("4"));
    log.record(Kind::moved, std::nullopt, QStringLiteral("new"));
    EXPECT_EQ(log.events().size(), 2);
    EXPECT_EQ(stored().size(), 2);
}

TEST_F(ActivityLogTest, ClearEmptiesTheLogForGood) {
    ActivityLog log(store, 200, clock.clock());
    log.record(Kind::downloaded, std::nullopt, QStringLiteral("x"));
    log.clear();
    EXPECT_TRUE(log.events().isEmpty());
    EXPECT_EQ(store->peek(QStringLiteral("activity")), std::nullopt);
    ActivityLog restarted(store, 200, clock.clock());
    EXPECT_TRUE(restarted.events().isEmpty());
}

TEST_F(ActivityLogTest, FailuresNeverSurfaceAndAnUnreadableLogIsSetAside) {
    store->put(QStringLiteral("activity"), QJsonArray{QJsonObject{{QStringLiteral("kind"), 1}}});
    ActivityLog log(store, 200, clock.clock());
    EXPECT_TRUE(log.events().isEmpty());
    ASSERT_EQ(store->setAsideKeys().size(), 1);

    store->setFailSaves(true);
    log.record(Kind::uploaded, std::nullopt, QStringLiteral("kept in memory"));
    EXPECT_EQ(log.events().size(), 1);
    store->setFailSaves(false);
    log.record(Kind::uploaded, std::nullopt, QStringLiteral("saved"));
    EXPECT_EQ(stored().size(), 2);
    // The unreadable document was not overwritten.
    EXPECT_EQ(store->peek(store->setAsideKeys().first()),
              QJsonValue(QJsonArray{QJsonObject{{QStringLiteral("kind"), 1}}}));
}

} // namespace
