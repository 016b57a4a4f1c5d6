#pragma once

#include "App/Browser/TextPromptSheet.h"
#include "App/Preview/PreviewTarget.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Files/FolderListing.h"

#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <optional>

class QMenu;
class QWidget;

namespace tw {

class AppModel;
class QuickLook;

/// What the user can do to one item of the shown folder: open it (a folder opens, a file
/// opens its preview window), quick look, download, open with another application or in the
/// browser, rename, move to the trash or delete (with their prompt and confirmation, shown
/// over host), and the upload of files dropped on a row or between rows. The context menu's
/// entries are those ItemMenu decides for the account's service and the folder's writability.
class FolderItemCommands : public QObject {
    Q_OBJECT
public:
    FolderItemCommands(AppModel& model, const StorageAccount& account, FolderListing* listing,
                       QuickLook& quickLook, OpenPreview openPreview, QWidget* host);

    void setAccount(const StorageAccount& account) { account_ = account; }
    /// The filter that preview windows opened from here carry.
    void setFilter(const std::optional<FileCategory>& filter) { filter_ = filter; }
    std::optional<QString> folderID() const;
    bool isWritable() const;

    /// The context menu of one item. The caller owns it.
    QMenu* menuFor(const FileItem& item, QWidget* parent);
    /// Double-click or Return: a folder opens, a file opens its preview window.
    void primaryAction(const FileItem& item);
    /// The delete key: asks to trash or delete the item where that is allowed.
    void deleteCommand(const FileItem& item);
    /// Space with item selected (or nothing): shows, or closes, the quick-look panel; false
    /// when there is nothing to do.
    bool space(const std::optional<FileItem>& item);
    /// The panel follows the selection while it is open.
    void follow(const std::optional<FileItem>& item);
    /// Files dropped on a row (onto) or between rows.
    void upload(const QList<QUrl>& urls, const std::optional<FileItem>& onto);
    void preview(const FileItem& item);
    void startRename(const FileItem& item);
    void startTrash(const FileItem& item);

private:
    std::function<void(const FileItem&)> openFull();

    AppModel& model_;
    StorageAccount account_;
    QPointer<FolderListing> listing_;
    QuickLook& quickLook_;
    OpenPreview openPreview_;
    QWidget* host_;
    std::optional<FileCategory> filter_;
    QPointer<TextPromptSheet> renaming_;
    QPointer<QMessageBox> trashing_;
};

} // namespace tw
