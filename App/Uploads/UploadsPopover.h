#pragma once

#include <QFrame>

class QListView;
class QPushButton;

namespace tw {

class AppModel;
class UploadJobListModel;
class UploadRowDelegate;

/// The list of every upload job, newest first, with "Clear" for the finished ones. A popup
/// under the uploads toolbar button; whether it is open is the model's
/// isUploadsPopoverShown(), which it writes back when it closes.
class UploadsPopover : public QFrame {
    Q_OBJECT
public:
    UploadsPopover(AppModel& model, QWidget* parent = nullptr);

    /// Shows the popup with its top edge under anchor's bottom edge.
    void popUp(QWidget* anchor);

    QListView* list() const { return list_; }
    UploadRowDelegate* delegate() const { return delegate_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();

    AppModel& model_;
    UploadJobListModel* jobs_;
    UploadRowDelegate* delegate_;
    QListView* list_;
    QPushButton* clear_;
};

} // namespace tw
