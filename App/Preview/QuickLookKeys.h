#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QAbstractItemView;
class QLineEdit;
class QWidget;

namespace tw {

class QuickLook;

/// The quick-look keys of a file table, for the table's own window: Space (no modifier, not
/// while text is typed) calls onSpace and is taken when onSpace says it acted; a held Space
/// is swallowed only while the panel is visible; Escape closes a visible panel. An empty
/// search field of the window (a line edit marked with markSearchField(), or whose object
/// name contains "search") does not keep Space from the table: Space pressed there acts on
/// the table and moves the focus to it, and 0.4 s after installing, such a field that took
/// the focus when the window opened hands it to the table.
class QuickLookKeys : public QObject {
    Q_OBJECT
public:
    /// The delay of the first focus move.
    static constexpr int focusDelayMs = 400;

    /// Installs the keys for the table; they go away with it.
    static QuickLookKeys* install(QAbstractItemView* table, QuickLook& quickLook,
                                  std::function<bool()> onSpace);
    /// Marks a line edit as its window's search field.
    static void markSearchField(QLineEdit* field);
    /// The window's search field when it has the focus and is empty; else null.
    static QLineEdit* idleSearchField(QWidget* window);
    /// Depth-first, the first item view under root that is not hidden.
    static QAbstractItemView* firstVisibleTable(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QuickLookKeys(QAbstractItemView* table, QuickLook& quickLook, std::function<bool()> onSpace);
    void moveFocusFromIdleSearch();

    QPointer<QAbstractItemView> table_;
    QuickLook& quickLook_;
    std::function<bool()> onSpace_;
};

} // namespace tw
