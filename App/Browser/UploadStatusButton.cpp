#include "App/Browser/UploadStatusButton.h"

#include "App/DesignSystem/UploadingArrow.h"

#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <cmath>

namespace tw {

UploadStatusButton::UploadStatusButton(QWidget* parent) : QAbstractButton(parent) {
    setObjectName(QStringLiteral("uploadStatus"));
    setToolTip(QStringLiteral("Show uploads"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    frames_.setInterval(1000 / 30);
    connect(&frames_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    clock_.start();
}

void UploadStatusButton::setStatus(const QString& text, double progress) {
    progress_ = std::clamp(progress, 0.0, 1.0);
    setText(text);
    setAccessibleName(text);
    setAccessibleDescription(percentText());
    updateGeometry();
    update();
}

QString UploadStatusButton::percentText() const {
    return QLocale().toString(std::lround(progress_ * 100)) + QLocale().percent();
}

QSize UploadStatusButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const int width = arrowSize + spacing + metrics.horizontalAdvance(text()) + spacing + barWidth +
                      spacing + metrics.horizontalAdvance(QStringLiteral("100%"));
    return QSize(width, std::max(metrics.height(), arrowSize));
}

QSize UploadStatusButton::minimumSizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const int width = arrowSize + spacing +
                      metrics.horizontalAdvance(QStringLiteral("Uploading…")) + spacing + barWidth +
                      spacing + metrics.horizontalAdvance(QStringLiteral("100%"));
    return QSize(width, std::max(metrics.height(), arrowSize));
}

void UploadStatusButton::showEvent(QShowEvent* event) {
    QAbstractButton::showEvent(event);
    frames_.start();
}

void UploadStatusButton::hideEvent(QHideEvent* event) {
    QAbstractButton::hideEvent(event);
    frames_.stop();
}

void UploadStatusButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    const QFontMetrics metrics = fontMetrics();
    const int mid = height() / 2;

    const double phase = std::fmod(clock_.elapsed() / 1200.0, 1.0);
    UploadingArrow::paint(&p, QRectF(0, mid - arrowSize / 2.0, arrowSize, arrowSize), accent,
                          phase);

    const QString percent = percentText();
    const int percentWidth = metrics.horizontalAdvance(QStringLiteral("100%"));
    const int textLeft = arrowSize + spacing;
    const int textWidth =
        std::max(0, width() - textLeft - spacing - barWidth - spacing - percentWidth);
    p.setPen(accent);
    p.drawText(QRect(textLeft, 0, textWidth, height()), Qt::AlignVCenter | Qt::AlignLeft,
               metrics.elidedText(text(), Qt::ElideMiddle, textWidth));

    const int barLeft = textLeft + textWidth + spacing;
    const QRectF track(barLeft, mid - 2, barWidth, 4);
    QColor trackColor = palette().color(QPalette::WindowText);
    trackColor.setAlphaF(0.15);
    p.setPen(Qt::NoPen);
    p.setBrush(trackColor);
    p.drawRoundedRect(track, 2, 2);
    if (progress_ > 0) {
        p.setBrush(accent);
        p.drawRoundedRect(
            QRectF(track.left(), track.top(), track.width() * progress_, track.height()), 2, 2);
    }
    p.setPen(accent);
    p.drawText(QRect(barLeft + barWidth + spacing, 0, percentWidth, height()),
               Qt::AlignVCenter | Qt::AlignRight, percent);
}

} // namespace tw
