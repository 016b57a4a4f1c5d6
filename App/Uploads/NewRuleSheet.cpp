#include "App/Uploads/NewRuleSheet.h"

#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/SheetWindow.h"
#include "App/Model/AppModel.h"
#include "App/Uploads/FolderPickerSheet.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/SmartUploadStore.h"
#include "StorageCore/Transfers/UploadRule.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

namespace {
constexpr int kType = 0;
constexpr int kExtension = 1;
} // namespace

NewRuleSheet::NewRuleSheet(AppModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setObjectName(QStringLiteral("newRuleSheet"));
    setWindowTitle(QStringLiteral("New Upload Rule"));
    SheetWindow::prepare(*this, 440);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    auto* title = new QLabel(QStringLiteral("New Upload Rule"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    auto* form = new QFormLayout;
    auto* segments = new QWidget(this);
    auto* segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    kind_ = new QButtonGroup(this);
    for (const auto& [id, text, name] :
         {std::tuple{kType, QStringLiteral("A type"), QStringLiteral("newRuleByType")},
          std::tuple{kExtension, QStringLiteral("An extension"), QStringLiteral("newRuleByExtension")}}) {
        auto* button = new QPushButton(text, segments);
        button->setObjectName(name);
        button->setCheckable(true);
        button->setAutoDefault(false);
        kind_->addButton(button, id);
        segmentsLayout->addWidget(button);
    }
    kind_->button(kType)->setChecked(true);
    form->addRow(QStringLiteral("When a file is"), segments);

    category_ = new QComboBox(this);
    category_->setObjectName(QStringLiteral("newRuleCategory"));
    for (FileCategory category : FileCategories::allCases())
        category_->addItem(FileCategories::displayName(category), int(category));
    extension_ = new QLineEdit(this);
    extension_->setObjectName(QStringLiteral("newRuleExtension"));
    extension_->setPlaceholderText(QStringLiteral("pdf"));
    auto* matchRow = new QWidget(this);
    auto* matchLayout = new QHBoxLayout(matchRow);
    matchLayout->setContentsMargins(0, 0, 0, 0);
    matchLayout->addWidget(category_);
    matchLayout->addWidget(extension_);
    form->addRow(QStringLiteral("Type"), matchRow);

    destination_ = new QToolButton(this);
    destination_->setObjectName(QStringLiteral("newRuleDestination"));
    destination_->setPopupMode(QToolButton::InstantPopup);
    destination_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    destination_->setMenu(new QMenu(destination_));
    form->addRow(QStringLiteral("Upload to"), destination_);
    layout->addLayout(form);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("newRuleCancel"));
    cancel->setAutoDefault(false);
    footer->addWidget(cancel);
    add_ = new QPushButton(QStringLiteral("Add Rule"), this);
    add_->setObjectName(QStringLiteral("newRuleAdd"));
    add_->setDefault(true);
    footer->addWidget(add_);
    layout->addLayout(footer);

    auto* typeLabel = qobject_cast<QLabel*>(form->labelForField(matchRow));
    connect(kind_, &QButtonGroup::idClicked, this, [this, typeLabel](int id) {
        if (typeLabel)
            typeLabel->setText(id == kExtension ? QStringLiteral("Extension") : QStringLiteral("Type"));
        refresh();
    });
    connect(extension_, &QLineEdit::textChanged, this, &NewRuleSheet::refresh);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(add_, &QPushButton::clicked, this, &NewRuleSheet::accept);
    connect(model.accounts(), &AccountManager::accountsChanged, this, &NewRuleSheet::rebuildMenu);
    rebuildMenu();
    refresh();
}

bool NewRuleSheet::canAdd() const {
    if (!target_)
        return false;
    if (kind_->checkedId() == kExtension)
        return !UploadRule::Match::normalized(extension_->text()).isEmpty();
    return true;
}

void NewRuleSheet::refresh() {
    const bool byExtension = kind_->checkedId() == kExtension;
    extension_->setVisible(byExtension);
    category_->setVisible(!byExtension);
    destination_->setText(target_ ? DisplayText::buttonText(model_.displayName(*target_))
                                  : QStringLiteral("Choose\u2026"));
    add_->setEnabled(canAdd());
}

void NewRuleSheet::rebuildMenu() {
    QMenu* menu = destination_->menu();
    menu->clear();
    for (const StorageAccount& account : model_.accounts()->accounts()) {
        if (account.status != StorageAccount::Status::connected)
            continue;
        const QUuid id = account.id;
        QAction* top = menu->addAction(
            DisplayText::buttonText(account.alias + QStringLiteral(" (top level)")));
        connect(top, &QAction::triggered, this,
                [this, id] { setTarget(UploadTarget{id, std::nullopt, {}}); });
        QAction* folder = menu->addAction(DisplayText::buttonText(
            QStringLiteral("A folder in ") + account.alias + QStringLiteral("\u2026")));
        connect(folder, &QAction::triggered, this, [this, account] {
            if (picker_)
                return;
            QPointer<NewRuleSheet> self(this);
            FolderPickRequest request{QUuid::createUuid(), account, std::nullopt,
                                      [self](const UploadTarget& target) {
                                          if (self)
                                              self->setTarget(target);
                                      }};
            picker_ = new FolderPickerSheet(model_, std::move(request), this);
            picker_->setAttribute(Qt::WA_DeleteOnClose);
            picker_->open();
        });
    }
}

void NewRuleSheet::setTarget(const UploadTarget& target) {
    target_ = target;
    refresh();
}

void NewRuleSheet::accept() {
    if (added_ || !canAdd())
        return;
    added_ = true;
    const auto match =
        kind_->checkedId() == kExtension
            ? UploadRule::Match::fileExtension(UploadRule::Match::normalized(extension_->text()))
            : UploadRule::Match::category(FileCategory(category_->currentData().toInt()));
    model_.smartUpload()->addRule(match, *target_);
    QDialog::accept();
}

} // namespace tw
