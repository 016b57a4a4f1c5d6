#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QListView;
class QMenu;
class QToolButton;

namespace tw {

class AppModel;
class SidebarDelegate;
class SidebarModel;

/// The main window's sidebar: "Home", "Smart Upload" and the accounts grouped by service,
/// with a menu to connect another account below the list. Choosing a row sets the model's
/// selection, and the list follows every other change of it. Account rows have a context
/// menu to upload files, to reconnect an expired account and to manage accounts.
class Sidebar : public QWidget {
    Q_OBJECT
public:
    explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

    QListView* list() const { return list_; }
    SidebarModel* rows() const { return rows_; }
    QToolButton* connectButton() const { return connect_; }
    /// The context menu of a row (none for rows without one). The caller owns it.
    QMenu* menuForRow(int row, QWidget* parent = nullptr);

Q_SIGNALS:
    /// "Manage Accounts…": the settings window's accounts should be shown.
    void manageAccountsRequested();

private:
    void selectFromModel();
    void listSelectionChanged();
    void updateAnimation();
    void updateConnectEnabled();

    AppModel& model_;
    SidebarModel* rows_;
    SidebarDelegate* delegate_;
    QListView* list_;
    QToolButton* connect_;
    QTimer frames_;
    QElapsedTimer clock_;
    bool selecting_ = false;
};

} // namespace tw
