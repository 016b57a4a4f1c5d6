#pragma once

#include "App/Model/ModelTypes.h"
#include "App/Uploads/FolderPickRequest.h"

#include <QDialog>
#include <QPointer>

class QLabel;
namespace tw { class ElidedLabel; }
class QListWidget;
class QPushButton;
class QToolButton;

namespace tw {

class AppModel;
class FolderListing;

/// The sheet that chooses one folder of one account as an upload destination. It browses
/// the account's folders one level at a time through the model's shared listings, offers
/// only folders that take uploads, and hands the choice to the request.
class FolderPickerSheet : public QDialog {
    Q_OBJECT
public:
    FolderPickerSheet(AppModel& model, FolderPickRequest request, QWidget* parent = nullptr);

    const QList<FolderCrumb>& path() const { return path_; }
    /// The destination the choose button gives now.
    UploadTarget currentTarget() const;

    /// Return and the choose button: serve the request, then close.
    void accept() override;

private:
    void enter(const FolderCrumb& crumb);
    void back();
    void showListing();
    void refreshRows();

    AppModel& model_;
    FolderPickRequest request_;
    QList<FolderCrumb> path_;
    QPointer<FolderListing> listing_;
    QToolButton* back_;
    ElidedLabel* location_;
    QListWidget* folders_;
    QPushButton* choose_;
    bool chosen_ = false;
};

} // namespace tw
