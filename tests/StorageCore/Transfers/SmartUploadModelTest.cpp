#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Transfers/UploadCandidate.h"
#include "StorageCore/Transfers/UploadHistory.h"
#include "StorageCore/Transfers/UploadRule.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace tw;
using Match = UploadRule::Match;

namespace {

LocalFile file(const QString& name, const QString& mime = "application/octet-stream",
               qint64 size = 10) {
    return LocalFile{QUrl::fromLocalFile("/tmp/x"), name, size, mime};
}

const QUuid kA = QUuid("{0A0A0A0A-0000-0000-0000-000000000001}");
const QUuid kB = QUuid("{0B0B0B0B-0000-0000-0000-000000000002}");

QJsonValue parse(const char* text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

QByteArray compact(const QJsonValue& value) {
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

} // namespace

TEST(UploadRuleMatch, NormalisesExtensions) {
    const QList<QPair<QString, QString>> cases = {
        {" .PDF ", "pdf"},
        {"..Tar.GZ", "tar.gz"},
        {".", ""},
        {"\t\u00A0pdf\u2003", "pdf"},  // tab, no-break and em spaces are trimmed
        {"pdf\n", "pdf\n"},            // line breaks are not
        {"İ", QString::fromUtf8("i̇")}, // full lower-casing
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Match::normalized(text), expected) << text.toStdString();
}

TEST(UploadRuleMatch, ExtensionAndCategoryRules) {
    const Match pdfRule = Match::fileExtension(".Pdf");
    for (const char* name : {"REPORT.PDF", "report.pdf ", "report..pdf"})
        EXPECT_TRUE(pdfRule.matches(file(name))) << name;
    EXPECT_FALSE(pdfRule.matches(file("report.pdf.zip")));

    const LocalFile readme = file("README");
    EXPECT_FALSE(Match::fileExtension("txt").matches(readme));
    EXPECT_TRUE(Match::fileExtension(" . ").matches(readme)); // empty matches no extension
    for (FileCategory c : FileCategories::allCases())
        EXPECT_FALSE(Match::category(c).matches(readme));

    EXPECT_TRUE(Match::category(FileCategory::documents).matches(file("a.pdf")));
    EXPECT_TRUE(Match::category(FileCategory::photos).matches(file("a.jpg", "image/jpeg")));
    EXPECT_FALSE(Match::category(FileCategory::photos).matches(file("a.pdf")));

    // Canonically equivalent texts are equal: precomposed é against e + combining acute.
    EXPECT_TRUE(Match::fileExtension(QString::fromUtf8("caf\u00E9"))
                    .matches(file(QString::fromUtf8("menu.cafe\u0301"))));

    // Equality compares the stored payload exactly.
    EXPECT_NE(Match::fileExtension("pdf"), Match::fileExtension(".pdf"));
    EXPECT_EQ(Match::category(FileCategory::audio), Match::category(FileCategory::audio));
}

TEST(UploadRuleJson, FormsAndFailures) {
    const UploadRule rule{QUuid("{11111111-2222-3333-4444-555555555555}"),
                          Match::fileExtension("pdf"),
                          UploadTarget{kA, QStringLiteral("fid"), {"Work", "PDFs"}}, true};
    EXPECT_EQ(compact(UploadRule::listToJson({rule})),
              QByteArray(R"([{"id":"11111111-2222-3333-4444-555555555555","isEnabled":true,)"
                         R"("match":{"fileExtension":{"_0":"pdf"}},"target":{"accountID":)"
                         R"("0A0A0A0A-0000-0000-0000-000000000001","folderID":"fid",)"
                         R"("folderPath":["Work","PDFs"]}}])"));
    EXPECT_EQ(UploadRule::listFromJson(UploadRule::listToJson({rule})), QList<UploadRule>{rule});
    EXPECT_EQ(compact(Match::category(FileCategory::photos).toJson()),
              QByteArray(R"({"category":{"_0":"photos"}})"));

    // A root target has no folderID member; null reads as the root; lower-case UUIDs read.
    EXPECT_FALSE((UploadTarget{kA, std::nullopt, {}}.toJson().contains("folderID")));
    const UploadTarget root = UploadTarget::fromJson(parse(
        R"({"accountID":"0a0a0a0a-0000-0000-0000-000000000001","folderID":null,"folderPath":[],"x":1})"));
    EXPECT_EQ(root, (UploadTarget{kA, std::nullopt, {}}));

    const char* broken[] = {
        R"([{"id":"11111111-2222-3333-4444-555555555555","isEnabled":true,"match":{"category":{"_0":"movies"}},"target":{"accountID":"0A0A0A0A-0000-0000-0000-000000000001","folderPath":[]}}])",
        R"([{"id":"11111111-2222-3333-4444-555555555555","isEnabled":true,"match":{},"target":{"accountID":"0A0A0A0A-0000-0000-0000-000000000001","folderPath":[]}}])",
        R"([{"id":"11111111-2222-3333-4444-555555555555","isEnabled":true,"match":{"category":{"_0":"audio"},"fileExtension":{"_0":"mp3"}},"target":{"accountID":"0A0A0A0A-0000-0000-0000-000000000001","folderPath":[]}}])",
        R"([{"id":"not-a-uuid","isEnabled":true,"match":{"category":{"_0":"audio"}},"target":{"accountID":"0A0A0A0A-0000-0000-0000-000000000001","folderPath":[]}}])",
        R"([{"id":"11111111-2222-3333-4444-555555555555","isEnabled":true,"match":{"category":{"_0":"audio"}},"target":{"accountID":"0A0A0A0A-0000-0000-0000-000000000001"}}])",
        R"({"rules":[]})",
    };
    for (const char* text : broken)
        EXPECT_THROW(UploadRule::listFromJson(parse(text)), DecodingError) << text;
}

TEST(UploadHistoryModel, KeysRecordAndCandidates) {
    const LocalFile pdf = file("Report.PDF", "application/pdf");
    EXPECT_EQ(UploadHistory::keys(pdf), (QStringList{"ext:pdf", "type:documents"}));
    EXPECT_TRUE(UploadHistory::keys(file("README")).isEmpty());

    UploadHistory history;
    history.record(file("README"), UploadTarget{kA, {}, {}});
    EXPECT_EQ(history, UploadHistory());

    const UploadTarget folder1{kA, QStringLiteral("f"), {"Old name"}};
    const UploadTarget folder2{kA, QStringLiteral("f"), {"New name"}};
    history.record(pdf, folder1);
    history.record(pdf, folder2);
    history.record(pdf, UploadTarget{kA, std::nullopt, {}}); // the root is another destination
    const QList<UploadHistory::Entry> pdfEntries = history.byKey.value("ext:pdf");
    ASSERT_EQ(pdfEntries.size(), 2);
    EXPECT_EQ(pdfEntries[0], (UploadHistory::Entry{folder2, 2}));
    EXPECT_EQ(pdfEntries[1].count, 1);
    EXPECT_EQ(history.byKey.value("type:documents"), pdfEntries);

    // Extension entries come before category entries whatever their counts.
    UploadHistory ranked;
    ranked.byKey.insert("ext:pdf", {{UploadTarget{kA, {}, {}}, 1}});
    ranked.byKey.insert("type:documents", {{UploadTarget{kB, {}, {}}, 9},
                                           {UploadTarget{kB, "x", {}}, 2},
                                           {UploadTarget{kA, "y", {}}, 9}});
    const auto candidates = ranked.candidates(pdf);
    ASSERT_EQ(candidates.size(), 4);
    EXPECT_EQ(candidates[0].target.accountID, kA);
    EXPECT_EQ(candidates[1].target, (UploadTarget{kB, {}, {}}));  // 9, recorded first
    EXPECT_EQ(candidates[2].target, (UploadTarget{kA, "y", {}})); // 9, recorded later
    EXPECT_EQ(candidates[3].count, 2);
}

TEST(UploadHistoryModel, ForgetKeepsEmptyKeysAndJsonRoundTrips) {
    UploadHistory history;
    history.record(file("a.zip"), UploadTarget{kA, {}, {}});
    history.record(file("b.pdf", "application/pdf"), UploadTarget{kB, "d", {"Docs"}});
    history.forget(kA);
    EXPECT_TRUE(history.byKey.contains("ext:zip"));
    EXPECT_TRUE(history.byKey.value("ext:zip").isEmpty());
    EXPECT_EQ(
        compact(history.toJson()),
        QByteArray(R"({"byKey":{"ext:pdf":[{"count":1,"target":{"accountID":)"
                   R"("0B0B0B0B-0000-0000-0000-000000000002","folderID":"d","folderPath":)"
                   R"(["Docs"]}}],"ext:zip":[],"type:archives":[],"type:documents":)"
                   R"([{"count":1,"target":{"accountID":"0B0B0B0B-0000-0000-0000-000000000002",)"
                   R"("folderID":"d","folderPath":["Docs"]}}]}})"));
    EXPECT_EQ(UploadHistory::fromJson(history.toJson()), history);
    EXPECT_THROW(UploadHistory::fromJson(parse(R"({"byKey":{"ext:a":[{"count":"1"}]}})")),
                 DecodingError);
    EXPECT_THROW(UploadHistory::fromJson(parse(R"({})")), DecodingError);
}

TEST(UploadCandidateFit, LimitsOfEachKind) {
    StorageAccount telegram;
    telegram.id = kA;
    telegram.provider = ProviderKind::telegram;
    const UploadCandidate t = UploadCandidate::fromAccount(telegram);
    EXPECT_FALSE(t.hasQuota);
    EXPECT_TRUE(t.fits(file("x", "", 2'000'000'000)));
    EXPECT_FALSE(t.fits(file("x", "", 2'000'000'001)));

    StorageAccount drive;
    drive.id = kB;
    drive.provider = ProviderKind::googleDrive;
    drive.quota = StorageQuota{15, 10, {}, {}};
    const UploadCandidate full = UploadCandidate::fromAccount(drive);
    EXPECT_EQ(full.availableBytes, 0);
    EXPECT_TRUE(full.fits(file("x", "", 0)));
    EXPECT_FALSE(full.fits(file("x", "", 1)));

    drive.quota.reset();
    EXPECT_TRUE(UploadCandidate::fromAccount(drive).fits(file("x", "", 1LL << 50)));

    drive.status = StorageAccount::Status::reauthRequired;
    EXPECT_FALSE(UploadCandidate::fromAccount(drive).fits(file("x", "", 0)));
}
