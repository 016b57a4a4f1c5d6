#include "App/DesignSystem/UsageMeter.h"

#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/Format.h"

#include <QPainter>

namespace tw {

UsageMeter::UsageMeter(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("usageMeter"));
    setFixedHeight(6);
    setAccessibleName(QStringLiteral("Storage used"));
}

QColor UsageMeter::colorFor(double fraction, const QColor& tint) {
    return fraction >= 0.9 ? DS::AccountPalette::color(1) : tint; // the palette's orange
}

std::optional<double> UsageMeter::fraction(const std::optional<StorageQuota>& quota) {
    if (!quota || !quota->limitBytes || *quota->limitBytes <= 0)
        return std::nullopt;
    return std::clamp(double(quota->usedBytes) / double(*quota->limitBytes), 0.0, 1.0);
}

void UsageMeter::setQuota(const std::optional<StorageQuota>& quota, const QColor& tint) {
    quota_ = quota;
    tint_ = tint;
    setAccessibleDescription(Format::usage(quota));
    setVisible(fraction(quota).has_value());
    update();
}

void UsageMeter::paintEvent(QPaintEvent*) {
    const std::optional<double> used = fraction(quota_);
    if (!used)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar = QRectF(rect()).adjusted(0, 0.5, 0, -0.5);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(track);
    painter.drawRoundedRect(bar, bar.height() / 2, bar.height() / 2);
    painter.setBrush(colorFor(*used, tint_));
    painter.drawRoundedRect(QRectF(bar.left(), bar.top(), bar.width() * *used, bar.height()),
                            bar.height() / 2, bar.height() / 2);
}

} // namespace tw
