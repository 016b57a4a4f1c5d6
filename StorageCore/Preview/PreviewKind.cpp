#include "StorageCore/Preview/PreviewKind.h"

#include <QMimeDatabase>

namespace tw::PreviewKinds {

namespace {

const QString kGoogleAppsPrefix = QStringLiteral("application/vnd.google-apps.");

/// The canonical name and the aliases of a type, so tables can list either form.
bool inTable(const QMimeType& type, const QSet<QString>& table) {
    for (const QString& name : FileKinds::typeNames(type))
        if (table.contains(name))
            return true;
    return false;
}

} // namespace

const QList<PreviewKind>& allCases() {
    static const QList<PreviewKind> all = {
        PreviewKind::pdf,      PreviewKind::image,   PreviewKind::video,      PreviewKind::audio,
        PreviewKind::document, PreviewKind::archive, PreviewKind::unsupported};
    return all;
}

QString rawValue(PreviewKind kind) {
    switch (kind) {
    case PreviewKind::pdf:
        return QStringLiteral("pdf");
    case PreviewKind::image:
        return QStringLiteral("image");
    case PreviewKind::video:
        return QStringLiteral("video");
    case PreviewKind::audio:
        return QStringLiteral("audio");
    case PreviewKind::document:
        return QStringLiteral("document");
    case PreviewKind::archive:
        return QStringLiteral("archive");
    case PreviewKind::unsupported:
        return QStringLiteral("unsupported");
    }
    return QString();
}

std::optional<PreviewKind> fromRawValue(const QString& raw) {
    for (PreviewKind kind : allCases())
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

bool needsLocalCopy(PreviewKind kind) {
    return kind == PreviewKind::pdf || kind == PreviewKind::image || kind == PreviewKind::document;
}

const QSet<QString>& exportablePDFMimeTypes() {
    static const QSet<QString> types = {
        QStringLiteral("application/vnd.google-apps.document"),
        QStringLiteral("application/vnd.google-apps.spreadsheet"),
        QStringLiteral("application/vnd.google-apps.presentation"),
        QStringLiteral("application/vnd.google-apps.drawing"),
    };
    return types;
}

const QSet<QString>& imageTypes() {
    // Qt's built-in readers plus the gif, ico, jpeg and svg plugins.
    static const QSet<QString> types = {
        QStringLiteral("image/png"),
        QStringLiteral("image/jpeg"),
        QStringLiteral("image/gif"),
        QStringLiteral("image/bmp"),
        QStringLiteral("image/x-portable-bitmap"),
        QStringLiteral("image/x-portable-graymap"),
        QStringLiteral("image/x-portable-pixmap"),
        QStringLiteral("image/x-portable-anymap"),
        QStringLiteral("image/x-xbitmap"),
        QStringLiteral("image/x-xpixmap"),
        QStringLiteral("image/vnd.microsoft.icon"),
        QStringLiteral("image/svg+xml"),
    };
    return types;
}

const QSet<QString>& avTypes() {
    static const QSet<QString> types = {
        // video containers
        QStringLiteral("video/mp4"),
        QStringLiteral("video/x-m4v"),
        QStringLiteral("video/quicktime"),
        QStringLiteral("video/webm"),
        QStringLiteral("video/x-matroska"),
        QStringLiteral("video/ogg"),
        QStringLiteral("video/x-msvideo"),
        QStringLiteral("video/mpeg"),
        QStringLiteral("video/mp2t"),
        QStringLiteral("video/x-flv"),
        // audio containers and streams
        QStringLiteral("audio/mpeg"),
        QStringLiteral("audio/mp4"),
        QStringLiteral("audio/aac"),
        QStringLiteral("audio/flac"),
        QStringLiteral("audio/ogg"),
        QStringLiteral("audio/x-vorbis+ogg"),
        QStringLiteral("audio/x-opus+ogg"),
        QStringLiteral("audio/x-flac+ogg"),
        QStringLiteral("audio/x-speex+ogg"),
        QStringLiteral("audio/vnd.wave"),
        QStringLiteral("audio/x-wav"),
        QStringLiteral("audio/webm"),
        QStringLiteral("audio/x-matroska"),
        QStringLiteral("audio/x-aiff"),
        QStringLiteral("audio/x-m4a"),
    };
    return types;
}

PreviewKind of(const FileItem& item) {
    if (item.mimeType == FileItem::folderMimeType)
        return PreviewKind::unsupported;
    if (item.mimeType.startsWith(kGoogleAppsPrefix))
        return exportablePDFMimeTypes().contains(item.mimeType) ? PreviewKind::pdf
                                                                : PreviewKind::unsupported;
    return of(contentType(item.name, item.mimeType));
}

PreviewKind of(const std::optional<QMimeType>& type) {
    if (!type || !type->isValid())
        return PreviewKind::unsupported;
    // The groups are the file model's: a file and its preview never disagree about a type.
    switch (FileKinds::classifyType(*type)) {
    case FileKind::pdf:
        return PreviewKind::pdf;
    case FileKind::image:
        return inTable(*type, imageTypes()) ? PreviewKind::image : PreviewKind::unsupported;
    case FileKind::audio:
        return inTable(*type, avTypes()) ? PreviewKind::audio : PreviewKind::unsupported;
    case FileKind::video:
        return inTable(*type, avTypes()) ? PreviewKind::video : PreviewKind::unsupported;
    case FileKind::document:
    case FileKind::spreadsheet:
    case FileKind::presentation:
        return PreviewKind::document;
    case FileKind::archive:
    case FileKind::other:
    case FileKind::folder:
        break;
    }
    // What lists as an archive here is a ZIP container that is no document (jar, epub).
    if (type->inherits(QStringLiteral("application/zip")))
        return PreviewKind::archive;
    return PreviewKind::unsupported;
}

std::optional<QMimeType> contentType(const QString& name, const QString& mimeType) {
    return FileKinds::contentType(name, mimeType);
}

} // namespace tw::PreviewKinds
