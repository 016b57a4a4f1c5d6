#pragma once

#include <QIcon>

namespace tw::BrowserIcons {

/// The icon of a symbol name the browser and the sidebar show ("house", "folder.badge.plus",
/// "photo.on.rectangle", …): the design system's icon when it maps the symbol, else the
/// desktop theme's icon of the same meaning, else the design system's drawn fallback.
QIcon icon(const QString& symbol);

} // namespace tw::BrowserIcons
