#pragma once

#include <QDialog>

namespace tw {

class AppModel;

/// Stands in front of the window while a Google Drive sign-in runs in the browser. It cannot
/// be dismissed; Cancel (or Escape) cancels the sign-in, and the window takes the sheet down
/// once the model has stopped connecting.
class ConnectingSheet : public QDialog {
    Q_OBJECT
public:
    explicit ConnectingSheet(AppModel& model, QWidget* parent = nullptr);

    void reject() override;

protected:

private:
    AppModel& model_;
};

} // namespace tw
