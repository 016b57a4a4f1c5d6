#pragma once

#include <QPointer>
#include <QWidget>

class QAbstractAnimation;

namespace tw {

/// The dark capsule that confirms finished uploads: a green check mark and the message
/// ("Saved to Work › Reports", "Saved 3 files to Work"). Shows what it is given; the main
/// window places it over its content while the model holds a toast.
class UploadToastView : public QWidget {
    Q_OBJECT
public:
    explicit UploadToastView(QWidget* parent = nullptr);

    QString message() const { return message_; }
    /// Changes the text; assistive technologies hear of the change.
    void setMessage(const QString& message);

    /// Shows the toast where it stands: a hidden one slides and fades in; one that is fading
    /// out stops leaving and stays.
    void present();
    /// Fades the shown toast out and hides it at the end, unless presented again meanwhile.
    void dismiss();
    /// Fading out.
    bool isLeaving() const { return leaving_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    /// Stops the running slide or fade and shows the toast whole.
    void stopAnimation();

    QString message_;
    QPointer<QAbstractAnimation> animation_; // the one running, owned by this toast
    bool leaving_ = false;
};

} // namespace tw
