#include "App/DesignSystem/SymbolIcons.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QStandardPaths>

namespace tw::SymbolIcons {

namespace {

// Symbol names the screens use → freedesktop names whose "-symbolic" form the theme draws.
const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> names{
        // Navigation and commands.
        {QStringLiteral("chevron.left"), QStringLiteral("go-previous")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next")},
        {QStringLiteral("chevron.up"), QStringLiteral("go-up")},
        {QStringLiteral("chevron.down"), QStringLiteral("go-down")},
        {QStringLiteral("house"), QStringLiteral("go-home")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("minus"), QStringLiteral("list-remove")},
        {QStringLiteral("minus.circle"), QStringLiteral("list-remove")},
        {QStringLiteral("xmark"), QStringLiteral("window-close")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("process-stop")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.clockwise.circle.fill"), QStringLiteral("view-refresh")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit")},
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("view-more")},
        // Transfers.
        {QStringLiteral("arrow.up.circle"), QStringLiteral("send-to")},
        {QStringLiteral("icloud.and.arrow.up"), QStringLiteral("document-send")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("document-save")},
        {QStringLiteral("square.and.arrow.down.on.square"), QStringLiteral("document-save")},
        {QStringLiteral("square.and.arrow.up"), QStringLiteral("emblem-shared")},
        {QStringLiteral("exclamationmark.arrow.circlepath"), QStringLiteral("dialog-warning")},
        // States.
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("wifi.slash"), QStringLiteral("network-wireless-offline")},
        {QStringLiteral("eye.slash"), QStringLiteral("view-conceal")},
        {QStringLiteral("questionmark.folder"), QStringLiteral("folder-visiting")},
        // Places, accounts and settings.
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("externaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("externaldrive.connected.to.line.below"), QStringLiteral("network-server")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("avatar-default")},
        {QStringLiteral("gearshape"), QStringLiteral("emblem-system")},
        {QStringLiteral("link"), QStringLiteral("network-transmit-receive")},
        {QStringLiteral("link.badge.minus"), QStringLiteral("network-offline")},
        // Privacy statements.
        {QStringLiteral("hand.raised"), QStringLiteral("user-not-tracked")},
        {QStringLiteral("chart.bar.xaxis"), QStringLiteral("network-cellular-signal-excellent")},
        {QStringLiteral("megaphone"), QStringLiteral("notifications-disabled")},
        {QStringLiteral("icloud.slash"), QStringLiteral("network-offline")},
        {QStringLiteral("key"), QStringLiteral("dialog-password")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-open-recent")},
        {QStringLiteral("lock"), QStringLiteral("changes-prevent")},
        {QStringLiteral("lock.open"), QStringLiteral("changes-allow")},
        // File categories and the file tiles' glyphs.
        {QStringLiteral("photo.on.rectangle"), QStringLiteral("image-x-generic")},
        {QStringLiteral("film.stack"), QStringLiteral("video-x-generic")},
        {QStringLiteral("music.note.list"), QStringLiteral("audio-x-generic")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("x-office-document")},
        {QStringLiteral("archivebox"), QStringLiteral("package-x-generic")},
        {QStringLiteral("doc.text.fill"), QStringLiteral("x-office-document")},
        {QStringLiteral("tablecells.fill"), QStringLiteral("x-office-spreadsheet")},
        {QStringLiteral("chart.bar.fill"), QStringLiteral("x-office-presentation")},
        {QStringLiteral("doc.richtext.fill"), QStringLiteral("x-office-drawing")},
        {QStringLiteral("photo.fill"), QStringLiteral("image-x-generic")},
        {QStringLiteral("waveform"), QStringLiteral("audio-x-generic")},
        {QStringLiteral("archivebox.fill"), QStringLiteral("package-x-generic")},
        {QStringLiteral("doc.fill"), QStringLiteral("text-x-generic")},
        // Viewers.
        {QStringLiteral("plus.magnifyingglass"), QStringLiteral("zoom-in")},
        {QStringLiteral("minus.magnifyingglass"), QStringLiteral("zoom-out")},
        {QStringLiteral("arrow.up.left.and.down.right.magnifyingglass"),
         QStringLiteral("zoom-fit-best")},
        {QStringLiteral("1.magnifyingglass"), QStringLiteral("zoom-original")},
        {QStringLiteral("rotate.right"), QStringLiteral("object-rotate-right")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start")},
        {QStringLiteral("pause.fill"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("speaker.wave.2"), QStringLiteral("audio-volume-high")},
        {QStringLiteral("speaker.slash"), QStringLiteral("audio-volume-muted")},
        {QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("view-fullscreen")},
    };
    return names;
}

/// Without a desktop theme (a bare session, the offscreen platform) Qt looks only in
/// `:/icons`: add the XDG data folders and use Adwaita, which the set-up installs.
void ensureThemeSearchPath() {
    static const bool done = [] {
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& data :
             QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
            const QString icons = data + QStringLiteral("/icons");
            if (!paths.contains(icons))
                paths.append(icons);
        }
        QIcon::setThemeSearchPaths(paths);
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor"))
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(done);
}

/// The theme's symbolic icon for a symbol (null when the theme has none), looked up once.
QIcon themedShape(const QString& symbol) {
    static QHash<QString, QIcon> found;
    if (const auto it = found.constFind(symbol); it != found.constEnd())
        return *it;
    ensureThemeSearchPath();
    QIcon shape;
    const QString name = themeNames().value(symbol);
    if (!name.isEmpty())
        shape = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
    found.insert(symbol, shape);
    return shape;
}

/// A glyph drawn on a 64-unit grid for symbols the theme lacks; opaque where it inks.
void drawGlyph(QPainter& p, const QString& symbol) {
    QPen pen(Qt::black, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF box(8, 8, 48, 48);
    const QPointF c = box.center();
    const bool filledCircle =
        symbol.contains(QStringLiteral("circle")) && symbol.endsWith(QStringLiteral(".fill"));
    if (symbol.endsWith(QStringLiteral("magnifyingglass"))) {
        const QRectF lens(8, 8, 36, 36);
        p.drawEllipse(lens);
        p.drawLine(QPointF(39, 39), QPointF(56, 56));
        const QPointF l = lens.center();
        if (symbol.startsWith(QStringLiteral("plus")) || symbol.startsWith(QStringLiteral("minus")))
            p.drawLine(l + QPointF(-9, 0), l + QPointF(9, 0));
        if (symbol.startsWith(QStringLiteral("plus")))
            p.drawLine(l + QPointF(0, -9), l + QPointF(0, 9));
        if (symbol.startsWith(QStringLiteral("1")))
            p.drawLine(l + QPointF(0, -9), l + QPointF(0, 9));
        return;
    }
    if (filledCircle) {
        // A solid disc with the glyph cut out of it.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawEllipse(box);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
    } else if (symbol.contains(QStringLiteral("circle"))) {
        p.drawEllipse(box);
    }
    if (symbol.startsWith(QStringLiteral("xmark"))) {
        p.drawLine(c + QPointF(-10, -10), c + QPointF(10, 10));
        p.drawLine(c + QPointF(10, -10), c + QPointF(-10, 10));
    } else if (symbol.startsWith(QStringLiteral("arrow.up")) ||
               symbol.startsWith(QStringLiteral("square.and.arrow.up"))) {
        p.drawLine(c + QPointF(0, 13), c + QPointF(0, -13));
        p.drawLine(c + QPointF(-10, -3), c + QPointF(0, -13));
        p.drawLine(c + QPointF(10, -3), c + QPointF(0, -13));
    } else if (symbol.startsWith(QStringLiteral("arrow.down")) ||
               symbol.startsWith(QStringLiteral("square.and.arrow.down"))) {
        p.drawLine(c + QPointF(0, -13), c + QPointF(0, 13));
        p.drawLine(c + QPointF(-10, 3), c + QPointF(0, 13));
        p.drawLine(c + QPointF(10, 3), c + QPointF(0, 13));
    } else if (symbol.startsWith(QStringLiteral("arrow.clockwise")) ||
               symbol.startsWith(QStringLiteral("exclamationmark.arrow"))) {
        p.drawArc(QRectF(c.x() - 13, c.y() - 13, 26, 26), 60 * 16, 280 * 16);
        p.drawLine(c + QPointF(6, -13), c + QPointF(13, -7));
    } else if (symbol.startsWith(QStringLiteral("minus"))) {
        p.drawLine(c + QPointF(-13, 0), c + QPointF(13, 0));
    } else if (symbol.startsWith(QStringLiteral("plus"))) {
        p.drawLine(c + QPointF(-15, 0), c + QPointF(15, 0));
        p.drawLine(c + QPointF(0, -15), c + QPointF(0, 15));
    } else if (symbol.startsWith(QStringLiteral("chevron.left"))) {
        p.drawLine(c + QPointF(6, -14), c + QPointF(-6, 0));
        p.drawLine(c + QPointF(-6, 0), c + QPointF(6, 14));
    } else if (symbol.startsWith(QStringLiteral("chevron.right"))) {
        p.drawLine(c + QPointF(-6, -14), c + QPointF(6, 0));
        p.drawLine(c + QPointF(6, 0), c + QPointF(-6, 14));
    } else if (symbol.startsWith(QStringLiteral("chevron.up"))) {
        p.drawLine(c + QPointF(-14, 6), c + QPointF(0, -6));
        p.drawLine(c + QPointF(0, -6), c + QPointF(14, 6));
    } else if (symbol.startsWith(QStringLiteral("chevron.down"))) {
        p.drawLine(c + QPointF(-14, -6), c + QPointF(0, 6));
        p.drawLine(c + QPointF(0, 6), c + QPointF(14, -6));
    } else if (symbol.startsWith(QStringLiteral("ellipsis"))) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        for (const qreal x : {-12.0, 0.0, 12.0})
            p.drawEllipse(c + QPointF(x, 0), 3, 3);
    } else if (symbol.startsWith(QStringLiteral("play"))) {
        p.setBrush(Qt::black);
        p.drawPolygon(QPolygonF{c + QPointF(-9, -14), c + QPointF(13, 0), c + QPointF(-9, 14)});
    } else if (symbol.startsWith(QStringLiteral("pause"))) {
        p.drawLine(c + QPointF(-7, -13), c + QPointF(-7, 13));
        p.drawLine(c + QPointF(7, -13), c + QPointF(7, 13));
    } else if (!symbol.contains(QStringLiteral("circle"))) {
        p.drawEllipse(box.adjusted(10, 10, -10, -10));
    }
}

/// The symbol's shape at `pixels` square: the theme's symbolic icon, else the drawn glyph.
QImage shapeOf(const QString& symbol, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QIcon themed = themedShape(symbol);
    if (!themed.isNull()) {
        const QPixmap shape = themed.pixmap(QSize(pixels, pixels), 1.0);
        painter.drawPixmap((pixels - shape.width()) / 2, (pixels - shape.height()) / 2, shape);
    } else {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixels / 64.0, pixels / 64.0);
        drawGlyph(painter, symbol);
    }
    return image;
}

/// The symbol `pixels` device pixels a side, tinted, for a device of pixel ratio `dpr`.
QPixmap renderPixels(const QString& symbol, int pixels, qreal dpr, const QColor& ink) {
    pixels = std::max(1, pixels);
    const QString key =
        QStringLiteral("tw-symbol:%1:%2:%3").arg(symbol).arg(pixels).arg(ink.rgba(), 0, 16);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        QImage image = shapeOf(symbol, pixels);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), ink);
        painter.end();
        pixmap = QPixmap::fromImage(std::move(image));
        QPixmapCache::insert(key, pixmap);
    }
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

QPixmap render(const QString& symbol, int size, qreal dpr, const QColor& ink) {
    return renderPixels(symbol, qRound(size * dpr), dpr, ink);
}

QColor inkFor(const QPalette& palette, QIcon::Mode mode) {
    const QColor normal = palette.color(QPalette::Active, QPalette::WindowText);
    switch (mode) {
    case QIcon::Selected:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case QIcon::Disabled: {
        QColor disabled = palette.color(QPalette::Disabled, QPalette::WindowText);
        if (disabled == normal) // a palette without its own disabled text: fade the normal ink
            disabled.setAlphaF(0.38f);
        return disabled;
    }
    default:
        return normal;
    }
}

/// Renders its symbol on demand, in the palette's ink of the moment.
class SymbolEngine final : public QIconEngine {
public:
    explicit SymbolEngine(const QString& symbol) : symbol_(symbol) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        const int side = std::min(rect.width(), rect.height());
        const QRect square(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawPixmap(square,
                            render(symbol_, side, dpr, inkFor(QGuiApplication::palette(), mode)));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return render(symbol_, std::min(size.width(), size.height()), 1.0,
                      inkFor(QGuiApplication::palette(), mode));
    }
    // `size` is in device pixels here.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        return renderPixels(symbol_, std::min(size.width(), size.height()), scale,
                            inkFor(QGuiApplication::palette(), mode));
    }
    QIconEngine* clone() const override { return new SymbolEngine(symbol_); }
    QString key() const override { return QStringLiteral("tw-symbol"); }
    QString iconName() override { return symbol_; }
    bool isNull() override { return false; }

private:
    QString symbol_;
};

/// Keeps a label's symbol in its palette and pixel ratio.
class LabelSymbol final : public QObject {
public:
    LabelSymbol(QLabel* label, const QString& symbol, int size)
        : QObject(label), label_(label), symbol_(symbol), size_(size) {
        label->installEventFilter(this);
    }
    void set(const QString& symbol, int size) {
        symbol_ = symbol;
        size_ = size;
        refresh();
    }
    void refresh() {
        label_->setPixmap(render(
            symbol_, size_, label_->devicePixelRatio(),
            inkFor(label_->palette(), label_->isEnabled() ? QIcon::Normal : QIcon::Disabled)));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_) {
            switch (event->type()) {
            // An application palette change reaches the label as a PaletteChange once its
            // palette is resolved (ApplicationPaletteChange comes before, with the old one).
            case QEvent::PaletteChange:
            case QEvent::EnabledChange:
            case QEvent::Show:
                refresh();
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    QLabel* label_;
    QString symbol_;
    int size_;
};

} // namespace

QString themeName(const QString& symbol) {
    return themeNames().value(symbol);
}

QIcon icon(const QString& symbol) {
    return QIcon(new SymbolEngine(symbol));
}

QPixmap pixmap(const QString& symbol, int size, qreal devicePixelRatio, const QColor& ink) {
    return render(symbol, size, devicePixelRatio, ink);
}

void setSymbol(QLabel* label, const QString& symbol, int size) {
    LabelSymbol* keeper = nullptr;
    for (QObject* child : label->children())
        if ((keeper = dynamic_cast<LabelSymbol*>(child)))
            break;
    if (!keeper)
        keeper = new LabelSymbol(label, symbol, size);
    keeper->set(symbol, size);
}

QIcon folder() {
    // Asked for by every folder row on every repaint; a theme icon follows theme changes itself.
    static const QIcon folder = [] {
        ensureThemeSearchPath();
        const QIcon themed = QIcon::fromTheme(QStringLiteral("folder"));
        return themed.isNull() ? icon(QStringLiteral("folder")) : themed;
    }();
    return folder;
}

} // namespace tw::SymbolIcons
