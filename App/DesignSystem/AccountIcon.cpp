#include "App/DesignSystem/AccountIcon.h"

#include "App/DesignSystem/DesignSystem.h"

#include <QPainter>

namespace tw {

AccountIcon::AccountIcon(const StorageAccount& account, int size, QWidget* parent)
    : QWidget(parent), account_(account) {
    setFixedSize(size, size);
    setAccessibleName(account.alias);
}

void AccountIcon::setAccount(const StorageAccount& account) {
    account_ = account;
    setAccessibleName(account.alias);
    update();
}

void AccountIcon::paint(QPainter* painter, const QRect& rect, const StorageAccount& account) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(DS::serviceColor(account.provider));
    painter->drawEllipse(rect);
    QFont font = painter->font();
    font.setBold(true);
    font.setPixelSize(std::max(6, int(rect.height() * 0.55)));
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(rect, Qt::AlignCenter,
                      account.provider == ProviderKind::telegram ? QStringLiteral("T") : QStringLiteral("G"));
    painter->restore();
}

void AccountIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(&painter, rect(), account_);
}

void AccountDot::paint(QPainter* painter, const QRect& rect, const StorageAccount& account) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(DS::AccountPalette::color(account.colorIndex));
    painter->drawEllipse(rect);
    painter->restore();
}

} // namespace tw
