#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QWidget>

namespace tw {

/// A bar of the used share of a quota with a limit (at most full): the tint below 90 %,
/// orange from 90 %, red when over. Nothing is drawn without a limit.
class UsageMeter : public QWidget {
    Q_OBJECT
public:
    explicit UsageMeter(QWidget* parent = nullptr);
    void setQuota(const std::optional<StorageQuota>& quota, const QColor& tint);
    /// The used share, at most 1; none without a limit.
    static std::optional<double> fraction(const std::optional<StorageQuota>& quota);
    QSize sizeHint() const override { return QSize(180, 6); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<StorageQuota> quota_;
    QColor tint_;
};

} // namespace tw
