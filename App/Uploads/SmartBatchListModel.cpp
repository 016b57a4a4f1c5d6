#include "App/Uploads/SmartBatchListModel.h"

#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "App/Uploads/SmartUploadRowDelegate.h"
#include "StorageCore/Accounts/AccountManager.h"

#include <QSet>

namespace tw {

SmartBatchListModel::SmartBatchListModel(AppModel& model, QObject* parent)
    : QAbstractListModel(parent), model_(model) {
    connect(&model, &AppModel::smartBatchChanged, this, &SmartBatchListModel::refresh);
    connect(model.accounts(), &AccountManager::accountsChanged, this, [this] {
        if (!items_.isEmpty())
            Q_EMIT dataChanged(index(0), index(int(items_.size()) - 1));
    });
    items_ = model.smartBatch();
}

void SmartBatchListModel::refresh() {
    const QList<SmartUploadItem>& next = model_.smartBatch();
    // Removals first (from the end, so indexes stay valid), keeping the survivors' order.
    QSet<QUuid> nextIDs;
    for (const SmartUploadItem& item : next)
        nextIDs.insert(item.id);
    for (int row = int(items_.size()) - 1; row >= 0;) {
        if (nextIDs.contains(items_[row].id)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !nextIDs.contains(items_[first - 1].id))
            --first;
        beginRemoveRows({}, first, row);
        items_.remove(first, row - first + 1);
        endRemoveRows();
        row = first - 1;
    }
    // The batch only ever appends and removes; anything else (a rebuilt batch whose items
    // got new ids, a reorder) is applied as a reset.
    bool prefix = items_.size() <= next.size();
    for (qsizetype i = 0; prefix && i < items_.size(); ++i)
        prefix = items_[i].id == next[i].id;
    if (!prefix) {
        beginResetModel();
        items_ = next;
        endResetModel();
        return;
    }
    QList<int> changed;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (!(items_[i] == next[i])) {
            items_[i] = next[i];
            changed.append(int(i));
        }
    }
    if (!changed.isEmpty())
        Q_EMIT dataChanged(index(changed.first()), index(changed.last()));
    if (next.size() > items_.size()) {
        beginInsertRows({}, int(items_.size()), int(next.size()) - 1);
        items_.append(next.mid(items_.size()));
        endInsertRows();
    }
}

int SmartBatchListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(items_.size());
}

QVariant SmartBatchListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= items_.size())
        return {};
    const SmartUploadItem& item = items_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return item.file.name;
    case Qt::AccessibleTextRole:
        // Named like a job row: the file and where it goes, once it has somewhere to go.
        if (item.target && model_.accounts()->account(item.target->accountID))
            return item.file.name + QStringLiteral(", to ") + model_.displayName(*item.target);
        return item.file.name;
    case Qt::AccessibleDescriptionRole:
        return Format::byteCount(item.file.sizeBytes) + QStringLiteral(" \u00b7 ") +
               SmartUploadRowDelegate::reasonText(item);
    default:
        return {};
    }
}

} // namespace tw
