#pragma once

#include "StorageCore/Domain/StorageError.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace tw {

class ContentUnavailableView;

/// A whole pane given to one failure: a large symbol ("wifi.slash" when offline), the error's
/// title and message, and "Try Again" or "Reconnect" when the error offers a recovery.
class StorageErrorView : public QWidget {
    Q_OBJECT
public:
    explicit StorageErrorView(QWidget* parent = nullptr);
    void setError(const StorageError& error);
    QPushButton* recoveryButton() const { return button_; }

Q_SIGNALS:
    void recover(RecoveryAction action);

private:
    ContentUnavailableView* content_;
    QPushButton* button_;
    std::optional<RecoveryAction> recovery_;
};

/// One row of a form telling of a failure: a warning symbol, the title above the message,
/// and, only when recoverable is set and the error offers one, its recovery button.
class InlineErrorView : public QWidget {
    Q_OBJECT
public:
    explicit InlineErrorView(bool recoverable, QWidget* parent = nullptr);
    void setError(const StorageError& error);
    QPushButton* recoveryButton() const { return button_; }

Q_SIGNALS:
    void recover(RecoveryAction action);

private:
    bool recoverable_;
    QLabel* title_;
    QLabel* message_;
    QPushButton* button_;
    std::optional<RecoveryAction> recovery_;
};

/// The empty state of a pane: a large symbol, a title, a description and room for buttons.
class ContentUnavailableView : public QWidget {
    Q_OBJECT
public:
    ContentUnavailableView(const QString& symbol, const QString& title, const QString& description,
                           QWidget* parent = nullptr);
    /// Adds a button to the row under the description.
    QPushButton* addButton(const QString& text, const QString& objectName);
    void setSymbol(const QString& symbol);
    void setTitle(const QString& title);
    void setDescription(const QString& description);

private:
    QLabel* symbol_;
    QLabel* title_;
    QLabel* description_;
    QWidget* buttons_;
};

} // namespace tw
