#pragma once

#include <QTableView>
#include <QUrl>

#include <functional>

namespace tw {

/// The folder table's view: a multi-selection table without sorting that takes dropped
/// local files on its rows and between them, and leaves the selection alone on a right click
/// (the context menu works on the clicked row or the selection).
class FolderTableView : public QTableView {
    Q_OBJECT
public:
    explicit FolderTableView(QWidget* parent = nullptr);

    /// Which rows take a drop highlight while files hover over them (folders that take
    /// uploads); none by default.
    std::function<bool(int row)> highlightsDropOn;

Q_SIGNALS:
    /// Files were dropped on a row, or between rows (row −1).
    void filesDropped(const QList<QUrl>& urls, int row);
    /// A drag of files entered (true) or left (false) the table; row is the row under it.
    void dragHovered(bool inside, int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setDropRow(int row);

    int dropRow_ = -1;
};

} // namespace tw
