#pragma once

#include <QListView>

namespace tw {

/// The controls that a list's delegate draws inside each row (buttons, a pull-down menu),
/// described for assistive technologies. The delegate of a ControlRowList implements it, so
/// each drawn control becomes an accessible object of its own.
class RowControls {
public:
    struct Control {
        QString name;        ///< what the control is called ("Remove a.pdf")
        QString description; ///< its help tip
        QRect rect;          ///< where it is drawn, in the view's viewport
        bool opensMenu = false;
    };

    virtual ~RowControls() = default;
    /// The controls of index's row in view, leading to trailing.
    virtual QList<Control> rowControls(const QAbstractItemView* view,
                                       const QModelIndex& index) const = 0;
    /// Presses control (a position in rowControls) of index's row as a click on it does;
    /// false when the row has no such control.
    virtual bool pressRowControl(QAbstractItemView* view, const QModelIndex& index,
                                 int control) = 0;
};

/// A list whose rows carry controls drawn by a RowControls delegate. Assistive technologies
/// see a list of rows, each named and described by the model's Qt::AccessibleTextRole and
/// Qt::AccessibleDescriptionRole (the description is the row's value too), whose children
/// are the row's controls: push buttons (a pull-down button for a menu) whose press action
/// does what a click does.
class ControlRowList : public QListView {
    Q_OBJECT
public:
    explicit ControlRowList(QWidget* parent = nullptr);
};

} // namespace tw
