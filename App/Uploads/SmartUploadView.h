#pragma once

#include "StorageCore/Transfers/UploadRule.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QListView;
class QPushButton;
class QToolButton;

namespace tw {

class AppModel;
class DropHighlight;
class FolderPickerSheet;
class NewRuleSheet;
class SmartBatchListModel;
class SmartUploadRowDelegate;
class UploadJobListModel;
class UploadRulesSection;
struct FolderPickRequest;

/// The Smart Upload pane: gather files (drop or choose), see and change where each one goes,
/// upload the ready ones; the upload rules; the jobs in progress and the recent ones. The
/// batch lives in the model, so leaving the pane loses nothing.
class SmartUploadView : public QWidget {
    Q_OBJECT
public:
    explicit SmartUploadView(AppModel& model, QWidget* parent = nullptr);

    /// What a rule matches, in words: "Photos", ".pdf files".
    static QString describe(const UploadRule::Match& match);
    /// The footer's summary: "3 files, 12 MB" or "2 file(s) need a destination".
    static QString summary(int readyCount, int batchCount, qint64 readyBytes);
    /// "Upload 1 File", "Upload 0 Files".
    static QString uploadTitle(int readyCount);

    /// Presents the folder picker for a request (one sheet per request).
    void pickFolder(const FolderPickRequest& request);
    /// Presents the new-rule sheet.
    void addRule();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();
    void refreshJobs();
    void showDestinationMenu(const QUuid& itemID, const QPoint& globalPosition);
    void startUpload();

    AppModel& model_;
    QToolButton* stopAll_;
    QWidget* dropZone_;
    QPushButton* chooseFiles_;
    QListView* batch_;
    SmartBatchListModel* batchModel_;
    SmartUploadRowDelegate* batchDelegate_;
    QWidget* footer_;
    QLabel* summary_;
    QPushButton* sendAll_;
    QPushButton* clearBatch_;
    QPushButton* upload_;
    UploadRulesSection* rules_;
    QWidget* inProgress_;
    QListView* activeList_;
    UploadJobListModel* activeJobs_;
    QWidget* recent_;
    QListView* finishedList_;
    UploadJobListModel* finishedJobs_;
    DropHighlight* highlight_;
    QPointer<FolderPickerSheet> picker_;
    QPointer<NewRuleSheet> newRule_;
};

} // namespace tw
