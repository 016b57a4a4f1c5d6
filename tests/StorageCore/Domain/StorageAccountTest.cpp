#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Domain/ProviderKind.h"

#include <QDebug>
#include <QJsonDocument>
#include <QTimeZone>

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tw;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

TEST(ProviderKind, NamesAndCapabilities) {
    ASSERT_EQ(ProviderKinds::allCases(),
              (QList<ProviderKind>{ProviderKind::googleDrive, ProviderKind::telegram}));
    EXPECT_EQ(ProviderKinds::rawValue(ProviderKind::googleDrive), QStringLiteral("googleDrive"));
    EXPECT_EQ(ProviderKinds::rawValue(ProviderKind::telegram), QStringLiteral("telegram"));
    EXPECT_EQ(ProviderKinds::displayName(ProviderKind::googleDrive),
              QStringLiteral("Google Drive"));
    EXPECT_EQ(ProviderKinds::displayName(ProviderKind::telegram), QStringLiteral("Telegram"));
    EXPECT_EQ(ProviderKinds::fromRawValue(QStringLiteral("Telegram")), std::nullopt);

    EXPECT_EQ(ProviderKinds::capabilities(ProviderKind::googleDrive),
              (ProviderCapabilities{true, true, false, true, std::nullopt, false}));
    EXPECT_EQ(ProviderKinds::capabilities(ProviderKind::telegram),
              (ProviderCapabilities{false, false, true, false, qint64(2'000'000'000), false}));
}

TEST(ProviderKind, WritableFoldersAndRenamableFolders) {
    struct Row {
        ProviderKind kind;
        std::optional<QString> folder;
        bool writable;
        bool renamable; // only meaningful with a folder id
    };
    const auto drive = ProviderKind::googleDrive;
    const auto telegram = ProviderKind::telegram;
    const Row rows[] = {
        {drive, std::nullopt, true, true},
        {drive, QStringLiteral("r:123"), true, true},
        {drive, QStringLiteral("g:chats"), true, true},
        {telegram, std::nullopt, true, false},
        {telegram, QStringLiteral("c:-100123"), true, true},
        {telegram, QStringLiteral("r:42"), false, false},
        {telegram, QStringLiteral("g:chats"), false, false},
        {telegram, QStringLiteral("g:channels"), false, false},
        {telegram, QStringLiteral("m:1:2"), true, false},
        {telegram, QStringLiteral("R:42"), true, false}, // case-sensitive prefixes
        {telegram, QStringLiteral("C:1"), true, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ProviderKinds::isWritable(row.kind, row.folder), row.writable)
            << row.folder.value_or(QStringLiteral("<root>")).toStdString();
        if (row.folder) {
            EXPECT_EQ(ProviderKinds::canRename(row.kind, *row.folder), row.renamable)
                << row.folder->toStdString();
        }
    }
}

TEST(StorageQuota, DerivedValues) {
    struct Row {
        qint64 used;
        std::optional<qint64> limit;
        std::optional<qint64> available;
        std::optional<double> fraction;
        bool nearlyFull;
    };
    const Row rows[] = {
        {950, 1000, 50, 0.95, true},
        {900, 1000, 100, 0.9, true},
        {899, 1000, 101, 0.899, false},
        {1500, 1000, 0, 1.0, true},
        {0, 0, 0, std::nullopt, false},
        {10, std::nullopt, std::nullopt, std::nullopt, false},
        {5, -10, 0, std::nullopt, false},
        {-50, 100, 150, -0.5, false}, // no lower bound on the fraction
        // Absurd decoded values saturate instead of overflowing.
        {kMin, kMax, kMax, -1.0, false},
        {-1, kMax, kMax, -1.0 / double(kMax), false},
        {kMax, kMin, 0, std::nullopt, false},
        {kMax, kMax, 0, 1.0, true},
    };
    for (const Row& row : rows) {
        const StorageQuota quota{row.used, row.limit};
        SCOPED_TRACE(testing::Message()
                     << "used " << row.used << " limit " << (row.limit ? *row.limit : -999));
        EXPECT_EQ(quota.availableBytes(), row.available);
        ASSERT_EQ(quota.fractionUsed().has_value(), row.fraction.has_value());
        if (row.fraction) {
            EXPECT_DOUBLE_EQ(*quota.fractionUsed(), *row.fraction);
        }
        EXPECT_EQ(quota.isNearlyFull(), row.nearlyFull);
    }
}

TEST(StorageQuota, SaturatingAdd) {
    EXPECT_EQ(saturatingAdd(1, 2), 3);
    EXPECT_EQ(saturatingAdd(kMax, 1), kMax);
    EXPECT_EQ(saturatingAdd(kMin, -1), kMin);
    EXPECT_EQ(saturatingAdd(kMax, kMin), -1);
}

TEST(StorageQuota, JsonWritesOnlyPresentMembers) {
    const StorageQuota full{kMax - 1, 2'000'000'000'000, 7, 0};
    const QJsonObject json = full.toJson();
    EXPECT_EQ(json.keys(),
              (QStringList{QStringLiteral("limitBytes"), QStringLiteral("trashBytes"),
                           QStringLiteral("usedBytes"), QStringLiteral("usedInDriveBytes")}));
    const QByteArray text = QJsonDocument(json).toJson();
    EXPECT_EQ(StorageQuota::fromJson(QJsonDocument::fromJson(text).object()), full);

    const StorageQuota bare{12};
    EXPECT_EQ(bare.toJson().keys(), QStringList{QStringLiteral("usedBytes")});
    EXPECT_EQ(StorageQuota::fromJson(bare.toJson()), bare);
    EXPECT_THROW(StorageQuota::fromJson(QJsonObject{{QStringLiteral("limitBytes"), 3}}),
                 DecodingError);
}

StorageAccount sampleAccount() {
    StorageAccount a;
    a.id = QUuid::createUuid();
    a.provider = ProviderKind::telegram;
    a.providerAccountID = QStringLiteral("777");
    a.email = QStringLiteral("+44 7700 900000");
    a.displayName = QStringLiteral("Ada");
    a.alias = QStringLiteral("Work");
    a.colorIndex = 3;
    a.status = StorageAccount::Status::reauthRequired;
    a.quota = StorageQuota{1, 2, 3, 4};
    a.quotaUpdatedAt = QDateTime(QDate(2025, 5, 1), QTime(8, 0, 0, 125), QTimeZone::utc());
    a.createdAt = QDateTime(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());
    a.updatedAt = QDateTime(QDate(2025, 5, 1), QTime(8, 0, 1), QTimeZone::utc());
    return a;
}

TEST(StorageAccount, JsonRoundTripAndKeys) {
    const StorageAccount full = sampleAccount();
    const QJsonObject json = full.toJson();
    EXPECT_EQ(json.value(QLatin1String("id")).toString(),
              full.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(json.value(QLatin1String("status")).toString(), QStringLiteral("reauthRequired"));
    EXPECT_EQ(json.value(QLatin1String("provider")).toString(), QStringLiteral("telegram"));
    EXPECT_EQ(json.size(), 12);
    const QByteArray text = QJsonDocument(json).toJson();
    EXPECT_EQ(StorageAccount::fromJson(QJsonDocument::fromJson(text).object()), full);

    StorageAccount bare = full;
    bare.displayName.reset();
    bare.quota.reset();
    bare.quotaUpdatedAt.reset();
    bare.status = StorageAccount::Status::connected;
    const QJsonObject bareJson = bare.toJson();
    EXPECT_EQ(bareJson.size(), 9);
    EXPECT_EQ(StorageAccount::fromJson(bareJson), bare);
}

TEST(StorageAccount, DecodingFailures) {
    const QJsonObject good = sampleAccount().toJson();
    auto without = [&](const char* key) {
        QJsonObject o = good;
        o.remove(QLatin1String(key));
        return o;
    };
    auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject o = good;
        o.insert(QLatin1String(key), value);
        return o;
    };
    const QJsonObject bad[] = {
        without("id"),
        without("provider"),
        without("providerAccountID"),
        without("email"),
        without("alias"),
        without("colorIndex"),
        without("status"),
        without("createdAt"),
        without("updatedAt"),
        with("status", QStringLiteral("disabled")),
        with("provider", QStringLiteral("dropbox")),
        with("colorIndex", 1.5),
        with("colorIndex", 1e12),
        with("quota", QStringLiteral("lots")),
        with("createdAt", QStringLiteral("2024-01-01T00:00:00Z")),
        with("id", QStringLiteral("123")),
    };
    for (const QJsonObject& object : bad)
        EXPECT_THROW(StorageAccount::fromJson(object), DecodingError)
            << QJsonDocument(object).toJson(QJsonDocument::Compact).constData();
}

TEST(StorageAccount, PaletteIndexIsAlwaysInsideThePalette) {
    StorageAccount a;
    const int cases[][2] = {{0, 0},
                            {7, 7},
                            {8, 0},
                            {9, 1},
                            {-1, 7},
                            {-8, 0},
                            {std::numeric_limits<int>::max(), 7},
                            {std::numeric_limits<int>::min(), 0}};
    for (const auto& c : cases) {
        a.colorIndex = c[0];
        EXPECT_EQ(a.paletteIndex(), c[1]) << c[0];
    }
}

TEST(ProviderCredential, TextFormNeverShowsThePayload) {
    for (const QByteArray& payload : {QByteArray(), QByteArray("ya29.secret-token")}) {
        const ProviderCredential credential{payload, ProviderKind::googleDrive};
        EXPECT_EQ(credential.description(), QStringLiteral("ProviderCredential(<redacted>)"));
        QString logged;
        QDebug(&logged) << credential;
        EXPECT_EQ(logged.trimmed(), QStringLiteral("ProviderCredential(<redacted>)"));
    }
    const ProviderConnection connection{QStringLiteral("id"), QStringLiteral("e"), std::nullopt,
                                        std::nullopt,
                                        ProviderCredential{"x", ProviderKind::telegram}};
    EXPECT_EQ(connection.kind(), ProviderKind::telegram);
}

} // namespace
