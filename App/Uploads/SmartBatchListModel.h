#pragma once

#include "App/Model/ModelTypes.h"

#include <QAbstractListModel>

namespace tw {

class AppModel;

/// The smart-upload batch as a list, in batch order. Items that stay keep their rows: a
/// change of destinations goes out as dataChanged, files that come or go as row inserts and
/// removals, so a long batch never rebuilds for one change. The account list's changes
/// repaint every row (fits and titles depend on it). For assistive technologies a row is
/// named by its file and destination and described by its size and reason.
class SmartBatchListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit SmartBatchListModel(AppModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const SmartUploadItem& item(int row) const { return items_.at(row); }

private:
    void refresh();

    AppModel& model_;
    QList<SmartUploadItem> items_;
};

} // namespace tw
