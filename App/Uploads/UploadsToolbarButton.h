#pragma once

#include <QPointer>
#include <QToolButton>

class QTimer;

namespace tw {

class AppModel;
class UploadsPopover;

/// The toolbar button of the upload queue: a progress ring while anything is queued or
/// uploading, else a failure symbol while a job has failed, else the upload symbol. It opens
/// and closes the uploads popover through the model's isUploadsPopoverShown().
class UploadsToolbarButton : public QToolButton {
    Q_OBJECT
public:
    enum class Face { progress, failure, idle };

    explicit UploadsToolbarButton(AppModel& model, QWidget* parent = nullptr);
    ~UploadsToolbarButton() override;

    Face face() const { return face_; }
    UploadsPopover* popover() const { return popover_; }

    /// The ring's icon for a fraction from 0 to 1 (a 2 % stub shows while nothing is sent);
    /// phase moves its arrow (0…1).
    static QIcon progressRing(double progress, double phase, const QPalette& palette);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void syncPopover();

    AppModel& model_;
    QPointer<UploadsPopover> popover_;
    QTimer* animation_;
    double phase_ = 0;
    Face face_ = Face::idle;
};

} // namespace tw
