#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tw {

class AppModel;
class UsageMeter;

/// The details of one account in the Accounts tab: its name (renamed on Return and when the
/// detail goes away), service, e-mail, status and storage, and the buttons to sign in again
/// and to disconnect.
class AccountDetail : public QWidget {
    Q_OBJECT
public:
    AccountDetail(AppModel& model, const StorageAccount& account, QWidget* parent = nullptr);

    QUuid accountID() const { return account_.id; }
    /// The account as the list now holds it; the Name field keeps what the user typed.
    void setAccount(const StorageAccount& account);
    /// Renames the account to the trimmed field text when that is new and not empty;
    /// otherwise puts the alias back into the field.
    void commit();

Q_SIGNALS:
    void disconnectRequested();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();

    AppModel& model_;
    StorageAccount account_;
    QLineEdit* name_;
    QLabel* status_;
    QLabel* storage_;
    UsageMeter* meter_;
    QLabel* telegramNote_;
    QPushButton* reconnect_;
};

} // namespace tw
