#include "StorageCore/Preview/PreviewKind.h"

#include <QMimeDatabase>

namespace tw::PreviewKinds {

namespace {

const QString kGoogleAppsPrefix = QStringLiteral("application/vnd.google-apps.");

const QMimeDatabase& database() {
    static const QMimeDatabase db;
    return db;
}

/// A type conforms to a group when it is the group's type or descends from it.
bool conforms(const QMimeType& type, const QString& name) {
    return type.name() == name || type.inherits(name);
}

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

const QList<QString>& documentTypes() {
    static const QList<QString> types = {
        QStringLiteral("text/plain"),
        // spreadsheets
        QStringLiteral("application/vnd.ms-excel"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"),
        QStringLiteral("application/vnd.oasis.opendocument.spreadsheet"),
        // presentations
        QStringLiteral("application/vnd.ms-powerpoint"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.presentation"),
        QStringLiteral("application/vnd.oasis.opendocument.presentation"),
        // rich text, word processing, iWork
        QStringLiteral("application/rtf"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document"),
        QStringLiteral("application/msword"),
        QStringLiteral("application/vnd.oasis.opendocument.text"),
        QStringLiteral("application/x-iwork-pages-sffpages"),
        QStringLiteral("application/x-iwork-numbers-sffnumbers"),
        QStringLiteral("application/x-iwork-keynote-sffkey"),
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
    if (conforms(*type, QStringLiteral("application/pdf")))
        return PreviewKind::pdf;
    const QString name = type->name();
    if (name.startsWith(QLatin1String("image/")))
        return inTable(*type, imageTypes()) ? PreviewKind::image : PreviewKind::unsupported;
    if (name.startsWith(QLatin1String("audio/")) || name.startsWith(QLatin1String("video/"))) {
        if (!inTable(*type, avTypes()))
            return PreviewKind::unsupported;
        return name.startsWith(QLatin1String("audio/")) ? PreviewKind::audio : PreviewKind::video;
    }
    for (const QString& group : documentTypes())
        if (conforms(*type, group))
            return PreviewKind::document;
    if (conforms(*type, QStringLiteral("application/zip")))
        return PreviewKind::archive;
    return PreviewKind::unsupported;
}

std::optional<QMimeType> contentType(const QString& name, const QString& mimeType) {
    const QString extension = FileKinds::pathExtension(name);
    if (!extension.isEmpty()) {
        const QMimeType byExtension = database().mimeTypeForFile(QStringLiteral("x.") + extension,
                                                                 QMimeDatabase::MatchExtension);
        if (byExtension.isValid() && !byExtension.isDefault())
            return byExtension;
    }
    const QMimeType byName = database().mimeTypeForName(mimeType);
    if (byName.isValid() && !byName.isDefault())
        return byName;
    return std::nullopt;
}

} // namespace tw::PreviewKinds
