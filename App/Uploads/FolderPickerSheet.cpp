#include "App/Uploads/FolderPickerSheet.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/SheetWindow.h"
#include "App/DesignSystem/SymbolIcons.h"

#include "App/Model/AppModel.h"
#include "StorageCore/Files/FolderListing.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tw {

namespace {
constexpr int kFolderRole = Qt::UserRole + 1;
} // namespace

FolderPickerSheet::FolderPickerSheet(AppModel& model, FolderPickRequest request, QWidget* parent)
    : QDialog(parent), model_(model), request_(std::move(request)) {
    setObjectName(QStringLiteral("folderPickerSheet"));
    setWindowTitle(QStringLiteral("Choose a Folder"));
    SheetWindow::prepare(*this, 440);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    back_ = new QToolButton(this);
    back_->setObjectName(QStringLiteral("folderPickerBack"));
    back_->setIcon(SymbolIcons::icon(QStringLiteral("chevron.left")));
    back_->setAccessibleName(QStringLiteral("Back"));
    back_->setToolTip(QStringLiteral("Back"));
    back_->setAutoRaise(true);
    header->addWidget(back_);
    header->addWidget(new AccountIcon(request_.account, 18, this));
    location_ = new ElidedLabel(QString(), Qt::ElideLeft, this);
    location_->setObjectName(QStringLiteral("folderPickerLocation"));
    QFont bold = location_->font();
    bold.setBold(true);
    location_->setFont(bold);
    header->addWidget(location_, 1);
    layout->addLayout(header);

    folders_ = new QListWidget(this);
    folders_->setObjectName(QStringLiteral("folderPickerList"));
    folders_->setFixedHeight(260);
    folders_->setIconSize(QSize(16, 16));
    layout->addWidget(folders_);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("folderPickerCancel"));
    cancel->setAutoDefault(false);
    footer->addWidget(cancel);
    choose_ = new QPushButton(this);
    choose_->setObjectName(QStringLiteral("folderPickerChoose"));
    choose_->setDefault(true);
    footer->addWidget(choose_);
    layout->addLayout(footer);

    connect(back_, &QToolButton::clicked, this, &FolderPickerSheet::back);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(choose_, &QPushButton::clicked, this, &FolderPickerSheet::accept);
    // One click enters a folder (the row is a button).
    connect(folders_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const QVariant id = item->data(kFolderRole);
        if (id.isValid())
            enter(FolderCrumb{id.toString(), item->text()});
    });
    showListing();
}

UploadTarget FolderPickerSheet::currentTarget() const {
    UploadTarget target{request_.account.id, std::nullopt, {}};
    if (!path_.isEmpty())
        target.folderID = path_.last().id;
    for (const FolderCrumb& crumb : path_)
        target.folderPath.append(crumb.name);
    return target;
}

void FolderPickerSheet::enter(const FolderCrumb& crumb) {
    path_.append(crumb);
    showListing();
}

void FolderPickerSheet::back() {
    if (path_.isEmpty())
        return;
    path_.removeLast();
    showListing();
}

void FolderPickerSheet::showListing() {
    if (listing_)
        listing_->disconnect(this);
    const std::optional<QString> folderID =
        path_.isEmpty() ? std::nullopt : std::optional<QString>(path_.last().id);
    listing_ = model_.listing(request_.account.id, folderID);
    connect(listing_, &FolderListing::itemsChanged, this, &FolderPickerSheet::refreshRows);
    connect(listing_, &FolderListing::phaseChanged, this, &FolderPickerSheet::refreshRows);
    // Loaded once per listing: a listing that failed or holds items is left as it is.
    if (listing_->phase().kind == FolderListing::Phase::Kind::idle)
        listing_->load();

    QStringList names{request_.account.alias};
    for (const FolderCrumb& crumb : path_)
        names.append(crumb.name);
    location_->setText(names.join(QStringLiteral(" \u203a ")));
    const QString current = path_.isEmpty() ? request_.account.alias : path_.last().name;
    choose_->setText(DisplayText::buttonText(QStringLiteral("Choose \u201c") + current +
                                             QStringLiteral("\u201d")));
    back_->setEnabled(!path_.isEmpty());
    refreshRows();
}

void FolderPickerSheet::refreshRows() {
    folders_->clear();
    if (!listing_)
        return;
    QList<const FileItem*> shown;
    for (const FileItem& item : listing_->items()) {
        if (item.isFolder() && ProviderKinds::isWritable(request_.account.provider, item.ref.providerID))
            shown.append(&item);
    }
    if (shown.isEmpty()) {
        const bool loading = listing_->phase().kind == FolderListing::Phase::Kind::loading;
        auto* placeholder = new QListWidgetItem(loading ? QStringLiteral("Loading\u2026")
                                                        : QStringLiteral("No folders here."),
                                                folders_);
        placeholder->setFlags(Qt::NoItemFlags);
        placeholder->setData(Qt::AccessibleTextRole, placeholder->text());
        return;
    }
    for (const FileItem* item : shown) {
        auto* row = new QListWidgetItem(FileIcons::icon(*item), item->name, folders_);
        row->setData(kFolderRole, item->ref.providerID);
        row->setToolTip(DisplayText::toolTip(item->name));
    }
}

void FolderPickerSheet::accept() {
    if (chosen_)
        return;
    chosen_ = true;
    const UploadTarget target = currentTarget();
    if (request_.itemID)
        model_.setTarget(target, *request_.itemID);
    if (request_.onPick)
        request_.onPick(target);
    QDialog::accept();
}

} // namespace tw
