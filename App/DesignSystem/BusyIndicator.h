#pragma once

#include <QTimer>
#include <QWidget>

namespace tw {

/// A small spinning wait indicator (twelve fading spokes), size pixels across. It turns
/// only while shown.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(int size, QWidget* parent = nullptr);
    QSize sizeHint() const override { return QSize(size_, size_); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int size_;
    int step_ = 0;
    QTimer timer_;
};

} // namespace tw
