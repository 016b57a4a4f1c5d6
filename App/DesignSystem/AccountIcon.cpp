#include "App/DesignSystem/AccountIcon.h"

#include "App/DesignSystem/DesignSystem.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>

namespace tw {

namespace {

int overhang(int size) {
    return int(std::ceil(size * 0.08));
}

} // namespace

AccountIcon::AccountIcon(const StorageAccount& account, int size, QWidget* parent)
    : QWidget(parent), account_(account), size_(size) {
    setFixedSize(size + overhang(size), size + overhang(size));
    setAccessibleName(accessibleNameFor(account.provider));
}

void AccountIcon::setAccount(const StorageAccount& account) {
    account_ = account;
    setAccessibleName(accessibleNameFor(account.provider));
    update();
}

QString AccountIcon::accessibleNameFor(ProviderKind provider) {
    return provider == ProviderKind::telegram ? QStringLiteral("Telegram")
                                              : QStringLiteral("Google Drive");
}

QRectF AccountIcon::badgeRect(const QRectF& rect) {
    const qreal side = rect.width() * 0.38;
    const qreal shift = rect.width() * 0.08;
    return QRectF(rect.right() + shift - side, rect.bottom() + shift - side, side, side);
}

QRect AccountIcon::avatarRect(const QRect& square) {
    const int side = std::min(square.width(), square.height());
    const int avatar = int(side / 1.08);
    return QRect(square.topLeft(), QSize(avatar, avatar));
}

void AccountIcon::paint(QPainter* painter, const QRect& rect, const StorageAccount& account) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(DS::serviceColor(account.provider));
    painter->drawEllipse(rect);
    QFont font = painter->font();
    font.setBold(true);
    font.setPixelSize(std::max(6, int(rect.height() * 0.58)));
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(rect, Qt::AlignCenter,
                      account.provider == ProviderKind::telegram ? QStringLiteral("T")
                                                                 : QStringLiteral("G"));

    // The badge, ringed inside its edge in the window colour.
    const QRectF badge = badgeRect(QRectF(rect));
    const qreal ring = 1.5;
    painter->setPen(Qt::NoPen);
    painter->setBrush(QGuiApplication::palette().color(QPalette::Window));
    painter->drawEllipse(badge);
    painter->setBrush(DS::AccountPalette::color(account.colorIndex));
    painter->drawEllipse(badge.adjusted(ring, ring, -ring, -ring));
    painter->restore();
}

void AccountIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(&painter, QRect(0, 0, size_, size_), account_);
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
