#pragma once

#include "TelegramProvider/TelegramLoginPresenter.h"

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tw {

class TelegramLoginCoordinator;

/// The sheet in which the user answers Telegram's sign-in questions: phone number, code,
/// two-step password. It shows the coordinator's current step and refused answer, hands one
/// line of text back through submit() and abandons the sign-in through cancel(). It cannot
/// be dismissed any other way: its presenter removes it when the connection attempt ends.
class TelegramLoginSheet : public QDialog {
    Q_OBJECT
public:
    explicit TelegramLoginSheet(TelegramLoginCoordinator* coordinator, QWidget* parent = nullptr);

    /// The title shown for a step (none: before Telegram has asked).
    static QString title(const std::optional<TelegramLoginStep>& step);
    /// The explanation under the title.
    static QString message(const std::optional<TelegramLoginStep>& step);
    /// The field's placeholder.
    static QString placeholder(const std::optional<TelegramLoginStep>& step);

    /// Escape: the same as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void submit();
    QString trimmedValue() const;

    TelegramLoginCoordinator* coordinator_;
    std::optional<TelegramLoginStep> shownStep_;
    QLabel* title_;
    QLabel* message_;
    QLineEdit* field_;
    QLabel* error_;
    QWidget* working_;
    QPushButton* cancel_;
    QPushButton* continue_;
};

} // namespace tw
