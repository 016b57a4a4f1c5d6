#include "App/Browser/FolderStatusBar.h"

#include "App/Browser/FolderTableModel.h"
#include "App/Browser/UploadStatusButton.h"
#include "App/DesignSystem/BusyIndicator.h"
#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace tw {

namespace {

/// A category's name in a count: "1 photo", "3 photos", "2 audio".
QString categoryNoun(FileCategory category, qsizetype count) {
    const QString plural = FileCategories::displayName(category).toLower();
    if (count == 1 && category != FileCategory::audio && plural.endsWith(QLatin1Char('s')))
        return plural.chopped(1);
    return plural;
}

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(std::max(7.0, base.pointSizeF() * 0.85));
    return font;
}

} // namespace

FolderStatusBar::FolderStatusBar(AppModel& model, const StorageAccount& account,
                                 FolderListing* listing, const FolderTableModel* rows,
                                 QWidget* parent)
    : QWidget(parent), model_(model), account_(account), listing_(listing), rows_(rows) {
    setObjectName(QStringLiteral("statusBar"));
    setFixedHeight(22);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setFont(captionFont(font()));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(6);
    row->addStretch(1);

    spinner_ = new BusyIndicator(10, this);
    spinner_->setObjectName(QStringLiteral("statusSpinner"));
    row->addWidget(spinner_);

    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("statusText"));
    text_->setTextFormat(Qt::PlainText);
    text_->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(text_);

    tryAgain_ = new QPushButton(QStringLiteral("Try Again"), this);
    tryAgain_->setObjectName(QStringLiteral("statusTryAgain"));
    tryAgain_->setFlat(true);
    tryAgain_->setCursor(Qt::PointingHandCursor);
    tryAgain_->setAutoDefault(false);
    tryAgain_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0; color: palette(link); }"));
    connect(tryAgain_, &QPushButton::clicked, this, [this] {
        if (listing_)
            listing_->loadMore();
    });
    row->addWidget(tryAgain_);

    uploadSeparator_ = new QLabel(QStringLiteral("\u00b7"), this);
    uploadSeparator_->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(uploadSeparator_);

    uploadStatus_ = new UploadStatusButton(this);
    uploadStatus_->setFont(font());
    connect(uploadStatus_, &UploadStatusButton::clicked, this,
            [this] { model_.setUploadsPopoverShown(true); });
    row->addWidget(uploadStatus_, 0);
    row->addStretch(1);

    if (listing_) {
        for (auto signal :
             {&FolderListing::phaseChanged, &FolderListing::isLoadingMoreChanged,
              &FolderListing::loadMoreErrorChanged, &FolderListing::nextPageTokenChanged})
            connect(listing_, signal, this, &FolderStatusBar::refresh);
    }
    connect(rows_, &FolderTableModel::rowsChanged, this, &FolderStatusBar::refresh);
    connect(model_.uploads(), &UploadManager::jobsChanged, this, &FolderStatusBar::refresh);
    refresh();
}

void FolderStatusBar::setAccount(const StorageAccount& account) {
    account_ = account;
    refresh();
}

void FolderStatusBar::setFilter(const std::optional<FileCategory>& filter) {
    filter_ = filter;
    refresh();
}

void FolderStatusBar::setCounted(bool counted) {
    if (counted == counted_)
        return;
    counted_ = counted;
    refresh();
}

QString FolderStatusBar::countText(qsizetype count, bool hasMore) {
    if (count == 1)
        return QStringLiteral("1 item");
    return QString::number(count) + (hasMore ? QStringLiteral("+") : QString()) +
           QStringLiteral(" items");
}

QString FolderStatusBar::statusText() const {
    const bool hasMore = listing_ && listing_->hasMore();
    const QString count = countText(rows_->loadedCount(), hasMore);
    if (filter_) {
        const qsizetype shown = rows_->rowCount();
        return QString::number(shown) + QLatin1Char(' ') + categoryNoun(*filter_, shown) +
               QStringLiteral(" of ") + count + (hasMore ? QStringLiteral(" loaded") : QString());
    }
    const std::optional<QString> folder = listing_ ? listing_->folderID() : std::nullopt;
    if (!ProviderKinds::isWritable(account_.provider, folder))
        return count + QStringLiteral(" \u2014 read-only: you can view and download");
    if (account_.provider == ProviderKind::telegram)
        return count;
    if (account_.quota && account_.quota->limitBytes) {
        const qint64 free = std::max<qint64>(0, *account_.quota->availableBytes());
        return count + QStringLiteral(", ") + Format::byteCount(free) +
               QStringLiteral(" available");
    }
    return count;
}

void FolderStatusBar::refresh() {
    using Kind = FolderListing::Phase::Kind;
    const bool loading =
        listing_ && (listing_->isLoadingMore() || listing_->phase().kind == Kind::loading);
    spinner_->setVisible(loading);

    const std::optional<StorageError> failure = listing_ ? listing_->loadMoreError() : std::nullopt;
    text_->setText(failure ? failure->presentation().title : counted_ ? statusText() : QString());
    tryAgain_->setVisible(failure.has_value());

    const std::optional<QString> folder = listing_ ? listing_->folderID() : std::nullopt;
    QList<UploadJob> incoming;
    for (const UploadJob& job : model_.uploads()->activeJobs())
        if (job.accountID == account_.id && job.parentID == folder)
            incoming.append(job);
    uploadSeparator_->setVisible(!incoming.isEmpty());
    uploadStatus_->setVisible(!incoming.isEmpty());
    if (incoming.isEmpty())
        return;
    qint64 sent = 0;
    qint64 total = 0;
    for (const UploadJob& job : incoming) {
        sent += job.bytesSent;
        total += std::max<qint64>(job.file.sizeBytes, 1);
    }
    const QString text = incoming.size() == 1
                             ? QStringLiteral("Uploading ") + incoming.first().file.name
                             : QStringLiteral("Uploading %1 files").arg(incoming.size());
    uploadStatus_->setStatus(text, total > 0 ? double(sent) / double(total) : 0.0);
}

} // namespace tw
