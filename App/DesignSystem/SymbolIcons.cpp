#include "App/DesignSystem/SymbolIcons.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStandardPaths>

namespace tw::SymbolIcons {

namespace {

/// A simple drawing for symbols the theme lacks: a circle-based glyph in the text colour.
QIcon drawn(const QString& symbol) {
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(ink, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QRectF box(8, 8, 48, 48);
    const bool filled = symbol.endsWith(QStringLiteral(".fill"));
    if (symbol.contains(QStringLiteral("circle"))) {
        if (filled) {
            QColor soft = ink;
            soft.setAlphaF(0.45);
            p.setPen(Qt::NoPen);
            p.setBrush(soft);
        } else {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
        }
        p.drawEllipse(box);
        if (filled)
            pen.setColor(QApplication::palette().color(QPalette::Window));
    }
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF c = box.center();
    if (symbol.startsWith(QStringLiteral("xmark"))) {
        p.drawLine(c + QPointF(-10, -10), c + QPointF(10, 10));
        p.drawLine(c + QPointF(10, -10), c + QPointF(-10, 10));
    } else if (symbol.startsWith(QStringLiteral("arrow.up"))) {
        p.drawLine(c + QPointF(0, 13), c + QPointF(0, -13));
        p.drawLine(c + QPointF(-10, -3), c + QPointF(0, -13));
        p.drawLine(c + QPointF(10, -3), c + QPointF(0, -13));
    } else if (symbol.startsWith(QStringLiteral("arrow.clockwise")) ||
               symbol.startsWith(QStringLiteral("exclamationmark.arrow"))) {
        p.drawArc(QRectF(c.x() - 13, c.y() - 13, 26, 26), 60 * 16, 280 * 16);
        p.drawLine(c + QPointF(6, -13), c + QPointF(13, -7));
    } else if (symbol.startsWith(QStringLiteral("minus"))) {
        p.drawLine(c + QPointF(-13, 0), c + QPointF(13, 0));
    } else if (symbol == QStringLiteral("plus")) {
        p.drawLine(c + QPointF(-15, 0), c + QPointF(15, 0));
        p.drawLine(c + QPointF(0, -15), c + QPointF(0, 15));
    } else if (symbol.startsWith(QStringLiteral("chevron.left"))) {
        p.drawLine(c + QPointF(6, -14), c + QPointF(-6, 0));
        p.drawLine(c + QPointF(-6, 0), c + QPointF(6, 14));
    } else if (symbol.startsWith(QStringLiteral("chevron.right"))) {
        p.drawLine(c + QPointF(-6, -14), c + QPointF(6, 0));
        p.drawLine(c + QPointF(6, 0), c + QPointF(-6, 14));
    } else if (symbol.startsWith(QStringLiteral("square.and.arrow.down"))) {
        p.drawRoundedRect(QRectF(box.left() + 4, c.y(), 40, 22), 4, 4);
        p.drawLine(c + QPointF(0, -20), c + QPointF(0, 8));
        p.drawLine(c + QPointF(-8, 0), c + QPointF(0, 8));
        p.drawLine(c + QPointF(8, 0), c + QPointF(0, 8));
    } else if (!symbol.contains(QStringLiteral("circle"))) {
        p.drawEllipse(box.adjusted(10, 10, -10, -10));
    }
    return QIcon(pixmap);
}

QIcon tinted(const QIcon& source) {
    // Disabled gets its own ink: Qt's generated disabled look only greys a pixmap, which leaves
    // a light ink on a dark palette looking enabled.
    const QPalette palette = QApplication::palette();
    const std::pair<QIcon::Mode, QColor> inks[] = {
        {QIcon::Normal, palette.color(QPalette::Active, QPalette::WindowText)},
        {QIcon::Disabled, palette.color(QPalette::Disabled, QPalette::WindowText)}};
    QIcon result;
    for (const int size : {16, 24, 32, 48, 64}) {
        const QPixmap shape = source.pixmap(size, size);
        if (shape.isNull())
            continue;
        for (const auto& [mode, ink] : inks) {
            QPixmap pixmap = shape;
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), ink);
            painter.end();
            result.addPixmap(pixmap, mode);
        }
    }
    return result;
}

const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> names{
        {QStringLiteral("arrow.clockwise.circle.fill"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.up.circle"), QStringLiteral("go-up")},
        {QStringLiteral("exclamationmark.arrow.circlepath"), QStringLiteral("dialog-warning")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("square.and.arrow.down.on.square"), QStringLiteral("document-save")},
        {QStringLiteral("minus.circle"), QStringLiteral("list-remove")},
        {QStringLiteral("minus"), QStringLiteral("list-remove")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("chevron.left"), QStringLiteral("go-previous")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("avatar-default")},
        {QStringLiteral("gearshape"), QStringLiteral("preferences-system")},
        {QStringLiteral("hand.raised"), QStringLiteral("security-high")},
        {QStringLiteral("chart.bar.xaxis"), QStringLiteral("utilities-system-monitor")},
        {QStringLiteral("megaphone"), QStringLiteral("audio-volume-muted")},
        {QStringLiteral("icloud.slash"), QStringLiteral("network-offline")},
        {QStringLiteral("key"), QStringLiteral("dialog-password")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-open-recent")},
        {QStringLiteral("lock.open"), QStringLiteral("changes-allow")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("externaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("externaldrive.connected.to.line.below"), QStringLiteral("drive-multidisk")},
        {QStringLiteral("wifi.slash"), QStringLiteral("network-offline")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("go-down")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit")},
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("link"), QStringLiteral("insert-link")},
        {QStringLiteral("link.badge.minus"), QStringLiteral("edit-delete")},
        {QStringLiteral("lock"), QStringLiteral("system-lock-screen")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find")},
    };
    return names;
}

} // namespace

QString themeName(const QString& symbol) { return themeNames().value(symbol); }

QIcon icon(const QString& symbol) {
    // Without a desktop theme (a bare session, the offscreen platform) look in Adwaita,
    // which the application installs.
    static const bool fallbackSet = [] {
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
            const QString icons = data + QStringLiteral("/icons");
            if (!paths.contains(icons))
                paths.append(icons);
        }
        QIcon::setThemeSearchPaths(paths);
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor"))
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(fallbackSet);
    const QString name = themeName(symbol);
    if (!name.isEmpty()) {
        const QIcon themed = QIcon::fromTheme(name);
        if (!themed.isNull())
            return themed;
        // Symbolic icons are drawn in one dark ink: tint them with the text colour, so they
        // read on dark palettes too.
        const QIcon symbolic = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
        if (!symbolic.isNull())
            return tinted(symbolic);
    }
    return drawn(symbol);
}

} // namespace tw::SymbolIcons
