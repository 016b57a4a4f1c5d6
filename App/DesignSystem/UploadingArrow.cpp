#include "App/DesignSystem/UploadingArrow.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace tw {

void UploadingArrow::paint(QPainter* painter, const QRectF& rect, const QColor& color, double phase) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setClipRect(rect);
    const double size = std::min(rect.width(), rect.height());
    const double half = size * 0.35;
    for (double offset : {0.0, 0.5}) {
        const double t = std::fmod(phase + offset, 1.0);
        const double y = rect.bottom() - t * (rect.height() + size * 0.4) + size * 0.2;
        QColor ink = color;
        ink.setAlphaF(std::sin(t * M_PI) * color.alphaF());
        painter->setPen(QPen(ink, std::max(1.2, size / 7.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const double cx = rect.center().x();
        QPainterPath arrow;
        arrow.moveTo(cx, y + size * 0.6);
        arrow.lineTo(cx, y);
        arrow.moveTo(cx - half, y + half);
        arrow.lineTo(cx, y);
        arrow.lineTo(cx + half, y + half);
        painter->drawPath(arrow);
    }
    painter->restore();
}

} // namespace tw
