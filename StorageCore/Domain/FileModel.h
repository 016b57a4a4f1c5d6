#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMimeType>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>
#include <utility>

namespace tw {

/// Identifies one item: the account that holds it and the back end's own id of it.
struct FileRef {
    QUuid accountID;
    QString providerID;

    bool operator==(const FileRef&) const = default;
    QJsonObject toJson() const;
    static FileRef fromJson(const QJsonObject& object);
};
size_t qHash(const FileRef& ref, size_t seed = 0) noexcept;

/// The ten kinds an item is classified into, in this order.
enum class FileKind {
    folder,
    document,
    spreadsheet,
    presentation,
    pdf,
    image,
    video,
    audio,
    archive,
    other
};

/// The five listing categories, in this order.
enum class FileCategory { photos, videos, audio, documents, archives };

namespace FileKinds {
const QList<FileKind>& allCases();
QString rawValue(FileKind kind);
std::optional<FileKind> fromRawValue(const QString& raw);
QString displayName(FileKind kind);
/// Icon name for the kind (mapped to the icon theme by the views).
QString symbolName(FileKind kind);
/// The category a kind falls in; none for folder and other.
std::optional<FileCategory> category(FileKind kind);
/// The one classifier of the system: by the listed MIME types first, then by the file's type
/// in the type registry (contentType(): the name's extension, else the MIME type).
FileKind classify(const QString& mimeType, const QString& name);
/// The kind of a type of the registry (never folder): the one table of type groups of the
/// system, which the preview kinds read too, so the two never disagree about a type.
FileKind classifyType(const QMimeType& type);
/// The registry's type of a file: its name's extension when the registry declares it, else
/// its MIME type (aliases resolve to the canonical type); none when neither is known.
std::optional<QMimeType> contentType(const QString& name, const QString& mimeType);
/// A type's canonical name followed by its aliases: every table of types (kinds here, preview
/// kinds) matches a type by any of them, so the two classifications never disagree over
/// which name a table lists.
QStringList typeNames(const QMimeType& type);
/// The extension-based half of classify().
FileKind classifyExtension(const QString& fileExtension);
/// Text after the last dot of the last path component of name; empty when there is none.
QString pathExtension(const QString& name);
} // namespace FileKinds

struct FileItem;

namespace FileCategories {
const QList<FileCategory>& allCases();
/// Raw value and id are the same string.
QString rawValue(FileCategory category);
std::optional<FileCategory> fromRawValue(const QString& raw);
QString displayName(FileCategory category);
QString symbolName(FileCategory category);
bool contains(FileCategory category, const FileItem& item);
} // namespace FileCategories

/// A web address a back end gives with an item (its page in the service, its thumbnail),
/// kept as the text of its fully encoded form: a parsed QUrl holds a large private of its
/// own, and listings hold many links that are never followed. url() parses it on use. The
/// text sits in one block of exactly its length, shared between copies (the link is one
/// pointer wide), so a listing of many items pays only for the bytes of its links.
class WebLink {
public:
    WebLink() noexcept = default;
    /// The link to a URL (kept as its fully encoded text).
    WebLink(const QUrl& url); // NOLINT: implicit, a link is made from a URL where one is set
    WebLink(const WebLink& other) noexcept;
    WebLink(WebLink&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    WebLink& operator=(const WebLink& other) noexcept;
    WebLink& operator=(WebLink&& other) noexcept {
        std::swap(text_, other.text_);
        return *this;
    }
    ~WebLink();
    /// The link in `text`, read strictly; none when it is no valid URL.
    static std::optional<WebLink> parse(const QString& text);

    /// The fully encoded text; ASCII only.
    QString text() const;
    QUrl url() const;

    bool operator==(const WebLink& other) const noexcept;

private:
    struct Text;           // a count of its holders, its length, then the ASCII bytes
    Text* text_ = nullptr; // none for the empty link
};

/// One file or folder as a back end lists it.
struct FileItem {
    static inline const QString folderMimeType =
        QStringLiteral("application/vnd.google-apps.folder");

    FileRef ref;
    QString name;
    QString mimeType;
    std::optional<qint64> sizeBytes;
    std::optional<QDateTime> modifiedAt;
    QList<QString> parentIDs;
    std::optional<WebLink> webViewURL;
    std::optional<WebLink> thumbnailURL;

    const FileRef& id() const { return ref; }
    bool isFolder() const { return mimeType == folderMimeType; }
    bool isProviderNativeDocument() const;
    FileKind kind() const { return FileKinds::classify(mimeType, name); }
    std::optional<FileCategory> category() const { return FileKinds::category(kind()); }

    bool operator==(const FileItem&) const = default;
    QJsonObject toJson() const;
    static FileItem fromJson(const QJsonObject& object);
};
size_t qHash(const FileItem& item, size_t seed = 0) noexcept;

/// A file on the local disk that is about to be uploaded.
struct LocalFile {
    QUrl url;
    QString name;
    qint64 sizeBytes = 0;
    QString mimeType = QStringLiteral("application/octet-stream");

    bool operator==(const LocalFile&) const = default;
};
size_t qHash(const LocalFile& file, size_t seed = 0) noexcept;

/// One page of a listing or search. An absent token marks the last page.
template <typename Item> struct PageOf {
    QList<Item> items;
    std::optional<QString> nextPageToken;

    bool operator==(const PageOf&) const = default;
};
using Page = PageOf<FileItem>;

} // namespace tw

// Lists of items shift by moving bytes, not element by element (large listings edit in place).
Q_DECLARE_TYPEINFO(tw::FileRef, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(tw::WebLink, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(tw::FileItem, Q_RELOCATABLE_TYPE);
