#include "App/DesignSystem/ElidedLabel.h"

#include "App/DesignSystem/DisplayText.h"

#include <QEvent>

#include <cmath>

namespace tw {

namespace {

/// The width a text takes, rounded up: QFontMetrics::horizontalAdvance rounds to the nearest
/// pixel, and a text given that many pixels can miss a fraction of one and be shortened.
int textWidth(const QFont& font, const QString& text) {
    return int(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

} // namespace

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setText(text);
}

void ElidedLabel::setText(const QString& text) {
    if (text == full_ && !QLabel::text().isNull())
        return;
    full_ = text;
    setToolTip(DisplayText::toolTip(text));
    setAccessibleName(text);
    elide();
    updateGeometry();
}

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    const int indent = margin() * 2;
    return QSize(textWidth(font(), full_) + margins.left() + margins.right() + indent,
                 QLabel::sizeHint().height());
}

QSize ElidedLabel::minimumSizeHint() const {
    // Room for a few characters and the ellipsis.
    const int few = fontMetrics().horizontalAdvance(QStringLiteral("Mm\u2026"));
    return QSize(std::min(few, sizeHint().width()), QLabel::minimumSizeHint().height());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateGeometry();
        elide();
    }
}

void ElidedLabel::elide() {
    // A hidden label is elided when it is shown (with its laid-out width), not for whatever
    // size it has before.
    if (!isVisible()) {
        QLabel::setText(full_);
        return;
    }
    const int width = std::max(0, contentsRect().width() - margin() * 2);
    const bool fits = textWidth(font(), full_) <= width;
    QLabel::setText(fits || width <= 0 ? full_ : fontMetrics().elidedText(full_, mode_, width));
}

} // namespace tw
