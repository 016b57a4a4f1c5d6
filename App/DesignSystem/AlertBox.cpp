#include "App/DesignSystem/AlertBox.h"

#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>

namespace tw {

AlertBox::AlertBox(QWidget* parent) : QMessageBox(parent) {}

void AlertBox::setFullTitle(const QString& title) {
    title_ = title;
    setWindowTitle(DisplayText::windowTitle(title));
    if (isVisible())
        fitTitle();
}

void AlertBox::showEvent(QShowEvent* event) {
    // QMessageBox fixes its size to its texts here; the title widens it afterwards.
    QMessageBox::showEvent(event);
    fitTitle();
}

bool AlertBox::event(QEvent* event) {
    // QMessageBox fits its size to its texts again on every layout request.
    const bool handled = QMessageBox::event(event);
    if (event->type() == QEvent::LayoutRequest && isVisible())
        fitTitle();
    return handled;
}

void AlertBox::fitTitle() {
    if (title_.isEmpty())
        return;
    const QRect area = WindowPlacement::availableArea(this);
    const int needed = WindowPlacement::widthForTitle(title_, area);
    if (needed > width()) {
        const int height =
            layout() && layout()->hasHeightForWidth()
                ? std::max(layout()->totalHeightForWidth(needed), minimumSizeHint().height())
                : this->height();
        setFixedSize(needed, height);
        // Centred again over its window, for the width it has now.
        const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
        const QRect anchor = over && over->isVisible() ? over->frameGeometry() : area;
        const QSize frame = size().grownBy(WindowPlacement::defaultFrame);
        move(WindowPlacement::centred(frame, anchor, area).topLeft());
    }
    // What the title bar cannot hold is cut at the end by us, not in the middle by the window
    // manager.
    QFont font = QApplication::font();
    font.setBold(true);
    const int room = width() - (WindowPlacement::widthForTitle(QString(), area));
    const QString shown = QFontMetrics(font).elidedText(title_, Qt::ElideRight, std::max(room, 0));
    setWindowTitle(
        DisplayText::windowTitle(shown.isEmpty() ? title_.left(1) + QChar(0x2026) : shown));
}

} // namespace tw
