#include "App/DesignSystem/FileTypeIcon.h"

#include "App/DesignSystem/SymbolIcons.h"

#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>

namespace tw {

namespace FileTypeIcon {

QColor color(FileKind kind) {
    switch (kind) {
    case FileKind::document:
        return QColor::fromRgbF(0.23f, 0.48f, 0.93f);
    case FileKind::spreadsheet:
        return QColor::fromRgbF(0.18f, 0.62f, 0.36f);
    case FileKind::presentation:
        return QColor::fromRgbF(0.93f, 0.60f, 0.13f);
    case FileKind::pdf:
        return QColor::fromRgbF(0.88f, 0.27f, 0.27f);
    case FileKind::image:
        return QColor::fromRgbF(0.58f, 0.38f, 0.85f);
    case FileKind::video:
        return QColor::fromRgbF(0.93f, 0.45f, 0.20f);
    case FileKind::audio:
        return QColor::fromRgbF(0.88f, 0.29f, 0.50f);
    case FileKind::archive:
        return QColor::fromRgbF(0.52f, 0.48f, 0.43f);
    case FileKind::folder:
    case FileKind::other:
        break;
    }
    return QColor::fromRgbF(0.55f, 0.58f, 0.64f);
}

QString glyph(FileKind kind) {
    switch (kind) {
    case FileKind::document:
        return QStringLiteral("doc.text.fill");
    case FileKind::spreadsheet:
        return QStringLiteral("tablecells.fill");
    case FileKind::presentation:
        return QStringLiteral("chart.bar.fill");
    case FileKind::pdf:
        return QStringLiteral("doc.richtext.fill");
    case FileKind::image:
        return QStringLiteral("photo.fill");
    case FileKind::video:
        return QStringLiteral("play.fill");
    case FileKind::audio:
        return QStringLiteral("waveform");
    case FileKind::archive:
        return QStringLiteral("archivebox.fill");
    case FileKind::folder:
        return QStringLiteral("folder");
    case FileKind::other:
        break;
    }
    return QStringLiteral("doc.fill");
}

QString badge(const QString& fileExtension, int size) {
    return size >= 24 ? fileExtension.left(4).toUpper() : QString();
}

namespace {

/// The kind colour mixed with white by `amount` (in lightness, where a mix stays in hue).
QColor lightened(const QColor& base, double amount) {
    const QColor hsl = base.toHsl();
    return QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(),
                            float(hsl.lightnessF() + (1.0 - hsl.lightnessF()) * amount));
}

} // namespace

void paint(QPainter* painter, const QRect& rect, FileKind kind, const QString& fileExtension,
           bool selected) {
    const int size = std::min(rect.width(), rect.height());
    const QRectF square(rect.x() + (rect.width() - size) / 2.0,
                        rect.y() + (rect.height() - size) / 2.0, size, size);
    if (kind == FileKind::folder) {
        SymbolIcons::folder().paint(painter, square.toAlignedRect(), Qt::AlignCenter,
                                    selected ? QIcon::Selected : QIcon::Normal);
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF tile = square.adjusted(size * 0.06, 0, -size * 0.06, 0);
    const qreal radius = size * 0.24;
    const QColor base = color(kind);
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    gradient.setColorAt(0, lightened(base, 0.12));
    gradient.setColorAt(1, base);
    painter->setPen(Qt::NoPen);
    painter->setBrush(gradient);
    painter->drawRoundedRect(tile, radius, radius);
    // A hairline inside the edge, and on a selected row a ring that sets the tile off the
    // highlight.
    const qreal line = selected ? std::max(1.0, size / 16.0) : 0.5;
    const QColor edge =
        selected ? QGuiApplication::palette().color(QPalette::Active, QPalette::HighlightedText)
                 : QColor(0, 0, 0, 20);
    painter->setPen(QPen(edge, line));
    painter->setBrush(Qt::NoBrush);
    const QRectF inner = tile.adjusted(line / 2, line / 2, -line / 2, -line / 2);
    painter->drawRoundedRect(inner, radius - line / 2, radius - line / 2);

    const QString text = badge(fileExtension, size);
    const int glyphSize = std::max(1, qRound(size * (text.isEmpty() ? 0.56 : 0.4)));
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const QPixmap symbol = SymbolIcons::pixmap(glyph(kind), glyphSize, dpr, Qt::white);
    QFont font = painter->font();
    qreal textHeight = 0;
    if (!text.isEmpty()) {
        font.setBold(true);
        const qreal available = tile.width() - 2 * size * 0.06;
        qreal pixels = size * 0.22;
        font.setPixelSize(std::max(1, qRound(pixels)));
        // Shrinks to fit the tile, down to 0.6 of its size.
        while (pixels > size * 0.22 * 0.6 &&
               QFontMetricsF(font).horizontalAdvance(text) > available) {
            pixels -= 0.5;
            font.setPixelSize(std::max(1, qRound(pixels)));
        }
        textHeight = QFontMetricsF(font).height();
    }
    const qreal spacing = text.isEmpty() ? 0 : size * 0.04;
    const qreal stack = glyphSize + spacing + textHeight;
    qreal y = tile.center().y() - stack / 2;
    painter->drawPixmap(QPointF(tile.center().x() - glyphSize / 2.0, y), symbol);
    if (!text.isEmpty()) {
        y += glyphSize + spacing;
        painter->setFont(font);
        painter->setPen(Qt::white);
        painter->drawText(QRectF(tile.left(), y, tile.width(), textHeight), Qt::AlignCenter, text);
    }
    painter->restore();
}

} // namespace FileTypeIcon

namespace {

/// Paints the tile of one kind and extension at the size and pixel ratio asked for.
class TileEngine final : public QIconEngine {
public:
    TileEngine(FileKind kind, const QString& extension) : kind_(kind), extension_(extension) {}

    // Rows paint their icons on every repaint: the drawn tile is kept in QPixmapCache.
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        const int side = std::min(rect.width(), rect.height());
        const QRect square(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawPixmap(square, scaledPixmap(QSize(side, side) * dpr, mode, state, dpr));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // `size` is in device pixels; the tile is laid out in device-independent pixels (the badge
    // shows from 24 of those), drawn at the full resolution.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const int side = std::max(1, std::min(size.width(), size.height()));
        const bool selected = mode == QIcon::Selected;
        // The selected ring is in the highlighted text colour of the moment.
        const QRgb ring = selected ? QGuiApplication::palette()
                                         .color(QPalette::Active, QPalette::HighlightedText)
                                         .rgba()
                                   : 0;
        const QString key = QStringLiteral("tw-tile:%1:%2:%3:%4:%5")
                                .arg(int(kind_))
                                .arg(extension_)
                                .arg(side)
                                .arg(scale)
                                .arg(ring, 0, 16);
        QPixmap pixmap;
        if (!QPixmapCache::find(key, &pixmap)) {
            pixmap = QPixmap(side, side);
            pixmap.setDevicePixelRatio(scale);
            pixmap.fill(Qt::transparent);
            {
                QPainter painter(&pixmap);
                const int logical = qRound(side / scale);
                FileTypeIcon::paint(&painter, QRect(0, 0, logical, logical), kind_, extension_,
                                    selected);
            }
            QPixmapCache::insert(key, pixmap);
        }
        return pixmap;
    }
    QIconEngine* clone() const override { return new TileEngine(kind_, extension_); }
    QString key() const override { return QStringLiteral("tw-file-tile"); }
    bool isNull() override { return false; }

private:
    FileKind kind_;
    QString extension_;
};

} // namespace

QIcon FileIcons::tile(FileKind kind, const QString& fileExtension) {
    if (kind == FileKind::folder)
        return SymbolIcons::folder();
    // Main thread only, like every view: one entry per kind and badge, never removed.
    static QHash<QString, QIcon> cache;
    const QString extension = fileExtension.left(4).toUpper();
    const QString key = FileKinds::rawValue(kind) + QLatin1Char('/') + extension;
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    const QIcon icon(new TileEngine(kind, extension));
    cache.insert(key, icon);
    return icon;
}

QIcon FileIcons::icon(const FileItem& item) {
    if (item.isFolder())
        return SymbolIcons::folder();
    // Rows ask on every repaint and classifying reads the MIME database: kept per type and
    // extension, which decide the kind.
    static QHash<QString, QIcon> byType;
    const QString extension = FileKinds::pathExtension(item.name);
    const QString key = item.mimeType + QLatin1Char('\n') + extension.toLower();
    if (const auto it = byType.constFind(key); it != byType.constEnd())
        return *it;
    const QIcon icon = tile(item.kind(), extension);
    byType.insert(key, icon);
    return icon;
}

} // namespace tw
