#include "App/Uploads/UploadsPopover.h"

#include "App/DesignSystem/ControlRowList.h"
#include "App/DesignSystem/WindowPlacement.h"

#include "App/Model/AppModel.h"
#include "App/Uploads/UploadJobListModel.h"
#include "App/Uploads/UploadRowDelegate.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

namespace {
constexpr int kWidth = 340;
constexpr int kMaxListHeight = 320;
} // namespace

UploadsPopover::UploadsPopover(AppModel& model, QWidget* parent)
    : QFrame(parent, Qt::Popup), model_(model) {
    setObjectName(QStringLiteral("uploadsPopover"));
    setAccessibleName(QStringLiteral("Uploads"));
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(kWidth);
    // The press that closes the popup on its own button must not reopen it.
    setAttribute(Qt::WA_NoMouseReplay);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 12, 14, 8);
    auto* title = new QLabel(QStringLiteral("Uploads"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    header->addWidget(title);
    header->addStretch(1);
    clear_ = new QPushButton(QStringLiteral("Clear"), this);
    clear_->setObjectName(QStringLiteral("uploadsClear"));
    clear_->setFlat(true);
    clear_->setCursor(Qt::PointingHandCursor);
    clear_->setForegroundRole(QPalette::Link);
    header->addWidget(clear_);
    layout->addLayout(header);

    jobs_ = new UploadJobListModel(model.uploads(), UploadJobListModel::Filter::all, this);
    AccountManager* accounts = model.accounts();
    delegate_ = new UploadRowDelegate(
        [accounts](const QUuid& id) { return accounts->account(id); }, this);
    list_ = new ControlRowList(this);
    list_->setObjectName(QStringLiteral("uploadsList"));
    list_->setModel(jobs_);
    list_->setItemDelegate(delegate_);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->viewport()->setAttribute(Qt::WA_Hover);
    list_->setMouseTracking(true);
    layout->addWidget(list_);
    // The keyboard starts on the rows: Space or Return presses the focused row's control.
    delegate_->attach(list_, true);
    list_->setFocus();

    UploadManager* uploads = model.uploads();
    connect(clear_, &QPushButton::clicked, uploads, &UploadManager::clearFinished);
    connect(delegate_, &UploadRowDelegate::stopRequested, uploads, &UploadManager::cancel);
    connect(delegate_, &UploadRowDelegate::retryRequested, uploads, &UploadManager::retry);
    connect(delegate_, &UploadRowDelegate::reconnectRequested, this,
            [this](const QUuid& accountID) { model_.reconnect(accountID); });
    connect(uploads, &UploadManager::jobsChanged, this, &UploadsPopover::refresh);
    refresh();
}

void UploadsPopover::refresh() {
    const auto& jobs = model_.uploads()->jobs();
    clear_->setEnabled(std::any_of(jobs.begin(), jobs.end(),
                                   [](const UploadJob& job) { return job.isFinished(); }));
    const int rows = jobs_->rowCount();
    const int rowHeight = rows > 0 ? list_->sizeHintForRow(0) : 0;
    list_->setFixedHeight(std::min(kMaxListHeight, rows * rowHeight));
    adjustSize();
    // Nothing left to show: the popup goes away rather than hang there empty.
    if (rows == 0 && isVisible())
        hide();
}

void UploadsPopover::popUp(QWidget* anchor) {
    setFixedWidth(kWidth);
    refresh();
    if (jobs_->rowCount() == 0)
        return;
    // Under the button, inside the window (and the screen): a long list scrolls instead.
    const QRect button(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    QRect bounds = WindowPlacement::availableArea(anchor);
    if (const QWidget* window = anchor->window(); window->isVisible())
        bounds &= QRect(window->mapToGlobal(QPoint(0, 0)), window->size());
    const QRect placed = WindowPlacement::popup(size(), button, bounds);
    if (placed.height() < height()) {
        list_->setFixedHeight(std::max(0, list_->height() - (height() - placed.height())));
        adjustSize();
    }
    if (placed.width() < width())
        setFixedWidth(placed.width());
    move(placed.topLeft());
    show();
    // A platform that shifts a new window by a frame it adds: once shown, put it back.
    if (geometry().topLeft() != placed.topLeft())
        move(pos() + (placed.topLeft() - geometry().topLeft()));
}

void UploadsPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    model_.setUploadsPopoverShown(false);
}

} // namespace tw
