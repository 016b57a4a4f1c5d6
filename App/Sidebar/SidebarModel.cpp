#include "App/Sidebar/SidebarModel.h"

#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/UploadManager.h"

namespace tw {

namespace {

/// What a row stands for; rows keep it across changes.
QString keyOf(const SidebarModel::Row& row) {
    switch (row.kind) {
    case SidebarModel::Row::Kind::home:
        return QStringLiteral("home");
    case SidebarModel::Row::Kind::uploads:
        return QStringLiteral("uploads");
    case SidebarModel::Row::Kind::header:
        return QStringLiteral("header:") + ProviderKinds::rawValue(row.provider);
    case SidebarModel::Row::Kind::account:
        return QStringLiteral("account:") + row.account.id.toString();
    }
    return {};
}

} // namespace

SidebarModel::SidebarModel(AppModel& model, QObject* parent)
    : RowChangingListModel(parent), model_(model) {
    connect(model_.accounts(), &AccountManager::accountsChanged, this, &SidebarModel::refresh);
    connect(model_.uploads(), &UploadManager::jobsChanged, this, &SidebarModel::refresh);
    refresh();
}

void SidebarModel::refresh() {
    QList<Row> rows{Row{Row::Kind::home, {}, {}}, Row{Row::Kind::uploads, {}, {}}};
    const QList<StorageAccount>& accounts = model_.accounts()->accounts();
    for (ProviderKind kind : ProviderKinds::allCases()) {
        bool headed = false;
        for (const StorageAccount& account : accounts) {
            if (account.provider != kind)
                continue;
            if (!headed) {
                rows.append(Row{Row::Kind::header, kind, {}});
                headed = true;
            }
            rows.append(Row{Row::Kind::account, kind, account});
        }
    }
    activeUploads_ = model_.uploads()->activeJobs().size();
    rows[1].activeUploads = activeUploads_;
    applyRows(rows_, std::move(rows), keyOf);
}

std::optional<SidebarItem> SidebarModel::itemAt(int index) const {
    if (index < 0 || index >= rows_.size())
        return std::nullopt;
    const Row& r = rows_[index];
    switch (r.kind) {
    case Row::Kind::home:
        return SidebarItem::home();
    case Row::Kind::uploads:
        return SidebarItem::uploads();
    case Row::Kind::account:
        return SidebarItem::storage(r.account.id);
    case Row::Kind::header:
        break;
    }
    return std::nullopt;
}

int SidebarModel::rowOf(const std::optional<SidebarItem>& item) const {
    if (!item)
        return -1;
    for (int i = 0; i < rows_.size(); ++i)
        if (itemAt(i) == item)
            return i;
    return -1;
}

QString SidebarModel::accessibleValue(const StorageAccount& account) {
    if (account.status == StorageAccount::Status::reauthRequired)
        return QStringLiteral("Needs to reconnect");
    if (account.provider == ProviderKind::telegram)
        return QStringLiteral("No storage limit");
    return Format::usage(account.quota);
}

QString SidebarModel::accessibleLabel(const StorageAccount& account) {
    return account.alias + QStringLiteral(", ") + ProviderKinds::displayName(account.provider) +
           QStringLiteral(", ") + account.email;
}

QString SidebarModel::badgeText(const StorageAccount& account) {
    if (account.status == StorageAccount::Status::reauthRequired)
        return {};
    if (account.provider == ProviderKind::telegram)
        return QStringLiteral("\u221e");
    if (account.quota)
        return Format::byteCount(account.quota->usedBytes);
    return {};
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const Row& r = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        switch (r.kind) {
        case Row::Kind::home:
            return QStringLiteral("Home");
        case Row::Kind::uploads:
            return QStringLiteral("Smart Upload");
        case Row::Kind::header:
            return ProviderKinds::displayName(r.provider);
        case Row::Kind::account:
            return r.account.alias;
        }
        break;
    case Qt::AccessibleTextRole:
        if (r.kind == Row::Kind::account)
            return accessibleLabel(r.account);
        return data(index, Qt::DisplayRole);
    case Qt::AccessibleDescriptionRole:
        if (r.kind == Row::Kind::account)
            return accessibleValue(r.account);
        if (r.kind == Row::Kind::uploads && activeUploads_ > 0)
            return QString::number(activeUploads_);
        break;
    case Qt::ToolTipRole:
        if (r.kind == Row::Kind::account)
            return DisplayText::toolTip(ProviderKinds::displayName(r.provider) +
                                        QStringLiteral(" \u00b7 ") + r.account.email);
        break;
    default:
        break;
    }
    return {};
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return Qt::NoItemFlags;
    // A section title is not a stop for the keyboard: Up and Down pass over it.
    if (rows_[index.row()].kind == Row::Kind::header)
        return Qt::ItemNeverHasChildren;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace tw
