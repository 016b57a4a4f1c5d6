#pragma once

#include <QProxyStyle>

namespace tw {

/// The application's style: the desktop's own, with room inside buttons. A push button keeps
/// at least a comfortable padding between its label and its border, and its menu arrow sits
/// inside that padding; a tool button that drops a menu at once is widened by its arrow, so
/// the arrow never covers the label. Styles that already give that room are left as they are.
class ButtonStyle : public QProxyStyle {
    Q_OBJECT
public:
    /// The padding between a push button's label (or menu arrow) and its border.
    static constexpr int padding = 12;

    explicit ButtonStyle(QStyle* base = nullptr);

    /// Makes it the application's style, over the style the desktop chose (once).
    static void install();

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

} // namespace tw
