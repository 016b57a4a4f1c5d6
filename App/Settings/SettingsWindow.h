#pragma once

#include <QWidget>

class QTabWidget;

namespace tw {

class AppModel;

/// The settings window: "Accounts", "General" and "Privacy" tabs in a fixed 600 × 500
/// window. One instance, owned by the application's presenter.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(AppModel& model, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }

private:
    QTabWidget* tabs_;
};

} // namespace tw
