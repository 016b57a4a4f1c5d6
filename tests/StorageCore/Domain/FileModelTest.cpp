#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/JsonCoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct ClassifyCase {
    const char* mime;
    const char* name;
    FileKind expected;
};

void PrintTo(const ClassifyCase& c, std::ostream* os) {
    *os << "mime=\"" << c.mime << "\" name=\"" << c.name << "\"";
}

class Classify : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(Classify, GivesTheKind) {
    const ClassifyCase& c = GetParam();
    EXPECT_EQ(FileKinds::classify(QString::fromUtf8(c.mime), QString::fromUtf8(c.name)),
              c.expected);
}

// The MIME table, first match wins; the MIME type is lower-cased first.
INSTANTIATE_TEST_SUITE_P(
    ByMimeType, Classify,
    ::testing::Values(
        ClassifyCase{"application/vnd.google-apps.folder", "x.jpg", FileKind::folder},
        ClassifyCase{"Application/VND.Google-Apps.Folder", "", FileKind::folder},
        ClassifyCase{"APPLICATION/PDF", "", FileKind::pdf},
        ClassifyCase{"application/vnd.google-apps.document", "", FileKind::document},
        ClassifyCase{"application/msword", "", FileKind::document},
        ClassifyCase{"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                     "x.zip", FileKind::document},
        ClassifyCase{"text/plain", "x.mp3", FileKind::document},
        ClassifyCase{"text/markdown", "", FileKind::document},
        ClassifyCase{"application/rtf", "", FileKind::document},
        ClassifyCase{"application/vnd.google-apps.spreadsheet", "", FileKind::spreadsheet},
        ClassifyCase{"application/vnd.ms-excel", "", FileKind::spreadsheet},
        ClassifyCase{"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "",
                     FileKind::spreadsheet},
        ClassifyCase{"text/csv", "", FileKind::spreadsheet},
        ClassifyCase{"application/vnd.google-apps.presentation", "", FileKind::presentation},
        ClassifyCase{"application/vnd.ms-powerpoint", "", FileKind::presentation},
        ClassifyCase{"application/vnd.openxmlformats-officedocument.presentationml.presentation",
                     "", FileKind::presentation},
        ClassifyCase{"application/zip", "", FileKind::archive},
        ClassifyCase{"application/x-zip-compressed", "", FileKind::archive},
        ClassifyCase{"application/x-7z-compressed", "", FileKind::archive},
        ClassifyCase{"application/x-rar-compressed", "", FileKind::archive},
        ClassifyCase{"application/vnd.rar", "", FileKind::archive},
        ClassifyCase{"application/gzip", "", FileKind::archive},
        ClassifyCase{"application/x-tar", "", FileKind::archive},
        ClassifyCase{"application/x-apple-diskimage", "", FileKind::archive},
        ClassifyCase{"image/heic", "x.pdf", FileKind::image},
        ClassifyCase{"VIDEO/mp4", "", FileKind::video},
        ClassifyCase{"audio/flac", "", FileKind::audio}));

// Unlisted MIME types fall through to the name's extension.
INSTANTIATE_TEST_SUITE_P(
    ByExtension, Classify,
    ::testing::Values(ClassifyCase{"application/octet-stream", "clip.MOV", FileKind::video},
                      ClassifyCase{"application/octet-stream", "notes.txt", FileKind::document},
                      ClassifyCase{"", "README", FileKind::other},
                      ClassifyCase{"application/x-unknown", "file.qqqzzz", FileKind::other},
                      ClassifyCase{"", "backup.tar.gz", FileKind::archive},
                      ClassifyCase{"", "a.tgz", FileKind::archive},
                      ClassifyCase{"", "a.7Z", FileKind::archive},
                      ClassifyCase{"", "a.rar", FileKind::archive},
                      ClassifyCase{"", "a.dmg", FileKind::archive},
                      ClassifyCase{"", "a.tar", FileKind::archive},
                      ClassifyCase{"", "dir.v2/README", FileKind::other},
                      ClassifyCase{"text/html", "page.html", FileKind::document},
                      ClassifyCase{"application/json", "data.json", FileKind::document},
                      ClassifyCase{"application/vnd.google-apps.form", "Survey", FileKind::other},
                      ClassifyCase{"application/vnd.google-apps.form", "Survey.pdf", FileKind::pdf},
                      ClassifyCase{"", "scan.PDF", FileKind::pdf},
                      ClassifyCase{"", "photo.jpeg", FileKind::image},
                      ClassifyCase{"", "icon.svg", FileKind::image},
                      ClassifyCase{"", "song.mp3", FileKind::audio},
                      ClassifyCase{"", "voice.ogg", FileKind::audio},
                      ClassifyCase{"", "movie.mkv", FileKind::video},
                      ClassifyCase{"", "movie.webm", FileKind::video},
                      ClassifyCase{"", "table.xlsx", FileKind::spreadsheet},
                      ClassifyCase{"", "table.ods", FileKind::spreadsheet},
                      ClassifyCase{"", "slides.pptx", FileKind::presentation},
                      ClassifyCase{"", "slides.odp", FileKind::presentation},
                      // Office documents and e-books are zip containers in the MIME database; they
                      // must not classify as archives.
                      ClassifyCase{"", "letter.docx", FileKind::document},
                      ClassifyCase{"", "letter.doc", FileKind::document},
                      ClassifyCase{"", "letter.rtf", FileKind::document},
                      ClassifyCase{"", "letter.md", FileKind::document},
                      ClassifyCase{"", "data.csv", FileKind::spreadsheet},
                      // Apple's documents: the table lists aliases of their canonical names.
                      ClassifyCase{"", "report.pages", FileKind::document},
                      ClassifyCase{"", "budget.numbers", FileKind::spreadsheet},
                      ClassifyCase{"", "talk.key", FileKind::presentation},
                      ClassifyCase{"", "bundle.tar.xz", FileKind::archive},
                      ClassifyCase{"", "bundle.bz2", FileKind::archive},
                      ClassifyCase{"", "letter.odt", FileKind::document}));

// Unlisted MIME types with a name that has no declared extension: the registry's type of the
// MIME type (canonical name or alias) decides, as it does for the preview kinds.
INSTANTIATE_TEST_SUITE_P(
    ByRegistryType, Classify,
    ::testing::Values(
        ClassifyCase{"application/vnd.apple.pages", "Report", FileKind::document},
        ClassifyCase{"application/x-iwork-pages-sffpages", "Report", FileKind::document},
        ClassifyCase{"application/vnd.apple.numbers", "Budget", FileKind::spreadsheet},
        ClassifyCase{"application/x-iwork-numbers-sffnumbers", "Budget", FileKind::spreadsheet},
        ClassifyCase{"application/vnd.apple.keynote", "Talk", FileKind::presentation},
        ClassifyCase{"application/x-iwork-keynote-sffkey", "Talk.v2", FileKind::presentation},
        ClassifyCase{"application/vnd.oasis.opendocument.text", "Letter", FileKind::document},
        ClassifyCase{"application/vnd.oasis.opendocument.spreadsheet", "T", FileKind::spreadsheet},
        ClassifyCase{"text/html", "index", FileKind::document},
        ClassifyCase{"application/x-bzip2", "dump", FileKind::archive},
        // An e-book is a ZIP container, not an archive of the user's.
        ClassifyCase{"application/epub+zip", "Book", FileKind::other},
        // A declared extension wins over the MIME type, as in the preview kinds.
        ClassifyCase{"application/vnd.apple.pages", "song.mp3", FileKind::audio},
        ClassifyCase{"application/octet-stream", "README", FileKind::other},
        // Aliases are read as their canonical types, whatever their case.
        ClassifyCase{"image/pdf", "", FileKind::pdf},
        ClassifyCase{"audio/x-iMelody", "", FileKind::document}));

TEST(FileModel, PathExtensionIsTakenFromTheLastComponent) {
    EXPECT_EQ(FileKinds::pathExtension(QStringLiteral("a/b.c/d")), QString());
    EXPECT_EQ(FileKinds::pathExtension(QStringLiteral("backup.tar.gz")), QStringLiteral("gz"));
    EXPECT_EQ(FileKinds::pathExtension(QStringLiteral("name.")), QString());
    EXPECT_EQ(FileKinds::pathExtension(QStringLiteral("x.PDF")), QStringLiteral("PDF"));
    EXPECT_EQ(FileKinds::classifyExtension(QString()), FileKind::other);
}

TEST(FileModel, TablesOfKindsAndCategories) {
    struct Row {
        FileKind kind;
        const char* raw;
        const char* display;
        const char* symbol;
        std::optional<FileCategory> category;
    };
    const Row rows[] = {
        {FileKind::folder, "folder", "Folder", "folder.fill", std::nullopt},
        {FileKind::document, "document", "Document", "doc.text", FileCategory::documents},
        {FileKind::spreadsheet, "spreadsheet", "Spreadsheet", "tablecells",
         FileCategory::documents},
        {FileKind::presentation, "presentation", "Presentation", "rectangle.on.rectangle",
         FileCategory::documents},
        {FileKind::pdf, "pdf", "PDF", "doc.richtext", FileCategory::documents},
        {FileKind::image, "image", "Image", "photo", FileCategory::photos},
        {FileKind::video, "video", "Video", "film", FileCategory::videos},
        {FileKind::audio, "audio", "Audio", "waveform", FileCategory::audio},
        {FileKind::archive, "archive", "Archive", "archivebox", FileCategory::archives},
        {FileKind::other, "other", "File", "doc", std::nullopt},
    };
    ASSERT_EQ(FileKinds::allCases().size(), 10);
    for (int i = 0; i < 10; ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(FileKinds::allCases()[i], row.kind);
        EXPECT_EQ(FileKinds::rawValue(row.kind), QLatin1String(row.raw));
        EXPECT_EQ(FileKinds::fromRawValue(QLatin1String(row.raw)), row.kind);
        EXPECT_EQ(FileKinds::displayName(row.kind), QLatin1String(row.display));
        EXPECT_EQ(FileKinds::symbolName(row.kind), QLatin1String(row.symbol));
        EXPECT_EQ(FileKinds::category(row.kind), row.category);
    }
    EXPECT_EQ(FileKinds::fromRawValue(QStringLiteral("Folder")), std::nullopt);

    struct CategoryRow {
        FileCategory category;
        const char* raw;
        const char* display;
        const char* symbol;
    };
    const CategoryRow categories[] = {
        {FileCategory::photos, "photos", "Photos", "photo.on.rectangle"},
        {FileCategory::videos, "videos", "Videos", "film.stack"},
        {FileCategory::audio, "audio", "Audio", "music.note.list"},
        {FileCategory::documents, "documents", "Documents", "doc.on.doc"},
        {FileCategory::archives, "archives", "Archives", "archivebox"},
    };
    ASSERT_EQ(FileCategories::allCases().size(), 5);
    for (int i = 0; i < 5; ++i) {
        const CategoryRow& row = categories[i];
        EXPECT_EQ(FileCategories::allCases()[i], row.category);
        EXPECT_EQ(FileCategories::rawValue(row.category), QLatin1String(row.raw));
        EXPECT_EQ(FileCategories::fromRawValue(QLatin1String(row.raw)), row.category);
        EXPECT_EQ(FileCategories::displayName(row.category), QLatin1String(row.display));
        EXPECT_EQ(FileCategories::symbolName(row.category), QLatin1String(row.symbol));
    }
    EXPECT_EQ(FileCategories::fromRawValue(QStringLiteral("music")), std::nullopt);
}

FileItem item(const QString& name, const QString& mime) {
    FileItem i;
    i.ref = FileRef{QUuid::createUuid(), QStringLiteral("id-1")};
    i.name = name;
    i.mimeType = mime;
    return i;
}

TEST(FileModel, DerivedValuesOfAnItem) {
    const FileItem folder = item(QStringLiteral("holiday.jpg"), FileItem::folderMimeType);
    EXPECT_TRUE(folder.isFolder());
    EXPECT_FALSE(folder.isProviderNativeDocument());
    EXPECT_EQ(folder.category(), std::nullopt);
    for (FileCategory category : FileCategories::allCases())
        EXPECT_FALSE(FileCategories::contains(category, folder));

    // Classification lower-cases, isFolder does not.
    const FileItem mixed = item(QString(), QStringLiteral("Application/Vnd.Google-Apps.Folder"));
    EXPECT_FALSE(mixed.isFolder());
    EXPECT_EQ(mixed.kind(), FileKind::folder);

    const FileItem form =
        item(QStringLiteral("Survey"), QStringLiteral("application/vnd.google-apps.form"));
    EXPECT_TRUE(form.isProviderNativeDocument());
    EXPECT_EQ(form.kind(), FileKind::other);
    EXPECT_EQ(form.category(), std::nullopt);

    const FileItem photo = item(QStringLiteral("a.png"), QStringLiteral("image/png"));
    EXPECT_TRUE(FileCategories::contains(FileCategory::photos, photo));
    EXPECT_FALSE(FileCategories::contains(FileCategory::documents, photo));
    const FileItem sheet = item(QStringLiteral("a.csv"), QStringLiteral("text/csv"));
    EXPECT_TRUE(FileCategories::contains(FileCategory::documents, sheet));
    EXPECT_EQ(item(QStringLiteral("a"), QStringLiteral("x/y")).category(), std::nullopt);
}

TEST(FileModel, ItemJsonRoundTripsWithAndWithoutOptionals) {
    FileItem full = item(QStringLiteral("Report.pdf"), QStringLiteral("application/pdf"));
    full.sizeBytes = qint64(9'007'199'254'740'993); // beyond a double's exact integers
    full.modifiedAt = QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 250), QTimeZone::utc());
    full.parentIDs = {QStringLiteral("p1"), QStringLiteral("p2")};
    full.webViewURL = QUrl(QStringLiteral("https://drive.example/view?id=a%2Bb&x=1"));
    full.thumbnailURL = QUrl(QStringLiteral("https://lh3.example/t=s220"));

    const QJsonObject json = full.toJson();
    EXPECT_EQ(
        json.value(QLatin1String("ref")).toObject().value(QLatin1String("accountID")).toString(),
        full.ref.accountID.toString(QUuid::WithoutBraces).toUpper());
    // Through text, as a store keeps it.
    const QByteArray text = QJsonDocument(json).toJson();
    const FileItem back = FileItem::fromJson(QJsonDocument::fromJson(text).object());
    EXPECT_EQ(back, full);
    EXPECT_EQ(qHash(back), qHash(full));

    FileItem bare = item(QStringLiteral("x"), QStringLiteral("text/plain"));
    const QJsonObject bareJson = bare.toJson();
    for (const char* key : {"sizeBytes", "modifiedAt", "webViewURL", "thumbnailURL"})
        EXPECT_FALSE(bareJson.contains(QLatin1String(key))) << key;
    EXPECT_EQ(FileItem::fromJson(bareJson), bare);
    EXPECT_EQ(FileRef::fromJson(full.ref.toJson()), full.ref);
}

TEST(FileModel, ItemDecodingFailures) {
    const QJsonObject good = item(QStringLiteral("x"), QStringLiteral("text/plain")).toJson();
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
        without("ref"),
        without("name"),
        without("mimeType"),
        without("parentIDs"),
        with("parentIDs", QJsonArray{1, 2}),
        with("sizeBytes", QStringLiteral("12")),
        with("sizeBytes", 1.5),
        with("modifiedAt", QStringLiteral("2024-01-01")),
        with("webViewURL", 3),
        with("ref", QJsonObject{{QStringLiteral("accountID"), QStringLiteral("not-a-uuid")},
                                {QStringLiteral("providerID"), QStringLiteral("a")}}),
        with("ref", QJsonObject{{QStringLiteral("providerID"), QStringLiteral("a")}}),
    };
    for (const QJsonObject& object : bad)
        EXPECT_THROW(FileItem::fromJson(object), DecodingError)
            << QJsonDocument(object).toJson(QJsonDocument::Compact).constData();
}

TEST(FileModel, DatesAreSecondsSince2001) {
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    EXPECT_EQ(json::encodeDate(reference), 0.0);
    EXPECT_EQ(json::encodeDate(reference.addSecs(-1)), -1.0);
    EXPECT_EQ(json::encodeDate(reference.addMSecs(1500)), 1.5);
    EXPECT_EQ(json::decodeDate(QJsonValue(788'918'400.0), "d"),
              QDateTime(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_THROW(json::decodeDate(QJsonValue(1e300), "d"), DecodingError);
    EXPECT_THROW(json::decodeDate(QJsonValue(QStringLiteral("0")), "d"), DecodingError);
}

TEST(FileModel, PageAndLocalFileCompareFieldByField) {
    Page a{{item(QStringLiteral("a"), QStringLiteral("text/plain"))}, QStringLiteral("t")};
    Page b = a;
    EXPECT_EQ(a, b);
    b.nextPageToken.reset();
    EXPECT_NE(a, b);
    LocalFile file{QUrl::fromLocalFile(QStringLiteral("/tmp/a")), QStringLiteral("a"), 1,
                   QStringLiteral("text/plain")};
    LocalFile other = file;
    other.sizeBytes = 2;
    EXPECT_NE(file, other);
    EXPECT_EQ(LocalFile().mimeType, QStringLiteral("application/octet-stream"));
}

} // namespace

TEST(WebLinkTest, KeepsTheFullyEncodedTextAndParsesItOnUse) {
    const QUrl url(QStringLiteral("https://drive.example/view?id=a%2Bb&name=Gr\u00FC\u00DFe"));
    const WebLink link(url);
    EXPECT_EQ(link.text(), url.toString(QUrl::FullyEncoded));
    EXPECT_EQ(link.url(), url);
    EXPECT_EQ(WebLink::parse(url.toString()), link);
    // Read strictly: text that is no valid URL gives no link.
    EXPECT_EQ(WebLink::parse(QStringLiteral("https://drive.example/a b")), std::nullopt);
    EXPECT_EQ(WebLink::parse(QStringLiteral("http://[::1")), std::nullopt);

    // The stored form is the fully encoded text, as it was when the item held a QUrl.
    FileItem item;
    item.ref = FileRef{QUuid::createUuid(), QStringLiteral("x")};
    item.webViewURL = url;
    EXPECT_EQ(item.toJson().value(QLatin1String("webViewURL")).toString(),
              url.toString(QUrl::FullyEncoded));
}

TEST(WebLinkTest, CopiesMovesAndAssignmentsKeepTheirText) {
    const QString text = QStringLiteral("https://drive.example/file/d/abc/view?usp=sharing");
    std::optional<WebLink> parsed = WebLink::parse(text);
    ASSERT_TRUE(parsed);
    WebLink copy = *parsed;
    parsed.reset(); // the copy outlives the link it was made from
    EXPECT_EQ(copy.text(), text);

    WebLink moved = std::move(copy);
    EXPECT_EQ(moved.text(), text);
    EXPECT_EQ(copy.text(), QString()); // NOLINT: a moved-from link is the empty one
    EXPECT_EQ(copy, WebLink());

    WebLink other = QUrl(QStringLiteral("https://other.example/"));
    other = moved; // the text it held is let go, the new one shared
    EXPECT_EQ(other, moved);
    WebLink& self = other;
    other = self;
    EXPECT_EQ(other.text(), text);
    other = WebLink();
    EXPECT_EQ(other.text(), QString());
    EXPECT_EQ(other.url(), QUrl());
    EXPECT_EQ(moved.url(), QUrl(text));

    // Equal by text, however each was made; the empty link equals only itself.
    EXPECT_EQ(WebLink(QUrl(text)), moved);
    EXPECT_NE(WebLink(QUrl(text + QLatin1Char('x'))), moved);
    EXPECT_NE(WebLink(), moved);
    EXPECT_EQ(WebLink(QUrl()), WebLink());

    // Items copied into a list and dropped with it leave the item's link whole.
    FileItem item;
    item.webViewURL = moved;
    QList<FileItem> items(100, item);
    items.clear();
    EXPECT_EQ(item.webViewURL->text(), text);
}
