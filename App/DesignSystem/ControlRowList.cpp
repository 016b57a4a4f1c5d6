#include "App/DesignSystem/ControlRowList.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace tw {

namespace {

RowControls* controlsOf(const QAbstractItemView* view) {
    return view ? dynamic_cast<RowControls*>(view->itemDelegate()) : nullptr;
}

QRect globalRect(const QAbstractItemView* view, const QRect& viewportRect) {
    return QRect(view->viewport()->mapToGlobal(viewportRect.topLeft()), viewportRect.size());
}

class RowAccessible;

/// One control drawn in a row. It reads its name and place from the delegate each time, so
/// it follows the row's state (a stop button that became a retry button is renamed).
class ControlAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ControlAccessible(RowAccessible* row, int position) : row_(row), position_(position) {}

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override {
        return current().opensMenu ? QAccessible::ButtonMenu : QAccessible::PushButton;
    }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    RowControls::Control current() const;

    RowAccessible* row_; // owns this control
    int position_;
};

/// One row of the list: a list item named and described by the model, whose children are
/// the controls its delegate draws.
class RowAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    RowAccessible(QListView* view, const QModelIndex& index) : view_(view), index_(index) {}
    ~RowAccessible() override {
        for (QAccessible::Id id : std::as_const(controls_))
            QAccessible::deleteAccessibleInterface(id);
    }

    QListView* view() const { return view_; }
    QModelIndex index() const { return index_; }
    QList<RowControls::Control> controls() const {
        const RowControls* delegate = controlsOf(view_);
        return delegate && isValid() ? delegate->rowControls(view_, index_) : QList<RowControls::Control>{};
    }
    bool press(int position) const {
        RowControls* delegate = controlsOf(view_);
        // A plain index: the press may change the model under the persistent one.
        const QModelIndex index = index_;
        return delegate && isValid() && delegate->pressRowControl(view_, index, position);
    }

    bool isValid() const override { return view_ && index_.isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return view_ ? view_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QList<RowControls::Control> all = controls();
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (globalRect(view_, all[i].rect).contains(x, y))
                return child(int(i));
        }
        return nullptr;
    }
    QAccessibleInterface* parent() const override {
        return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
    }
    QAccessibleInterface* child(int position) const override {
        if (position < 0 || position >= childCount())
            return nullptr;
        while (controls_.size() <= position) {
            auto* control = new ControlAccessible(const_cast<RowAccessible*>(this),
                                                  int(controls_.size()));
            controls_.append(QAccessible::registerAccessibleInterface(control));
        }
        return QAccessible::accessibleInterface(controls_[position]);
    }
    int childCount() const override { return int(controls().size()); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (qsizetype i = 0; i < controls_.size(); ++i) {
            if (QAccessible::accessibleInterface(controls_[i]) == child)
                return i < childCount() ? int(i) : -1;
        }
        return -1;
    }
    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name: {
            const QString name = index_.data(Qt::AccessibleTextRole).toString();
            return name.isEmpty() ? index_.data(Qt::DisplayRole).toString() : name;
        }
        case QAccessible::Description:
        case QAccessible::Value:
            return index_.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        return isValid() ? globalRect(view_, view_->visualRect(index_)) : QRect();
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.selectable = view_->selectionMode() != QAbstractItemView::NoSelection;
        state.selected = isSelected();
        state.focused = view_->hasFocus() && view_->currentIndex() == index_;
        state.active = state.focused;
        if (!view_->viewport()->rect().intersects(view_->visualRect(index_)))
            state.offscreen = true;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override {
        return isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(index_);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return index_.row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<QListView> view_;
    QPersistentModelIndex index_;
    mutable QList<QAccessible::Id> controls_; // by position, made when first asked for
};

bool ControlAccessible::isValid() const {
    return row_->isValid() && position_ < row_->childCount();
}

QWindow* ControlAccessible::window() const { return row_->window(); }

QAccessibleInterface* ControlAccessible::parent() const { return row_; }

RowControls::Control ControlAccessible::current() const {
    const QList<RowControls::Control> all = row_->controls();
    return position_ < all.size() ? all[position_] : RowControls::Control{};
}

QString ControlAccessible::text(QAccessible::Text t) const {
    switch (t) {
    case QAccessible::Name:
        return current().name;
    case QAccessible::Description:
        return current().description;
    default:
        return {};
    }
}

QRect ControlAccessible::rect() const {
    const QRect drawn = current().rect;
    return drawn.isNull() || !row_->view() ? QRect() : globalRect(row_->view(), drawn);
}

QAccessible::State ControlAccessible::state() const {
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    state.hasPopup = current().opensMenu;
    state.offscreen = row_->state().offscreen;
    return state;
}

QStringList ControlAccessible::actionNames() const {
    if (!isValid())
        return {};
    if (current().opensMenu)
        return {showMenuAction(), pressAction()};
    return {pressAction()};
}

void ControlAccessible::doAction(const QString& actionName) {
    if (actionNames().contains(actionName))
        row_->press(position_);
}

/// The list: its children are its rows, which it also offers as a one-column table (what
/// Qt's own item views do), so the focus and selection events of QListView, which name the
/// row, reach the right child.
class ListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListAccessible(QListView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~ListAccessible() override {
        for (QAccessible::Id id : std::as_const(rows_))
            QAccessible::deleteAccessibleInterface(id);
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override {
        const QListView* list = view();
        return list->model() ? list->model()->rowCount(list->rootIndex()) : 0;
    }
    QAccessibleInterface* child(int position) const override { return row(position); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* row = dynamic_cast<const RowAccessible*>(child);
        return row && row->view() == view() && row->isValid() ? row->rowIndex() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QListView* list = view();
        const QModelIndex index = list->indexAt(list->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() && index.parent() == list->rootIndex() ? row(index.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QListView* list = view();
        const QModelIndex current = list->currentIndex();
        if (list->hasFocus() && current.isValid() && current.parent() == list->rootIndex())
            return row(current.row());
        return nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int r, int column) const override {
        return column == 0 ? row(r) : nullptr;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (int r : selectedRows())
            cells.append(row(r));
        return cells;
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (const QItemSelectionModel* selection = view()->selectionModel()) {
            for (const QModelIndex& index : selection->selectedRows())
                rows.append(index.row());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int r) const override {
        const QListView* list = view();
        return list->selectionModel() && list->selectionModel()->isRowSelected(r, list->rootIndex());
    }
    bool selectRow(int r) override { return select(r, QItemSelectionModel::Select); }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int r) override { return select(r, QItemSelectionModel::Deselect); }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override { rekey(); }

private:
    QListView* view() const { return static_cast<QListView*>(widget()); }

    bool select(int r, QItemSelectionModel::SelectionFlags how) {
        QListView* list = view();
        if (list->selectionMode() == QAbstractItemView::NoSelection || !list->selectionModel() ||
            r < 0 || r >= rowCount())
            return false;
        const QModelIndex index = list->model()->index(r, 0, list->rootIndex());
        if (list->selectionMode() == QAbstractItemView::SingleSelection &&
            how == QItemSelectionModel::Select)
            how = QItemSelectionModel::ClearAndSelect;
        list->selectionModel()->select(index, how);
        return true;
    }

    /// The row's interface, made when first asked for and kept while the row lives.
    QAccessibleInterface* row(int r) const {
        if (r < 0 || r >= childCount())
            return nullptr;
        if (auto* known = knownRow(r))
            return known;
        // Rows moved or went away since: key the live ones by their rows again.
        rekey();
        if (auto* known = knownRow(r))
            return known;
        QListView* list = view();
        auto* made = new RowAccessible(list, list->model()->index(r, 0, list->rootIndex()));
        rows_.insert(r, QAccessible::registerAccessibleInterface(made));
        return made;
    }
    RowAccessible* knownRow(int r) const {
        const auto found = rows_.constFind(r);
        if (found == rows_.cend())
            return nullptr;
        auto* known = static_cast<RowAccessible*>(QAccessible::accessibleInterface(*found));
        return known && live(known) && known->rowIndex() == r ? known : nullptr;
    }
    bool live(const RowAccessible* row) const {
        const QListView* list = view();
        return row->isValid() && row->index().model() == list->model() &&
               row->index().parent() == list->rootIndex();
    }
    void rekey() const {
        QHash<int, QAccessible::Id> next;
        for (QAccessible::Id id : std::as_const(rows_)) {
            auto* known = static_cast<RowAccessible*>(QAccessible::accessibleInterface(id));
            if (!known)
                continue;
            if (live(known) && !next.contains(known->rowIndex()))
                next.insert(known->rowIndex(), id);
            else
                QAccessible::deleteAccessibleInterface(id);
        }
        rows_ = std::move(next);
    }

    mutable QHash<int, QAccessible::Id> rows_; // row → its interface
};

QAccessibleInterface* accessibleFor(const QString& key, QObject* object) {
    if (key == QLatin1String(ControlRowList::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new ListAccessible(static_cast<ControlRowList*>(object));
    return nullptr;
}

} // namespace

ControlRowList::ControlRowList(QWidget* parent) : QListView(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(&accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace tw
