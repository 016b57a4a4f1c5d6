#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QHash>
#include <QWidget>

class QLabel;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace tw {

class AppModel;
class CombinedUsageBar;
class ContentUnavailableView;
class StorageRow;

/// The overview of all connected storage: the number of storages and the combined use of the
/// Google Drive accounts, one row per account (usage, sign-in state, Open), and the newest
/// activity. Without accounts it invites the user to connect one. Reads everything from the
/// model; changes arriving together are applied once, and only while the pane is shown.
class HomeView : public QWidget {
    Q_OBJECT
public:
    explicit HomeView(AppModel& model, QWidget* parent = nullptr);

    /// "Usage unavailable", "3 GB used" or "3 GB of 15 GB used".
    static QString totalText(const std::optional<StorageQuota>& total);
    /// "1 Storage" or "3 Storages".
    static QString storageCount(qsizetype count);
    /// Starts a refresh of every account's quota (the pane's refresh action).
    void refresh();
    bool isRefreshing() const { return refreshing_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum Part { accountsPart = 1, activityPart = 2 };
    void scheduleUpdate(int parts);
    void apply();
    void showEmpty();
    void applyOverview(const QList<StorageAccount>& accounts);
    void applyRows(const QList<StorageAccount>& accounts);
    void applyActivity();

    AppModel& model_;
    QStackedLayout* stack_;
    ContentUnavailableView* empty_ = nullptr;
    QWidget* overview_;
    QWidget* form_;
    QLabel* count_;
    QLabel* total_;
    CombinedUsageBar* bar_;
    QWidget* legend_;
    QWidget* legendEntries_; // the accounts' dots and names, wrapping onto more lines
    QToolButton* refreshButton_;
    QVBoxLayout* rows_;
    QVBoxLayout* activity_;
    QList<QUuid> rowOrder_;
    QHash<QUuid, StorageRow*> rowByID_;
    QLabel* available_ = nullptr;
    QStringList legendKey_;
    bool updatePending_ = false;
    int dirty_ = accountsPart | activityPart;
    bool refreshing_ = false;
};

} // namespace tw
