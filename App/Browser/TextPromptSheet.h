#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tw {

/// The small sheet that asks for one line of text (a name): a heading, a message, one field
/// filled with a starting value, "Cancel" (Escape) and a confirming button (Return). The
/// confirmed text is trimmed and never empty, and one confirmation calls onConfirm once.
class TextPromptSheet : public QDialog {
    Q_OBJECT
public:
    using OnConfirm = std::function<void(const QString&)>;

    TextPromptSheet(const QString& title, const QString& message, const QString& initialValue,
                    const QString& confirmTitle, OnConfirm onConfirm, QWidget* parent = nullptr);

    /// The field's text as it stands.
    QString value() const;
    /// Hands the trimmed text to onConfirm and closes the sheet; does nothing while the
    /// trimmed text is empty or once the sheet has confirmed.
    void confirm();

private:
    void updateConfirmEnabled();

    OnConfirm onConfirm_;
    QLineEdit* field_;
    QPushButton* confirmButton_;
    bool confirmed_ = false;
};

} // namespace tw
