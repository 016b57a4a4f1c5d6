#pragma once

#include <QMessageBox>

namespace tw {

/// A message box whose window title is shown whole: the box widens to its title when it opens,
/// up to what the screen allows; a title that still cannot fit is cut at its end (the whole
/// title is the box's own title line, which wraps).
class AlertBox : public QMessageBox {
    Q_OBJECT
public:
    explicit AlertBox(QWidget* parent = nullptr);

    /// The whole window title (windowTitle() may be cut to fit).
    QString fullTitle() const { return title_; }
    void setFullTitle(const QString& title);

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void fitTitle();

    QString title_;
};

} // namespace tw
