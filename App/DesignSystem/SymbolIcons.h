#pragma once

#include <QIcon>
#include <QString>

class QLabel;

/// The application's one icon provider. Screens name symbols ("chevron.left", "folder",
/// "xmark.circle.fill", …); each maps to a freedesktop symbolic icon of the same meaning,
/// drawn in the ink of the current palette, or to a glyph drawn here when the theme lacks it.
namespace tw::SymbolIcons {

/// The symbol as an icon that takes its ink from the application palette whenever it is
/// painted: window text when normal, the disabled text colour when disabled, the highlighted
/// text colour when selected. Painted at the device pixel ratio of what it is painted on, so a
/// palette change or a high-density screen needs nothing more than a repaint.
QIcon icon(const QString& symbol);

/// The symbol as one pixmap of `size` device-independent pixels at `devicePixelRatio`, in
/// `ink` (a white glyph on a tile, for example).
QPixmap pixmap(const QString& symbol, int size, qreal devicePixelRatio, const QColor& ink);

/// Shows the symbol in `label` at `size`, and keeps it in the label's current palette and
/// pixel ratio: re-drawn when the palette changes or the label is shown again.
void setSymbol(QLabel* label, const QString& symbol, int size);

/// The freedesktop name (without "-symbolic") the symbol maps to; empty when none does.
QString themeName(const QString& symbol);

/// The theme's folder icon (the full-colour one where the theme has it).
QIcon folder();

} // namespace tw::SymbolIcons
