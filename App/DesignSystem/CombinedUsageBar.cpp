#include "App/DesignSystem/CombinedUsageBar.h"

#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/Format.h"

#include <QPainter>
#include <QPainterPath>

namespace tw {

namespace {

qint64 totalUsed(const QList<StorageAccount>& accounts) {
    qint64 used = 0;
    for (const StorageAccount& account : accounts)
        if (account.quota)
            used += account.quota->usedBytes;
    return used;
}

} // namespace

CombinedUsageBar::CombinedUsageBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("combinedUsageBar"));
    setAccessibleName(QStringLiteral("All storage"));
    setFixedHeight(14);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CombinedUsageBar::setAccounts(const QList<StorageAccount>& accounts,
                                   std::optional<qint64> totalLimit) {
    accounts_ = accounts;
    totalLimit_ = totalLimit;
    setAccessibleDescription(accessibleValue(accounts, totalLimit));
    update();
}

QList<std::pair<int, double>> CombinedUsageBar::segments(const QList<StorageAccount>& accounts,
                                                         std::optional<qint64> totalLimit,
                                                         double width) {
    const double scale = double(std::max<qint64>(totalLimit.value_or(totalUsed(accounts)), 1));
    QList<std::pair<int, double>> result;
    for (const StorageAccount& account : accounts) {
        if (!account.quota || account.quota->usedBytes <= 0)
            continue;
        result.append({account.colorIndex,
                       std::max(width * double(account.quota->usedBytes) / scale, 2.0)});
    }
    return result;
}

QString CombinedUsageBar::accessibleValue(const QList<StorageAccount>& accounts,
                                          std::optional<qint64> totalLimit) {
    const QString used = Format::byteCount(totalUsed(accounts));
    if (!totalLimit)
        return used + QStringLiteral(" used");
    return used + QStringLiteral(" of ") + Format::byteCount(*totalLimit);
}

void CombinedUsageBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 4, 4);
    painter.setClipPath(clip);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.08);
    painter.fillRect(rect(), track);
    double x = 0;
    for (const auto& [colorIndex, segmentWidth] : segments(accounts_, totalLimit_, width())) {
        if (x >= width())
            break;
        painter.fillRect(QRectF(x, 0, segmentWidth, height()), DS::AccountPalette::color(colorIndex));
        x += segmentWidth + 1;
    }
}

} // namespace tw
