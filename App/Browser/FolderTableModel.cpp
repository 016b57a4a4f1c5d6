#include "App/Browser/FolderTableModel.h"

#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/Format.h"
#include "StorageCore/Files/FolderListing.h"

#include <QApplication>
#include <QHash>
#include <QPalette>
#include <QSet>

#include <algorithm>

namespace tw {

FolderTableModel::FolderTableModel(FolderListing* listing, QObject* parent)
    : QAbstractTableModel(parent), listing_(listing) {
    if (!listing_)
        return;
    const QList<FileItem>& items = listing_->items();
    all_.reserve(size_t(items.size()));
    for (const FileItem& item : items)
        all_.push_back(makeEntry(item));
    visible_ = all_;
    connect(listing_, &FolderListing::itemsChanged, this, &FolderTableModel::listingChanged);
}

FolderTableModel::EntryPtr FolderTableModel::makeEntry(const FileItem& item) {
    auto entry = std::make_shared<Entry>();
    entry->item = item;
    entry->category = item.category();
    return entry;
}

bool FolderTableModel::matches(const Entry& entry) const {
    return !filter_ || entry.category == filter_;
}

void FolderTableModel::setFilter(const std::optional<FileCategory>& filter) {
    if (filter == filter_)
        return;
    beginResetModel();
    filter_ = filter;
    visible_.clear();
    if (!filter_) {
        visible_ = all_;
    } else {
        for (const EntryPtr& entry : all_)
            if (entry->category == filter_)
                visible_.push_back(entry);
    }
    endResetModel();
    Q_EMIT rowsChanged();
}

int FolderTableModel::rowOf(const FileRef& ref) const {
    for (size_t row = 0; row < visible_.size(); ++row)
        if (visible_[row]->item.ref == ref)
            return int(row);
    return -1;
}

std::optional<FileItem> FolderTableModel::loadedItem(const FileRef& ref) const {
    for (const EntryPtr& entry : all_)
        if (entry->item.ref == ref)
            return entry->item;
    return std::nullopt;
}

// ---- following the listing -----------------------------------------------------------------

void FolderTableModel::listingChanged() {
    const FolderListing::ItemsChange& change = listing_->lastChange();
    const QList<FileItem>& items = listing_->items();
    const bool appended =
        change.kind == FolderListing::ItemsChange::Kind::appended &&
        change.first == qsizetype(all_.size()) && items.size() >= change.first &&
        (change.first == 0 || items[change.first - 1].ref == all_.back()->item.ref);
    if (appended)
        append(change.first);
    else
        replaceAll();
    Q_EMIT rowsChanged();
}

void FolderTableModel::append(qsizetype first) {
    const QList<FileItem>& items = listing_->items();
    std::vector<EntryPtr> shown;
    for (qsizetype i = first; i < items.size(); ++i) {
        EntryPtr entry = makeEntry(items[i]);
        if (matches(*entry))
            shown.push_back(entry);
        all_.push_back(std::move(entry));
    }
    if (shown.empty())
        return;
    const int at = int(visible_.size());
    beginInsertRows({}, at, at + int(shown.size()) - 1);
    visible_.insert(visible_.end(), std::make_move_iterator(shown.begin()),
                    std::make_move_iterator(shown.end()));
    endInsertRows();
}

void FolderTableModel::replaceAll() {
    // Entries of unchanged items are kept (with their texts and icons); the shown rows then
    // move to the new list by removals, one reorder and inserts.
    QHash<FileRef, EntryPtr> previous;
    previous.reserve(qsizetype(all_.size()));
    for (const EntryPtr& entry : all_)
        previous.insert(entry->item.ref, entry);
    const QList<FileItem>& items = listing_->items();
    std::vector<EntryPtr> fresh;
    fresh.reserve(size_t(items.size()));
    std::vector<EntryPtr> wanted;
    for (const FileItem& item : items) {
        EntryPtr entry = previous.value(item.ref);
        if (!entry || !(entry->item == item))
            entry = makeEntry(item);
        if (matches(*entry))
            wanted.push_back(entry);
        fresh.push_back(std::move(entry));
    }
    all_ = std::move(fresh);
    applyVisible(std::move(wanted));
}

void FolderTableModel::applyVisible(std::vector<EntryPtr> wanted) {
    QHash<FileRef, int> wantedIndex;
    wantedIndex.reserve(qsizetype(wanted.size()));
    for (size_t i = 0; i < wanted.size(); ++i)
        wantedIndex.insert(wanted[i]->item.ref, int(i));
    if (wantedIndex.size() != qsizetype(wanted.size())) {
        // A ref listed twice: rows cannot be told apart, so start over.
        beginResetModel();
        visible_ = std::move(wanted);
        endResetModel();
        return;
    }

    // 1. Rows whose item left go, bottom-up, one range at a time.
    int row = int(visible_.size()) - 1;
    while (row >= 0) {
        if (wantedIndex.contains(visible_[size_t(row)]->item.ref)) {
            --row;
            continue;
        }
        const int last = row;
        while (row >= 0 && !wantedIndex.contains(visible_[size_t(row)]->item.ref))
            --row;
        beginRemoveRows({}, row + 1, last);
        visible_.erase(visible_.begin() + (row + 1), visible_.begin() + (last + 1));
        endRemoveRows();
    }

    // 2. The rows that stay take their new order in one layout change (a rename may move a
    //    row); persistent indexes, and with them the selection, move along.
    std::vector<int> order(visible_.size());
    for (size_t i = 0; i < visible_.size(); ++i)
        order[i] = wantedIndex.value(visible_[i]->item.ref);
    if (!std::is_sorted(order.begin(), order.end())) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<size_t> byNew(visible_.size());
        for (size_t i = 0; i < byNew.size(); ++i)
            byNew[i] = i;
        std::sort(byNew.begin(), byNew.end(),
                  [&](size_t a, size_t b) { return order[a] < order[b]; });
        std::vector<int> newRowOf(visible_.size());
        std::vector<EntryPtr> reordered;
        reordered.reserve(visible_.size());
        for (size_t i = 0; i < byNew.size(); ++i) {
            newRowOf[byNew[i]] = int(i);
            reordered.push_back(visible_[byNew[i]]);
        }
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from)
            to.append(index.isValid() && size_t(index.row()) < newRowOf.size()
                          ? createIndex(newRowOf[size_t(index.row())], index.column())
                          : QModelIndex());
        visible_ = std::move(reordered);
        changePersistentIndexList(from, to);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // 3. New rows come in, one range per run; rows whose item changed are announced.
    QSet<FileRef> staying;
    staying.reserve(qsizetype(visible_.size()));
    for (const EntryPtr& entry : visible_)
        staying.insert(entry->item.ref);
    int firstChanged = -1;
    int lastChanged = -1;
    size_t at = 0;
    size_t k = 0;
    while (k < wanted.size()) {
        if (staying.contains(wanted[k]->item.ref)) {
            if (visible_[at] != wanted[k]) {
                visible_[at] = wanted[k];
                firstChanged = firstChanged < 0 ? int(at) : firstChanged;
                lastChanged = int(at);
            }
            ++at;
            ++k;
            continue;
        }
        size_t end = k;
        while (end < wanted.size() && !staying.contains(wanted[end]->item.ref))
            ++end;
        beginInsertRows({}, int(at), int(at + (end - k)) - 1);
        visible_.insert(visible_.begin() + std::ptrdiff_t(at), wanted.begin() + std::ptrdiff_t(k),
                        wanted.begin() + std::ptrdiff_t(end));
        endInsertRows();
        at += end - k;
        k = end;
    }
    if (firstChanged >= 0)
        Q_EMIT dataChanged(index(firstChanged, 0), index(lastChanged, columnCount_ - 1));
}

// ---- table -----------------------------------------------------------------------------------

int FolderTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(visible_.size());
}

int FolderTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant FolderTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(visible_.size()))
        return {};
    const Entry& entry = *visible_[size_t(index.row())];
    const FileItem& item = entry.item;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (index.column()) {
        case nameColumn:
            return item.name;
        case modifiedColumn:
            if (!entry.modifiedText)
                entry.modifiedText = Format::modified(item.modifiedAt);
            return *entry.modifiedText;
        case sizeColumn:
            if (item.isFolder() || !item.sizeBytes)
                return QStringLiteral("--");
            return Format::byteCount(*item.sizeBytes);
        case kindColumn:
            if (!entry.kindText) {
                // Few distinct kinds per folder: the text (a MIME database look-up) is made
                // once per type and extension.
                static QHash<QString, QString> kinds;
                const QString key = item.mimeType + QLatin1Char('\n') +
                                    FileKinds::pathExtension(item.name).toLower();
                auto it = kinds.constFind(key);
                if (it == kinds.constEnd())
                    it = kinds.insert(key, Format::kind(item));
                entry.kindText = *it;
            }
            return *entry.kindText;
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == nameColumn) {
            if (!entry.icon)
                entry.icon = FileIcons::icon(item);
            return *entry.icon;
        }
        break;
    case Qt::ForegroundRole:
        if (index.column() != nameColumn)
            return QApplication::palette().brush(QPalette::PlaceholderText);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == sizeColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        break;
    }
    return {};
}

QVariant FolderTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case nameColumn:
            return QStringLiteral("Name");
        case modifiedColumn:
            return QStringLiteral("Date Modified");
        case sizeColumn:
            return QStringLiteral("Size");
        case kindColumn:
            return QStringLiteral("Kind");
        }
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue((section == sizeColumn ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags FolderTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace tw
