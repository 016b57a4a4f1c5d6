#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QUuid>

namespace tw {

class AppModel;

/// Opens and closes the main window's sheets and alerts from the model's state, one of each
/// at a time: the connecting sheet while a Google account is being connected, the Telegram
/// sign-in sheet while a Telegram one is, the naming sheet while an account waits for its
/// name; the error alert while an error is presented, then the notice alert. Closing an alert
/// or the naming sheet clears what the model held; nothing else closes them.
class WindowPresenter : public QObject {
    Q_OBJECT
public:
    enum class Sheet { none, naming, connecting, telegram };
    enum class Alert { none, error, notice };

    /// window: the parent of every sheet and alert.
    WindowPresenter(AppModel& model, QWidget* window, QObject* parent = nullptr);
    ~WindowPresenter() override;

    /// Whether the main view is up (after onboarding): only the Telegram sign-in sheet shows
    /// on the onboarding screen, which shows failures itself.
    void setMainShown(bool shown);

    /// The sheet and alert the state asks for.
    static Sheet wantedSheet(const AppModel& model, bool mainShown);
    static Alert wantedAlert(const AppModel& model, bool mainShown);

    Sheet sheetKind() const { return sheetKind_; }
    QDialog* sheet() const { return sheet_; }
    Alert alertKind() const { return alertKind_; }
    QMessageBox* alert() const { return alert_; }

    /// Brings what is shown up to date with the model (also run after every model change).
    void sync();

private:
    void syncSheet();
    void syncAlert();
    void closeSheet();
    void closeAlert();
    void openError();
    void openNotice();

    AppModel& model_;
    QPointer<QWidget> window_;
    bool mainShown_ = false;
    Sheet sheetKind_ = Sheet::none;
    QUuid sheetAccount_;
    QPointer<QDialog> sheet_;
    Alert alertKind_ = Alert::none;
    QUuid alertID_;
    QPointer<QMessageBox> alert_;
};

} // namespace tw
