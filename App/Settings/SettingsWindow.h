#pragma once

#include <QWidget>

class QTabWidget;

namespace tw {

class AppModel;

/// The settings window: "Accounts", "General" and "Privacy" tabs in a fixed 600 × 500
/// window (smaller on a screen without the room), opened whole on screen over the window it
/// was asked from. One instance, owned by the application's presenter.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(AppModel& model, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }

    static constexpr QSize defaultSize{600, 500};

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTabWidget* tabs_;
    bool placed_ = false;
};

} // namespace tw
