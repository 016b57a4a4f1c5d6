#include "App/Shell/AppCommands.h"

#include "App/DesignSystem/DisplayText.h"

#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Domain/ProviderKind.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace tw {

AppCommands::AppCommands(AppModel& model, QMainWindow& window, Handlers handlers)
    : QObject(&window), model_(model), window_(window), handlers_(std::move(handlers)) {
    setObjectName(QStringLiteral("appCommands"));
    QMenuBar* bar = window_.menuBar();

    fileMenu_ = bar->addMenu(QStringLiteral("&File"));
    fileMenu_->setObjectName(QStringLiteral("fileMenu"));
    uploadFiles_ = makeAction(QStringLiteral("uploadFiles"), QStringLiteral("Upload Files…"),
                              QKeySequence(Qt::CTRL | Qt::Key_U));
    connectGoogle_ = makeAction(QStringLiteral("connectGoogleDrive"),
                                QStringLiteral("Connect Google Drive Account…"),
                                QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N));
    connectTelegram_ = makeAction(QStringLiteral("connectTelegramAccount"),
                                  QStringLiteral("Connect Telegram Account…"), QKeySequence());
    settings_ = makeAction(QStringLiteral("settings"), QStringLiteral("Settings…"),
                           QKeySequence(Qt::CTRL | Qt::Key_Comma));
    quit_ = makeAction(QStringLiteral("quit"), QStringLiteral("Quit"),
                       // The desktop's own Quit keys; platforms without one (offscreen) keep Ctrl+Q.
                       QKeySequence::keyBindings(QKeySequence::Quit)
                           .value(0, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    settings_->setMenuRole(QAction::PreferencesRole);
    quit_->setMenuRole(QAction::QuitRole);
    fileMenu_->addAction(uploadFiles_);
    fileMenu_->addAction(connectGoogle_);
    fileMenu_->addAction(connectTelegram_);
    fileMenu_->addSeparator();
    fileMenu_->addAction(settings_);
    fileMenu_->addSeparator();
    fileMenu_->addAction(quit_);

    goMenu_ = bar->addMenu(QStringLiteral("&Go"));
    goMenu_->setObjectName(QStringLiteral("goMenu"));
    home_ = makeAction(QStringLiteral("goHome"), QStringLiteral("Home"),
                       QKeySequence(Qt::CTRL | Qt::Key_0));
    goMenu_->addAction(home_);
    for (int i = 0; i < accountItemLimit; ++i) {
        QAction* item = makeAction(QStringLiteral("goAccount%1").arg(i + 1), QString(),
                                   QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)));
        item->setVisible(false);
        item->setEnabled(false);
        connect(item, &QAction::triggered, this, [this, item] {
            const QUuid id = item->data().toUuid();
            if (!id.isNull() && model_.accounts()->account(id))
                model_.setSelection(SidebarItem::storage(id));
        });
        accountItems_.append(item);
        goMenu_->addAction(item);
    }
    goMenu_->addSeparator();
    enclosingFolder_ = makeAction(QStringLiteral("enclosingFolder"), QStringLiteral("Enclosing Folder"),
                                  QKeySequence(Qt::CTRL | Qt::Key_Up));
    smartUpload_ = makeAction(QStringLiteral("goSmartUpload"), QStringLiteral("Smart Upload"),
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U));
    goMenu_->addAction(enclosingFolder_);
    goMenu_->addAction(smartUpload_);

    helpMenu_ = bar->addMenu(QStringLiteral("&Help"));
    helpMenu_->setObjectName(QStringLiteral("helpMenu"));
    about_ = makeAction(QStringLiteral("aboutKelvanor"), QStringLiteral("About Kelvanor"),
                        QKeySequence());
    about_->setMenuRole(QAction::AboutRole);
    helpMenu_->addAction(about_);

    connect(uploadFiles_, &QAction::triggered, this, &AppCommands::upload);
    connect(connectGoogle_, &QAction::triggered, this,
            [this] { model_.connectAccount(ProviderKind::googleDrive); });
    connect(connectTelegram_, &QAction::triggered, this,
            [this] { model_.connectAccount(ProviderKind::telegram); });
    connect(settings_, &QAction::triggered, this, [this] {
        if (handlers_.showSettings)
            handlers_.showSettings();
    });
    connect(quit_, &QAction::triggered, this, [this] {
        if (handlers_.quit)
            handlers_.quit();
    });
    connect(home_, &QAction::triggered, this, [this] { model_.setSelection(SidebarItem::home()); });
    connect(enclosingFolder_, &QAction::triggered, this, &AppCommands::goUp);
    connect(smartUpload_, &QAction::triggered, this,
            [this] { model_.setSelection(SidebarItem::uploads()); });
    connect(about_, &QAction::triggered, this, [this] {
        if (handlers_.showAbout)
            handlers_.showAbout();
    });

    connect(&model_, &AppModel::selectionChanged, this, &AppCommands::refresh);
    connect(&model_, &AppModel::pathsChanged, this, &AppCommands::refresh);
    connect(model_.accounts(), &AccountManager::accountsChanged, this, &AppCommands::refresh);
    // The text field with focus sees its ShortcutOverride events through this object first.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (old)
            old->removeEventFilter(this);
        if (now && now->window() == &window_)
            now->installEventFilter(this);
    });
    if (QWidget* focus = QApplication::focusWidget(); focus && focus->window() == &window_)
        focus->installEventFilter(this);
    refresh();
}

AppCommands::~AppCommands() = default;

QAction* AppCommands::makeAction(const QString& objectName, const QString& text,
                                 const QKeySequence& shortcut) {
    auto* action = new QAction(text, this);
    action->setObjectName(objectName);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    // On the window as well as in its menu: the shortcut works with every menu closed.
    window_.addAction(action);
    all_.append(action);
    return action;
}

std::optional<UploadDestination> AppCommands::currentDestination() const {
    const std::optional<SidebarItem>& selection = model_.selection();
    if (!selection || selection->kind != SidebarItem::Kind::storage)
        return std::nullopt;
    const QUuid id = selection->accountID;
    const std::optional<StorageAccount> account = model_.accounts()->account(id);
    if (!account || account->status != StorageAccount::Status::connected)
        return std::nullopt;
    const QList<FolderCrumb> path = model_.paths().value(id);
    const std::optional<QString> folder =
        path.isEmpty() ? std::nullopt : std::optional<QString>(path.last().id);
    if (!ProviderKinds::isWritable(account->provider, folder))
        return std::nullopt;
    return model_.destination(id, folder);
}

bool AppCommands::canGoUp() const {
    const std::optional<SidebarItem>& selection = model_.selection();
    if (!selection || selection->kind != SidebarItem::Kind::storage)
        return false;
    const auto it = model_.paths().constFind(selection->accountID);
    return it != model_.paths().cend() && !it->isEmpty();
}

void AppCommands::refresh() {
    const std::optional<SidebarItem>& selection = model_.selection();
    const QList<StorageAccount>& accounts = model_.accounts()->accounts();
    const bool smartUploadShown = selection && selection->kind == SidebarItem::Kind::uploads;
    uploadFiles_->setEnabled(currentDestination().has_value() ||
                             (smartUploadShown && !accounts.isEmpty()));
    enclosingFolder_->setEnabled(canGoUp());
    for (int i = 0; i < accountItems_.size(); ++i) {
        QAction* item = accountItems_.at(i);
        if (i < accounts.size()) {
            item->setText(DisplayText::buttonText(accounts.at(i).alias));
            item->setData(accounts.at(i).id);
            item->setVisible(true);
            item->setEnabled(true);
        } else {
            item->setVisible(false);
            item->setEnabled(false);
            item->setData(QVariant());
            item->setText(QString());
        }
    }
}

void AppCommands::upload() {
    if (!uploadFiles_->isEnabled())
        return;
    if (const std::optional<UploadDestination> destination = currentDestination()) {
        model_.chooseFilesToUpload(*destination);
        return;
    }
    const std::optional<SidebarItem>& selection = model_.selection();
    if (selection && selection->kind == SidebarItem::Kind::uploads)
        model_.chooseFilesForSmartUpload();
}

void AppCommands::goUp() {
    const std::optional<SidebarItem>& selection = model_.selection();
    if (selection && selection->kind == SidebarItem::Kind::storage && canGoUp())
        model_.goUp(selection->accountID);
}

bool AppCommands::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != &window_ || watched != focus)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    for (QAction* action : all_) {
        if (action->isEnabled() && action->isVisible() && !action->shortcut().isEmpty() &&
            action->shortcut().matches(pressed) == QKeySequence::ExactMatch) {
            // Not overridden: the key goes to the shortcut, not to the text field.
            key->ignore();
            return true;
        }
    }
    return false;
}

} // namespace tw
