#pragma once

#include "StorageCore/Domain/StorageError.h"

#include <QWidget>

#include <optional>

class QBoxLayout;
class QLabel;
class QPushButton;

namespace tw {

class BusyIndicator;

/// What stands in for content that cannot be shown: an empty pane, no matching files, a
/// failure with its recovery, or a spinner while the first content loads. The one view for
/// every such state in the application.
///
/// Two shapes: a pane (a large symbol above a bold title, the description and a centred row
/// of buttons, all centred in the space it is given) and a row (a small symbol beside the
/// title and the description, its buttons at the end), for a failure inside a form. Texts are
/// plain text. Children by name: "stateSymbol" (its "symbol" property is the symbol's name),
/// "stateTitle", "stateDescription", "stateSpinner" and "stateRecovery".
class ContentUnavailableView : public QWidget {
    Q_OBJECT
public:
    enum class Shape { pane, row };

    explicit ContentUnavailableView(Shape shape = Shape::pane, QWidget* parent = nullptr);
    ContentUnavailableView(const QString& symbol, const QString& title, const QString& description,
                           QWidget* parent = nullptr);

    /// The symbol by name; icon, when given, is drawn for it instead of the application's
    /// own symbol of that name. An empty name shows none.
    void setSymbol(const QString& symbol);
    void setTitle(const QString& title);
    void setDescription(const QString& description);
    /// A symbol (drawn with icon when given), a title and a description (empty ones are not
    /// shown), without buttons.
    void showMessage(const QString& symbol, const QString& title, const QString& description);
    /// Adds a button to the row of buttons; the next message, failure or spinner removes it.
    QPushButton* addButton(const QString& text, const QString& objectName);

    /// A spinner, with label under it when given ("Searching…").
    void showSpinner(const QString& label = {});
    bool isSpinning() const;

    /// A failure: in a pane "wifi.slash" when offline, else a warning triangle; in a row
    /// always an orange filled warning triangle; the presentation's title and message; and, when the error offers a recovery and recoveries are offered, its
    /// "Reconnect" or "Try Again" button, which emits recover().
    void showError(const StorageError& error);
    /// Whether failures offer their recovery (true unless set otherwise).
    void setOffersRecovery(bool offers) { offersRecovery_ = offers; }
    /// The recovery button, shown while the failure shown offers its recovery.
    QPushButton* recoveryButton() const { return recovery_; }

    QString symbol() const;
    QString title() const;
    QString description() const;

Q_SIGNALS:
    void recover(RecoveryAction action);

private:
    void clearButtons();

    const Shape shape_;
    bool offersRecovery_ = true;
    BusyIndicator* spinner_;
    QLabel* symbol_;
    QLabel* title_;
    QLabel* description_;
    QWidget* buttons_;
    QBoxLayout* buttonRow_;
    QPushButton* recovery_;
    std::optional<RecoveryAction> recoveryAction_;
};

} // namespace tw
