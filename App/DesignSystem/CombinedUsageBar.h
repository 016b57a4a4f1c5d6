#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QWidget>

#include <optional>

namespace tw {

/// One bar for the use of several accounts: a segment per account in its palette colour, in
/// the order given, scaled to the total limit (or to the total used when there is none).
class CombinedUsageBar : public QWidget {
    Q_OBJECT
public:
    explicit CombinedUsageBar(QWidget* parent = nullptr);
    void setAccounts(const QList<StorageAccount>& accounts, std::optional<qint64> totalLimit);

    /// The width of each drawn segment for a bar width (accounts without use add none).
    static QList<std::pair<int, double>> segments(const QList<StorageAccount>& accounts,
                                                  std::optional<qint64> totalLimit, double width);
    /// "12 GB used" or "12 GB of 30 GB".
    static QString accessibleValue(const QList<StorageAccount>& accounts,
                                   std::optional<qint64> totalLimit);
    QSize sizeHint() const override { return QSize(240, 14); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<StorageAccount> accounts_;
    std::optional<qint64> totalLimit_;
};

} // namespace tw
