#include "App/Browser/FolderItemCommands.h"

#include "App/Browser/ItemMenu.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "StorageCore/Files/FolderListing.h"

#include <QDesktopServices>
#include <QMenu>
#include <QPushButton>

namespace tw {

FolderItemCommands::FolderItemCommands(AppModel& model, const StorageAccount& account,
                                       FolderListing* listing, QuickLook& quickLook,
                                       OpenPreview openPreview, QWidget* host)
    : QObject(host), model_(model), account_(account), listing_(listing), quickLook_(quickLook),
      openPreview_(std::move(openPreview)), host_(host) {}

std::optional<QString> FolderItemCommands::folderID() const {
    return listing_ ? listing_->folderID() : std::nullopt;
}

bool FolderItemCommands::isWritable() const {
    return ProviderKinds::isWritable(account_.provider, folderID());
}

std::function<void(const FileItem&)> FolderItemCommands::openFull() {
    // The panel may outlive this folder: its full view then opens with what the folder was.
    QPointer<FolderItemCommands> self(this);
    const OpenPreview open = openPreview_;
    const std::optional<QString> folder = folderID();
    const std::optional<FileCategory> filter = filter_;
    return [self, open, folder, filter](const FileItem& item) {
        if (self) {
            self->preview(item);
        } else if (open) {
            open(PreviewTarget{item.ref, folder, filter, std::nullopt});
        }
    };
}

void FolderItemCommands::preview(const FileItem& item) {
    if (openPreview_)
        openPreview_(PreviewTarget{item.ref, folderID(), filter_, std::nullopt});
}

void FolderItemCommands::primaryAction(const FileItem& item) {
    if (item.isFolder())
        model_.open(item);
    else
        preview(item);
}

void FolderItemCommands::deleteCommand(const FileItem& item) {
    if (ItemMenu::canTrash(item, account_.provider, isWritable()))
        startTrash(item);
}

bool FolderItemCommands::space(const std::optional<FileItem>& item) {
    const bool visible = quickLook_.isPanelVisible();
    if (!visible && !item)
        return false;
    if (visible)
        quickLook_.close();
    else if (!item->isFolder())
        quickLook_.show(*item, model_, openFull());
    return true;
}

void FolderItemCommands::follow(const std::optional<FileItem>& item) {
    quickLook_.follow(item, model_, openFull());
}

QMenu* FolderItemCommands::menuFor(const FileItem& item, QWidget* parent) {
    QPointer<FolderItemCommands> self(this);
    const auto run = [self, item](ItemMenu::Entry entry) {
        if (!self)
            return;
        switch (entry) {
        case ItemMenu::Entry::open:
            self->model_.open(item);
            break;
        case ItemMenu::Entry::quickLook:
            if (self->quickLook_.isPanelVisible())
                self->quickLook_.close();
            else
                self->quickLook_.show(item, self->model_, self->openFull());
            break;
        case ItemMenu::Entry::openPreview:
            self->preview(item);
            break;
        case ItemMenu::Entry::download:
            self->model_.saveCopy(item);
            break;
        case ItemMenu::Entry::openWith:
            self->model_.openWith(item);
            break;
        case ItemMenu::Entry::openInBrowser:
            if (const std::optional<QUrl> link = ItemMenu::webLink(item))
                QDesktopServices::openUrl(*link);
            break;
        case ItemMenu::Entry::rename:
            self->startRename(item);
            break;
        case ItemMenu::Entry::trash:
            self->startTrash(item);
            break;
        case ItemMenu::Entry::separator:
            break;
        }
    };
    return ItemMenu::build(ItemMenu::entries(item, account_.provider, isWritable()),
                           account_.provider, QStringLiteral("item"), run, parent);
}

void FolderItemCommands::startRename(const FileItem& item) {
    if (renaming_)
        renaming_->close();
    AppModel* model = &model_;
    const std::optional<QString> folder = folderID();
    auto* sheet = new TextPromptSheet(
        QStringLiteral("Rename"), ItemMenu::renameMessage(item), item.name,
        QStringLiteral("Rename"),
        [model, item, folder](const QString& name) { model->rename(item, name, folder); }, host_);
    sheet->setObjectName(QStringLiteral("renameSheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    renaming_ = sheet;
    sheet->open();
}

void FolderItemCommands::startTrash(const FileItem& item) {
    if (trashing_)
        trashing_->close();
    const ItemMenu::TrashTexts texts =
        ItemMenu::trashTexts(item, account_.provider, account_.alias);
    auto* dialog = new QMessageBox(host_);
    dialog->setObjectName(QStringLiteral("trashConfirmation"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setIcon(QMessageBox::Warning);
    DisplayText::setMessage(dialog, texts.title, texts.message);
    QPushButton* confirm =
        dialog->addButton(DisplayText::buttonText(texts.button), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("trashConfirm"));
    QPushButton* cancel = dialog->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("trashCancel"));
    dialog->setDefaultButton(cancel);
    dialog->setEscapeButton(cancel);
    AppModel* model = &model_;
    const std::optional<QString> folder = folderID();
    connect(confirm, &QPushButton::clicked, dialog,
            [model, item, folder] { model->trash(item, folder); });
    trashing_ = dialog;
    dialog->open();
}

void FolderItemCommands::upload(const QList<QUrl>& urls, const std::optional<FileItem>& onto) {
    if (account_.status != StorageAccount::Status::connected || urls.isEmpty())
        return;
    const UploadDestination current = model_.destination(account_.id, folderID());
    if (onto && onto->isFolder()) {
        if (ProviderKinds::isWritable(account_.provider, onto->ref.providerID)) {
            model_.upload(urls, UploadDestination{account_.id, onto->ref.providerID,
                                                  current.displayName + QStringLiteral(" \u203a ") +
                                                      onto->name});
        } else {
            model_.setNotice(Notice::make(
                QStringLiteral("You can't upload to \u201c") + onto->name +
                    QStringLiteral("\u201d."),
                QStringLiteral("It's a chat you don't own, so it's read-only in Kelvanor.")));
        }
        return;
    }
    if (isWritable())
        model_.upload(urls, current);
    else
        model_.setNotice(Notice::make(QStringLiteral("You can't upload here."),
                                      QStringLiteral("This chat is read-only in Kelvanor.")));
}

} // namespace tw
