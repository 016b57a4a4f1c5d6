#pragma once

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class QLabel;
class QListWidget;
class QStackedWidget;
class QToolButton;

namespace tw {

class AccountDetail;
class AppModel;
struct StorageAccount;

/// The settings window's Accounts tab: the accounts on the left with buttons to connect and
/// disconnect, the selected account's details on the right.
class AccountsSettings : public QWidget {
    Q_OBJECT
public:
    explicit AccountsSettings(AppModel& model, QWidget* parent = nullptr);

    const std::optional<QUuid>& selection() const { return selection_; }
    void select(const std::optional<QUuid>& id);
    AccountDetail* detail() const { return detail_; }

    /// Asks to confirm, then disconnects the account.
    void confirmDisconnect(const StorageAccount& account);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildList();
    void showDetail();

    AppModel& model_;
    std::optional<QUuid> selection_;
    QListWidget* list_;
    QToolButton* minus_;
    QStackedWidget* stack_;
    QLabel* emptyDescription_;
    QPointer<AccountDetail> detail_;
    bool rebuilding_ = false;
};

} // namespace tw
