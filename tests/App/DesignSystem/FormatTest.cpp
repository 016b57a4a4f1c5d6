// Display texts of sizes, usage, kinds and dates: fixed English wording in an en_US locale.
#include "App/DesignSystem/Format.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

FileItem item(const QString& name, const QString& mimeType) {
    FileItem file;
    file.ref = FileRef{QUuid::createUuid(), name};
    file.name = name;
    file.mimeType = mimeType;
    return file;
}

} // namespace

TEST(Format, ByteCountsArePowersOf1024UpToTerabytes) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {512, "512 bytes"},
        {1023, "1023 bytes"},
        {1024, "1 KB"},
        {1536, "2 KB"},
        {1024 * 1024 + 512 * 1024, "1.5 MB"},
        {1073741824, "1 GB"},
        {15LL * 1073741824, "15 GB"},
        {1099511627776LL, "1 TB"},
        {2048LL * 1099511627776LL, "2048 TB"}, // no unit past terabytes
        {-2048, "-2 KB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(Format::byteCount(bytes), QLatin1String(text)) << bytes;
}

TEST(Format, UsageNamesTheLimitOnlyWhenThereIsOne) {
    EXPECT_EQ(Format::usage(std::nullopt), QStringLiteral("Usage unavailable"));
    EXPECT_EQ(Format::usage(StorageQuota(1073741824)), QStringLiteral("1 GB used"));
    EXPECT_EQ(Format::usage(StorageQuota(1073741824, 15LL * 1073741824)), QStringLiteral("1 GB of 15 GB"));
    EXPECT_EQ(Format::usage(StorageQuota(5, 0)), QStringLiteral("5 bytes of Zero KB"));
}

TEST(Format, RelativeAgesSayJustNowForTheLastMinuteAndTheFuture) {
    const QDateTime now = QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);
    const std::pair<qint64, const char*> cases[] = {
        {-3600, "Just now"},   {0, "Just now"},          {59, "Just now"},
        {60, "1 min. ago"},    {59 * 60, "59 min. ago"}, {3600, "1 hr. ago"},
        {86400, "1 day ago"},  {3 * 86400, "3 days ago"}, {8 * 86400, "1 wk. ago"},
        {40 * 86400, "1 mo. ago"}, {800 * 86400, "2 yr. ago"},
    };
    for (const auto& [age, text] : cases)
        EXPECT_EQ(Format::relative(now.addSecs(-age), now), QLatin1String(text)) << age;
}

TEST(Format, ModifiedDatesNameTodayAndYesterdayAndOtherwiseTheDate) {
    EXPECT_EQ(Format::modified(std::nullopt), QStringLiteral("--"));
    const QDateTime today(QDate::currentDate(), QTime(9, 41));
    EXPECT_EQ(Format::modified(today),
              QStringLiteral("Today at ") + QLocale().toString(QTime(9, 41), QLocale::ShortFormat));
    EXPECT_TRUE(Format::modified(today).startsWith(QStringLiteral("Today at 9:41")));
    EXPECT_TRUE(Format::modified(today.addDays(-1)).startsWith(QStringLiteral("Yesterday at 9:41")));
    const QDateTime older(QDate(2026, 3, 4), QTime(9, 41));
    EXPECT_TRUE(Format::modified(older).startsWith(QStringLiteral("Mar 4, 2026 at 9:41")))
        << Format::modified(older).toStdString();
    EXPECT_FALSE(Format::modified(today).contains(QString::number(today.date().year())));
}

TEST(Format, KindsPreferFolderThenGoogleNativeThenTheDesktopsDescription) {
    FileItem folder = item(QStringLiteral("Reports"), QStringLiteral("application/vnd.google-apps.folder"));
    EXPECT_EQ(Format::kind(folder), QStringLiteral("Folder"));
    EXPECT_EQ(Format::kind(item(QStringLiteral("Plan"), QStringLiteral("application/vnd.google-apps.document"))),
              QStringLiteral("Google Document"));
    EXPECT_EQ(Format::kind(item(QStringLiteral("Budget"), QStringLiteral("application/vnd.google-apps.spreadsheet"))),
              QStringLiteral("Google Spreadsheet"));
    EXPECT_EQ(Format::kind(item(QStringLiteral("a.pdf"), QStringLiteral("application/pdf"))),
              QStringLiteral("PDF document"));
    // Unknown to the desktop and without an extension: the kind's own name.
    EXPECT_EQ(Format::kind(item(QStringLiteral("blob"), QStringLiteral("application/x-tw-unknown"))),
              QStringLiteral("File"));
}
