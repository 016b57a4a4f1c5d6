#pragma once

#include <QIcon>
#include <QString>

namespace tw::SymbolIcons {

/// The icon for a symbol name ("arrow.up.circle", "xmark.circle.fill", …): the desktop
/// theme's icon of the same meaning, else one drawn here, so every symbol shows on a bare
/// desktop too.
QIcon icon(const QString& symbol);
/// The freedesktop icon name the symbol maps to (empty when none does).
QString themeName(const QString& symbol);

} // namespace tw::SymbolIcons
