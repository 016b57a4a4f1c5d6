#include "App/Search/SearchResultsModel.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/Format.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Files/FileSearch.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QTextDocument>

namespace tw {

SearchResultsModel::SearchResultsModel(FileSearch* search, AccountManager* accounts,
                                       QObject* parent)
    : QAbstractTableModel(parent), search_(search), accounts_(accounts) {
    connect(search, &FileSearch::resultsChanged, this, &SearchResultsModel::refresh);
    connect(accounts, &AccountManager::accountsChanged, this, &SearchResultsModel::accountsChanged);
    for (const StorageAccount& account : accounts->accounts())
        accountByID_.insert(account.id, account);
    items_ = search->results();
    reindex();
}

void SearchResultsModel::reindex() {
    // Tens of thousands of hits would take the main thread a while to index: built on use.
    rows_.clear();
    indexed_ = false;
}

int SearchResultsModel::rowOf(const FileRef& ref) const {
    if (!indexed_) {
        rows_.reserve(items_.size());
        for (qsizetype row = 0; row < items_.size(); ++row)
            rows_.insert(items_[row].ref, int(row));
        indexed_ = true;
    }
    return rows_.value(ref, -1);
}

void SearchResultsModel::refresh() {
    const QList<FileItem> next = search_ ? search_->results() : QList<FileItem>();
    if (next == items_)
        return;
    // Rows dropped from the same list (a trashed file) leave as removals, so the view keeps
    // its scroll position and the selection of the other rows.
    if (next.size() < items_.size()) {
        QList<std::pair<int, int>> removed; // first, last (inclusive), ascending
        qsizetype kept = 0;
        for (qsizetype row = 0; row < items_.size(); ++row) {
            if (kept < next.size() && items_[row] == next[kept]) {
                ++kept;
                continue;
            }
            if (!removed.isEmpty() && removed.last().second == row - 1)
                removed.last().second = int(row);
            else
                removed.append({int(row), int(row)});
        }
        if (kept == next.size()) {
            for (auto it = removed.crbegin(); it != removed.crend(); ++it) {
                beginRemoveRows({}, it->first, it->second);
                items_.remove(it->first, it->second - it->first + 1);
                reindex();
                endRemoveRows();
            }
            return;
        }
    }
    beginResetModel();
    items_ = next;
    reindex();
    endResetModel();
}

void SearchResultsModel::accountsChanged() {
    accountByID_.clear();
    accountIcons_.clear();
    if (accounts_) {
        for (const StorageAccount& account : accounts_->accounts())
            accountByID_.insert(account.id, account);
    }
    if (!items_.isEmpty())
        Q_EMIT dataChanged(index(0, AccountColumn), index(int(items_.size()) - 1, AccountColumn));
}

int SearchResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(items_.size());
}

int SearchResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

Qt::ItemFlags SearchResultsModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QString SearchResultsModel::accountDetail(const StorageAccount& account) {
    return ProviderKinds::displayName(account.provider) + QStringLiteral(" \u00B7 ") +
           account.email;
}

QPixmap SearchResultsModel::accountIcon(const StorageAccount& account) const {
    // The badge's ring is drawn in the palette's window colour: pixmaps drawn in another
    // palette (the theme changed while the results were up) are drawn again.
    const QRgb window = QGuiApplication::palette().color(QPalette::Window).rgba();
    if (window != accountIconsWindow_) {
        accountIcons_.clear();
        accountIconsWindow_ = window;
    }
    if (const auto it = accountIcons_.constFind(account.id); it != accountIcons_.constEnd())
        return *it;
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(iconSize, iconSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        AccountIcon::paint(&painter, AccountIcon::avatarRect(QRect(0, 0, iconSize, iconSize)), account);
    }
    accountIcons_.insert(account.id, pixmap);
    return pixmap;
}

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= items_.size())
        return {};
    const FileItem& item = items_[index.row()];
    switch (index.column()) {
    case NameColumn:
        if (role == Qt::DisplayRole)
            return item.name;
        if (role == Qt::DecorationRole)
            return FileIcons::icon(item);
        break;
    case AccountColumn: {
        const auto it = accountByID_.constFind(item.ref.accountID);
        if (it == accountByID_.constEnd())
            break; // the account was removed meanwhile: an empty cell
        if (role == Qt::DisplayRole)
            return it->alias;
        if (role == Qt::DecorationRole)
            return accountIcon(*it);
        if (role == Qt::ToolTipRole) // rich text made from plain: names show as written
            return Qt::convertFromPlainText(accountDetail(*it), Qt::WhiteSpaceNoWrap);
        break;
    }
    case ModifiedColumn:
        if (role == Qt::DisplayRole)
            return Format::modified(item.modifiedAt);
        if (role == Qt::ForegroundRole)
            return QGuiApplication::palette().brush(QPalette::PlaceholderText);
        break;
    case SizeColumn:
        if (role == Qt::DisplayRole)
            return item.sizeBytes ? Format::byteCount(*item.sizeBytes) : QStringLiteral("--");
        if (role == Qt::ForegroundRole)
            return QGuiApplication::palette().brush(QPalette::PlaceholderText);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default:
        break;
    }
    return {};
}

QVariant SearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case NameColumn:
            return QStringLiteral("Name");
        case AccountColumn:
            return QStringLiteral("Account");
        case ModifiedColumn:
            return QStringLiteral("Date Modified");
        case SizeColumn:
            return QStringLiteral("Size");
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole && section == SizeColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

} // namespace tw
