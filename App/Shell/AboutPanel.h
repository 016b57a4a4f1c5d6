#pragma once

#include <QUrl>

class QWidget;

namespace tw {

/// The About window: the application's icon, name and version, a one-line credit and the
/// web site's host name as a link. One instance; asking again raises it.
namespace AboutPanel {

/// The author's web site.
const QUrl& website();
/// The credit line.
QString credit();
/// Shows the panel (creating it on first use) and brings it to the front. Returns it.
QWidget* show(QWidget* parent = nullptr);

} // namespace AboutPanel
} // namespace tw
