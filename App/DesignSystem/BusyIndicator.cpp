#include "App/DesignSystem/BusyIndicator.h"

#include <QPainter>

namespace tw {

BusyIndicator::BusyIndicator(int size, QWidget* parent) : QWidget(parent), size_(size) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(QStringLiteral("Loading"));
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const double outer = size_ / 2.0 - 0.5;
    const double inner = outer * 0.45;
    QColor ink = palette().color(QPalette::WindowText);
    for (int i = 0; i < 12; ++i) {
        const int age = (step_ - i + 12) % 12;
        ink.setAlphaF(0.15 + 0.75 * (1.0 - age / 12.0));
        p.setPen(QPen(ink, std::max(1.5, size_ / 9.0), Qt::SolidLine, Qt::RoundCap));
        p.save();
        p.translate(centre);
        p.rotate(i * 30.0);
        p.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        p.restore();
    }
}

} // namespace tw
