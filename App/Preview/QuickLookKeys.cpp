#include "App/Preview/QuickLookKeys.h"

#include "App/Preview/QuickLook.h"
#include "App/Preview/QuickLookPanel.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>

namespace tw {

namespace {

const char* const searchFieldProperty = "tw_searchField";

bool isSearchField(const QLineEdit* field) {
    return field->property(searchFieldProperty).toBool() ||
           field->objectName().contains(QStringLiteral("search"), Qt::CaseInsensitive);
}

bool isTextObject(QWidget* focus) {
    return qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) ||
           qobject_cast<QPlainTextEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus);
}

} // namespace

QuickLookKeys* QuickLookKeys::install(QAbstractItemView* table, QuickLook& quickLook,
                                      std::function<bool()> onSpace) {
    return new QuickLookKeys(table, quickLook, std::move(onSpace));
}

QuickLookKeys::QuickLookKeys(QAbstractItemView* table, QuickLook& quickLook,
                             std::function<bool()> onSpace)
    : QObject(table), table_(table), quickLook_(quickLook), onSpace_(std::move(onSpace)) {
    qApp->installEventFilter(this);
    QTimer::singleShot(focusDelayMs, this, &QuickLookKeys::moveFocusFromIdleSearch);
}

void QuickLookKeys::markSearchField(QLineEdit* field) {
    field->setProperty(searchFieldProperty, true);
}

QLineEdit* QuickLookKeys::idleSearchField(QWidget* window) {
    if (!window)
        return nullptr;
    auto* field = qobject_cast<QLineEdit*>(window->focusWidget());
    if (field && field->hasFocus() && isSearchField(field) && field->text().isEmpty())
        return field;
    return nullptr;
}

QAbstractItemView* QuickLookKeys::firstVisibleTable(QWidget* root) {
    if (!root)
        return nullptr;
    for (QObject* child : root->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isHidden() || widget->isWindow())
            continue;
        if (auto* view = qobject_cast<QAbstractItemView*>(widget))
            return view;
        if (QAbstractItemView* below = firstVisibleTable(widget))
            return below;
    }
    return nullptr;
}

void QuickLookKeys::moveFocusFromIdleSearch() {
    if (!table_ || !table_->window())
        return;
    QWidget* window = table_->window();
    if (!idleSearchField(window))
        return;
    if (QAbstractItemView* first = firstVisibleTable(window))
        first->setFocus(Qt::OtherFocusReason);
}

bool QuickLookKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !table_ || !table_->isVisible() ||
        !watched->isWidgetType())
        return false;
    QWidget* window = table_->window();
    if (static_cast<QWidget*>(watched)->window() != window)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    QLineEdit* idle = idleSearchField(window);
    const bool fromSearch = idle != nullptr;
    QWidget* focus = QApplication::focusWidget();
    if (focus && isTextObject(focus) && !fromSearch)
        return false;
    switch (key->key()) {
    case Qt::Key_Escape:
        if (quickLook_.isPanelVisible()) {
            quickLook_.close();
            return true;
        }
        return false;
    case Qt::Key_Space: {
        if (key->isAutoRepeat())
            return quickLook_.isPanelVisible();
        const bool handled = onSpace_ && onSpace_();
        if (fromSearch && handled) {
            if (QAbstractItemView* first = firstVisibleTable(window))
                first->setFocus(Qt::OtherFocusReason);
        }
        qCInfo(lcQuickLook, "Space pressed; handled: %d; from search field: %d; panel visible: %d",
               int(handled), int(fromSearch), int(quickLook_.isPanelVisible()));
        return handled;
    }
    default:
        return false;
    }
}

} // namespace tw
