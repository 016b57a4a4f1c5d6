// What the smart upload pane says: why a file goes where it goes, which accounts can take it
// and why not, the rule a file would make, and the footer's counts.
#include "App/Uploads/SmartUploadRowDelegate.h"
#include "App/Uploads/SmartUploadView.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

LocalFile file(const QString& name, qint64 size, const QString& mime = QString()) {
    return LocalFile{QUrl::fromLocalFile(QStringLiteral("/tmp/") + name), name, size, mime};
}

StorageAccount account(ProviderKind kind, std::optional<StorageQuota> quota = std::nullopt,
                       StorageAccount::Status status = StorageAccount::Status::connected) {
    StorageAccount a;
    a.id = QUuid::createUuid();
    a.provider = kind;
    a.alias = kind == ProviderKind::telegram ? QStringLiteral("Chats") : QStringLiteral("Work");
    a.status = status;
    a.quota = quota;
    return a;
}

SmartUploadItem item(UploadSuggestion::Reason reason, bool manual = false) {
    return SmartUploadItem{QUuid::createUuid(), file(QStringLiteral("a.pdf"), 10),
                           UploadTarget{QUuid::createUuid(), std::nullopt, {}}, reason, manual};
}

} // namespace

TEST(SmartUploadTexts, ReasonTextNamesWhyTheFileGoesThere) {
    UploadRule photos{QUuid::createUuid(), UploadRule::Match::category(FileCategory::photos), {}, true};
    UploadRule pdf{QUuid::createUuid(), UploadRule::Match::fileExtension(QStringLiteral("pdf")), {}, true};
    using Reason = UploadSuggestion::Reason;
    const std::pair<SmartUploadItem, QString> cases[] = {
        {item(Reason::fromRule(photos), true), QStringLiteral("Chosen by you")},
        {item(Reason::fromRule(photos)), QStringLiteral("Your rule for photos")},
        {item(Reason::fromRule(pdf)), QStringLiteral("Your rule for .pdf files")},
        {item(Reason::usual(1)), QStringLiteral("Where you put a similar file")},
        {item(Reason::usual(2)), QStringLiteral("Where you usually put files like this")},
        {item(Reason::mostSpace()), QStringLiteral("Most free space")},
        {item(Reason::noStorageFits()), QStringLiteral("Too large for every storage")},
    };
    for (const auto& [it, text] : cases)
        EXPECT_EQ(SmartUploadRowDelegate::reasonText(it), text);
}

TEST(SmartUploadTexts, RuleTitleUsesTheExtensionElseTheCategory) {
    const std::pair<LocalFile, QString> cases[] = {
        {file(QStringLiteral("Scan.PDF"), 1), QStringLiteral("Always Upload .pdf files Here")},
        {file(QStringLiteral("IMG_0001"), 1, QStringLiteral("image/jpeg")),
         QStringLiteral("Always Upload photos Here")},
        {file(QStringLiteral("notes"), 1), QStringLiteral("Always Upload files like this Here")},
    };
    for (const auto& [f, title] : cases)
        EXPECT_EQ(SmartUploadRowDelegate::ruleTitle(f), title) << f.name.toStdString();
}

TEST(SmartUploadTexts, AnAccountThatCannotTakeTheFileSaysWhy) {
    const qint64 limit = 2'000'000'000;
    const StorageAccount telegram = account(ProviderKind::telegram);
    const StorageAccount full = account(ProviderKind::googleDrive, StorageQuota{100, 100, {}, {}});
    const StorageAccount unlimited = account(ProviderKind::googleDrive, StorageQuota{100, {}, {}, {}});
    const StorageAccount expired = account(ProviderKind::telegram, std::nullopt,
                                           StorageAccount::Status::reauthRequired);
    const QString dash = QStringLiteral(" \u2014 ");
    struct Case {
        StorageAccount account;
        qint64 size;
        QString title;
    };
    const Case cases[] = {
        {telegram, limit, QStringLiteral("Chats")},
        {telegram, limit + 1, QStringLiteral("Chats") + dash + QStringLiteral("over 2 GB limit")},
        {full, 0, QStringLiteral("Work")},
        {full, 1, QStringLiteral("Work") + dash + QStringLiteral("not enough space")},
        {unlimited, limit * 50, QStringLiteral("Work")},
        // Needing sign-in wins over every other reason.
        {expired, limit + 1, QStringLiteral("Chats") + dash + QStringLiteral("needs reconnecting")},
    };
    for (const Case& c : cases) {
        const LocalFile f = file(QStringLiteral("big.bin"), c.size);
        EXPECT_EQ(SmartUploadRowDelegate::uploadToTitle(c.account, f), c.title);
        EXPECT_EQ(SmartUploadRowDelegate::fits(c.account, f), c.title == c.account.alias);
    }
}

TEST(SmartUploadTexts, RulesFooterAndButtonWording) {
    EXPECT_EQ(SmartUploadView::describe(UploadRule::Match::category(FileCategory::archives)),
              QStringLiteral("Archives"));
    EXPECT_EQ(SmartUploadView::describe(UploadRule::Match::fileExtension(QStringLiteral("tar.gz"))),
              QStringLiteral(".tar.gz files"));
    EXPECT_EQ(SmartUploadView::summary(1, 1, 2048), QStringLiteral("1 file, 2 KB"));
    EXPECT_EQ(SmartUploadView::summary(2, 2, 0).left(9), QStringLiteral("2 files, "));
    EXPECT_EQ(SmartUploadView::summary(1, 3, 10), QStringLiteral("2 file(s) need a destination"));
    EXPECT_EQ(SmartUploadView::uploadTitle(0), QStringLiteral("Upload 0 Files"));
    EXPECT_EQ(SmartUploadView::uploadTitle(1), QStringLiteral("Upload 1 File"));
    EXPECT_EQ(SmartUploadView::uploadTitle(3), QStringLiteral("Upload 3 Files"));
}
