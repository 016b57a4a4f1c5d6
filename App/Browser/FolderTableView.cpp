#include "App/Browser/FolderTableView.h"

#include "App/DesignSystem/LocalFileDrop.h"

#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace tw {

namespace {

/// Rows are selected whole: no cell draws a focus frame of its own. Names are cut in the
/// middle (the extension stays readable); the other columns at the end.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
        if (index.column() > 0)
            option->textElideMode = Qt::ElideRight;
    }
};

} // namespace

FolderTableView::FolderTableView(QWidget* parent) : QTableView(parent) {
    setObjectName(QStringLiteral("folderTable"));
    setAccessibleName(QStringLiteral("Files"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setShowGrid(false);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the next control instead of walking its cells.
    setTabKeyNavigation(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIconSize(QSize(16, 16));
    setFrameShape(QFrame::NoFrame);
    setItemDelegate(new RowDelegate(this));
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 8);
    rows->setMinimumSectionSize(fontMetrics().height() + 4);

    QHeaderView* columns = horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setHighlightSections(false);
    columns->setSortIndicatorShown(false);
    columns->setMinimumSectionSize(60);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void FolderTableView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // The context menu acts on the clicked row or on the selection it belongs to: a
        // right click changes no selection.
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void FolderTableView::dragEnterEvent(QDragEnterEvent* event) {
    if (LocalFileDrop::accept(event).isEmpty())
        return;
    const int row = indexAt(event->position().toPoint()).row();
    setDropRow(row);
    Q_EMIT dragHovered(true, row);
}

void FolderTableView::dragMoveEvent(QDragMoveEvent* event) {
    if (LocalFileDrop::accept(event).isEmpty())
        return;
    const int row = indexAt(event->position().toPoint()).row();
    if (row != dropRow_) {
        setDropRow(row);
        Q_EMIT dragHovered(true, row);
    }
}

void FolderTableView::dragLeaveEvent(QDragLeaveEvent* event) {
    event->accept();
    setDropRow(-1);
    Q_EMIT dragHovered(false, -1);
}

void FolderTableView::dropEvent(QDropEvent* event) {
    const int row = indexAt(event->position().toPoint()).row();
    setDropRow(-1);
    Q_EMIT dragHovered(false, -1);
    const QList<QUrl> files = LocalFileDrop::accept(event);
    if (!files.isEmpty())
        Q_EMIT filesDropped(files, row);
}

void FolderTableView::setDropRow(int row) {
    if (row >= 0 && !(highlightsDropOn && highlightsDropOn(row)))
        row = -1;
    if (row == dropRow_)
        return;
    dropRow_ = row;
    viewport()->update();
}

void FolderTableView::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (dropRow_ < 0 || !model() || dropRow_ >= model()->rowCount())
        return;
    const QRect first = visualRect(model()->index(dropRow_, 0));
    const QRect row(0, first.top(), viewport()->width(), first.height());
    QPainter p(viewport());
    p.setRenderHint(QPainter::Antialiasing);
    QColor accent = palette().color(QPalette::Highlight);
    QColor fill = accent;
    fill.setAlphaF(0.12);
    p.setBrush(fill);
    p.setPen(QPen(accent, 2));
    p.drawRoundedRect(QRectF(row).adjusted(1, 1, -1, -1), 4, 4);
}

} // namespace tw
