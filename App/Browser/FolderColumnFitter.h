#pragma once

#include <QObject>

#include <array>

class QTableView;

namespace tw {

/// Keeps the folder table's columns fitted to its width. Each column has a narrowest and a
/// preferred width, from the font, so that the usual texts fit whole; "Name" takes the room
/// the other columns leave at their preferred widths, never less than its minimum, and when
/// that leaves it too little the other columns give up room in proportion to what they have
/// above their minimums before the table scrolls sideways. A column the user drags keeps
/// its new width as its preferred one. Lives as long as its table.
class FolderColumnFitter : public QObject {
    Q_OBJECT
public:
    explicit FolderColumnFitter(QTableView* table);

    /// Fits the columns to the viewport's width now.
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableView* table_;
    // Kept aside: while the table is torn down its viewport may still send events, and the
    // table can no longer be asked for it.
    const QObject* viewport_;
    std::array<int, 4> minimumWidths_{};
    std::array<int, 4> idealWidths_{};
    bool fitting_ = false;
};

} // namespace tw
