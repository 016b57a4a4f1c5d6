#include "App/Browser/FolderTableModel.h"

#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/Format.h"
#include "StorageCore/Files/FolderListing.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>

namespace tw {

FolderTableModel::FolderTableModel(FolderListing* listing, QObject* parent)
    : QAbstractTableModel(parent), listing_(listing) {
    if (!listing_)
        return;
    loaded_ = listing_->items().size();
    rows_ = matching();
    connect(listing_, &FolderListing::itemsAboutToChange, this,
            &FolderTableModel::listingAboutToChange);
    connect(listing_, &FolderListing::itemsChanged, this, &FolderTableModel::listingChanged);
    connect(listing_, &QObject::destroyed, this, &FolderTableModel::listingGone);
}

void FolderTableModel::appendMatching(std::vector<int>& rows, qsizetype first) const {
    // Every item is looked at once per filter switch and page: the loop keeps to the
    // listing's compact traits.
    const FolderListing* listing = listing_.data();
    const qsizetype count = listing->items().size();
    if (!filter_) {
        rows.reserve(rows.size() + size_t(std::max<qsizetype>(0, count - first)));
        for (qsizetype i = first; i < count; ++i)
            rows.push_back(int(i));
        return;
    }
    const FileCategory wanted = *filter_;
    for (qsizetype i = first; i < count; ++i)
        if (listing->categoryAt(i) == wanted)
            rows.push_back(int(i));
}

std::vector<int> FolderTableModel::matching() const {
    std::vector<int> rows;
    if (listing_)
        appendMatching(rows, 0);
    return rows;
}

void FolderTableModel::setFilter(const std::optional<FileCategory>& filter) {
    if (filter == filter_)
        return;
    beginResetModel();
    filter_ = filter;
    rows_ = matching();
    endResetModel();
    Q_EMIT rowsChanged();
}

int FolderTableModel::rowOf(const FileRef& ref) const {
    if (!listing_)
        return -1;
    const QList<FileItem>& items = listing_->items();
    for (size_t row = 0; row < rows_.size(); ++row)
        if (rows_[row] >= 0 && items[rows_[row]].ref == ref)
            return int(row);
    return -1;
}

std::optional<FileItem> FolderTableModel::loadedItem(const FileRef& ref) const {
    if (!listing_)
        return std::nullopt;
    for (const FileItem& item : listing_->items())
        if (item.ref == ref)
            return item;
    return std::nullopt;
}

// ---- following the listing -----------------------------------------------------------------

void FolderTableModel::listingAboutToChange() {
    // Read once per change: a change that turned out to change nothing leaves the rows, and
    // with them these refs, as they are.
    if (beforeTaken_)
        return;
    const QList<FileItem>& items = listing_->items();
    before_.clear();
    before_.reserve(rows_.size());
    for (int index : rows_)
        before_.push_back(items[index].ref);
    beforeTaken_ = true;
}

void FolderTableModel::listingChanged() {
    const FolderListing::ItemsChange& change = listing_->lastChange();
    const bool appended = !beforeTaken_ &&
                          change.kind == FolderListing::ItemsChange::Kind::appended &&
                          change.first == loaded_ && listing_->items().size() >= change.first;
    if (appended)
        append(change.first);
    else
        follow();
    Q_EMIT rowsChanged();
}

void FolderTableModel::listingGone() {
    beginResetModel();
    rows_.clear();
    before_.clear();
    beforeTaken_ = false;
    loaded_ = 0;
    endResetModel();
    Q_EMIT rowsChanged();
}

void FolderTableModel::append(qsizetype first) {
    std::vector<int> shown;
    appendMatching(shown, first);
    loaded_ = listing_->items().size();
    if (shown.empty())
        return;
    const int at = int(rows_.size());
    beginInsertRows({}, at, at + int(shown.size()) - 1);
    rows_.insert(rows_.end(), shown.begin(), shown.end());
    endInsertRows();
}

void FolderTableModel::follow() {
    // The shown rows move to the new list by removals, one reorder and inserts; rows are
    // told apart by the refs read before the change.
    const QList<FileItem>& items = listing_->items();
    std::vector<int> wanted = matching();
    std::vector<FileRef> before = std::move(before_);
    before_ = {};
    const bool known = beforeTaken_ && before.size() == rows_.size();
    beforeTaken_ = false;
    loaded_ = items.size();

    QHash<FileRef, int> wantedIndex;
    wantedIndex.reserve(qsizetype(wanted.size()));
    for (size_t i = 0; i < wanted.size(); ++i)
        wantedIndex.insert(items[wanted[i]].ref, int(i));
    if (!known || wantedIndex.size() != qsizetype(wanted.size())) {
        // Rows that cannot be told apart (a ref listed twice): start over.
        beginResetModel();
        rows_ = std::move(wanted);
        endResetModel();
        return;
    }

    // Each shown row's place among the wanted rows, or -1 when its item left. Rows that stay
    // already show their item's new index, so that what they show is right at every step.
    std::vector<int> place(rows_.size());
    for (size_t row = 0; row < rows_.size(); ++row) {
        place[row] = wantedIndex.value(before[row], -1);
        rows_[row] = place[row] < 0 ? -1 : wanted[size_t(place[row])];
    }

    // 1. Rows whose item left go, bottom-up, one range at a time.
    int row = int(rows_.size()) - 1;
    while (row >= 0) {
        if (place[size_t(row)] >= 0) {
            --row;
            continue;
        }
        const int last = row;
        while (row >= 0 && place[size_t(row)] < 0)
            --row;
        beginRemoveRows({}, row + 1, last);
        rows_.erase(rows_.begin() + (row + 1), rows_.begin() + (last + 1));
        place.erase(place.begin() + (row + 1), place.begin() + (last + 1));
        endRemoveRows();
    }

    // 2. The rows that stay take their new order in one layout change (a rename may move a
    //    row); persistent indexes, and with them the selection, move along.
    if (!std::is_sorted(place.begin(), place.end())) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<size_t> byNew(place.size());
        for (size_t i = 0; i < byNew.size(); ++i)
            byNew[i] = i;
        std::sort(byNew.begin(), byNew.end(),
                  [&](size_t a, size_t b) { return place[a] < place[b]; });
        std::vector<int> newRowOf(place.size());
        std::vector<int> reordered(place.size()), reorderedPlace(place.size());
        for (size_t i = 0; i < byNew.size(); ++i) {
            newRowOf[byNew[i]] = int(i);
            reordered[i] = rows_[byNew[i]];
            reorderedPlace[i] = place[byNew[i]];
        }
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from)
            to.append(index.isValid() && size_t(index.row()) < newRowOf.size()
                          ? createIndex(newRowOf[size_t(index.row())], index.column())
                          : QModelIndex());
        rows_ = std::move(reordered);
        place = std::move(reorderedPlace);
        changePersistentIndexList(from, to);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
    const int staying = int(rows_.size());

    // 3. New rows come in, one range per run.
    size_t at = 0;
    size_t k = 0;
    while (k < wanted.size()) {
        if (at < place.size() && place[at] == int(k)) {
            ++at;
            ++k;
            continue;
        }
        size_t end = k;
        while (end < wanted.size() && !(at < place.size() && place[at] == int(end)))
            ++end;
        beginInsertRows({}, int(at), int(at + (end - k)) - 1);
        rows_.insert(rows_.begin() + std::ptrdiff_t(at), wanted.begin() + std::ptrdiff_t(k),
                     wanted.begin() + std::ptrdiff_t(end));
        place.insert(place.begin() + std::ptrdiff_t(at), end - k, -1);
        for (size_t i = k; i < end; ++i)
            place[at + (i - k)] = int(i);
        endInsertRows();
        at += end - k;
        k = end;
    }
    // The items of rows that stayed may have changed (a rename, a new size): the listing
    // keeps no earlier copy to compare with, so they are all announced.
    if (staying > 0)
        Q_EMIT dataChanged(index(0, 0), index(int(rows_.size()) - 1, columnCount_ - 1));
}

// ---- table -----------------------------------------------------------------------------------

int FolderTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int FolderTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QString FolderTableModel::modifiedText(const FileItem& item) const {
    if (!item.modifiedAt)
        return Format::modified(item.modifiedAt);
    const qint64 key = item.modifiedAt->toMSecsSinceEpoch();
    if (auto it = modifiedTexts_.constFind(key); it != modifiedTexts_.constEnd())
        return *it;
    if (modifiedTexts_.size() >= 4096)
        modifiedTexts_.clear();
    return *modifiedTexts_.insert(key, Format::modified(item.modifiedAt));
}

QVariant FolderTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size()) || !listing_ ||
        rows_[size_t(index.row())] < 0)
        return {};
    const FileItem& item = this->item(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (index.column()) {
        case nameColumn:
            return item.name;
        case modifiedColumn:
            return modifiedText(item);
        case sizeColumn:
            if (item.isFolder() || !item.sizeBytes)
                return QStringLiteral("--");
            return Format::byteCount(*item.sizeBytes);
        case kindColumn: {
            // Few distinct kinds per folder: the text (a MIME database look-up) is made once
            // per type and extension.
            static QHash<QString, QString> kinds;
            const QString key =
                item.mimeType + QLatin1Char('\n') + FileKinds::pathExtension(item.name).toLower();
            auto it = kinds.constFind(key);
            if (it == kinds.constEnd())
                it = kinds.insert(key, Format::kind(item));
            return *it;
        }
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == nameColumn)
            return FileIcons::icon(item); // one per MIME type, cached there
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
