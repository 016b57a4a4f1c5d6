#pragma once

#include "App/DesignSystem/RowChanges.h"
#include "App/Model/ModelTypes.h"
#include "StorageCore/Domain/StorageAccount.h"

namespace tw {

class AppModel;

/// The sidebar's rows: "Home", "Smart Upload", then one section per service (Google Drive,
/// then Telegram) headed by the service's name and holding its accounts in list order. A
/// section exists only while it has an account. Headers cannot be selected. Accounts that
/// come or go are inserted or removed; only rows whose account or badge changed are marked
/// changed.
class SidebarModel : public RowChangingListModel {
    Q_OBJECT
public:
    struct Row {
        enum class Kind { home, uploads, header, account };
        Kind kind = Kind::home;
        ProviderKind provider = ProviderKind::googleDrive; // header and account
        StorageAccount account;                            // account only
        qsizetype activeUploads = 0;                       // uploads only: its badge

        bool operator==(const Row&) const = default;
    };

    explicit SidebarModel(AppModel& model, QObject* parent = nullptr);

    const Row& row(int index) const { return rows_[index]; }
    /// The selection a row stands for (none for headers).
    std::optional<SidebarItem> itemAt(int index) const;
    /// The row of a selection, or -1.
    int rowOf(const std::optional<SidebarItem>& item) const;
    /// The Smart Upload badge: queued and uploading jobs.
    qsizetype activeUploads() const { return activeUploads_; }
    bool hasActiveUploads() const { return activeUploads_ > 0; }

    /// "Needs to reconnect", "No storage limit" or the quota's usage text.
    static QString accessibleValue(const StorageAccount& account);
    /// The alias, the service's name and the e-mail address, ", " between them.
    static QString accessibleLabel(const StorageAccount& account);
    /// The trailing badge's text: "∞" for Telegram, the used bytes where a quota is known.
    static QString badgeText(const StorageAccount& account);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void refresh();

    AppModel& model_;
    QList<Row> rows_;
    qsizetype activeUploads_ = 0;
};

} // namespace tw
