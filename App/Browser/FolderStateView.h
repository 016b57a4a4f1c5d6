#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QHBoxLayout;
class QPushButton;

namespace tw {

class BusyIndicator;
class StorageError;
enum class RecoveryAction;

/// What fills a content area that has no table to show: a small spinner, or a symbol, a
/// title, a description and up to two buttons (an empty folder, no matching files, a failure
/// with its recovery). Texts are plain text.
class FolderStateView : public QWidget {
    Q_OBJECT
public:
    struct Button {
        QString objectName;
        QString title;
        std::function<void()> action;
    };

    explicit FolderStateView(QWidget* parent = nullptr);

    void showSpinner();
    void showMessage(const QString& symbol, const QString& title, const QString& description,
                     const QList<Button>& buttons = {});
    /// A failure: its presentation's title and message ("wifi.slash" for offline), and a
    /// "Reconnect" or "Try Again" button that passes the recovery on.
    void showError(const StorageError& error, std::function<void(RecoveryAction)> recover);

    QString title() const;
    QString description() const;

private:
    BusyIndicator* spinner_;
    QLabel* symbol_;
    QLabel* title_;
    QLabel* description_;
    QHBoxLayout* buttons_;
};

} // namespace tw
