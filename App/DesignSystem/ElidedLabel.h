#pragma once

#include <QLabel>

namespace tw {

/// A one-line plain-text label that shortens its text to fit (middle, start or end); the
/// whole text is its tooltip and accessible name.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString fullText() const { return full_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void elide();

    QString full_;
    Qt::TextElideMode mode_;
};

} // namespace tw
