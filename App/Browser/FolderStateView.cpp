#include "App/Browser/FolderStateView.h"

#include "App/Browser/BusyIndicator.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "StorageCore/Domain/StorageError.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

FolderStateView::FolderStateView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(8);
    layout->addStretch(1);

    spinner_ = new BusyIndicator(18, this);
    layout->addWidget(spinner_, 0, Qt::AlignHCenter);

    symbol_ = new QLabel(this);
    symbol_->setObjectName(QStringLiteral("stateSymbol"));
    symbol_->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol_);

    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("stateTitle"));
    title_->setTextFormat(Qt::PlainText);
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    QFont font = title_->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    title_->setFont(font);
    layout->addWidget(title_);

    description_ = new QLabel(this);
    description_->setObjectName(QStringLiteral("stateDescription"));
    description_->setTextFormat(Qt::PlainText);
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    description_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(description_);

    buttons_ = new QHBoxLayout;
    buttons_->setSpacing(8);
    buttons_->setContentsMargins(0, 6, 0, 0);
    layout->addLayout(buttons_);
    layout->addStretch(1);
    showSpinner();
}

void FolderStateView::showSpinner() {
    showMessage({}, {}, {}, {});
    spinner_->show();
}

void FolderStateView::showMessage(const QString& symbol, const QString& title,
                                  const QString& description, const QList<Button>& buttons) {
    spinner_->hide();
    symbol_->setVisible(!symbol.isEmpty());
    if (!symbol.isEmpty())
        SymbolIcons::setSymbol(symbol_, symbol, 40);
    title_->setText(title);
    title_->setVisible(!title.isEmpty());
    description_->setText(description);
    description_->setVisible(!description.isEmpty());

    while (QLayoutItem* item = buttons_->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    if (buttons.isEmpty())
        return;
    buttons_->addStretch(1);
    for (const Button& button : buttons) {
        auto* push = new QPushButton(button.title, this);
        push->setObjectName(button.objectName);
        push->setAutoDefault(false);
        connect(push, &QPushButton::clicked, this, button.action);
        buttons_->addWidget(push);
    }
    buttons_->addStretch(1);
}

void FolderStateView::showError(const StorageError& error,
                                std::function<void(RecoveryAction)> recover) {
    const ErrorPresentation presentation = error.presentation();
    const QString symbol = error.code() == StorageError::Code::offline
                               ? QStringLiteral("wifi.slash")
                               : QStringLiteral("exclamationmark.triangle.fill");
    QList<Button> buttons;
    if (presentation.recovery) {
        const RecoveryAction action = *presentation.recovery;
        buttons.append(Button{QStringLiteral("stateRecovery"),
                              action == RecoveryAction::reconnect ? QStringLiteral("Reconnect")
                                                                  : QStringLiteral("Try Again"),
                              [recover, action] {
                                  if (recover)
                                      recover(action);
                              }});
    }
    showMessage(symbol, presentation.title, presentation.message, buttons);
}

QString FolderStateView::title() const {
    return title_->text();
}
QString FolderStateView::description() const {
    return description_->text();
}

} // namespace tw
