#include "App/Settings/AccountsSettings.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/SymbolIcons.h"

#include "App/Model/AppModel.h"
#include "App/Settings/AccountDetail.h"
#include "StorageCore/Accounts/AccountManager.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

namespace {

constexpr int kAccountRole = Qt::UserRole + 1;

QString serviceName(ProviderKind kind) {
    return kind == ProviderKind::telegram ? QStringLiteral("Telegram") : QStringLiteral("Google Drive");
}

/// One row of the list: the account's avatar, alias and e-mail.
QWidget* accountRow(const StorageAccount& account, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(8);
    layout->addWidget(new AccountIcon(account, 20, row));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto* alias = new ElidedLabel(account.alias, Qt::ElideRight, row);
    alias->setObjectName(QStringLiteral("accountsRowAlias"));
    texts->addWidget(alias);
    auto* email = new ElidedLabel(account.email, Qt::ElideRight, row);
    QFont caption = email->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    email->setFont(caption);
    email->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(email);
    layout->addLayout(texts, 1);
    return row;
}

} // namespace

AccountsSettings::AccountsSettings(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("accountsSettings"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(0);

    auto* column = new QWidget(this);
    column->setFixedWidth(200);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    list_ = new QListWidget(column);
    list_->setObjectName(QStringLiteral("accountsList"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Rows are as wide as the list; long names are shortened, never scrolled to.
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    columnLayout->addWidget(list_, 1);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 4, 0, 4);
    bar->setSpacing(0);
    auto* plus = new QToolButton(column);
    plus->setObjectName(QStringLiteral("accountsConnect"));
    plus->setIcon(SymbolIcons::icon(QStringLiteral("plus")));
    plus->setToolTip(QStringLiteral("Connect a storage"));
    plus->setAccessibleName(QStringLiteral("Connect Storage"));
    plus->setAutoRaise(true);
    plus->setPopupMode(QToolButton::InstantPopup);
    plus->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto* connectMenu = new QMenu(plus);
    QAction* google = connectMenu->addAction(QStringLiteral("Google Drive Account\u2026"));
    QAction* telegram = connectMenu->addAction(QStringLiteral("Telegram Account\u2026"));
    plus->setMenu(connectMenu);
    bar->addWidget(plus);
    auto* divider = new QFrame(column);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedHeight(14);
    bar->addWidget(divider);
    minus_ = new QToolButton(column);
    minus_->setObjectName(QStringLiteral("accountsDisconnect"));
    minus_->setIcon(SymbolIcons::icon(QStringLiteral("minus")));
    minus_->setToolTip(QStringLiteral("Disconnect the selected account"));
    minus_->setAccessibleName(QStringLiteral("Disconnect Account"));
    minus_->setAutoRaise(true);
    bar->addWidget(minus_);
    bar->addStretch(1);
    columnLayout->addLayout(bar);
    layout->addWidget(column);

    stack_ = new QStackedWidget(this);
    auto* empty = new QWidget(stack_);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch(1);
    auto* symbol = new QLabel(empty);
    SymbolIcons::setSymbol(symbol, QStringLiteral("person.crop.circle"), 40);
    symbol->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(symbol);
    auto* emptyTitle = new QLabel(QStringLiteral("No Account Selected"), empty);
    emptyTitle->setObjectName(QStringLiteral("accountsEmptyTitle"));
    QFont bold = emptyTitle->font();
    bold.setBold(true);
    emptyTitle->setFont(bold);
    emptyTitle->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyTitle);
    emptyDescription_ = new QLabel(empty);
    emptyDescription_->setObjectName(QStringLiteral("accountsEmptyDescription"));
    emptyDescription_->setAlignment(Qt::AlignCenter);
    emptyDescription_->setForegroundRole(QPalette::PlaceholderText);
    emptyLayout->addWidget(emptyDescription_);
    emptyLayout->addStretch(1);
    stack_->addWidget(empty);
    layout->addWidget(stack_, 1);

    connect(google, &QAction::triggered, this,
            [this] { model_.connectAccount(ProviderKind::googleDrive); });
    connect(telegram, &QAction::triggered, this,
            [this] { model_.connectAccount(ProviderKind::telegram); });
    connect(minus_, &QToolButton::clicked, this, [this] {
        if (!selection_)
            return;
        if (const auto account = model_.accounts()->account(*selection_))
            confirmDisconnect(*account);
    });
    connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (rebuilding_)
            return;
        select(item ? std::optional<QUuid>(item->data(kAccountRole).toUuid()) : std::nullopt);
    });
    connect(model.accounts(), &AccountManager::accountsChanged, this, &AccountsSettings::rebuildList);
    rebuildList();
}

void AccountsSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const auto& accounts = model_.accounts()->accounts();
    if (!selection_ && !accounts.isEmpty())
        select(accounts.first().id);
}

void AccountsSettings::select(const std::optional<QUuid>& id) {
    if (id == selection_ && (detail_ || !id))
        return;
    selection_ = id;
    rebuilding_ = true;
    list_->setCurrentItem(nullptr);
    for (int row = 0; row < list_->count(); ++row) {
        if (id && list_->item(row)->data(kAccountRole).toUuid() == *id)
            list_->setCurrentRow(row);
    }
    rebuilding_ = false;
    showDetail();
}

void AccountsSettings::rebuildList() {
    rebuilding_ = true;
    list_->clear();
    for (const StorageAccount& account : model_.accounts()->accounts()) {
        auto* item = new QListWidgetItem(list_);
        item->setData(kAccountRole, account.id);
        item->setData(Qt::AccessibleTextRole, account.alias);
        QWidget* row = accountRow(account, list_);
        item->setSizeHint(QSize(row->minimumSizeHint().width(), row->sizeHint().height()));
        list_->setItemWidget(item, row);
        if (selection_ == account.id)
            list_->setCurrentItem(item);
    }
    rebuilding_ = false;
    showDetail();
}

void AccountsSettings::showDetail() {
    const std::optional<StorageAccount> account =
        selection_ ? model_.accounts()->account(*selection_) : std::nullopt;
    minus_->setEnabled(account.has_value());
    if (detail_ && (!account || detail_->accountID() != account->id)) {
        // Leaving the detail commits its name to the account it showed.
        detail_->commit();
        stack_->removeWidget(detail_);
        detail_->deleteLater();
        detail_ = nullptr;
    }
    if (!account) {
        emptyDescription_->setText(model_.accounts()->accounts().isEmpty()
                                       ? QStringLiteral("Click + to connect a Google account.")
                                       : QStringLiteral("Select an account to see its details."));
        stack_->setCurrentIndex(0);
        return;
    }
    if (!detail_) {
        detail_ = new AccountDetail(model_, *account, stack_);
        connect(detail_, &AccountDetail::disconnectRequested, this, [this] {
            if (!detail_)
                return;
            if (const auto shown = model_.accounts()->account(detail_->accountID()))
                confirmDisconnect(*shown);
        });
        stack_->addWidget(detail_);
    } else {
        detail_->setAccount(*account);
    }
    stack_->setCurrentWidget(detail_);
}

void AccountsSettings::confirmDisconnect(const StorageAccount& account) {
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("disconnectConfirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    DisplayText::setMessage(
        box, QStringLiteral("Disconnect \u201c") + account.alias + QStringLiteral("\u201d?"),
        QStringLiteral("Your files stay in ") + serviceName(account.provider) +
            QStringLiteral(". Kelvanor removes ") + account.email +
            QStringLiteral(" and its sign-in from this computer."));
    QPushButton* disconnect = box->addButton(QStringLiteral("Disconnect"), QMessageBox::DestructiveRole);
    disconnect->setObjectName(QStringLiteral("disconnectConfirm"));
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    const QUuid id = account.id;
    QPointer<AccountsSettings> self(this);
    connect(box, &QMessageBox::buttonClicked, this, [this, disconnect, id, self](QAbstractButton* clicked) {
        if (clicked != disconnect)
            return;
        model_.disconnect(id, [self] {
            if (!self)
                return;
            const auto& left = self->model_.accounts()->accounts();
            self->select(left.isEmpty() ? std::nullopt : std::optional<QUuid>(left.first().id));
        });
    });
    box->open();
}

} // namespace tw
