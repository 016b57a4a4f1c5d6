#pragma once

#include "App/Browser/FolderContentView.h"
#include "App/Browser/TextPromptSheet.h"
#include "App/Model/ModelTypes.h"
#include "App/Preview/PreviewTarget.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class QAction;
class QLabel;
class QMenu;
class QToolButton;
class QVBoxLayout;

namespace tw {

class AppModel;
class DropHighlight;
class QuickLook;

/// The detail pane of one storage account: a toolbar (Back, the path menu, the folder's
/// title and path, New Folder, Upload), the shown folder's contents, or the sign-in error view
/// while the account must reconnect. Local files dropped on it go into the shown folder. The
/// pane keeps no navigation of its own: where the user stands is the model's path for the
/// account, so the pane, the menus and the model always agree.
class StorageBrowserPane : public QWidget {
    Q_OBJECT
public:
    StorageBrowserPane(AppModel& model, const QUuid& accountID, QuickLook& quickLook,
                       OpenPreview openPreview, QWidget* parent = nullptr);
    ~StorageBrowserPane() override;

    const QUuid& accountID() const { return accountID_; }
    /// The account as the model has it now (none once it was disconnected).
    const std::optional<StorageAccount>& account() const { return account_; }
    QList<FolderCrumb> path() const;
    std::optional<QString> currentFolderID() const;
    /// Uploads and new folders go into the shown folder (false only in others' chats).
    bool isWritable() const;
    UploadDestination destination() const;

    /// The shown folder's name (the alias at the root), for the window title.
    QString title() const;
    /// The e-mail address at the root, the folder's path below it.
    QString subtitle() const;

    /// The shown folder's table; none while the error view is shown.
    FolderContentView* content() const { return content_; }
    bool isDropTargeted() const { return paneDropHover_ || tableDropHover_; }

    QAction* backAction() const { return back_; }
    QAction* newFolderAction() const { return newFolder_; }
    QAction* uploadAction() const { return upload_; }
    QToolButton* pathButton() const { return pathButton_; }
    /// The path menu as it is now (rebuilt each time it opens).
    QMenu* pathMenu() const { return pathMenu_; }

    /// Opens the new-folder sheet (the New Folder button and its shortcut).
    void createFolder();

Q_SIGNALS:
    /// The title or subtitle changed.
    void titleChanged();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshAccount();
    void pathsChanged();
    void rebuildContent();
    void updateToolbar();
    void updateTitle();
    void updateHighlight();
    void fillPathMenu();
    bool acceptsDrops() const;

    AppModel& model_;
    const QUuid accountID_;
    QuickLook& quickLook_;
    OpenPreview openPreview_;
    std::optional<StorageAccount> account_;

    // The shown folder and sign-in state the content was built for.
    std::optional<QString> shownFolderID_;
    bool shownNeedsSignIn_ = false;
    bool contentBuilt_ = false;
    bool paneDropHover_ = false;
    bool tableDropHover_ = false;

    QAction* back_;
    QAction* newFolder_;
    QAction* upload_;
    QToolButton* pathButton_;
    QMenu* pathMenu_;
    QLabel* title_;
    QLabel* subtitle_;
    QVBoxLayout* contentLayout_;
    QPointer<QWidget> contentWidget_;
    QPointer<FolderContentView> content_;
    QPointer<TextPromptSheet> creatingFolder_;
    DropHighlight* highlight_;
};

} // namespace tw
