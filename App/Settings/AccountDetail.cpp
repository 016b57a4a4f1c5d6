#include "App/Settings/AccountDetail.h"

#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/Format.h"
#include "App/DesignSystem/UsageMeter.h"

#include "App/Model/AppModel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

namespace {

QLabel* plainLabel(QWidget* parent, const QString& text = {}) {
    return DisplayText::label(text, parent);
}

} // namespace

AccountDetail::AccountDetail(AppModel& model, const StorageAccount& account, QWidget* parent)
    : QWidget(parent), model_(model), account_(account) {
    setObjectName(QStringLiteral("accountDetail"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 0, 0, 0);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);

    name_ = new QLineEdit(account.alias, this);
    name_->setObjectName(QStringLiteral("accountName"));
    name_->setAccessibleName(QStringLiteral("Name"));
    form->addRow(QStringLiteral("Name"), name_);
    const bool telegram = account.provider == ProviderKind::telegram;
    form->addRow(QStringLiteral("Service"),
                 plainLabel(this, telegram ? QStringLiteral("Telegram") : QStringLiteral("Google Drive")));
    auto* email = new ElidedLabel(account.email, Qt::ElideRight, this);
    email->setObjectName(QStringLiteral("accountEmail"));
    form->addRow(QStringLiteral("Account"), email);
    status_ = plainLabel(this);
    status_->setObjectName(QStringLiteral("accountStatus"));
    form->addRow(QStringLiteral("Status"), status_);

    auto* storage = new QWidget(this);
    auto* storageLayout = new QVBoxLayout(storage);
    storageLayout->setContentsMargins(0, 0, 0, 0);
    storageLayout->setSpacing(4);
    storage_ = plainLabel(storage);
    storage_->setObjectName(QStringLiteral("accountStorage"));
    storageLayout->addWidget(storage_);
    meter_ = new UsageMeter(storage);
    meter_->setFixedWidth(180);
    meter_->setVisible(!telegram);
    storageLayout->addWidget(meter_);
    form->addRow(QStringLiteral("Storage"), storage);
    layout->addLayout(form);

    telegramNote_ = plainLabel(this, QStringLiteral("Files in Telegram's cloud chats aren't "
                                                    "end-to-end encrypted. Telegram can read them."));
    telegramNote_->setWordWrap(true);
    QFont caption = telegramNote_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    telegramNote_->setFont(caption);
    telegramNote_->setForegroundRole(QPalette::PlaceholderText);
    telegramNote_->setVisible(telegram);
    layout->addWidget(telegramNote_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 8, 0, 0);
    reconnect_ = new QPushButton(this);
    reconnect_->setObjectName(QStringLiteral("accountReconnect"));
    reconnect_->setAutoDefault(false);
    buttons->addWidget(reconnect_);
    auto* disconnect = new QPushButton(QStringLiteral("Disconnect\u2026"), this);
    disconnect->setObjectName(QStringLiteral("accountDisconnect"));
    disconnect->setAutoDefault(false);
    buttons->addWidget(disconnect);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addStretch(1);

    connect(name_, &QLineEdit::returnPressed, this, &AccountDetail::commit);
    connect(reconnect_, &QPushButton::clicked, this, [this] { model_.reconnect(account_.id); });
    connect(disconnect, &QPushButton::clicked, this, &AccountDetail::disconnectRequested);
    refresh();
}

void AccountDetail::setAccount(const StorageAccount& account) {
    account_ = account;
    refresh();
}

void AccountDetail::refresh() {
    const bool expired = account_.status == StorageAccount::Status::reauthRequired;
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText,
                     expired ? DS::failureColor() : this->palette().color(QPalette::WindowText));
    status_->setPalette(palette);
    status_->setText(expired ? QStringLiteral("\u26a0 Sign-in expired") : QStringLiteral("Connected"));
    reconnect_->setText(expired ? QStringLiteral("Reconnect\u2026") : QStringLiteral("Sign In Again\u2026"));
    if (account_.provider == ProviderKind::telegram) {
        const qint64 limit = *ProviderKinds::capabilities(ProviderKind::telegram).maxFileSize;
        storage_->setText(QStringLiteral("\u221e No storage limit \u00b7 up to ") +
                          formatFileByteCount(limit) + QStringLiteral(" per file"));
    } else {
        storage_->setText(Format::usage(account_.quota));
        meter_->setQuota(account_.quota, DS::AccountPalette::color(account_.colorIndex));
    }
}

void AccountDetail::commit() {
    const QString trimmed = name_->text().trimmed();
    if (!trimmed.isEmpty() && trimmed != account_.alias) {
        // Once: a second commit (Return, then leaving) must not rename again.
        account_.alias = trimmed;
        model_.rename(account_.id, trimmed);
        return;
    }
    name_->setText(account_.alias);
}

void AccountDetail::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    commit();
}

} // namespace tw
