#include "App/Uploads/UploadRowDelegate.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/Format.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/UploadingArrow.h"

#include "App/Uploads/UploadJobListModel.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace tw {

namespace {

constexpr int kPadX = 14;
constexpr int kPadY = 8;
constexpr int kIcon = 28;
constexpr int kGap = 10;
constexpr int kSymbol = 18;

QString sizeText(qint64 bytes) { return Format::byteCount(bytes); }

const QString kDash = QStringLiteral(" \u2014 ");

QString helpTip(UploadRowDelegate::Control control) {
    switch (control) {
    case UploadRowDelegate::Control::stop:
        return QStringLiteral("Stop");
    case UploadRowDelegate::Control::retry:
        return QStringLiteral("Try again");
    case UploadRowDelegate::Control::none:
    case UploadRowDelegate::Control::reconnect:
        break;
    }
    return {};
}

} // namespace

UploadRowDelegate::UploadRowDelegate(AccountLookup account, QObject* parent)
    : QStyledItemDelegate(parent), account_(std::move(account)) {}

QString UploadRowDelegate::statusText(const UploadJob& job) {
    using Kind = UploadJob::State::Kind;
    switch (job.state.kind) {
    case Kind::queued:
        return QStringLiteral("Waiting") + kDash + job.destinationName;
    case Kind::uploading:
        return sizeText(job.bytesSent) + QStringLiteral(" of ") + sizeText(job.file.sizeBytes) +
               kDash + job.destinationName;
    case Kind::completed:
        return sizeText(job.file.sizeBytes) + kDash + job.destinationName;
    case Kind::cancelled:
        return QStringLiteral("Stopped");
    case Kind::failed:
        return job.state.error ? job.state.error->presentation().title : QString();
    }
    return {};
}

UploadRowDelegate::Control UploadRowDelegate::control(const UploadJob& job,
                                                      const std::optional<StorageAccount>& account) {
    using Kind = UploadJob::State::Kind;
    switch (job.state.kind) {
    case Kind::queued:
    case Kind::uploading:
        return Control::stop;
    case Kind::completed:
        return Control::none;
    case Kind::cancelled:
        return Control::retry;
    case Kind::failed:
        return job.state.error && job.state.error->code() == StorageError::Code::reauthRequired &&
                       account && account->status == StorageAccount::Status::reauthRequired
                   ? Control::reconnect
                   : Control::retry;
    }
    return Control::none;
}

QRect UploadRowDelegate::controlRect(const QRect& rowRect, Control control,
                                     const QFontMetrics& metrics) {
    if (control == Control::none)
        return {};
    const int width = control == Control::reconnect
                          ? metrics.horizontalAdvance(QStringLiteral("Reconnect\u2026")) + 16
                          : kSymbol;
    const int height = control == Control::reconnect ? metrics.height() + 6 : kSymbol;
    return QRect(rowRect.right() - kPadX - width + 1, rowRect.center().y() - height / 2, width,
                 height);
}

void UploadRowDelegate::attach(QAbstractItemView* view, bool returnPresses) {
    view->setFocusPolicy(Qt::StrongFocus);
    view->installEventFilter(this);
    if (returnPresses) {
        returnViews_.append(view);
        connect(view, &QObject::destroyed, this,
                [this](QObject* gone) { returnViews_.removeAll(gone); });
    }
}

const UploadJob* UploadRowDelegate::jobAt(const QModelIndex& index) {
    const auto* list = qobject_cast<const UploadJobListModel*>(index.model());
    return list && index.isValid() ? &list->job(index.row()) : nullptr;
}

std::optional<StorageAccount> UploadRowDelegate::accountOf(const UploadJob& job) const {
    return account_ ? account_(job.accountID) : std::nullopt;
}

UploadRowDelegate::Control UploadRowDelegate::controlOf(const UploadJob& job) const {
    return control(job, accountOf(job));
}

bool UploadRowDelegate::press(const QModelIndex& index) {
    const UploadJob* job = jobAt(index);
    if (!job)
        return false;
    const Control trailing = controlOf(*job);
    if (trailing == Control::none)
        return false;
    emitRequest(*job, trailing);
    return true;
}

QList<RowControls::Control> UploadRowDelegate::rowControls(const QAbstractItemView* view,
                                                           const QModelIndex& index) const {
    const UploadJob* found = jobAt(index);
    if (!found)
        return {};
    const UploadJob& job = *found;
    const Control trailing = controlOf(job);
    RowControls::Control button;
    switch (trailing) {
    case Control::none:
        return {};
    case Control::stop:
        button.name = QStringLiteral("Stop uploading ") + job.file.name;
        break;
    case Control::retry:
        button.name = QStringLiteral("Retry ") + job.file.name;
        break;
    case Control::reconnect:
        button.name = QStringLiteral("Reconnect\u2026");
        break;
    }
    button.description = helpTip(trailing);
    button.rect = controlRect(view->visualRect(index), trailing, view->fontMetrics());
    return {button};
}

bool UploadRowDelegate::pressRowControl(QAbstractItemView*, const QModelIndex& index, int control) {
    return control == 0 && press(index);
}

void UploadRowDelegate::emitRequest(const UploadJob& job, Control trailing) {
    // Copies: the signal's receiver may change the queue, which rebuilds the list.
    const QUuid jobID = job.id;
    const QUuid accountID = job.accountID;
    switch (trailing) {
    case Control::none:
        break;
    case Control::stop:
        Q_EMIT stopRequested(jobID);
        break;
    case Control::retry:
        Q_EMIT retryRequested(jobID);
        break;
    case Control::reconnect:
        Q_EMIT reconnectRequested(accountID);
        break;
    }
}

bool UploadRowDelegate::eventFilter(QObject* watched, QEvent* event) {
    // The base class filters editors; the views this delegate is attached to are none.
    auto* view = qobject_cast<QAbstractItemView*>(watched);
    if (!view)
        return QStyledItemDelegate::eventFilter(watched, event);
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (key->key() != Qt::Key_Space && !(isReturn && returnViews_.contains(view)))
        return false;
    // A row without a control leaves the key to others (Return to the pane's default action).
    return press(view->currentIndex());
}

QSize UploadRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFontMetrics name(option.font);
    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.85);
    const QFontMetrics caption(small);
    const int text = name.height() + 3 + 4 + 3 + caption.height();
    return QSize(340, std::max(kIcon, text) + 2 * kPadY);
}

void UploadRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const UploadJob* found = jobAt(index);
    if (!found)
        return;
    const UploadJob& job = *found;
    const std::optional<StorageAccount> account = accountOf(job);
    const QPalette& palette = option.palette;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    const QRect row = option.rect;
    const QRect icon(row.left() + kPadX, row.center().y() - kIcon / 2, kIcon, kIcon);
    FileTypeIcon::paint(painter, icon, FileKinds::classify(job.file.mimeType, job.file.name),
                        FileKinds::pathExtension(job.file.name));
    if (job.isUploading()) {
        const QRect badge(icon.right() - 8 + 4, icon.bottom() - 8 + 4, 16, 16);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.color(QPalette::Highlight));
        painter->drawEllipse(badge);
        UploadingArrow::paint(painter, badge.adjusted(2, 2, -2, -2), Qt::white);
    }

    const Control trailing = control(job, account);
    const QFontMetrics metrics(option.font);
    const QRect controlArea = controlRect(row, trailing, metrics);
    const int textLeft = icon.right() + 1 + kGap;
    const int textRight = (trailing == Control::none ? row.right() - kPadX : controlArea.left() - 4);
    const int textWidth = std::max(0, textRight - textLeft);

    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.85);
    const QFontMetrics captionMetrics(small);
    const int lines = metrics.height() + 3 + (job.isActive() ? 4 + 3 : 0) + captionMetrics.height();
    int y = row.center().y() - lines / 2;

    painter->setPen(palette.color(QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(QRect(textLeft, y, textWidth, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(job.file.name, Qt::ElideMiddle, textWidth));
    y += metrics.height() + 3;

    if (job.isActive()) {
        const QRect track(textLeft, y, textWidth, 4);
        painter->setPen(Qt::NoPen);
        QColor trackColor = palette.color(QPalette::Text);
        trackColor.setAlphaF(0.12);
        painter->setBrush(trackColor);
        painter->drawRoundedRect(track, 2, 2);
        const int filled = int(textWidth * std::clamp(job.progress(), 0.0, 1.0));
        if (filled > 0) {
            painter->setBrush(palette.color(QPalette::Highlight));
            painter->drawRoundedRect(QRect(textLeft, y, filled, 4), 2, 2);
        }
        y += 4 + 3;
    }

    int captionLeft = textLeft;
    if (account) {
        const QRect dot(captionLeft, y + (captionMetrics.height() - 6) / 2, 6, 6);
        AccountDot::paint(painter, dot, *account);
        captionLeft += 6 + 4;
    }
    const bool failed = job.state.kind == UploadJob::State::Kind::failed;
    painter->setFont(small);
    painter->setPen(failed ? DS::failureColor() : palette.color(QPalette::PlaceholderText));
    const int captionWidth = std::max(0, textRight - captionLeft);
    painter->drawText(QRect(captionLeft, y, captionWidth, captionMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      captionMetrics.elidedText(statusText(job), Qt::ElideLeft, captionWidth));

    // The keyboard's row: a ring around it, where Space presses its control.
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(row).adjusted(2, 2, -2, -2), 6, 6);
    }

    // A divider under every row, inset to the text column.
    QColor divider = palette.color(QPalette::Text);
    divider.setAlphaF(0.1);
    painter->setPen(QPen(divider, 1));
    painter->drawLine(row.left() + 52, row.bottom(), row.right(), row.bottom());

    painter->setFont(option.font);
    switch (trailing) {
    case Control::none:
        break;
    case Control::stop:
        SymbolIcons::icon(QStringLiteral("xmark.circle.fill"))
            .paint(painter, controlArea, Qt::AlignCenter, QIcon::Normal);
        break;
    case Control::retry:
        SymbolIcons::icon(QStringLiteral("arrow.clockwise.circle.fill"))
            .paint(painter, controlArea, Qt::AlignCenter, QIcon::Normal);
        break;
    case Control::reconnect: {
        QStyleOptionButton button;
        button.rect = controlArea;
        button.text = QStringLiteral("Reconnect\u2026");
        button.state = QStyle::State_Enabled;
        button.palette = palette;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
        break;
    }
    }
    painter->restore();
}

bool UploadRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const UploadJob* found = jobAt(index);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!found || mouse->button() != Qt::LeftButton)
        return false;
    const UploadJob& job = *found;
    const Control trailing = controlOf(job);
    if (!controlRect(option.rect, trailing, QFontMetrics(option.font))
             .contains(mouse->position().toPoint()))
        return false;
    if (trailing == Control::none)
        return false;
    emitRequest(job, trailing);
    return true;
}

bool UploadRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                  const QStyleOptionViewItem& option, const QModelIndex& index) {
    const UploadJob* found = jobAt(index);
    if (!found || !event)
        return false;
    const UploadJob& job = *found;
    const Control trailing = controlOf(job);
    if (controlRect(option.rect, trailing, QFontMetrics(option.font)).contains(event->pos())) {
        const QString tip = helpTip(trailing);
        if (!tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view);
            return true;
        }
    }
    QToolTip::hideText();
    return true;
}

} // namespace tw
