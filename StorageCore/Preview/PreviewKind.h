#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QMimeType>
#include <QSet>
#include <QString>

#include <optional>

namespace tw {

/// What a file previews as; decides how its content is obtained and which viewer shows it.
enum class PreviewKind { pdf, image, video, audio, document, archive, unsupported };

namespace PreviewKinds {

const QList<PreviewKind>& allCases();
QString rawValue(PreviewKind kind);
std::optional<PreviewKind> fromRawValue(const QString& raw);
/// True for the kinds whose viewer works on a file on the local disk (pdf, image, document).
bool needsLocalCopy(PreviewKind kind);

/// The provider-native document types that can be exported as PDF.
const QSet<QString>& exportablePDFMimeTypes();
/// MIME types that Qt's image readers decode on this system (the built-in formats and the
/// image plugins the set-up installs).
const QSet<QString>& imageTypes();
/// Audio and video containers that the media back end plays (GStreamer base, good and libav
/// plugins). A fixed table: Qt 6.4's GStreamer back end reports only a few of them.
const QSet<QString>& avTypes();

/// The kind of a listed file, from its MIME type and name only.
PreviewKind of(const FileItem& item);
/// The kind of a type; none gives unsupported. The type groups are the file model's
/// (FileKinds::classifyType): documents, spreadsheets and presentations preview as documents.
PreviewKind of(const std::optional<QMimeType>& type);
/// The type of a file: its name's extension when the system knows it, else its MIME type
/// (FileKinds::contentType).
std::optional<QMimeType> contentType(const QString& name, const QString& mimeType);

} // namespace PreviewKinds
} // namespace tw
