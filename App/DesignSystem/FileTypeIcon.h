#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QIcon>

class QPainter;

namespace tw {

/// A rounded tile in the colour of a file kind with the kind's glyph and, for files, the
/// extension.
namespace FileTypeIcon {
QColor color(FileKind kind);
void paint(QPainter* painter, const QRect& rect, FileKind kind, const QString& fileExtension);
} // namespace FileTypeIcon

/// Icons of listed items: the desktop's icon for the type, else the drawn tile.
namespace FileIcons {
QIcon icon(const FileItem& item);
} // namespace FileIcons

} // namespace tw
