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

namespace {

/// A text's width rounded up, so a text given that room is never shortened for a fraction of
/// a pixel.
int textWidth(const QFont& font, const QString& text) {
    return int(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

} // namespace

void UploadStatusButton::setStatus(const QString& text, double progress) {
    progress_ = std::clamp(progress, 0.0, 1.0);
    setText(text);
    setAccessibleName(text);
    setAccessibleDescription(percentText());
    updateToolTip();
    updateGeometry();
    update();
}

QString UploadStatusButton::percentText() const {
    return QLocale().toString(std::lround(progress_ * 100)) + QLocale().percent();
}

int UploadStatusButton::fixedPartsWidth() const {
    return arrowSize + spacing + spacing + barWidth + spacing +
           textWidth(font(), QStringLiteral("100%"));
}

int UploadStatusButton::textRoom() const { return std::max(0, width() - fixedPartsWidth()); }

QString UploadStatusButton::shownText() const {
    if (textWidth(font(), text()) <= textRoom())
        return text();
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRoom());
}

void UploadStatusButton::updateToolTip() {
    // Shortened, the status shows whole in the tool tip; otherwise the tip says what a click does.
    setToolTip(shownText() == text() ? QStringLiteral("Show uploads") : text());
}

QSize UploadStatusButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return QSize(fixedPartsWidth() + textWidth(font(), text()),
                 std::max(metrics.height(), arrowSize));
}

QSize UploadStatusButton::minimumSizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return QSize(fixedPartsWidth() + textWidth(font(), QStringLiteral("Uploading\u2026")),
                 std::max(metrics.height(), arrowSize));
}

void UploadStatusButton::resizeEvent(QResizeEvent* event) {
    QAbstractButton::resizeEvent(event);
    updateToolTip();
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
    const int mid = height() / 2;

    const double phase = std::fmod(clock_.elapsed() / 1200.0, 1.0);
    UploadingArrow::paint(&p, QRectF(0, mid - arrowSize / 2.0, arrowSize, arrowSize), accent,
                          phase);

    const QString percent = percentText();
    const int percentWidth = textWidth(font(), QStringLiteral("100%"));
    const int textLeft = arrowSize + spacing;
    const int room = textRoom();
    p.setPen(accent);
    p.drawText(QRect(textLeft, 0, room, height()), Qt::AlignVCenter | Qt::AlignLeft, shownText());

    const int barLeft = textLeft + room + spacing;
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
