#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QWidget>

namespace tw {

/// A bar of the used share of a quota with a limit (at most full): the tint below 90 %,
/// orange from 90 % (a quota over its limit is a full orange bar). Without a limit above zero
/// the meter is hidden.
class UsageMeter : public QWidget {
    Q_OBJECT
public:
    explicit UsageMeter(QWidget* parent = nullptr);
    void setQuota(const std::optional<StorageQuota>& quota, const QColor& tint);
    /// The used share, at most 1; none without a limit above zero.
    static std::optional<double> fraction(const std::optional<StorageQuota>& quota);
    /// The bar's colour at a used share.
    static QColor colorFor(double fraction, const QColor& tint);
    QSize sizeHint() const override { return QSize(180, 6); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<StorageQuota> quota_;
    QColor tint_;
};

} // namespace tw
