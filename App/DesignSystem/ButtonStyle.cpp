#include "App/DesignSystem/ButtonStyle.h"

#include <QApplication>
#include <QStyleOption>

namespace tw {

namespace {

bool opensMenuAtOnce(const QStyleOptionToolButton& button) {
    return button.features.testFlag(QStyleOptionToolButton::HasMenu) &&
           !button.features.testFlag(QStyleOptionToolButton::MenuButtonPopup);
}

} // namespace

ButtonStyle::ButtonStyle(QStyle* base) : QProxyStyle(base) {}

void ButtonStyle::install() {
    if (!qobject_cast<ButtonStyle*>(QApplication::style()))
        QApplication::setStyle(new ButtonStyle);
}

QSize ButtonStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                    const QSize& size, const QWidget* widget) const {
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_PushButton) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            const int frame = pixelMetric(PM_DefaultFrameWidth, option, widget);
            // One pixel over the rounded advance, so the label is never a fraction short.
            int content = button->fontMetrics.horizontalAdvance(button->text) + 1;
            if (!button->icon.isNull())
                content += button->iconSize.width() + 4;
            if (button->features.testFlag(QStyleOptionButton::HasMenu))
                content += pixelMetric(PM_MenuButtonIndicator, option, widget) + padding / 2;
            result.setWidth(std::max(result.width(), content + 2 * (padding + frame)));
        }
    } else if (type == CT_ToolButton) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option);
            button && opensMenuAtOnce(*button) && !(widget && !widget->styleSheet().isEmpty()))
            result.rwidth() += pixelMetric(PM_MenuButtonIndicator, option, widget);
    }
    return result;
}

void ButtonStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (button && button->features.testFlag(QStyleOptionButton::HasMenu)) {
        const int arrow = pixelMetric(PM_MenuButtonIndicator, option, widget);
        if (element == CE_PushButtonBevel) {
            // The bevel without the style's arrow (drawn against the border), then the arrow
            // inside the padding.
            QStyleOptionButton bevel = *button;
            bevel.features &= ~QStyleOptionButton::HasMenu;
            QProxyStyle::drawControl(element, &bevel, painter, widget);
            QStyleOption indicator = *option;
            const int side = std::max(arrow - 4, 6);
            indicator.rect = QRect(option->rect.right() - padding - side + 1,
                                   option->rect.center().y() - side / 2, side, side);
            drawPrimitive(PE_IndicatorArrowDown, &indicator, painter, widget);
            return;
        }
        if (element == CE_PushButtonLabel) {
            // The label beside the arrow, clear of it.
            QStyleOptionButton label = *button;
            label.rect.adjust(0, 0, -(padding - arrow / 2), 0);
            QProxyStyle::drawControl(element, &label, painter, widget);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

} // namespace tw
