#pragma once

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTimer>

namespace tw {

/// The folder table's upload status: an animated arrow, "Uploading <name>" or "Uploading
/// <n> files", a small progress bar and the percentage, all in the accent colour. One button:
/// a click asks for the uploads popover.
class UploadStatusButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit UploadStatusButton(QWidget* parent = nullptr);

    /// text: the status text; progress: 0 to 1.
    void setStatus(const QString& text, double progress);
    QString percentText() const;
    /// The status text as it is drawn at the button's width: whole, or shortened in the middle with an
    /// ellipsis (the whole text is then the tool tip).
    QString shownText() const;
    double progress() const { return progress_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int textRoom() const;
    int fixedPartsWidth() const;
    void updateToolTip();

    static constexpr int arrowSize = 11;
    static constexpr int barWidth = 80;
    static constexpr int spacing = 5;

    double progress_ = 0;
    QTimer frames_;
    QElapsedTimer clock_;
};

} // namespace tw
