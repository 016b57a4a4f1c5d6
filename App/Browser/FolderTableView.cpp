#include "App/Browser/FolderTableView.h"

#include "App/DesignSystem/LocalFileDrop.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <memory>

namespace tw {

namespace {

/// Rows are selected whole: no cell draws a focus frame of its own. Names are cut in the
/// middle (the extension stays readable); the other columns at the end.
///
/// A cell is painted as the style paints an item view's item (its panel, the icon, the text
/// in the same place and colours), but its text is laid out once per text and room and then
/// kept: the style lays the text out anew several times for each paint (its size for the
/// cell's layout, the elision, the drawing), which would be most of a repaint's time.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
        if (index.column() > 0)
            option->textElideMode = Qt::ElideRight;
    }

private:
    struct TextKey {
        QString text;
        int width = 0;
        int height = 0;
        int elideMode = 0;
        int alignment = 0;
        bool operator==(const TextKey&) const = default;
        friend size_t qHash(const TextKey& key, size_t seed = 0) {
            return qHashMulti(seed, key.text, key.width, key.height, key.elideMode,
                              key.alignment);
        }
    };
    /// A text as drawn in its room: elided when it does not fit, laid out, and how far below
    /// the room's top its line starts.
    struct LaidOutText {
        std::shared_ptr<const QTextLayout> layout;
        int top = 0;
    };
    const LaidOutText& laidOut(const QStyleOptionViewItem& option, const QRect& room) const;

    // About a few screens of distinct texts; emptied when full or when the font changes.
    static constexpr qsizetype kKeptTexts = 512;
    mutable QHash<TextKey, LaidOutText> texts_;
    mutable QFont font_;
};

/// Lays the text out on one line of the given width, as the style does for an item's text.
void layOutLine(QTextLayout& layout, const QTextOption& option, int width) {
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

const RowDelegate::LaidOutText& RowDelegate::laidOut(const QStyleOptionViewItem& option,
                                                     const QRect& room) const {
    if (option.font != font_) {
        texts_.clear();
        font_ = option.font;
    }
    TextKey key{option.text, room.width(), room.height(), int(option.textElideMode),
                int(option.displayAlignment)};
    if (const auto it = texts_.constFind(key); it != texts_.constEnd())
        return *it;
    if (texts_.size() >= kKeptTexts)
        texts_.clear();

    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, option.displayAlignment));
    auto layout = std::make_shared<QTextLayout>(option.text, option.font);
    layOutLine(*layout, textOption, room.width());
    // The line is centred on the room by its whole height, the text cut where it overflows.
    const QRect box = QStyle::alignedRect(Qt::LayoutDirectionAuto, option.displayAlignment,
                                          layout->boundingRect().size().toSize(), room);
    if (layout->lineCount() > 0 && layout->lineAt(0).naturalTextWidth() > room.width()) {
        layout = std::make_shared<QTextLayout>(
            QFontMetrics(option.font).elidedText(option.text, option.textElideMode, room.width()),
            option.font);
        layOutLine(*layout, textOption, room.width());
    }
    return *texts_.insert(std::move(key), LaidOutText{std::move(layout), box.top() - room.top()});
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // What these cells never show (a check box, several lines, right to left, a highlight
    // that leaves the icon out) is left to the style.
    if (opt.direction != Qt::LeftToRight || !opt.showDecorationSelected ||
        (opt.features & (QStyleOptionViewItem::HasCheckIndicator |
                         QStyleOptionViewItem::WrapText)) ||
        opt.text.contains(QChar::LineSeparator)) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }

    painter->save();
    painter->setClipRect(opt.rect, painter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const bool enabled = opt.state & QStyle::State_Enabled;
    const bool selected = opt.state & QStyle::State_Selected;
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &opt, widget) + 1;
    QRect textRoom = opt.rect;
    if ((opt.features & QStyleOptionViewItem::HasDecoration) && !opt.decorationSize.isEmpty()) {
        // The icon in a slot of its width and the margins, left of the text.
        const QRect slot(opt.rect.x(), opt.rect.y(), opt.decorationSize.width() + 2 * margin,
                         opt.rect.height());
        const QIcon::Mode mode = !enabled ? QIcon::Disabled
                                 : selected ? QIcon::Selected
                                            : QIcon::Normal;
        opt.icon.paint(painter,
                       QStyle::alignedRect(opt.direction, opt.decorationAlignment,
                                           opt.decorationSize, slot),
                       opt.decorationAlignment, mode,
                       opt.state & QStyle::State_Open ? QIcon::On : QIcon::Off);
        textRoom.setLeft(slot.right() + 1);
    }

    if (!opt.text.isEmpty()) {
        QPalette::ColorGroup group = enabled ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
            group = QPalette::Inactive;
        painter->setPen(
            opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect room = textRoom.adjusted(margin, 0, -margin, 0);
        const LaidOutText& text = laidOut(opt, room);
        text.layout->draw(painter, QPointF(room.x(), room.y() + text.top));
    }
    painter->restore();
}

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
