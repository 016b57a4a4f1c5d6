#include "StorageCore/Domain/FileModel.h"

#include "StorageCore/Domain/JsonCoding.h"

#include <QHash>
#include <QJsonArray>
#include <QMimeDatabase>
#include <QSet>

#include <cstdlib>
#include <cstring>
#include <new>

namespace tw {

// ---- FileRef ------------------------------------------------------------------------------

QJsonObject FileRef::toJson() const {
    return QJsonObject{{QStringLiteral("accountID"), json::encodeUuid(accountID)},
                       {QStringLiteral("providerID"), providerID}};
}

FileRef FileRef::fromJson(const QJsonObject& object) {
    return FileRef{json::requireUuid(object, "accountID"),
                   json::requireString(object, "providerID")};
}

size_t qHash(const FileRef& ref, size_t seed) noexcept {
    return qHashMulti(seed, ref.accountID, ref.providerID);
}

// ---- FileKind -----------------------------------------------------------------------------

namespace {

struct KindInfo {
    FileKind kind;
    const char* raw;
    const char* display;
    const char* symbol;
    std::optional<FileCategory> category;
};

const KindInfo kKinds[] = {
    {FileKind::folder, "folder", "Folder", "folder.fill", std::nullopt},
    {FileKind::document, "document", "Document", "doc.text", FileCategory::documents},
    {FileKind::spreadsheet, "spreadsheet", "Spreadsheet", "tablecells", FileCategory::documents},
    {FileKind::presentation, "presentation", "Presentation", "rectangle.on.rectangle",
     FileCategory::documents},
    {FileKind::pdf, "pdf", "PDF", "doc.richtext", FileCategory::documents},
    {FileKind::image, "image", "Image", "photo", FileCategory::photos},
    {FileKind::video, "video", "Video", "film", FileCategory::videos},
    {FileKind::audio, "audio", "Audio", "waveform", FileCategory::audio},
    {FileKind::archive, "archive", "Archive", "archivebox", FileCategory::archives},
    {FileKind::other, "other", "File", "doc", std::nullopt},
};

const KindInfo& info(FileKind kind) {
    return kKinds[int(kind)];
}

struct CategoryInfo {
    FileCategory category;
    const char* raw;
    const char* display;
    const char* symbol;
};

const CategoryInfo kCategories[] = {
    {FileCategory::photos, "photos", "Photos", "photo.on.rectangle"},
    {FileCategory::videos, "videos", "Videos", "film.stack"},
    {FileCategory::audio, "audio", "Audio", "music.note.list"},
    {FileCategory::documents, "documents", "Documents", "doc.on.doc"},
    {FileCategory::archives, "archives", "Archives", "archivebox"},
};

bool inList(const QString& value, std::initializer_list<const char*> list) {
    for (const char* entry : list)
        if (value == QLatin1String(entry))
            return true;
    return false;
}

// Conformance groups of the type registry, by explicit MIME rules. shared-mime-info makes
// office documents and e-books subtypes of application/zip, so archives are recognised by
// name only, never by ancestry.
bool isArchiveMime(const QString& name) {
    return inList(name, {"application/zip",
                         "application/x-7z-compressed",
                         "application/vnd.rar",
                         "application/x-rar",
                         "application/x-rar-compressed",
                         "application/gzip",
                         "application/x-gzip",
                         "application/x-tar",
                         "application/x-compressed-tar",
                         "application/x-bzip",
                         "application/x-bzip2",
                         "application/x-bzip-compressed-tar",
                         "application/x-xz",
                         "application/x-xz-compressed-tar",
                         "application/x-lzma",
                         "application/zstd",
                         "application/x-zstd-compressed-tar",
                         "application/x-cpio",
                         "application/x-apple-diskimage",
                         "application/x-java-archive",
                         "application/x-archive",
                         "application/x-lha",
                         "application/x-arj"});
}

// The office groups by canonical name or alias; a type also belongs to a group when it descends
// from a listed type (a macro-enabled workbook from its workbook type).
bool isSpreadsheetMime(const QString& name) {
    return inList(name,
                  {"text/csv", "text/tab-separated-values", "application/vnd.ms-excel",
                   "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                   "application/vnd.oasis.opendocument.spreadsheet",
                   "application/vnd.apple.numbers", "application/x-iwork-numbers-sffnumbers"});
}

bool isPresentationMime(const QString& name) {
    return inList(name,
                  {"application/vnd.ms-powerpoint",
                   "application/vnd.openxmlformats-officedocument.presentationml.presentation",
                   "application/vnd.oasis.opendocument.presentation",
                   "application/vnd.apple.keynote", "application/x-iwork-keynote-sffkey"});
}

bool isWordDocumentMime(const QString& name) {
    return inList(name, {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                         "application/msword", "application/vnd.oasis.opendocument.text",
                         "application/rtf", "text/rtf", "application/vnd.apple.pages",
                         "application/x-iwork-pages-sffpages"});
}

const QMimeDatabase& database() {
    // Shared and thread-safe.
    static const QMimeDatabase db;
    return db;
}

/// A table test over the type's canonical name and every alias (tables may list either).
bool anyName(const QMimeType& type, bool (*test)(const QString&)) {
    for (const QString& name : FileKinds::typeNames(type))
        if (test(name))
            return true;
    return false;
}

/// The type or one of its ancestors passes the table test.
bool conformsTo(const QMimeType& type, bool (*test)(const QString&)) {
    if (anyName(type, test))
        return true;
    for (const QString& ancestor : type.allAncestors())
        if (test(ancestor))
            return true;
    return false;
}

/// A declared type of the registry: valid and not the default one made up for anything.
std::optional<QMimeType> declared(const QMimeType& type) {
    if (!type.isValid() || type.isDefault())
        return std::nullopt;
    return type;
}

} // namespace

namespace FileKinds {

const QList<FileKind>& allCases() {
    static const QList<FileKind> all = [] {
        QList<FileKind> list;
        for (const auto& k : kKinds)
            list.append(k.kind);
        return list;
    }();
    return all;
}

QString rawValue(FileKind kind) {
    return QString::fromLatin1(info(kind).raw);
}

std::optional<FileKind> fromRawValue(const QString& raw) {
    for (const auto& k : kKinds)
        if (raw == QLatin1String(k.raw))
            return k.kind;
    return std::nullopt;
}

QString displayName(FileKind kind) {
    return QString::fromLatin1(info(kind).display);
}

QString symbolName(FileKind kind) {
    return QString::fromLatin1(info(kind).symbol);
}

std::optional<FileCategory> category(FileKind kind) {
    return info(kind).category;
}

QString pathExtension(const QString& name) {
    const QString last = name.section(QLatin1Char('/'), -1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QString();
    return last.mid(dot + 1);
}

FileKind classify(const QString& mimeType, const QString& name) {
    QString mime = mimeType.toLower();
    // An alias is read as its canonical type ("image/pdf" is a PDF, not an image).
    if (auto registered = declared(database().mimeTypeForName(mimeType)))
        mime = registered->name();
    else if ((registered = declared(database().mimeTypeForName(mime))))
        mime = registered->name();
    if (mime == QLatin1String("application/vnd.google-apps.folder"))
        return FileKind::folder;
    if (mime == QLatin1String("application/pdf"))
        return FileKind::pdf;
    if (inList(mime, {"application/vnd.google-apps.document", "application/msword",
                      "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                      "text/plain", "text/markdown", "application/rtf"}))
        return FileKind::document;
    if (inList(mime,
               {"application/vnd.google-apps.spreadsheet", "application/vnd.ms-excel",
                "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "text/csv"}))
        return FileKind::spreadsheet;
    if (inList(mime, {"application/vnd.google-apps.presentation", "application/vnd.ms-powerpoint",
                      "application/vnd.openxmlformats-officedocument.presentationml.presentation"}))
        return FileKind::presentation;
    if (inList(mime,
               {"application/zip", "application/x-zip-compressed", "application/x-7z-compressed",
                "application/x-rar-compressed", "application/vnd.rar", "application/gzip",
                "application/x-tar", "application/x-apple-diskimage"}))
        return FileKind::archive;
    if (mime.startsWith(QLatin1String("image/")))
        return FileKind::image;
    if (mime.startsWith(QLatin1String("video/")))
        return FileKind::video;
    if (mime.startsWith(QLatin1String("audio/")))
        return FileKind::audio;
    // The rest goes by the registry's type of the file, found the way the preview kinds find
    // it: a declared extension first, else the MIME type (an iWork document known only by its
    // MIME type or alias is still a document).
    const QString extension = pathExtension(name).toLower();
    if (inList(extension, {"zip", "7z", "rar", "gz", "tgz", "tar", "dmg"}))
        return FileKind::archive;
    const std::optional<QMimeType> type = contentType(name, mimeType);
    return type ? classifyType(*type) : FileKind::other;
}

FileKind classifyType(const QMimeType& type) {
    const QString name = type.name();
    if (type.inherits(QStringLiteral("application/pdf")))
        return FileKind::pdf;
    if (name.startsWith(QLatin1String("image/")))
        return FileKind::image;
    if (name.startsWith(QLatin1String("audio/")))
        return FileKind::audio;
    if (name.startsWith(QLatin1String("video/")))
        return FileKind::video;
    if (conformsTo(type, isSpreadsheetMime))
        return FileKind::spreadsheet;
    if (conformsTo(type, isPresentationMime))
        return FileKind::presentation;
    // Archives by name only: office documents and e-books descend from application/zip.
    if (anyName(type, isArchiveMime))
        return FileKind::archive;
    if (name.startsWith(QLatin1String("text/")) || type.inherits(QStringLiteral("text/plain")))
        return FileKind::document;
    if (conformsTo(type, isWordDocumentMime))
        return FileKind::document;
    return FileKind::other;
}

std::optional<QMimeType> contentType(const QString& name, const QString& mimeType) {
    const QString extension = pathExtension(name);
    if (!extension.isEmpty()) {
        if (auto byExtension = declared(database().mimeTypeForFile(QStringLiteral("x.") + extension,
                                                                   QMimeDatabase::MatchExtension)))
            return byExtension;
    }
    return declared(database().mimeTypeForName(mimeType));
}

QStringList typeNames(const QMimeType& type) {
    QStringList names{type.name()};
    names.append(type.aliases());
    return names;
}

FileKind classifyExtension(const QString& fileExtension) {
    const QString ext = fileExtension.toLower();
    if (ext.isEmpty())
        return FileKind::other;
    if (inList(ext, {"zip", "7z", "rar", "gz", "tgz", "tar", "dmg"}))
        return FileKind::archive;
    // The registry lookup is by extension only.
    const std::optional<QMimeType> type = declared(
        database().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension));
    return type ? classifyType(*type) : FileKind::other;
}

} // namespace FileKinds

// ---- FileCategory -------------------------------------------------------------------------

namespace FileCategories {

const QList<FileCategory>& allCases() {
    static const QList<FileCategory> all = {FileCategory::photos, FileCategory::videos,
                                            FileCategory::audio, FileCategory::documents,
                                            FileCategory::archives};
    return all;
}

QString rawValue(FileCategory category) {
    return QString::fromLatin1(kCategories[int(category)].raw);
}

std::optional<FileCategory> fromRawValue(const QString& raw) {
    for (const auto& c : kCategories)
        if (raw == QLatin1String(c.raw))
            return c.category;
    return std::nullopt;
}

QString displayName(FileCategory category) {
    return QString::fromLatin1(kCategories[int(category)].display);
}

QString symbolName(FileCategory category) {
    return QString::fromLatin1(kCategories[int(category)].symbol);
}

bool contains(FileCategory category, const FileItem& item) {
    if (item.isFolder())
        return false;
    return item.category() == category;
}

} // namespace FileCategories

// ---- WebLink ------------------------------------------------------------------------------

struct WebLink::Text {
    QAtomicInt holders;
    quint32 size;

    char* bytes() { return reinterpret_cast<char*>(this + 1); }

    static Text* make(const QByteArray& text) {
        if (text.isEmpty())
            return nullptr;
        void* block = std::malloc(sizeof(Text) + size_t(text.size()));
        if (!block)
            throw std::bad_alloc();
        Text* made = new (block) Text{QAtomicInt(1), quint32(text.size())};
        std::memcpy(made->bytes(), text.constData(), size_t(text.size()));
        return made;
    }
    static Text* hold(Text* text) {
        if (text)
            text->holders.ref();
        return text;
    }
    static void release(Text* text) {
        if (text && !text->holders.deref()) {
            text->~Text();
            std::free(text);
        }
    }
    static QByteArrayView view(Text* text) {
        return text ? QByteArrayView(text->bytes(), qsizetype(text->size)) : QByteArrayView();
    }
};

WebLink::WebLink(const QUrl& url) : text_(Text::make(url.toEncoded(QUrl::FullyEncoded))) {}

WebLink::WebLink(const WebLink& other) noexcept : text_(Text::hold(other.text_)) {}

WebLink& WebLink::operator=(const WebLink& other) noexcept {
    Text* held = Text::hold(other.text_);
    Text::release(text_);
    text_ = held;
    return *this;
}

WebLink::~WebLink() {
    Text::release(text_);
}

std::optional<WebLink> WebLink::parse(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return WebLink(url);
}

QString WebLink::text() const {
    return QString::fromLatin1(Text::view(text_));
}

QUrl WebLink::url() const {
    const QByteArrayView text = Text::view(text_);
    return QUrl::fromEncoded(QByteArray::fromRawData(text.data(), text.size()));
}

bool WebLink::operator==(const WebLink& other) const noexcept {
    return text_ == other.text_ || Text::view(text_) == Text::view(other.text_);
}

// ---- FileItem -----------------------------------------------------------------------------

bool FileItem::isProviderNativeDocument() const {
    return mimeType.startsWith(QLatin1String("application/vnd.google-apps.")) && !isFolder();
}

QJsonObject FileItem::toJson() const {
    QJsonObject object{{QStringLiteral("ref"), ref.toJson()},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("mimeType"), mimeType},
                       {QStringLiteral("parentIDs"), QJsonArray::fromStringList(parentIDs)}};
    if (sizeBytes)
        object.insert(QStringLiteral("sizeBytes"), *sizeBytes);
    if (modifiedAt)
        object.insert(QStringLiteral("modifiedAt"), json::encodeDate(*modifiedAt));
    if (webViewURL)
        object.insert(QStringLiteral("webViewURL"), webViewURL->text());
    if (thumbnailURL)
        object.insert(QStringLiteral("thumbnailURL"), thumbnailURL->text());
    return object;
}

FileItem FileItem::fromJson(const QJsonObject& object) {
    FileItem item;
    item.ref = FileRef::fromJson(json::requireObject(object, "ref"));
    item.name = json::requireString(object, "name");
    item.mimeType = json::requireString(object, "mimeType");
    for (const QJsonValue& parent : json::requireArray(object, "parentIDs")) {
        if (!parent.isString())
            throw DecodingError(QStringLiteral("member \"parentIDs\": not a list of strings"));
        item.parentIDs.append(parent.toString());
    }
    item.sizeBytes = json::optionalInt64(object, "sizeBytes");
    item.modifiedAt = json::optionalDate(object, "modifiedAt");
    if (const std::optional<QUrl> url = json::optionalUrl(object, "webViewURL"))
        item.webViewURL = *url;
    if (const std::optional<QUrl> url = json::optionalUrl(object, "thumbnailURL"))
        item.thumbnailURL = *url;
    return item;
}

size_t qHash(const FileItem& item, size_t seed) noexcept {
    return qHashMulti(seed, item.ref, item.name, item.mimeType, item.sizeBytes.value_or(-1),
                      item.parentIDs);
}

size_t qHash(const LocalFile& file, size_t seed) noexcept {
    return qHashMulti(seed, file.url, file.name, file.sizeBytes, file.mimeType);
}

} // namespace tw
