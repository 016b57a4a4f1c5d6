#include "App/Settings/GeneralSettings.h"

#include "App/DesignSystem/Format.h"

#include "App/Model/AppModel.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

GeneralSettings::GeneralSettings(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("generalSettings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* uploads = new QGroupBox(QStringLiteral("Uploads"), this);
    auto* uploadsForm = new QFormLayout(uploads);
    simultaneous_ = new QComboBox(uploads);
    simultaneous_->setObjectName(QStringLiteral("simultaneousUploads"));
    for (int n = 1; n <= 4; ++n)
        simultaneous_->addItem(QString::number(n), n);
    uploadsForm->addRow(QStringLiteral("Simultaneous uploads"), simultaneous_);
    layout->addWidget(uploads);

    auto* stored = new QGroupBox(QStringLiteral("Stored on This Computer"), this);
    auto* storedLayout = new QVBoxLayout(stored);
    auto* storedForm = new QFormLayout;
    // Buttons keep their own width, as the cache row's Clear does.
    storedForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    clearHistory_ = new QPushButton(QStringLiteral("Clear History\u2026"), stored);
    clearHistory_->setObjectName(QStringLiteral("clearHistory"));
    clearHistory_->setAutoDefault(false);
    storedForm->addRow(QStringLiteral("Activity history"), clearHistory_);
    auto* cacheRow = new QWidget(stored);
    auto* cacheLayout = new QHBoxLayout(cacheRow);
    cacheLayout->setContentsMargins(0, 0, 0, 0);
    cacheLayout->setSpacing(8);
    cacheSize_ = new QLabel(cacheRow);
    cacheSize_->setObjectName(QStringLiteral("previewCacheSize"));
    cacheSize_->setForegroundRole(QPalette::PlaceholderText);
    cacheLayout->addWidget(cacheSize_);
    clearCache_ = new QPushButton(QStringLiteral("Clear"), cacheRow);
    clearCache_->setObjectName(QStringLiteral("clearPreviewCache"));
    clearCache_->setAutoDefault(false);
    cacheLayout->addWidget(clearCache_);
    cacheLayout->addStretch(1);
    storedForm->addRow(QStringLiteral("Preview cache"), cacheRow);
    storedLayout->addLayout(storedForm);
    auto* footer = new QLabel(QStringLiteral("Previews use temporary copies that stay on this "
                                             "computer, expire after a day and never exceed 1 GB."),
                              stored);
    footer->setWordWrap(true);
    footer->setForegroundRole(QPalette::PlaceholderText);
    storedLayout->addWidget(footer);
    layout->addWidget(stored);
    layout->addStretch(1);

    UploadManager* manager = model.uploads();
    connect(simultaneous_, &QComboBox::activated, this, [this, manager](int index) {
        manager->setMaxConcurrentUploads(simultaneous_->itemData(index).toInt());
    });
    connect(manager, &UploadManager::maxConcurrentUploadsChanged, this, &GeneralSettings::refresh);
    connect(model.activity(), &ActivityLog::eventsChanged, this, &GeneralSettings::refresh);
    connect(clearHistory_, &QPushButton::clicked, this, &GeneralSettings::confirmClearHistory);
    connect(clearCache_, &QPushButton::clicked, this, [this] {
        clearCache_->setEnabled(false);
        // The model finishes the clear after this tab may have closed.
        model_.clearPreviewCache([self = QPointer<GeneralSettings>(this)] {
            if (self)
                self->readCacheSize();
        });
    });
    refresh();
}

void GeneralSettings::refresh() {
    const int index = simultaneous_->findData(int(model_.uploads()->maxConcurrentUploads()));
    simultaneous_->setCurrentIndex(index);
    clearHistory_->setEnabled(!model_.activity()->events().isEmpty());
    cacheSize_->setText(Format::byteCount(previewCacheBytes_));
    clearCache_->setEnabled(previewCacheBytes_ > 0);
}

void GeneralSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    readCacheSize();
}

void GeneralSettings::readCacheSize() {
    // The task holds the cache, so it stays alive however long the read takes.
    std::shared_ptr<PreviewCache> cache = model_.sharedPreviewCache();
    if (!cache) { // a model without a cache keeps nothing
        previewCacheBytes_ = 0;
        refresh();
        Q_EMIT previewCacheSizeRead();
        return;
    }
    runTask(
        this, [cache] { return cache->totalBytes(); },
        [this](TaskResult<qint64> result) {
            previewCacheBytes_ = result.ok() ? result.value() : 0;
            refresh();
            Q_EMIT previewCacheSizeRead();
        });
}

void GeneralSettings::confirmClearHistory() {
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("clearHistoryConfirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setText(QStringLiteral("Clear activity history?"));
    box->setInformativeText(QStringLiteral("This only removes the history stored on this computer. "
                                           "Files in your storages aren't affected."));
    QPushButton* clear = box->addButton(QStringLiteral("Clear History"), QMessageBox::DestructiveRole);
    clear->setObjectName(QStringLiteral("clearHistoryConfirm"));
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    ActivityLog* activity = model_.activity();
    connect(box, &QMessageBox::buttonClicked, this, [clear, activity](QAbstractButton* clicked) {
        if (clicked == clear)
            activity->clear();
    });
    box->open();
}

} // namespace tw
