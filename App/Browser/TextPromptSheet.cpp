#include "App/Browser/TextPromptSheet.h"

#include "App/DesignSystem/SheetWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

TextPromptSheet::TextPromptSheet(const QString& title, const QString& message,
                                 const QString& initialValue, const QString& confirmTitle,
                                 OnConfirm onConfirm, QWidget* parent)
    : QDialog(parent), onConfirm_(std::move(onConfirm)) {
    setObjectName(QStringLiteral("textPromptSheet"));
    setWindowTitle(title);
    SheetWindow::prepare(*this, 360);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);

    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("textPromptTitle"));
    heading->setTextFormat(Qt::PlainText);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);
    layout->addWidget(heading);

    auto* body = new QLabel(message, this);
    body->setObjectName(QStringLiteral("textPromptMessage"));
    body->setTextFormat(Qt::PlainText);
    body->setWordWrap(true);
    body->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(body);

    field_ = new QLineEdit(initialValue, this);
    field_->setObjectName(QStringLiteral("textPromptField"));
    field_->setAccessibleName(QStringLiteral("Name"));
    field_->setPlaceholderText(QStringLiteral("Name"));
    field_->selectAll();
    layout->addWidget(field_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("textPromptCancel"));
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
    confirmButton_ = new QPushButton(confirmTitle, this);
    confirmButton_->setObjectName(QStringLiteral("textPromptConfirm"));
    confirmButton_->setDefault(true);
    buttons->addWidget(confirmButton_);
    layout->addLayout(buttons);

    // Return reaches the default button only (the field's own returnPressed stays
    // unconnected), so one Return is one confirmation.
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(confirmButton_, &QPushButton::clicked, this, &TextPromptSheet::confirm);
    connect(field_, &QLineEdit::textChanged, this, &TextPromptSheet::updateConfirmEnabled);
    updateConfirmEnabled();
    field_->setFocus();
}

QString TextPromptSheet::value() const {
    return field_->text();
}

void TextPromptSheet::confirm() {
    const QString name = field_->text().trimmed();
    if (name.isEmpty() || confirmed_)
        return;
    confirmed_ = true;
    confirmButton_->setEnabled(false);
    if (onConfirm_)
        onConfirm_(name);
    accept();
}

void TextPromptSheet::updateConfirmEnabled() {
    confirmButton_->setEnabled(!confirmed_ && !field_->text().trimmed().isEmpty());
}

} // namespace tw
