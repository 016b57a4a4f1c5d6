#pragma once

#include <QLayout>
#include <QList>

namespace tw {

/// Lays its items out left to right and starts a new line when the next one would not fit, so
/// a row of short entries (a legend, say) never makes its window wider than it is.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr, int horizontalSpacing = 16,
                        int verticalSpacing = 4);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    /// Places the items in rect (only measures when apply is false); gives the height used.
    int arrange(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> items_;
    int horizontalSpacing_;
    int verticalSpacing_;
};

} // namespace tw
