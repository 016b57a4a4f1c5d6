#include "App/SignIn/NameStorageSheet.h"

#include "App/DesignSystem/SheetWindow.h"
#include "App/Model/AppModel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

// ---- StorageNameField --------------------------------------------------------------------

const QStringList& StorageNameField::suggestions() {
    static const QStringList names{QStringLiteral("Personal"), QStringLiteral("Work"),
                                   QStringLiteral("Freelance"), QStringLiteral("Clients"),
                                   QStringLiteral("School"), QStringLiteral("Archive")};
    return names;
}

StorageNameField::StorageNameField(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("storageName"));
    edit_->setAccessibleName(QStringLiteral("storageName"));
    edit_->setPlaceholderText(QStringLiteral("Name"));
    row->addWidget(edit_, 1);
    menuButton_ = new QToolButton(this);
    menuButton_->setObjectName(QStringLiteral("storageNameSuggestions"));
    menuButton_->setText(QStringLiteral("Suggestions"));
    menuButton_->setAccessibleName(QStringLiteral("Suggestions"));
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto* menu = new QMenu(menuButton_);
    for (const QString& name : suggestions())
        menu->addAction(name, edit_, [this, name] { edit_->setText(name); });
    menuButton_->setMenu(menu);
    row->addWidget(menuButton_);
}

// ---- NameStorageSheet --------------------------------------------------------------------

bool NameStorageSheet::canSave(const QString& name) {
    for (const QChar c : name)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return true;
    return false;
}

NameStorageSheet::NameStorageSheet(AppModel& model, const StorageAccount& account, QWidget* parent)
    : QDialog(parent), model_(model), account_(account) {
    setObjectName(QStringLiteral("nameStorageSheet"));
    setWindowTitle(QStringLiteral("Name This Storage"));
    SheetWindow::prepare(*this, 380);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("Name This Storage"), this);
    title->setTextFormat(Qt::PlainText);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    layout->addWidget(title);
    auto* message = new QLabel(account.email + QStringLiteral(" is connected. Choose a name "
                                                              "you'll recognize in the sidebar."),
                               this);
    message->setObjectName(QStringLiteral("nameStorageMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(message);
    field_ = new StorageNameField(this);
    field_->lineEdit()->setText(account.alias);
    layout->addWidget(field_);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->addStretch(1);
    save_ = new QPushButton(QStringLiteral("Save"), this);
    save_->setObjectName(QStringLiteral("nameStorageSave"));
    save_->setAccessibleName(QStringLiteral("Save"));
    // Return reaches the sheet once, through its default button (the field's returnPressed is
    // left unconnected), and does nothing while Save is disabled.
    save_->setDefault(true);
    buttons->addWidget(save_);
    layout->addLayout(buttons);

    auto update = [this] { save_->setEnabled(canSave(field_->lineEdit()->text())); };
    connect(field_->lineEdit(), &QLineEdit::textChanged, this, update);
    update();
    connect(save_, &QPushButton::clicked, this, &NameStorageSheet::save);
}

void NameStorageSheet::save() {
    if (saved_ || !canSave(field_->lineEdit()->text()))
        return;
    saved_ = true;
    model_.rename(account_.id, field_->lineEdit()->text());
    model_.setSelection(SidebarItem::storage(account_.id));
    accept();
}

void NameStorageSheet::keyPressEvent(QKeyEvent* event) {
    // No Cancel: Escape leaves the sheet up.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tw
