#pragma once

#include <QLabel>

namespace tw {

/// A one-line plain-text label that shortens its text to fit (middle, start or end) with an
/// ellipsis; the whole text is its tooltip and accessible name. It asks for the room of its
/// whole text and gives way down to a few characters, so a layout shows it whole when there
/// is room and shortened only when there is not. The one way to show a text that may not fit.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString fullText() const { return full_; }
    /// Whether the text shown is shortened.
    bool isElided() const { return QLabel::text() != full_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString full_;
    Qt::TextElideMode mode_;
};

} // namespace tw
