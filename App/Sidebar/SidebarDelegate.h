#pragma once

#include <QStyledItemDelegate>

namespace tw {

class SidebarModel;

/// Paints the sidebar's rows: section headers, "Home" and "Smart Upload" (with its animated
/// arrow and badge while uploads run) and account rows (avatar, alias, e-mail address
/// shortened in the middle, and the trailing badge).
class SidebarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit SidebarDelegate(const SidebarModel& model, QObject* parent = nullptr);

    /// The upload arrow's animation phase (0 to 1).
    void setPhase(double phase) { phase_ = phase; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const SidebarModel& model_;
    double phase_ = 0.5;
};

} // namespace tw
