#include "App/Shell/WindowPresenter.h"

#include "App/DesignSystem/AlertBox.h"
#include "App/DesignSystem/DisplayText.h"

#include "App/Model/AppModel.h"
#include "App/SignIn/ConnectingSheet.h"
#include "App/SignIn/NameStorageSheet.h"
#include "App/SignIn/TelegramLoginSheet.h"

#include <QPushButton>

namespace tw {

WindowPresenter::WindowPresenter(AppModel& model, QWidget* window, QObject* parent)
    : QObject(parent), model_(model), window_(window) {
    connect(&model_, &AppModel::stateChanged, this, &WindowPresenter::sync);
}

WindowPresenter::~WindowPresenter() {
    if (sheet_)
        sheet_->disconnect(this);
    if (alert_)
        alert_->disconnect(this);
    delete sheet_;
    delete alert_;
}

void WindowPresenter::setMainShown(bool shown) {
    if (mainShown_ == shown)
        return;
    mainShown_ = shown;
    sync();
}

WindowPresenter::Sheet WindowPresenter::wantedSheet(const AppModel& model, bool mainShown) {
    if (model.connectingKind() == ProviderKind::telegram)
        return Sheet::telegram;
    if (!mainShown)
        return Sheet::none;
    if (model.connectingKind() == ProviderKind::googleDrive)
        return Sheet::connecting;
    if (model.accountToName())
        return Sheet::naming;
    return Sheet::none;
}

WindowPresenter::Alert WindowPresenter::wantedAlert(const AppModel& model, bool mainShown) {
    if (!mainShown)
        return Alert::none;
    if (model.presentedError())
        return Alert::error;
    if (model.notice())
        return Alert::notice;
    return Alert::none;
}

void WindowPresenter::sync() {
    if (!window_)
        return;
    syncSheet();
    syncAlert();
}

void WindowPresenter::syncSheet() {
    const Sheet wanted = wantedSheet(model_, mainShown_);
    const QUuid account = wanted == Sheet::naming ? model_.accountToName()->id : QUuid();
    if (wanted == sheetKind_ && account == sheetAccount_ && (sheet_ || wanted == Sheet::none))
        return;
    closeSheet();
    sheetKind_ = wanted;
    sheetAccount_ = account;
    switch (wanted) {
    case Sheet::none:
        return;
    case Sheet::connecting:
        sheet_ = new ConnectingSheet(model_, window_);
        break;
    case Sheet::telegram:
        sheet_ = new TelegramLoginSheet(model_.telegramLogin(), window_);
        break;
    case Sheet::naming: {
        auto* naming = new NameStorageSheet(model_, *model_.accountToName(), window_);
        connect(naming, &QDialog::finished, this, [this] {
            sheet_ = nullptr;
            sheetKind_ = Sheet::none;
            sheetAccount_ = QUuid();
            model_.setAccountToName(std::nullopt);
        });
        sheet_ = naming;
        break;
    }
    }
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    sheet_->open();
}

void WindowPresenter::closeSheet() {
    if (!sheet_)
        return;
    QDialog* sheet = sheet_;
    sheet_ = nullptr;
    if (alert_ && alert_->parent() == sheet) {
        // The alert goes with its sheet; syncAlert() opens it again over the window.
        closeAlert();
        alertKind_ = Alert::none;
        alertID_ = QUuid();
    }
    sheet->disconnect(this);
    sheet->hide();
    sheet->deleteLater();
}

void WindowPresenter::syncAlert() {
    const Alert wanted = wantedAlert(model_, mainShown_);
    const QUuid id = wanted == Alert::error    ? model_.presentedError()->id
                     : wanted == Alert::notice ? model_.notice()->id
                                               : QUuid();
    if (wanted == alertKind_ && id == alertID_ && (alert_ || wanted == Alert::none))
        return;
    closeAlert();
    alertKind_ = wanted;
    alertID_ = id;
    if (wanted == Alert::error)
        openError();
    else if (wanted == Alert::notice)
        openNotice();
}

void WindowPresenter::closeAlert() {
    if (!alert_)
        return;
    QMessageBox* alert = alert_;
    alert_ = nullptr;
    alert->disconnect(this);
    alert->hide();
    alert->deleteLater();
}

void WindowPresenter::openError() {
    const PresentedError presented = *model_.presentedError();
    const ErrorPresentation presentation = presented.error.presentation();
    // An alert over an open sheet belongs to the sheet, so both stay usable.
    auto* box = new AlertBox(sheet_ ? static_cast<QWidget*>(sheet_) : window_.data());
    box->setObjectName(QStringLiteral("errorAlert"));
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setFullTitle(presentation.title);
    DisplayText::setMessage(box, presentation.title, presentation.message);
    QPushButton* recovery = nullptr;
    const std::optional<RecoveryAction> action = presentation.recovery;
    // "Try Again" only retries failures that name no account.
    if (action && (*action == RecoveryAction::reconnect || !presented.accountID)) {
        recovery = box->addButton(*presentation.recoveryTitle(), QMessageBox::AcceptRole);
        recovery->setObjectName(QStringLiteral("errorAlertRecovery"));
    }
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    ok->setObjectName(QStringLiteral("errorAlertOK"));
    box->setDefaultButton(recovery ? recovery : ok);
    box->setEscapeButton(ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, recovery, action, presented] {
        const bool recover = recovery && box->clickedButton() == recovery;
        alert_ = nullptr;
        alertKind_ = Alert::none;
        alertID_ = QUuid();
        if (model_.presentedError() && model_.presentedError()->id == presented.id)
            model_.setPresentedError(std::nullopt);
        if (recover)
            model_.recover(*action, presented.accountID);
    });
    alert_ = box;
    box->open();
}

void WindowPresenter::openNotice() {
    const Notice notice = *model_.notice();
    auto* box = new AlertBox(sheet_ ? static_cast<QWidget*>(sheet_) : window_.data());
    box->setObjectName(QStringLiteral("noticeAlert"));
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Information);
    box->setFullTitle(notice.title);
    DisplayText::setMessage(box, notice.title, notice.message);
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    ok->setObjectName(QStringLiteral("noticeAlertOK"));
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, id = notice.id] {
        alert_ = nullptr;
        alertKind_ = Alert::none;
        alertID_ = QUuid();
        if (model_.notice() && model_.notice()->id == id)
            model_.setNotice(std::nullopt);
    });
    alert_ = box;
    box->open();
}

} // namespace tw
