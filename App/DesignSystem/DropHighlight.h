#pragma once

#include <QWidget>

namespace tw {

/// Laid over a drop target while files are dragged over it: an accent-coloured rounded
/// outline over a faint accent fill. Lets every mouse event through.
class DropHighlight : public QWidget {
    Q_OBJECT
public:
    explicit DropHighlight(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tw
