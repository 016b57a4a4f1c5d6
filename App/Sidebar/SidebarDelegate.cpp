#include "App/Sidebar/SidebarDelegate.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/UploadingArrow.h"
#include "App/Sidebar/SidebarModel.h"

#include <QApplication>
#include <QPainter>

namespace tw {

namespace {

constexpr int kPadding = 10;
constexpr int kIconGap = 8;

QFont captionOf(const QFont& font) {
    QFont caption = font;
    caption.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.85));
    return caption;
}

} // namespace

SidebarDelegate::SidebarDelegate(const SidebarModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QFontMetrics metrics(option.font);
    switch (model_.row(index.row()).kind) {
    case SidebarModel::Row::Kind::header:
        return QSize(160, metrics.height() + 14);
    case SidebarModel::Row::Kind::account:
        return QSize(
            160,
            std::max(22, metrics.height() + QFontMetrics(captionOf(option.font)).height() + 1) + 8);
    default:
        return QSize(160, metrics.height() + 12);
    }
}

void SidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const SidebarModel::Row& row = model_.row(index.row());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    const QRect area = option.rect.adjusted(4, 1, -4, -1);

    if (row.kind == SidebarModel::Row::Kind::header) {
        QFont font = captionOf(option.font);
        font.setBold(true);
        painter->setFont(font);
        painter->setPen(palette.color(QPalette::PlaceholderText));
        painter->drawText(area.adjusted(kPadding - 4, 0, 0, -3), Qt::AlignLeft | Qt::AlignBottom,
                          index.data().toString());
        painter->restore();
        return;
    }

    if (selected || (option.state & QStyle::State_MouseOver)) {
        QColor fill = palette.color(QPalette::Highlight);
        if (!selected)
            fill.setAlphaF(0.12);
        else if (!(option.state & QStyle::State_HasFocus) && !(option.state & QStyle::State_Active))
            fill.setAlphaF(0.55);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(area, 6, 6);
    }
    const QColor ink = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor secondary = selected ? ink : palette.color(QPalette::PlaceholderText);
    const QFontMetrics metrics(option.font);
    int left = area.left() + kPadding - 4;
    int right = area.right() - kPadding + 4;

    // Trailing badge.
    QString badge;
    bool warning = false;
    if (row.kind == SidebarModel::Row::Kind::uploads && model_.activeUploads() > 0)
        badge = QString::number(model_.activeUploads());
    if (row.kind == SidebarModel::Row::Kind::account) {
        warning = row.account.status == StorageAccount::Status::reauthRequired;
        badge = SidebarModel::badgeText(row.account);
    }
    painter->setFont(captionOf(option.font));
    const QFontMetrics badgeMetrics(painter->font());
    if (warning) {
        const QRect mark(right - 16, area.center().y() - 8, 16, 16);
        const QColor orange = DS::failureColor();
        QPolygonF triangle{QPointF(mark.center().x(), mark.top() + 1.5),
                           QPointF(mark.right() - 0.5, mark.bottom() - 1),
                           QPointF(mark.left() + 0.5, mark.bottom() - 1)};
        painter->setPen(Qt::NoPen);
        painter->setBrush(orange);
        painter->drawPolygon(triangle);
        painter->setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter->drawLine(QPointF(mark.center().x(), mark.top() + 6),
                          QPointF(mark.center().x(), mark.bottom() - 6));
        painter->drawPoint(QPointF(mark.center().x(), mark.bottom() - 3.5));
        right = mark.left() - kIconGap;
    } else if (!badge.isEmpty()) {
        const bool pill = row.kind == SidebarModel::Row::Kind::uploads;
        QFont badgeFont = painter->font();
        if (badge == QStringLiteral("\u221e"))
            badgeFont.setPointSizeF(option.font.pointSizeF() * 1.2);
        painter->setFont(badgeFont);
        const int width = QFontMetrics(badgeFont).horizontalAdvance(badge) + (pill ? 12 : 0);
        const QRect box(right - width, area.center().y() - 8, width, 16);
        if (pill) {
            QColor fill = selected ? ink : secondary;
            fill.setAlphaF(0.2);
            painter->setPen(Qt::NoPen);
            painter->setBrush(fill);
            painter->drawRoundedRect(box, 8, 8);
        }
        painter->setPen(secondary);
        painter->drawText(box, Qt::AlignCenter, badge);
        right = box.left() - kIconGap;
    }
    painter->setFont(option.font);

    switch (row.kind) {
    case SidebarModel::Row::Kind::home:
    case SidebarModel::Row::Kind::uploads: {
        const QRect iconRect(left, area.center().y() - 8, 16, 16);
        if (row.kind == SidebarModel::Row::Kind::uploads && model_.hasActiveUploads()) {
            const QColor accent = selected ? ink : palette.color(QPalette::Highlight);
            UploadingArrow::paint(painter, QRectF(iconRect).adjusted(1, 1, -1, -1), accent, phase_);
        } else {
            const QString symbol = row.kind == SidebarModel::Row::Kind::home
                                       ? QStringLiteral("house")
                                       : QStringLiteral("arrow.up.circle");
            SymbolIcons::icon(symbol).paint(painter, iconRect, Qt::AlignCenter,
                                             selected ? QIcon::Selected : QIcon::Normal);
        }
        left = iconRect.right() + kIconGap;
        painter->setPen(ink);
        painter->drawText(
            QRect(left, area.top(), right - left, area.height()), Qt::AlignVCenter | Qt::AlignLeft,
            metrics.elidedText(index.data().toString(), Qt::ElideRight, right - left));
        break;
    }
    case SidebarModel::Row::Kind::account: {
        const QRect avatar(left, area.center().y() - 11, 22, 22);
        AccountIcon::paint(painter, avatar, row.account);
        left = avatar.right() + kIconGap;
        const QFont caption = captionOf(option.font);
        const QFontMetrics captionMetrics(caption);
        const int textHeight = metrics.height() + 1 + captionMetrics.height();
        const int top = area.center().y() - textHeight / 2;
        painter->setPen(ink);
        painter->drawText(QRect(left, top, right - left, metrics.height()),
                          Qt::AlignVCenter | Qt::AlignLeft,
                          metrics.elidedText(row.account.alias, Qt::ElideRight, right - left));
        painter->setFont(caption);
        painter->setPen(secondary);
        painter->drawText(
            QRect(left, top + metrics.height() + 1, right - left, captionMetrics.height()),
            Qt::AlignVCenter | Qt::AlignLeft,
            captionMetrics.elidedText(row.account.email, Qt::ElideMiddle, right - left));
        break;
    }
    case SidebarModel::Row::Kind::header:
        break;
    }
    painter->restore();
}

} // namespace tw
