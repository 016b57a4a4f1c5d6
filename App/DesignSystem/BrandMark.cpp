#include "App/DesignSystem/BrandMark.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRectF>

namespace tw::BrandMark {

void paint(QPainter* painter, const QRectF& rect) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(rect.topLeft(), rect.bottomRight());
    tile.setColorAt(0, QColor::fromRgbF(0.26f, 0.52f, 0.96f));
    tile.setColorAt(1, QColor::fromRgbF(0.16f, 0.63f, 0.85f));
    painter->setPen(Qt::NoPen);
    painter->setBrush(tile);
    painter->drawRoundedRect(rect, rect.width() * 0.23, rect.height() * 0.23);

    // Two panes, the left one a little forward.
    const double w = rect.width();
    const QRectF back(rect.left() + w * 0.40, rect.top() + w * 0.22, w * 0.38, w * 0.50);
    const QRectF front(rect.left() + w * 0.22, rect.top() + w * 0.30, w * 0.38, w * 0.50);
    painter->setBrush(QColor(255, 255, 255, 140));
    painter->drawRoundedRect(back, w * 0.06, w * 0.06);
    painter->setBrush(Qt::white);
    painter->drawRoundedRect(front, w * 0.06, w * 0.06);
    // Lines of a listing on the front pane.
    painter->setBrush(QColor::fromRgbF(0.26f, 0.52f, 0.96f, 0.55f));
    for (int i = 0; i < 3; ++i) {
        const QRectF line(front.left() + w * 0.06, front.top() + w * (0.10 + 0.11 * i),
                          front.width() - w * (i == 2 ? 0.16 : 0.12), w * 0.05);
        painter->drawRoundedRect(line, w * 0.025, w * 0.025);
    }
    painter->restore();
}

} // namespace tw::BrandMark
