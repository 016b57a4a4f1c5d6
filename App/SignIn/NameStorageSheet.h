#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QToolButton;

namespace tw {

class AppModel;

/// A name field with a menu of ready-made names ("Personal", "Work", …); choosing one
/// replaces the whole text and does not submit.
class StorageNameField : public QWidget {
    Q_OBJECT
public:
    static const QStringList& suggestions();

    explicit StorageNameField(QWidget* parent = nullptr);
    QLineEdit* lineEdit() const { return edit_; }
    QToolButton* suggestionsButton() const { return menuButton_; }

private:
    QLineEdit* edit_;
    QToolButton* menuButton_;
};

/// Asks for the name of a newly connected account; Save renames it, opens it in the window
/// and closes the sheet. There is no Cancel: the account keeps the name it has if the window
/// closes the sheet otherwise.
class NameStorageSheet : public QDialog {
    Q_OBJECT
public:
    NameStorageSheet(AppModel& model, const StorageAccount& account, QWidget* parent = nullptr);

    const StorageAccount& account() const { return account_; }
    /// Whether Save may run: the name with blanks (spaces and tabs) trimmed is not empty.
    static bool canSave(const QString& name);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void save();

    AppModel& model_;
    StorageAccount account_;
    StorageNameField* field_;
    QPushButton* save_;
    bool saved_ = false;
};

} // namespace tw
