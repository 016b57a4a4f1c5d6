#pragma once

#include <QWidget>

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

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString message_;
};

} // namespace tw
