#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Files/FolderListing.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;

namespace tw {

class AppModel;
class BusyIndicator;
class FolderTableModel;
class UploadStatusButton;

/// The folder table's one-line status bar: a spinner while a page loads, the count of the
/// items ("57 items", "3 photos of 100+ items loaded", the free space of a Google Drive, the
/// read-only note of a chat the user doesn't own) or the failure of the last page with "Try
/// Again", and the progress of the uploads going into the shown folder, which opens the
/// uploads popover. It follows the listing, the rows and the upload list by itself.
class FolderStatusBar : public QWidget {
    Q_OBJECT
public:
    FolderStatusBar(AppModel& model, const StorageAccount& account, FolderListing* listing,
                    const FolderTableModel* rows, QWidget* parent = nullptr);

    void setAccount(const StorageAccount& account);
    void setFilter(const std::optional<FileCategory>& filter);
    /// Whether the rows are counted: not while the first page loads or its failure shows.
    void setCounted(bool counted);

    /// The count and what goes with it, as the bar shows it when nothing failed.
    QString statusText() const;
    /// "1 item", "57 items", "100+ items".
    static QString countText(qsizetype count, bool hasMore);

private:
    void refresh();

    AppModel& model_;
    StorageAccount account_;
    QPointer<FolderListing> listing_;
    const FolderTableModel* rows_;
    std::optional<FileCategory> filter_;
    bool counted_ = false;

    BusyIndicator* spinner_;
    QLabel* text_;
    QPushButton* tryAgain_;
    QLabel* uploadSeparator_;
    UploadStatusButton* uploadStatus_;
};

} // namespace tw
