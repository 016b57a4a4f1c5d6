#include "App/Uploads/UploadRulesSection.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/SymbolIcons.h"

#include "App/Model/AppModel.h"
#include "App/Uploads/SmartUploadView.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/SmartUploadStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

UploadRulesSection::UploadRulesSection(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("uploadRulesSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Rules"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    header->addWidget(title);
    header->addStretch(1);
    addRule_ = new QPushButton(QStringLiteral("Add Rule\u2026"), this);
    addRule_->setObjectName(QStringLiteral("smartUploadAddRule"));
    addRule_->setFlat(true);
    addRule_->setAutoDefault(false);
    addRule_->setCursor(Qt::PointingHandCursor);
    header->addWidget(addRule_);
    layout->addLayout(header);

    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Base);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(14, 8, 14, 8);
    hint_ = new QLabel(QStringLiteral("No rules yet. Choose \u201cAlways Upload \u2026 Here\u201d on a "
                                      "file above, or add one."),
                       panel);
    hint_->setObjectName(QStringLiteral("uploadRulesHint"));
    hint_->setWordWrap(true);
    hint_->setForegroundRole(QPalette::PlaceholderText);
    panelLayout->addWidget(hint_);
    rows_ = new QWidget(panel);
    rowsLayout_ = new QVBoxLayout(rows_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(4);
    panelLayout->addWidget(rows_);
    layout->addWidget(panel);

    connect(addRule_, &QPushButton::clicked, this, &UploadRulesSection::addRuleRequested);
    connect(model.smartUpload(), &SmartUploadStore::rulesChanged, this, &UploadRulesSection::rebuild);
    connect(model.accounts(), &AccountManager::accountsChanged, this, &UploadRulesSection::rebuild);
    rebuild();
}

void UploadRulesSection::rebuild() {
    addRule_->setEnabled(!model_.accounts()->accounts().isEmpty());
    const QList<UploadRule>& rules = model_.smartUpload()->rules();
    hint_->setVisible(rules.isEmpty());
    // The old rows go later: this may run inside one of their own signals.
    while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    SmartUploadStore* store = model_.smartUpload();
    for (const UploadRule& rule : rules) {
        auto* row = new QWidget(rows_);
        row->setObjectName(QStringLiteral("uploadRule"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(6);
        auto* toggle = new QCheckBox(row);
        toggle->setObjectName(QStringLiteral("uploadRuleSwitch"));
        toggle->setChecked(rule.isEnabled);
        const QString what = SmartUploadView::describe(rule.match);
        const QString where = model_.displayName(rule.target);
        toggle->setAccessibleName(what + QStringLiteral(", ") + where);
        line->addWidget(toggle);
        auto* matchLabel = new QLabel(what, row);
        matchLabel->setTextFormat(Qt::PlainText);
        line->addWidget(matchLabel);
        auto* arrow = new QLabel(QStringLiteral("\u2192"), row);
        arrow->setForegroundRole(QPalette::PlaceholderText);
        line->addWidget(arrow);
        if (const auto account = model_.accounts()->account(rule.target.accountID)) {
            auto* icon = new AccountIcon(*account, 16, row);
            line->addWidget(icon);
        }
        auto* destination = new ElidedLabel(where, Qt::ElideMiddle, row);
        destination->setObjectName(QStringLiteral("uploadRuleDestination"));
        line->addWidget(destination, 1);
        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("uploadRuleDelete"));
        remove->setAutoRaise(true);
        remove->setIcon(SymbolIcons::icon(QStringLiteral("minus.circle")));
        remove->setToolTip(QStringLiteral("Delete rule"));
        remove->setAccessibleName(QStringLiteral("Delete rule"));
        line->addWidget(remove);
        const QUuid id = rule.id;
        connect(toggle, &QCheckBox::toggled, store,
                [store, id](bool on) { store->setRule(id, on); });
        connect(remove, &QToolButton::clicked, store, [store, id] { store->removeRule(id); });
        rowsLayout_->addWidget(row);
    }
    rows_->setVisible(!rules.isEmpty());
}

} // namespace tw
