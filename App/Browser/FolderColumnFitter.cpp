#include "App/Browser/FolderColumnFitter.h"

#include "App/Browser/FolderTableModel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>

#include <algorithm>

namespace tw {

namespace {

constexpr int kColumns = FolderTableModel::columnCount_;
constexpr int kName = FolderTableModel::nameColumn;

} // namespace

FolderColumnFitter::FolderColumnFitter(QTableView* table)
    : QObject(table), table_(table), viewport_(table->viewport()) {
    // The widths follow the font, so that the usual texts of each column fit whole: a date
    // with a two-digit day and hour, a size with four digits, and the long kinds of the MIME
    // database (office formats, source code) that would otherwise read "PowerP…tation".
    const QFontMetrics metrics = table_->fontMetrics();
    const int padding = 2 * (table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
    auto fitting = [&](const char* sample, int floor) {
        return std::max(floor, metrics.horizontalAdvance(QString::fromLatin1(sample)) + padding);
    };
    minimumWidths_[kName] = 200;
    idealWidths_[kName] = 340;
    minimumWidths_[FolderTableModel::modifiedColumn] = 120;
    idealWidths_[FolderTableModel::modifiedColumn] = fitting("Sep 28, 2026 at 12:59 PM", 180);
    minimumWidths_[FolderTableModel::sizeColumn] = 60;
    idealWidths_[FolderTableModel::sizeColumn] = fitting("1023.9 MB", 80);
    minimumWidths_[FolderTableModel::kindColumn] = 70;
    idealWidths_[FolderTableModel::kindColumn] = fitting("PowerPoint 2007 presentation", 110);

    QHeaderView* header = table_->horizontalHeader();
    for (int column = 0; column < kColumns; ++column)
        header->resizeSection(column, idealWidths_[size_t(column)]);
    header->setStretchLastSection(false);
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        // A column the user dragged keeps its width; "Name" goes on taking what is left.
        if (fitting_ || column == kName || column < 0 || column >= kColumns)
            return;
        idealWidths_[size_t(column)] = width;
        fit();
    });
    table_->viewport()->installEventFilter(this);
}

void FolderColumnFitter::fit() {
    if (fitting_)
        return;
    fitting_ = true;
    const int available = table_->viewport()->width();
    std::array<int, 4> widths = idealWidths_;
    int others = 0;
    int slack = 0;
    for (int column = 0; column < kColumns; ++column) {
        if (column == kName)
            continue;
        widths[size_t(column)] = std::max(widths[size_t(column)], minimumWidths_[size_t(column)]);
        others += widths[size_t(column)];
        slack += widths[size_t(column)] - minimumWidths_[size_t(column)];
    }
    const int missing = minimumWidths_[kName] - (available - others);
    if (missing > 0 && slack > 0) {
        const int cut = std::min(missing, slack);
        int given = 0;
        for (int column = 0; column < kColumns; ++column) {
            if (column == kName)
                continue;
            const int spare = widths[size_t(column)] - minimumWidths_[size_t(column)];
            const int share = int(qint64(cut) * spare / slack);
            widths[size_t(column)] -= share;
            given += share;
        }
        // What rounding left over comes off the last column that still has room.
        for (int column = kColumns - 1; column >= 0 && given < cut; --column) {
            if (column == kName)
                continue;
            const int spare = widths[size_t(column)] - minimumWidths_[size_t(column)];
            const int share = std::min(spare, cut - given);
            widths[size_t(column)] -= share;
            given += share;
        }
        others -= given;
    }
    widths[kName] = std::max(minimumWidths_[kName], available - others);
    QHeaderView* header = table_->horizontalHeader();
    for (int column = 0; column < kColumns; ++column)
        header->resizeSection(column, widths[size_t(column)]);
    fitting_ = false;
}

bool FolderColumnFitter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport_ && event->type() == QEvent::Resize)
        fit();
    return QObject::eventFilter(watched, event);
}

} // namespace tw
