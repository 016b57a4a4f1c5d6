#include "App/DesignSystem/DropHighlight.h"

#include <QPainter>

namespace tw {

DropHighlight::DropHighlight(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("dropHighlight"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void DropHighlight::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor accent = palette().color(QPalette::Highlight);
    QColor fill = accent;
    fill.setAlphaF(0.08);
    painter.setBrush(fill);
    painter.setPen(QPen(accent, 3));
    painter.drawRoundedRect(QRectF(rect()).adjusted(4, 4, -4, -4), 10, 10);
}

} // namespace tw
