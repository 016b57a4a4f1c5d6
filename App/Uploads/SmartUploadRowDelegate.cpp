#include "App/Uploads/SmartUploadRowDelegate.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/Format.h"
#include "App/DesignSystem/SymbolIcons.h"

#include "App/Model/AppModel.h"
#include "App/Uploads/SmartBatchListModel.h"
#include "App/Uploads/SmartUploadView.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/UploadCandidate.h"
#include "StorageCore/Transfers/UploadRule.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace tw {

namespace {

constexpr int kPadX = 14;
constexpr int kPadY = 8;
constexpr int kIcon = 28;
constexpr int kGap = 10;
constexpr int kRemove = 18;
constexpr int kMenuIcon = 16;
constexpr int kMenuMaxText = 220;
const QString kDestinationTip = QStringLiteral("Change where this file goes");
const QString kRemoveTip = QStringLiteral("Remove from this upload");

using ReasonKind = UploadSuggestion::Reason::Kind;

UploadTarget topLevel(const QUuid& accountID) { return UploadTarget{accountID, std::nullopt, {}}; }

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

} // namespace

SmartUploadRowDelegate::SmartUploadRowDelegate(AppModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QString SmartUploadRowDelegate::reasonText(const SmartUploadItem& item) {
    if (item.isManual)
        return QStringLiteral("Chosen by you");
    switch (item.reason.kind) {
    case ReasonKind::rule:
        return QStringLiteral("Your rule for ") +
               (item.reason.rule ? SmartUploadView::describe(item.reason.rule->match).toLower()
                                 : QString());
    case ReasonKind::usual:
        return item.reason.count == 1 ? QStringLiteral("Where you put a similar file")
                                      : QStringLiteral("Where you usually put files like this");
    case ReasonKind::mostSpace:
        return QStringLiteral("Most free space");
    case ReasonKind::noStorageFits:
        return QStringLiteral("Too large for every storage");
    }
    return {};
}

QString SmartUploadRowDelegate::ruleTitle(const LocalFile& file) {
    const QString extension = UploadRule::Match::normalized(FileKinds::pathExtension(file.name));
    QString subject;
    if (!extension.isEmpty()) {
        subject = QStringLiteral(".") + extension + QStringLiteral(" files");
    } else if (const auto category = LocalFiles::category(file)) {
        subject = FileCategories::rawValue(*category);
    } else {
        subject = QStringLiteral("files like this");
    }
    return QStringLiteral("Always Upload ") + subject + QStringLiteral(" Here");
}

bool SmartUploadRowDelegate::fits(const StorageAccount& account, const LocalFile& file) {
    return UploadCandidate::fromAccount(account).fits(file);
}

QString SmartUploadRowDelegate::uploadToTitle(const StorageAccount& account, const LocalFile& file) {
    if (fits(account, file))
        return account.alias;
    QString why;
    if (account.status == StorageAccount::Status::reauthRequired)
        why = QStringLiteral("needs reconnecting");
    else if (const std::optional<qint64> limit =
                 ProviderKinds::capabilities(account.provider).maxFileSize;
             limit && file.sizeBytes > *limit)
        why = QStringLiteral("over ") + formatFileByteCount(*limit) + QStringLiteral(" limit");
    else
        why = QStringLiteral("not enough space");
    return account.alias + QStringLiteral(" \u2014 ") + why;
}

QString SmartUploadRowDelegate::destinationLabel(const SmartUploadItem& item) const {
    return destinationLabel(model_, item);
}

QString SmartUploadRowDelegate::destinationLabel(const AppModel& model, const SmartUploadItem& item) {
    if (item.target && model.accounts()->account(item.target->accountID))
        return model.displayName(*item.target);
    return QStringLiteral("Choose Destination");
}

const SmartUploadItem* SmartUploadRowDelegate::itemAt(const QModelIndex& index) {
    const auto* list = qobject_cast<const SmartBatchListModel*>(index.model());
    return list && index.isValid() ? &list->item(index.row()) : nullptr;
}

void SmartUploadRowDelegate::attach(QAbstractItemView* view) {
    view->setFocusPolicy(Qt::StrongFocus);
    view->installEventFilter(this);
}

bool SmartUploadRowDelegate::requestDestinationMenu(QAbstractItemView* view,
                                                    const QModelIndex& index) {
    const SmartUploadItem* item = itemAt(index);
    if (!item)
        return false;
    const QRect menu = destinationRect(view->visualRect(index), *item, view->font());
    Q_EMIT destinationMenuRequested(item->id, view->viewport()->mapToGlobal(menu.bottomLeft()));
    return true;
}

QList<RowControls::Control> SmartUploadRowDelegate::rowControls(const QAbstractItemView* view,
                                                                const QModelIndex& index) const {
    const SmartUploadItem* found = itemAt(index);
    if (!found)
        return {};
    const SmartUploadItem& item = *found;
    const QRect row = view->visualRect(index);
    return {Control{destinationLabel(item), kDestinationTip, destinationRect(row, item, view->font()),
                    true},
            Control{QStringLiteral("Remove ") + item.file.name, kRemoveTip, removeRect(row), false}};
}

bool SmartUploadRowDelegate::pressRowControl(QAbstractItemView* view, const QModelIndex& index,
                                             int control) {
    const SmartUploadItem* item = itemAt(index);
    if (!item)
        return false;
    switch (control) {
    case 0:
        return requestDestinationMenu(view, index);
    case 1: {
        // A copy: the removal rebuilds the list.
        const QUuid id = item->id;
        Q_EMIT removeRequested(id);
        return true;
    }
    default:
        return false;
    }
}

bool SmartUploadRowDelegate::eventFilter(QObject* watched, QEvent* event) {
    // The base class filters editors; the views this delegate is attached to are none.
    auto* view = qobject_cast<QAbstractItemView*>(watched);
    if (!view)
        return QStyledItemDelegate::eventFilter(watched, event);
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const QModelIndex current = view->currentIndex();
    const SmartUploadItem* item = itemAt(current);
    if (!item)
        return false;
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    const bool menuKey = (mods == Qt::NoModifier &&
                          (key->key() == Qt::Key_Space || key->key() == Qt::Key_Menu)) ||
                         (mods == Qt::ShiftModifier && key->key() == Qt::Key_F10) ||
                         (mods == Qt::AltModifier && key->key() == Qt::Key_Down);
    if (menuKey)
        return requestDestinationMenu(view, current);
    if (mods == Qt::NoModifier && (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace)) {
        // A copy: the removal rebuilds the list.
        const QUuid id = item->id;
        Q_EMIT removeRequested(id);
        return true;
    }
    return false;
}

QMenu* SmartUploadRowDelegate::destinationMenu(
    const SmartUploadItem& item, const std::function<void(const FolderPickRequest&)>& pickFolder,
    QWidget* parent) const {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("smartUploadDestinationMenu"));
    menu->setToolTipsVisible(true);
    AppModel* model = &model_;
    const QUuid itemID = item.id;
    const QList<StorageAccount> accounts = model_.accounts()->accounts();

    menu->addSection(QStringLiteral("Upload To"));
    QList<StorageAccount> fitting;
    for (const StorageAccount& account : accounts) {
        QAction* action =
            menu->addAction(DisplayText::buttonText(uploadToTitle(account, item.file)));
        const bool accountFits = fits(account, item.file);
        action->setEnabled(accountFits);
        if (accountFits)
            fitting.append(account);
        const QUuid accountID = account.id;
        QObject::connect(action, &QAction::triggered, menu,
                         [model, itemID, accountID] { model->setTarget(topLevel(accountID), itemID); });
    }
    menu->addSeparator();
    QMenu* folders = menu->addMenu(QStringLiteral("Choose Folder In"));
    folders->setObjectName(QStringLiteral("smartUploadChooseFolderIn"));
    for (const StorageAccount& account : fitting) {
        QAction* action = folders->addAction(DisplayText::buttonText(account.alias));
        QObject::connect(action, &QAction::triggered, menu, [pickFolder, account, itemID] {
            pickFolder(FolderPickRequest{QUuid::createUuid(), account, itemID, {}});
        });
    }
    if (item.target) {
        menu->addSeparator();
        QAction* rule = menu->addAction(DisplayText::buttonText(ruleTitle(item.file)));
        rule->setObjectName(QStringLiteral("smartUploadMakeRule"));
        const SmartUploadItem copy = item;
        QObject::connect(rule, &QAction::triggered, menu, [model, copy] { model->makeRule(copy); });
    }
    return menu;
}

QRect SmartUploadRowDelegate::removeRect(const QRect& rowRect) {
    return QRect(rowRect.right() - kPadX - kRemove + 1, rowRect.center().y() - kRemove / 2, kRemove,
                 kRemove);
}

QRect SmartUploadRowDelegate::destinationRect(const QRect& rowRect, const SmartUploadItem& item,
                                              const QFont& font) const {
    const QFontMetrics metrics(font);
    const bool withIcon = item.target && model_.accounts()->account(item.target->accountID);
    const int text = std::min(kMenuMaxText, metrics.horizontalAdvance(destinationLabel(item)));
    const int width = 8 + (withIcon ? kMenuIcon + 5 : 0) + text + 4 + 6 + 8 + 8;
    const int height = metrics.height() + 8;
    const QRect remove = removeRect(rowRect);
    return QRect(remove.left() - kGap - width, rowRect.center().y() - height / 2, width, height);
}

SmartUploadRowDelegate::Area SmartUploadRowDelegate::areaAt(const QRect& rowRect,
                                                            const SmartUploadItem& item,
                                                            const QFont& font,
                                                            const QPoint& point) const {
    if (removeRect(rowRect).contains(point))
        return Area::remove;
    if (destinationRect(rowRect, item, font).contains(point))
        return Area::destination;
    return Area::none;
}

QSize SmartUploadRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int text = QFontMetrics(option.font).height() + 2 +
                     QFontMetrics(captionFont(option.font)).height();
    return QSize(480, std::max(kIcon, text) + 2 * kPadY);
}

void SmartUploadRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    const SmartUploadItem* found = itemAt(index);
    if (!found)
        return;
    const SmartUploadItem& item = *found;
    const QPalette& palette = option.palette;
    const QRect row = option.rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    const QRect icon(row.left() + kPadX, row.center().y() - kIcon / 2, kIcon, kIcon);
    FileTypeIcon::paint(painter, icon, FileKinds::classify(item.file.mimeType, item.file.name),
                        FileKinds::pathExtension(item.file.name));

    const QRect menuRect = destinationRect(row, item, option.font);
    const int textLeft = icon.right() + 1 + kGap;
    const int textWidth = std::max(0, menuRect.left() - 8 - textLeft);
    const QFontMetrics metrics(option.font);
    const QFont small = captionFont(option.font);
    const QFontMetrics captionMetrics(small);
    int y = row.center().y() - (metrics.height() + 2 + captionMetrics.height()) / 2;
    painter->setPen(palette.color(QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(QRect(textLeft, y, textWidth, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(item.file.name, Qt::ElideMiddle, textWidth));
    y += metrics.height() + 2;
    painter->setFont(small);
    painter->setPen(item.target ? palette.color(QPalette::PlaceholderText) : DS::failureColor());
    painter->drawText(QRect(textLeft, y, textWidth, captionMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      captionMetrics.elidedText(Format::byteCount(item.file.sizeBytes) +
                                                    QStringLiteral(" \u00b7 ") + reasonText(item),
                                                Qt::ElideRight, textWidth));

    // The destination menu's label, drawn as a borderless pull-down button.
    painter->setFont(option.font);
    QColor frame = palette.color(QPalette::Text);
    frame.setAlphaF(0.18);
    painter->setPen(QPen(frame, 1));
    QColor fill = palette.color(QPalette::Button);
    painter->setBrush(fill);
    painter->drawRoundedRect(QRectF(menuRect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    int x = menuRect.left() + 8;
    const std::optional<StorageAccount> account =
        item.target ? model_.accounts()->account(item.target->accountID) : std::nullopt;
    if (account) {
        AccountIcon::paint(painter, QRect(x, menuRect.center().y() - kMenuIcon / 2, kMenuIcon, kMenuIcon),
                           *account);
        x += kMenuIcon + 5;
    }
    const int labelWidth = menuRect.right() - 8 - 8 - 6 - x;
    painter->setPen(palette.color(QPalette::ButtonText));
    painter->drawText(QRect(x, menuRect.top(), labelWidth, menuRect.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(destinationLabel(item), Qt::ElideMiddle, labelWidth));
    // A small chevron pointing down.
    const QPointF c(menuRect.right() - 11, menuRect.center().y() + 1);
    painter->setPen(QPen(palette.color(QPalette::ButtonText), 1.4, Qt::SolidLine, Qt::RoundCap));
    painter->drawLine(c + QPointF(-3, -2), c);
    painter->drawLine(c, c + QPointF(3, -2));

    SymbolIcons::icon(QStringLiteral("xmark.circle.fill"))
        .paint(painter, removeRect(row), Qt::AlignCenter, QIcon::Normal);

    // The keyboard's row: a ring around it, where Space opens the menu and Delete removes.
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(row).adjusted(2, 2, -2, -2), 6, 6);
    }

    QColor divider = palette.color(QPalette::Text);
    divider.setAlphaF(0.1);
    painter->setPen(QPen(divider, 1));
    painter->drawLine(row.left() + 52, row.bottom(), row.right(), row.bottom());
    painter->restore();
}

bool SmartUploadRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                         const QStyleOptionViewItem& option,
                                         const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const SmartUploadItem* found = itemAt(index);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!found || mouse->button() != Qt::LeftButton)
        return false;
    const SmartUploadItem& item = *found;
    const QUuid id = item.id;
    switch (areaAt(option.rect, item, option.font, mouse->position().toPoint())) {
    case Area::none:
        return false;
    case Area::destination: {
        const QRect menu = destinationRect(option.rect, item, option.font);
        const QWidget* widget = option.widget;
        const QPoint global = widget ? widget->mapToGlobal(menu.bottomLeft()) : menu.bottomLeft();
        Q_EMIT destinationMenuRequested(id, global);
        return true;
    }
    case Area::remove:
        Q_EMIT removeRequested(id);
        return true;
    }
    return false;
}

bool SmartUploadRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                       const QStyleOptionViewItem& option, const QModelIndex& index) {
    const SmartUploadItem* item = itemAt(index);
    if (!item || !event)
        return false;
    switch (areaAt(option.rect, *item, option.font, event->pos())) {
    case Area::destination:
        QToolTip::showText(event->globalPos(), kDestinationTip, view);
        return true;
    case Area::remove:
        QToolTip::showText(event->globalPos(), kRemoveTip, view);
        return true;
    case Area::none:
        break;
    }
    QToolTip::hideText();
    return true;
}

} // namespace tw
