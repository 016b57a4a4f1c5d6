#include "App/DesignSystem/FileTypeIcon.h"

#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

namespace tw {

QColor FileTypeIcon::color(FileKind kind) {
    switch (kind) {
    case FileKind::folder:
        return QColor(0x4A, 0x90, 0xE2);
    case FileKind::document:
        return QColor(0x3B, 0x82, 0xF6);
    case FileKind::spreadsheet:
        return QColor(0x22, 0xA0, 0x55);
    case FileKind::presentation:
        return QColor(0xF5, 0x9E, 0x0B);
    case FileKind::pdf:
        return QColor(0xE5, 0x48, 0x3D);
    case FileKind::image:
        return QColor(0xA8, 0x55, 0xF7);
    case FileKind::video:
        return QColor(0xEC, 0x48, 0x99);
    case FileKind::audio:
        return QColor(0xF9, 0x73, 0x16);
    case FileKind::archive:
        return QColor(0x8B, 0x6B, 0x4A);
    default:
        return QColor(0x8E, 0x8E, 0x93);
    }
}

void FileTypeIcon::paint(QPainter* painter, const QRect& rect, FileKind kind, const QString& fileExtension) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor base = color(kind);
    QColor fill = base;
    fill.setAlphaF(0.16);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    const qreal radius = rect.width() * 0.22;
    painter->drawRoundedRect(QRectF(rect), radius, radius);
    painter->setPen(QPen(base, std::max(1.2, rect.width() / 14.0), Qt::SolidLine, Qt::RoundCap,
                         Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    const QRectF inner = QRectF(rect).adjusted(rect.width() * 0.28, rect.height() * 0.2,
                                                -rect.width() * 0.28, -rect.height() * 0.32);
    if (kind == FileKind::folder) {
        QPainterPath folder;
        const QRectF f = QRectF(rect).adjusted(rect.width() * 0.2, rect.height() * 0.28,
                                               -rect.width() * 0.2, -rect.height() * 0.26);
        folder.moveTo(f.left(), f.top());
        folder.lineTo(f.left() + f.width() * 0.4, f.top());
        folder.lineTo(f.left() + f.width() * 0.5, f.top() + f.height() * 0.18);
        folder.lineTo(f.right(), f.top() + f.height() * 0.18);
        folder.lineTo(f.right(), f.bottom());
        folder.lineTo(f.left(), f.bottom());
        folder.closeSubpath();
        painter->drawPath(folder);
    } else {
        painter->drawRoundedRect(inner, 2, 2);
        if (rect.width() >= 24 && !fileExtension.isEmpty()) {
            QFont font = painter->font();
            font.setBold(true);
            font.setPixelSize(std::max(6, rect.height() / 5));
            painter->setFont(font);
            painter->setPen(base);
            painter->drawText(QRectF(rect.left(), rect.bottom() - rect.height() * 0.32, rect.width(),
                                     rect.height() * 0.3),
                              Qt::AlignCenter, fileExtension.left(4).toUpper());
        }
    }
    painter->restore();
}

QIcon FileIcons::icon(const FileItem& item) {
    static QHash<QString, QIcon> cache;
    const QString key = item.isFolder() ? QStringLiteral("inode/directory") : item.mimeType;
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    QIcon icon;
    const QMimeType mime = QMimeDatabase().mimeTypeForName(key);
    if (mime.isValid())
        icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    if (icon.isNull()) {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        FileTypeIcon::paint(&painter, pixmap.rect(), item.kind(), FileKinds::pathExtension(item.name));
        icon = QIcon(pixmap);
    }
    cache.insert(key, icon);
    return icon;
}

} // namespace tw
