#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QIcon>

class QPainter;

namespace tw {

/// A file's type as a rounded tile in the colour of its kind, with the kind's glyph in white
/// and, at 24 pixels and more, the extension below it. Folders are the theme's folder icon.
namespace FileTypeIcon {
/// The tile colour of a kind.
QColor color(FileKind kind);
/// The symbol drawn on a kind's tile.
QString glyph(FileKind kind);
/// The badge under the glyph: the extension upper-cased, at most four characters; empty when
/// the tile is too small for one.
QString badge(const QString& fileExtension, int size);
/// Draws the icon into the square of `rect`. A selected tile is ringed in the highlighted text
/// colour, so it stays apart from a highlight of the same hue.
void paint(QPainter* painter, const QRect& rect, FileKind kind, const QString& fileExtension,
           bool selected = false);
} // namespace FileTypeIcon

/// Icons of listed items: the folder icon, or the tile of the item's kind (the same
/// classification as the Kind column, so a file sent as application/octet-stream shows the
/// icon of its extension). Kept per kind and extension.
namespace FileIcons {
QIcon icon(const FileItem& item);
/// The tile as an icon of any size; selected mode draws the selected tile.
QIcon tile(FileKind kind, const QString& fileExtension);
} // namespace FileIcons

} // namespace tw
