#include "App/DesignSystem/ElidedLabel.h"

#include "App/DesignSystem/DisplayText.h"

namespace tw {

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setText(text);
}

void ElidedLabel::setText(const QString& text) {
    if (text == full_ && !QLabel::text().isNull())
        return;
    full_ = text;
    setToolTip(DisplayText::toolTip(text));
    setAccessibleName(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const { return QSize(20, QLabel::minimumSizeHint().height()); }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    elide();
}

void ElidedLabel::elide() {
    // A hidden label is elided when it is shown (with its laid-out width), not for whatever
    // size it has before.
    if (!isVisible()) {
        QLabel::setText(full_);
        return;
    }
    const int width = std::max(0, contentsRect().width());
    QLabel::setText(width > 0 ? fontMetrics().elidedText(full_, mode_, width) : full_);
}

} // namespace tw
