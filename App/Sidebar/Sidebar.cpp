#include "App/Sidebar/Sidebar.h"

#include "App/DesignSystem/SymbolIcons.h"
#include "App/Model/AppModel.h"
#include "App/Sidebar/SidebarDelegate.h"
#include "App/Sidebar/SidebarModel.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace tw {

Sidebar::Sidebar(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("sidebar"));
    rows_ = new SidebarModel(model_, this);
    delegate_ = new SidebarDelegate(*rows_, this);
    // Rows that go take the view's current row with them and the view selects a neighbour:
    // that is not the user's choice. Connected before the view's own handlers, so the flag is
    // up while they move the selection; the model's selection is shown again afterwards.
    connect(rows_, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { selecting_ = true; });

    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("sidebarList"));
    list_->setAccessibleName(QStringLiteral("Sidebar"));
    list_->setModel(rows_);
    list_->setItemDelegate(delegate_);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setUniformItemSizes(false);
    list_->setMouseTracking(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAttribute(Qt::WA_MacShowFocusRect, false);

    connect_ = new QToolButton(this);
    connect_->setObjectName(QStringLiteral("sidebarConnect"));
    connect_->setIcon(SymbolIcons::icon(QStringLiteral("plus")));
    connect_->setText(QStringLiteral("Connect Storage"));
    connect_->setAccessibleName(QStringLiteral("Connect Storage"));
    connect_->setToolTip(QStringLiteral("Connect a storage"));
    connect_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect_->setPopupMode(QToolButton::InstantPopup);
    connect_->setAutoRaise(true);
    connect_->setStyleSheet(
        QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* connectMenu = new QMenu(connect_);
    connectMenu->setObjectName(QStringLiteral("sidebarConnectMenu"));
    QAction* drive = connectMenu->addAction(QStringLiteral("Google Drive Account\u2026"));
    drive->setObjectName(QStringLiteral("connectGoogleDrive"));
    connect(drive, &QAction::triggered, this,
            [this] { model_.connectAccount(ProviderKind::googleDrive); });
    QAction* telegram = connectMenu->addAction(QStringLiteral("Telegram Account\u2026"));
    telegram->setObjectName(QStringLiteral("connectTelegram"));
    connect(telegram, &QAction::triggered, this,
            [this] { model_.connectAccount(ProviderKind::telegram); });
    connect_->setMenu(connectMenu);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 8, 12, 8);
    footer->setSpacing(8);
    footer->addWidget(connect_);
    footer->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(list_, 1);
    layout->addLayout(footer);

    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &Sidebar::listSelectionChanged);
    connect(rows_, &QAbstractItemModel::modelReset, this, &Sidebar::selectFromModel);
    connect(rows_, &QAbstractItemModel::rowsInserted, this, &Sidebar::selectFromModel);
    connect(rows_, &QAbstractItemModel::rowsRemoved, this, [this] {
        selecting_ = false;
        selectFromModel();
    });
    connect(rows_, &QAbstractItemModel::dataChanged, this, &Sidebar::updateAnimation);
    connect(rows_, &QAbstractItemModel::modelReset, this, &Sidebar::updateAnimation);
    connect(&model_, &AppModel::selectionChanged, this, &Sidebar::selectFromModel);
    connect(&model_, &AppModel::isConnectingChanged, this, &Sidebar::updateConnectEnabled);
    connect(list_, &QListView::customContextMenuRequested, this, [this](const QPoint& position) {
        QMenu* menu = menuForRow(list_->indexAt(position).row(), this);
        if (!menu)
            return;
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(list_->viewport()->mapToGlobal(position));
    });

    frames_.setInterval(1000 / 30);
    connect(&frames_, &QTimer::timeout, this, [this] {
        delegate_->setPhase(std::fmod(clock_.elapsed() / 1200.0, 1.0));
        const int row = rows_->rowOf(SidebarItem::uploads());
        list_->viewport()->update(list_->visualRect(rows_->index(row)));
    });
    clock_.start();

    selectFromModel();
    updateAnimation();
    updateConnectEnabled();
}

void Sidebar::selectFromModel() {
    const int row = rows_->rowOf(model_.selection());
    selecting_ = true;
    if (row < 0)
        list_->selectionModel()->clearSelection();
    else
        list_->selectionModel()->setCurrentIndex(rows_->index(row),
                                                 QItemSelectionModel::ClearAndSelect);
    selecting_ = false;
}

void Sidebar::listSelectionChanged() {
    if (selecting_)
        return;
    const QModelIndexList selected = list_->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        // A list never loses its selection by a click on empty space: show the model's again.
        selectFromModel();
        return;
    }
    model_.setSelection(rows_->itemAt(selected.first().row()));
}

void Sidebar::updateAnimation() {
    if (rows_->hasActiveUploads()) {
        if (!frames_.isActive())
            frames_.start();
    } else {
        frames_.stop();
        delegate_->setPhase(0.5);
    }
}

void Sidebar::updateConnectEnabled() {
    connect_->setEnabled(!model_.isConnecting());
}

QMenu* Sidebar::menuForRow(int row, QWidget* parent) {
    if (row < 0 || row >= rows_->rowCount() ||
        rows_->row(row).kind != SidebarModel::Row::Kind::account)
        return nullptr;
    const StorageAccount account = rows_->row(row).account;
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("sidebarAccountMenu"));

    QAction* upload = menu->addAction(QStringLiteral("Upload Files\u2026"));
    upload->setObjectName(QStringLiteral("sidebarUploadFiles"));
    upload->setEnabled(account.status == StorageAccount::Status::connected);
    const QUuid id = account.id;
    connect(upload, &QAction::triggered, this, [this, id] {
        model_.setSelection(SidebarItem::storage(id));
        model_.chooseFilesToUpload(model_.destination(id, std::nullopt));
    });
    if (account.status == StorageAccount::Status::reauthRequired) {
        QAction* reconnect = menu->addAction(QStringLiteral("Reconnect\u2026"));
        reconnect->setObjectName(QStringLiteral("sidebarReconnect"));
        connect(reconnect, &QAction::triggered, this, [this, id] { model_.reconnect(id); });
    }
    menu->addSeparator();
    QAction* manage = menu->addAction(QStringLiteral("Manage Accounts\u2026"));
    manage->setObjectName(QStringLiteral("sidebarManageAccounts"));
    connect(manage, &QAction::triggered, this, &Sidebar::manageAccountsRequested);
    return menu;
}

} // namespace tw
